#include "serial/PortMap.h"

namespace eload {

PortMap PortMap::fromEnvironment(const QProcessEnvironment& env)
{
    PortMap map;
    for (int n = 1; n <= 9; ++n) {
        const QString path = env.value(QStringLiteral("ELOAD_COM%1").arg(n));
        if (!path.isEmpty()) map.set(n, path);
    }
    return map;
}

bool PortMap::addArgument(const QString& argument)
{
    const qsizetype eq = argument.indexOf(u'=');
    if (eq <= 0) return false;
    bool ok = false;
    const int port = argument.left(eq).toInt(&ok);
    const QString path = argument.mid(eq + 1);
    if (!ok || port < 1 || port > 9 || path.isEmpty()) return false;
    set(port, path);
    return true;
}

void PortMap::set(int port, const QString& path) { paths_[port] = path; }

QString PortMap::pathOf(int port) const
{
    if (port < 1 || port > 9) return {};
    return paths_.value(port, QStringLiteral("/dev/ttyUSB%1").arg(port - 1));
}

} // namespace eload
