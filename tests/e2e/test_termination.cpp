// Termination signals sent to real processes. "test_termination record BOX"
// records from the simulated module, printing its folder, a line per row and,
// with BOX 1, "box" before a box opens; with "hang" the close never ends.

#include "core/TerminationSignals.h"
#include "core/Texts.h"
#include "e2e/LivePanel.h"
#include "recording/WorkbookReader.h"
#include "sim/Simulator.h"

#include <QDir>
#include <QLineEdit>
#include <QProcess>
#include <QScopeGuard>
#include <QTest>
#include <QTimer>
#include <csignal>
#include <cstdio>
#include <unistd.h>

using namespace eload;
using namespace eload::test;

namespace {

void say(const QString& line) { std::printf("%s\n", qPrintable(line)), std::fflush(stdout); }

int record(bool withBox)
{
    sim::Options options;
    options.speed = 60;
    sim::Simulator module(options);
    LivePanel panel(QString::fromStdString(std::get<std::string>(module.start())));
    panel.folder.setAutoRemove(false);
    TerminationSignals termination;
    QObject::connect(&termination, &TerminationSignals::received, &panel.window,
                     &frmmain::closeUnattended);
    if (withBox) qApp->removeEventFilter(&panel.boxes); // nothing dismisses it but the signal
    say(panel.folder.path());
    auto* status = qobject_cast<QLineEdit*>(panel.window.control(Ctl::Message_Show));
    QObject::connect(status, &QLineEdit::textChanged, [&, rows = 0](const QString& t) mutable {
        if (t != texts::kReplyGood || panel.text(Ctl::Command6) != texts::kRecording) return;
        say(QStringLiteral("row"));
        if (++rows == 3 && withBox)
            QTimer::singleShot(0, &panel.window, [&] {
                say(QStringLiteral("box")); // the rows after it come from the box's loop
                panel.window.showMessage(QStringLiteral("box"));
            });
    });
    for (Ctl c : {Ctl::Command1, Ctl::Command6, Ctl::Command_OK3})
        panel.click(c);
    return qApp->exec();
}

qsizetype lines(const QByteArray& out, const char* line) { return out.split('\n').count(line); }

void waitFor(QProcess& p, QByteArray& out, const char* line, int count = 1)
{
    QTRY_VERIFY_WITH_TIMEOUT(lines(out += p.readAllStandardOutput(), line) >= count, 30000);
}

} // namespace

class TerminationTest : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void recordingSaved_data()
    {
        QTest::addColumn<int>("signo");
        QTest::addColumn<QString>("box");
        QTest::newRow("SIGTERM") << SIGTERM << "0";
        QTest::newRow("SIGHUP, a box open") << SIGHUP << "1";
    }
    void recordingSaved()
    {
        QFETCH(int, signo);
        QFETCH(QString, box);
        QProcess driver;
        driver.start(QCoreApplication::applicationFilePath(), {"record", box});
        QByteArray out;
        waitFor(driver, out, "box", box.toInt());
        waitFor(driver, out, "row", 6);
        const QDir folder(QString::fromLocal8Bit(out.left(out.indexOf('\n'))));
        const auto cleanUp = qScopeGuard([&] { QDir(folder).removeRecursively(); });
        QFile settings(folder.filePath("com.txt")); // read at start-up only
        QVERIFY(settings.open(QIODevice::WriteOnly) && settings.write("x") == 1);
        settings.close();
        QCOMPARE(::kill(pid_t(driver.processId()), signo), 0);
        QVERIFY(driver.waitForFinished(30000));
        QVERIFY(driver.exitStatus() == QProcess::NormalExit && driver.exitCode() == 0);
        QVERIFY(settings.open(QIODevice::ReadOnly));
        QCOMPARE(settings.readAll(), "1\r\n9600\r\n");
        const QStringList books = folder.entryList({"*.xlsx"}, QDir::Files);
        QCOMPARE(books.size(), 1);
        const auto book = readWorkbook(folder.filePath(books.first()));
        QCOMPARE(book ? book->count : 0, 1 + lines(out += driver.readAllStandardOutput(), "row"));
    }

    // While the close hangs, a SIGHUP changes nothing and a SIGTERM ends it.
    void secondSignalEndsAtOnce()
    {
        QProcess hung;
        hung.start(QCoreApplication::applicationFilePath(), {"hang"});
        QByteArray out;
        waitFor(hung, out, "ready");
        hung.terminate();
        waitFor(hung, out, "closing");
        QCOMPARE(::kill(pid_t(hung.processId()), SIGHUP), 0); // delivered before the SIGTERM
        hung.terminate();
        QVERIFY(hung.waitForFinished(30000));
        QVERIFY(hung.exitStatus() == QProcess::CrashExit && hung.exitCode() == SIGTERM);
    }
};

int main(int argc, char** argv)
{
    QApplication app(argc, argv);
    if (argc == 3 && QByteArray(argv[1]) == "record") return record(QByteArray(argv[2]) == "1");
    if (argc == 2 && QByteArray(argv[1]) == "hang") {
        TerminationSignals termination;
        QObject::connect(&termination, &TerminationSignals::received, [](int) {
            say(QStringLiteral("closing"));
            for (;;)
                ::pause();
        });
        say(QStringLiteral("ready"));
        return app.exec();
    }
    TerminationTest test;
    return QTest::qExec(&test, argc, argv);
}

#include "test_termination.moc"
