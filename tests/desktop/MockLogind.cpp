#include "desktop/MockLogind.h"

#include <QDBusArgument>
#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDeadlineTimer>
#include <QFile>
#include <QThread>

namespace eload::test {

namespace {
const QString kLogind = QStringLiteral("org.freedesktop.login1");
constexpr int kStartMs = 20000;
} // namespace

MockBus::MockBus(bool logind)
{
    if (!startBus() || (logind && !startLogind())) {
        logind_.kill();
        bus_.kill();
    }
}

MockBus::~MockBus()
{
    for (QProcess* p : {&logind_, &bus_}) {
        p->terminate();
        if (!p->waitForFinished(5000)) p->kill();
        p->waitForFinished(5000);
    }
}

QString MockBus::address() const
{
    return QStringLiteral("unix:path=") + folder_.filePath(QStringLiteral("bus"));
}

bool MockBus::startBus()
{
    bus_.start(QStringLiteral("dbus-daemon"),
               {QStringLiteral("--session"), QStringLiteral("--nofork"),
                QStringLiteral("--address=") + address()});
    const QDeadlineTimer deadline(kStartMs);
    while (!QFile::exists(folder_.filePath(QStringLiteral("bus"))) && !deadline.hasExpired() &&
           bus_.state() != QProcess::NotRunning)
        QThread::msleep(20);
    if (QFile::exists(folder_.filePath(QStringLiteral("bus")))) return true;
    error_ = QStringLiteral("dbus-daemon did not start: ") + bus_.readAllStandardError();
    return false;
}

bool MockBus::startLogind()
{
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("DBUS_SYSTEM_BUS_ADDRESS"), address());
    logind_.setProcessEnvironment(env);
    logind_.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    logind_.start(QStringLiteral("/usr/bin/python3"),
                  {QStringLiteral("-m"), QStringLiteral("dbusmock"), QStringLiteral("--template"),
                   QStringLiteral("logind"), QStringLiteral("--logfile"),
                   folder_.filePath(QStringLiteral("logind.log"))});
    QDBusConnection bus = QDBusConnection::connectToBus(address(), QStringLiteral("mock-watch"));
    const QDeadlineTimer deadline(kStartMs);
    bool up = false;
    while (!(up = bus.interface()->isServiceRegistered(kLogind)) && !deadline.hasExpired() &&
           logind_.state() != QProcess::NotRunning)
        QThread::msleep(50);
    QDBusConnection::disconnectFromBus(QStringLiteral("mock-watch"));
    if (!up) error_ = QStringLiteral("python3-dbusmock's logind did not start");
    return up;
}

QList<Inhibitor> MockBus::inhibitors() const
{
    QDBusConnection bus = QDBusConnection::connectToBus(address(), QStringLiteral("mock-ask"));
    const QDBusMessage reply = bus.call(QDBusMessage::createMethodCall(
        kLogind, QStringLiteral("/org/freedesktop/login1"),
        QStringLiteral("org.freedesktop.login1.Manager"), QStringLiteral("ListInhibitors")));
    QList<Inhibitor> all;
    if (reply.type() == QDBusMessage::ReplyMessage && !reply.arguments().isEmpty()) {
        const auto list = reply.arguments().first().value<QDBusArgument>();
        list.beginArray();
        while (!list.atEnd()) {
            Inhibitor i;
            uint uid = 0, pid = 0;
            list.beginStructure();
            list >> i.what >> i.who >> i.why >> i.mode >> uid >> pid;
            list.endStructure();
            all.append(i);
        }
        list.endArray();
    }
    QDBusConnection::disconnectFromBus(QStringLiteral("mock-ask"));
    return all;
}

int MockBus::inhibitCalls() const
{
    QFile log(folder_.filePath(QStringLiteral("logind.log")));
    if (!log.open(QIODevice::ReadOnly)) return 0;
    int calls = 0;
    for (const QByteArray& line : log.readAll().split('\n'))
        calls += line.contains(" Inhibit ") ? 1 : 0;
    return calls;
}

} // namespace eload::test
