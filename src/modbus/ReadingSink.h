#pragma once
// Told of every decoded read of the whole register block, after the window
// shows its values and the row is written; of every request that brought no
// good reply; and of the end of the line (the port closed or lost), after
// which no reading comes until it reopens. Told before any box opens, so
// that a box waiting for OK never delays what follows the readings.

#include <QtGlobal>

namespace eload::modbus {

struct Reading;

class ReadingSink {
public:
    virtual ~ReadingSink() = default;
    virtual void takeReading(const Reading& reading) = 0;
    // At a steady clock's `monotonicMsecs` (see Reading::monotonicMsecs).
    virtual void replyMissed(qint64 monotonicMsecs) = 0;
    virtual void lineEnded() = 0;
};

} // namespace eload::modbus
