#include "support/Fakes.h"

namespace eload::test {

QString FakeSerialDevice::pathOf(int port) const
{
    return port > 0 ? QStringLiteral("/dev/fake%1").arg(port) : QString();
}

std::optional<SerialError> FakeSerialDevice::probe(int port)
{
    probed.append(port);
    if (probeErrors.contains(port)) return probeErrors.value(port);
    if (port == 0)
        return SerialError{SerialError::kNoSuchPort, QStringLiteral("no entry selected"), {}};
    return std::nullopt;
}

std::optional<SerialError> FakeSerialDevice::open(int port, const QString& settings)
{
    if (openError) return openError;
    openPort = port;
    openSettings = settings;
    pending.clear();
    return std::nullopt;
}

QByteArray FakeSerialDevice::readAll()
{
    QByteArray b = pending;
    pending.clear();
    return b;
}

} // namespace eload::test
