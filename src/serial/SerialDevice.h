#pragma once
// The serial line by port number. Failures are values: the probe's numbers
// 8002 (no such port) and 8005 (port busy) are decided here, every other
// cause is kOtherFailure with the system's words.

#include <QByteArray>
#include <QString>
#include <optional>

namespace eload {

struct SerialError {
    static constexpr int kNoSuchPort = 8002;
    static constexpr int kPortInUse = 8005;
    static constexpr int kOtherFailure = 8000; // permissions, settings, I/O ...

    int number = kOtherFailure;
    QString cause;  // the system's description, or a plain account where that would mislead
    QString remedy; // a line of its own: what the user can do, or the system's words; may be empty
};

class SerialDevice {
public:
    // Notifications arrive on the event thread, never from inside a call
    // into the device.
    class Listener {
    public:
        virtual ~Listener() = default;
        virtual void dataReceived() = 0;                   // bytes wait to be read
        virtual void lineFailed(const SerialError& e) = 0; // device gone, I/O error
    };

    virtual ~SerialDevice() = default;
    virtual void setListener(Listener* listener) = 0;

    // Device behind COMn, for the tooltip and messages; empty when none.
    virtual QString pathOf(int port) const = 0;

    // Open and close again with whatever line settings the device holds.
    virtual std::optional<SerialError> probe(int port) = 0;
    // Raw bytes, settings text such as "9600,N,8,1"; waiting input discarded.
    virtual std::optional<SerialError> open(int port, const QString& settings) = 0;
    virtual void close() = 0;
    virtual bool isOpen() const = 0;

    // A failing write is reported through Listener::lineFailed.
    virtual void write(const QByteArray& frame) = 0;
    virtual QByteArray readAll() = 0;
};

} // namespace eload
