#pragma once
// COM1 to COM9 by device path. On Linux a COM number is only a name: the
// command line (--com N=PATH) and the environment (ELOAD_COMn) say which
// device stands behind it, /dev/ttyUSB{n-1} when neither does.

#include <QMap>
#include <QProcessEnvironment>
#include <QString>

namespace eload {

class PortMap {
public:
    // Paths from ELOAD_COM1..ELOAD_COM9 of `env`; the command line overrides.
    static PortMap
    fromEnvironment(const QProcessEnvironment& env = QProcessEnvironment::systemEnvironment());

    // "N=PATH" as given to --com; false when N is no port 1..9 or PATH is empty.
    bool addArgument(const QString& argument);
    void set(int port, const QString& path);

    // Device behind COMn; empty for port numbers outside 1..9.
    QString pathOf(int port) const;

private:
    QMap<int, QString> paths_;
};

} // namespace eload
