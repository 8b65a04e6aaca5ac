#pragma once
// Time of day and the blocking pause after a command's request, behind an
// interface so that handler tests neither wait nor depend on the hour.

#include <QDateTime>

namespace eload {

class Clock {
public:
    virtual ~Clock() = default;
    virtual QDateTime now() const = 0;
    // A steady clock's milliseconds (never steps with the time of day): what
    // durations are measured on.
    virtual qint64 monotonicMsecs() const;
    // Blocks the event thread; the serial driver keeps what arrives meanwhile.
    virtual void pause(int ms) = 0;
};

class SystemClock final : public Clock {
public:
    QDateTime now() const override;
    void pause(int ms) override;
};

} // namespace eload
