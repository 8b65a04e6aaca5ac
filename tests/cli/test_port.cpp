// The port is owned: two programs on one port exclude each other, as root
// (who slips past the tty's exclusive flag) and as a normal user; the panel's
// serial device and eload-cli exclude each other too; "busy" names the
// holder; and a program that lets go leaves the port usable by anyone.

#include "CliRig.h"
#include "serial/QtSerialDevice.h"

#include <QFileInfo>
#include <QStandardPaths>
#include <csignal>
#include <sys/stat.h>
#include <unistd.h>

using namespace eload;
using namespace eload::test;

namespace {

const QString kLine = QStringLiteral("9600,N,8,1");

// eload-cli as root, or as the user nobody when `asUser`.
Run runAs(bool asUser, const QStringList& args)
{
    QProcess p;
    if (asUser)
        p.start("setpriv",
                QStringList{"--reuid=nobody", "--regid=nogroup", "--clear-groups", ELOAD_CLI} +
                    args);
    else
        p.start(ELOAD_CLI, args);
    return finish(p);
}

// A watch that holds the line until it is stopped.
struct Holder {
    QProcess p;
    explicit Holder(const Line& line)
    {
        p.start(ELOAD_CLI, line.args({"watch", "--interval", "200", "--json"}));
    }
    Run stop()
    {
        ::kill(pid_t(p.processId()), SIGTERM);
        return finish(p);
    }
};

} // namespace

class PortTest : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void initTestCase()
    {
        keepLibraryApart();
        if (::geteuid() != 0) QSKIP("root and another user are both needed");
        if (QStandardPaths::findExecutable("setpriv").isEmpty()) QSKIP("setpriv is missing");
    }

    void twoPrograms_data()
    {
        QTest::addColumn<bool>("asUser"); // the second program runs as nobody
        QTest::newRow("root") << false;
        QTest::newRow("normal user") << true;
    }
    void twoPrograms()
    {
        QFETCH(bool, asUser);
        Line line;
        const QString device = QFileInfo(line.path).canonicalFilePath();
        QVERIFY(::chmod(qPrintable(device), 0666) == 0);
        Holder holder(line);
        QVERIFY(line.sim.waitForRequests(1, std::chrono::milliseconds(kWaitMs)));
        QTest::qWait(300); // the watch is polling

        const std::size_t before = line.sim.requests().size();
        const Run second = runAs(asUser, line.args({"read", "--json"}));
        QCOMPARE(second.status, 2);
        const QByteArray named = QStringLiteral("%1 is busy: eload-cli (pid %2)")
                                     .arg(line.path)
                                     .arg(holder.p.processId())
                                     .toUtf8();
        QVERIFY2(second.err.contains(named), second.err);
        // Whatever the holder polled meanwhile, nothing came from the second.
        for (std::size_t i = before; i < line.sim.requests().size(); ++i)
            QCOMPARE(line.sim.requests()[i].bytes.size(), std::size_t(8));
        QVERIFY(second.out.isEmpty());

        const Run held = holder.stop();
        QVERIFY2(held.status == 0, held.err);
        // Let go: the exclusive flag is cleared, the port is anyone's.
        const Run after = runAs(true, line.args({"read", "--json"}));
        QVERIFY2(after.status == 0, after.err);
        QCOMPARE(after.json().size(), 1);
    }

    // The panel's QSerialPort side and eload-cli, each way round.
    void panelAndCli()
    {
        Line line;
        PortMap map;
        map.set(1, line.path);
        QtSerialDevice panel(map);
        QVERIFY(!panel.open(1, kLine));
        const Run refused = run(line.args({"read"}));
        QCOMPARE(refused.status, 2);
        QVERIFY2(refused.err.contains(QStringLiteral("busy: %1 (pid %2)")
                                          .arg(QCoreApplication::applicationName())
                                          .arg(QCoreApplication::applicationPid())
                                          .toUtf8()),
                 refused.err);
        panel.close();

        Holder holder(line);
        QVERIFY(line.sim.waitForRequests(1, std::chrono::milliseconds(kWaitMs)));
        QTest::qWait(300);
        for (const std::optional<SerialError>& e : {panel.probe(1), panel.open(1, kLine)}) {
            QVERIFY(e.has_value());
            QCOMPARE(e->number, SerialError::kPortInUse);
            QVERIFY2(
                e->cause.contains(QStringLiteral("eload-cli (pid %1)").arg(holder.p.processId())),
                qPrintable(e->cause));
        }
        QVERIFY(!panel.isOpen());
        QVERIFY2(holder.stop().status == 0, "the watch ends as usual");
        QVERIFY(!panel.open(1, kLine));
    }
};

QTEST_GUILESS_MAIN(PortTest)
#include "test_port.moc"
