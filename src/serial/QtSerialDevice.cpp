#include "serial/QtSerialDevice.h"

#include "core/Texts.h"
#include "serial/LineSettings.h"
#include "serial/OpenFailure.h"
#include "serial/PortLock.h"

namespace eload {

namespace {

std::optional<SerialError> noDevice(int port)
{
    return SerialError{SerialError::kNoSuchPort, texts::kNoDeviceForPort.arg(port), {}};
}

// Who holds the device, where that can be found; else `fallback`.
QString busyCause(const std::optional<PortHolder>& holder, const QString& fallback)
{
    return holder ? QStringLiteral("held by %1").arg(holder->text()) : fallback;
}

bool isLineFailure(QSerialPort::SerialPortError error)
{
    return error == QSerialPort::ResourceError || error == QSerialPort::ReadError ||
           error == QSerialPort::WriteError;
}

} // namespace

QtSerialDevice::QtSerialDevice(PortMap map, QObject* parent) : QObject(parent), map_(std::move(map))
{
    connect(&port_, &QSerialPort::readyRead, this, &QtSerialDevice::onReadyRead);
    connect(&port_, &QSerialPort::errorOccurred, this, &QtSerialDevice::onErrorOccurred);
}

// QSerialPort takes the lock file; the flock on the device keeps out a
// program that holds it under another name, or as root.
std::optional<SerialError> QtSerialDevice::tryOpen(QSerialPort& port, const QString& path)
{
    port.setPortName(path);
    if (!port.open(QIODevice::ReadWrite)) {
        SerialError e = openFailure(port.error(), port.errorString(), path, accessDenied(path));
        if (e.number == SerialError::kPortInUse) e.cause = busyCause(findHolder(path), e.cause);
        return e;
    }
    if (std::optional<PortBusy> busy = lockDevice(int(port.handle()), path)) {
        port.close();
        return SerialError{SerialError::kPortInUse,
                           busyCause(busy->holder, QStringLiteral("locked by another program")),
                           {}};
    }
    return std::nullopt;
}

std::optional<SerialError> QtSerialDevice::probe(int port)
{
    const QString path = pathOf(port);
    if (path.isEmpty()) return noDevice(port);
    // The line in use stays as it is; a second object with the same settings
    // probes, and finds the device locked if it is this one.
    QSerialPort scratch;
    QSerialPort& probing = port_.isOpen() ? scratch : port_;
    if (&probing == &scratch) applyLineSettings(scratch, lineSettingsOf(port_));
    if (std::optional<SerialError> e = tryOpen(probing, path)) return e;
    probing.close();
    return std::nullopt;
}

std::optional<SerialError> QtSerialDevice::open(int port, const QString& settings)
{
    const std::optional<LineSettings> wanted = parseLineSettings(settings);
    if (!wanted)
        return SerialError{SerialError::kOtherFailure, texts::kBadLineSettings.arg(settings), {}};
    const QString path = pathOf(port);
    if (path.isEmpty()) return noDevice(port);
    close();

    // A refused open leaves the settings of the last good one for the next probe.
    const LineSettings previous = lineSettingsOf(port_);
    applyLineSettings(port_, *wanted);
    if (std::optional<SerialError> e = tryOpen(port_, path)) {
        applyLineSettings(port_, previous);
        return e;
    }
    port_.clear(QSerialPort::Input);
    path_ = path;
    ++session_;
    lineFailed_ = false;
    return std::nullopt;
}

void QtSerialDevice::close()
{
    if (port_.isOpen()) port_.close();
}

void QtSerialDevice::write(const QByteArray& frame)
{
    // After a line failure the report is on its way; nothing more to say.
    if (!port_.isOpen()) return;
    // QSerialPort writes from the event loop; the caller may block it next,
    // so the bytes go to the driver now.
    if (port_.write(frame) != frame.size() || !port_.flush()) failLine();
}

void QtSerialDevice::onReadyRead()
{
    if (listener_) listener_->dataReceived();
}

void QtSerialDevice::onErrorOccurred(QSerialPort::SerialPortError error)
{
    // Failures of an open or probe are returned by those calls.
    if (port_.isOpen() && isLineFailure(error)) failLine();
}

void QtSerialDevice::failLine()
{
    if (lineFailed_) return;
    lineFailed_ = true;
    const QSerialPort::SerialPortError code = port_.error();
    const QString cause = port_.errorString();
    // Closing stops the notifiers, which would otherwise fire without end.
    port_.close();
    QMetaObject::invokeMethod(
        this, [this, code, cause, session = session_] { reportLineFailure(code, cause, session); },
        Qt::QueuedConnection);
}

// Whether the device is still there is asked only now, which gives the
// system a moment to remove an unplugged adapter's node.
void QtSerialDevice::reportLineFailure(QSerialPort::SerialPortError code, const QString& cause,
                                       quint64 session)
{
    if (session == session_ && listener_) listener_->lineFailed(lineFailure(code, cause, path_));
}

} // namespace eload
