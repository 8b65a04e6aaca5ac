#pragma once
// The serial line over QSerialPort. COMn is found through the PortMap; bytes
// are raw 8-bit, without flow control. A line that goes away while open is
// closed at once and reported once, from the event loop.

#include "serial/PortMap.h"
#include "serial/SerialDevice.h"

#include <QObject>
#include <QSerialPort>

namespace eload {

class QtSerialDevice final : public QObject, public SerialDevice {
    Q_OBJECT
public:
    explicit QtSerialDevice(PortMap map, QObject* parent = nullptr);

    void setListener(Listener* listener) override { listener_ = listener; }
    QString pathOf(int port) const override { return map_.pathOf(port); }

    std::optional<SerialError> probe(int port) override;
    std::optional<SerialError> open(int port, const QString& settings) override;
    void close() override;
    bool isOpen() const override { return port_.isOpen(); }

    void write(const QByteArray& frame) override;
    QByteArray readAll() override { return port_.readAll(); }

private:
    std::optional<SerialError> tryOpen(QSerialPort& port, const QString& path);
    void onReadyRead();
    void onErrorOccurred(QSerialPort::SerialPortError error);
    void failLine();
    void reportLineFailure(QSerialPort::SerialPortError code, const QString& cause,
                           quint64 session);

    PortMap map_;
    QSerialPort port_;
    QString path_; // of the line open, or last open
    Listener* listener_ = nullptr;
    quint64 session_ = 0;     // counts opens: a late report of an old line is dropped
    bool lineFailed_ = false; // one report per open
};

} // namespace eload
