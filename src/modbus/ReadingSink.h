#pragma once
// Told of every decoded read of the whole register block, after the window
// shows its values and the row is written, and of the end of the line (the
// port closed or lost), after which no reading comes until it reopens.

namespace eload::modbus {

struct Reading;

class ReadingSink {
public:
    virtual ~ReadingSink() = default;
    virtual void takeReading(const Reading& reading) = 0;
    virtual void lineEnded() = 0;
};

} // namespace eload::modbus
