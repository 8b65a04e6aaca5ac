// eload-cli watch as an unattended run that always stops safely: the
// discharge's own figures on a module that was not cleared, a switch-on
// that never comes, a reader of stdout that stalls, signals at the start and
// twice at the end, a line that vanishes and comes back (or does not), long
// timers, and the files it refuses or leaves.

#include "CliRig.h"
#include "modbus/Frames.h"

#include <QDir>
#include <QFileInfo>
#include <QJsonArray>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <csignal>
#include <fcntl.h>
#include <unistd.h>

using namespace eload;
using namespace eload::test;

namespace {

// The CSV log's columns (reader/RecordingFile.h).
enum Column { Time, Voltage, Current, Power, Capacity, Energy, Temp, Resist, Prot, LoadOn, Secs };

QStringList fields(const QString& row) { return row.split(u','); }

qint64 msecsOf(const QString& row)
{
    return QDateTime::fromString(fields(row)[Time], Qt::ISODateWithMs).toMSecsSinceEpoch();
}

// A watch with --load-on whose switch-ons the simulator logged as frames.
int switchOns(const Line& line, const std::vector<std::uint8_t>& addresses)
{
    int n = 0;
    for (std::uint8_t a : addresses)
        n += line.count(withCrc(modbus::loadSwitch(a, 1)));
    return n;
}

} // namespace

class WatchTest : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void initTestCase() { keepLibraryApart(); }

    // Two discharges of one module without a clear: the second's figures are
    // its own, the counts at its end less those it began with, and its mean
    // current is the current that flowed.
    void repeatedDischarge()
    {
        Line line({1}, 100);
        line.sim.setReg(13, 500); // 5 A
        QTemporaryDir dir;
        for (const char* name : {"first.csv", "second.csv"}) {
            const QString csv = dir.filePath(name);
            const Run r = run(line.args({"watch", "--interval", "50", "--json", "--load-on",
                                         "--stop-at-ah", "0.3", "--csv", csv}));
            QVERIFY2(r.status == 0, r.err);
            const QJsonObject s = r.summary(1);
            QCOMPARE(s["end"].toString(), "stop-at-ah");
            const QStringList rows = csvRows(csv);
            // The first reply (the load still off) holds the module's counts up to the start.
            const QStringList first = fields(rows[1]), last = fields(rows.last());
            const double ah = last[Capacity].toDouble() - first[Capacity].toDouble();
            const double wh = last[Energy].toDouble() - first[Energy].toDouble();
            const int seconds = last[Secs].toInt() - first[Secs].toInt();
            QCOMPARE(qRound(s["capacity_Ah"].toDouble() * 1000), qRound(ah * 1000));
            QCOMPARE(qRound(s["energy_Wh"].toDouble() * 1000), qRound(wh * 1000));
            QCOMPARE(s["duration_s"].toInt(), seconds);
            QCOMPARE(qRound(s["base_capacity_Ah"].toDouble() * 1000),
                     qRound(first[Capacity].toDouble() * 1000));
            QVERIFY(s["capacity_Ah"].toDouble() >= 0.3 && s["capacity_Ah"].toDouble() < 0.4);
            // 5 A flowed: the mean is near it, not the module's total over the time.
            QVERIFY2(qAbs(s["average_current_A"].toDouble() - 5.0) < 0.25,
                     qPrintable(QString::number(s["average_current_A"].toDouble())));
            QCOMPARE(s["flags"].toArray(), QJsonArray());
        }
    }

    // The load never comes on (the module takes the switch and ignores it):
    // the test ends after a few replies, plainly, with a status that says so.
    void switchOnNeverComes()
    {
        Line line;
        line.sim.setReg(17, 0);
        line.sim.failAlways(sim::Fault::ignored());
        QElapsedTimer clock;
        clock.start();
        const Run r = run(line.args({"watch", "--interval", "50", "--json", "--load-on"}));
        QCOMPARE(r.status, 1);
        QVERIFY2(clock.elapsed() < 20000, qPrintable(QString::number(clock.elapsed())));
        const QJsonObject s = r.summary(1);
        QCOMPARE(s["end"].toString(), "load-not-on");
        QVERIFY2(s["end_text"].toString().contains("protection OTP"),
                 qPrintable(s["end_text"].toString()));
        QCOMPARE(s["load_on"].toBool(true), false);
    }

    // Nobody reads stdout (a pipe whose reader sleeps): the polls and the stop
    // rule go on regardless, the load goes off on time, every reading is in
    // the file, and the lines that could not be shown are counted.
    void stalledReader()
    {
        Line line({1}, 50);
        line.sim.setReg(13, 500);
        int pipe[2];
        QVERIFY(::pipe2(pipe, O_CLOEXEC) == 0);
        ::fcntl(pipe[1], F_SETPIPE_SZ, 4096);
        QTemporaryDir dir;
        const QString csv = dir.filePath("cell.csv");
        QProcess watch;
        watch.setChildProcessModifier([fd = pipe[1]] { ::dup2(fd, STDOUT_FILENO); });
        watch.start(ELOAD_CLI, line.args({"watch", "--interval", "50", "--json", "--load-on",
                                          "--stop-below", "10.5", "--csv", csv}));
        ::close(pipe[1]);
        const Run r = finish(watch);
        ::close(pipe[0]);
        QVERIFY2(r.status == 0, r.err);
        QCOMPARE(int(line.sim.reg(17)), 0);
        QVERIFY2(r.err.contains("display line(s) were not shown"), r.err);
        QVERIFY2(r.err.contains("the summary follows here"), r.err);
        QVERIFY2(r.err.contains("voltage"), r.err); // the summary: ended by the voltage

        // Every poll is in the file at its pace; the stop came a few replies
        // after the voltage fell below 10.5 V under load.
        const QStringList rows = csvRows(csv);
        QVERIFY(rows.size() > 100);
        int below = 0;
        qint64 firstBelow = 0;
        for (int i = 1; i < rows.size(); ++i) {
            const QStringList f = fields(rows[i]);
            if (i > 1)
                QVERIFY2(msecsOf(rows[i]) - msecsOf(rows[i - 1]) < 2000, qPrintable(rows[i]));
            if (f[LoadOn] == "1" && f[Voltage].toDouble() < 10.5 && below++ == 0)
                firstBelow = msecsOf(rows[i]);
        }
        QVERIFY2(below >= 3 && below <= 4, qPrintable(QString::number(below)));
        QCOMPARE(fields(rows.last())[LoadOn], "0");
        QVERIFY(msecsOf(rows.last()) - firstBelow < 5000);
    }

    // A stop signal right after the probes of three modules: no switch-on
    // goes out after it (the one on the line may), and every load ends off.
    void signalDuringStartUp()
    {
        const std::vector<std::uint8_t> addresses{1, 2, 3};
        Line line(addresses);
        for (sim::ModuleAccess m : line.sim.modules()) {
            m.setReg(17, 0);
            m.failAlways(sim::Fault::late(40)); // each exchange a little longer
        }
        QProcess watch;
        watch.start(ELOAD_CLI, line.args({"--address", "1-3", "watch", "--interval", "100",
                                          "--json", "--load-on"}));
        QVERIFY(line.sim.waitForRequests(4, std::chrono::milliseconds(kWaitMs)));
        QCOMPARE(switchOns(line, addresses), 1);
        ::kill(pid_t(watch.processId()), SIGTERM);
        const Run r = finish(watch);
        QVERIFY2(r.status == 0, r.err);
        QCOMPARE(switchOns(line, addresses), 1);
        for (sim::ModuleAccess m : line.sim.modules())
            QCOMPARE(int(m.reg(17)), 0);
        for (int a = 1; a <= 3; ++a)
            QCOMPARE(r.summary(a)["end"].toString(), "signal");
    }

    // A second Ctrl-C does not cut the switch-off short: the program still
    // switches the load off, within about a second, and ends by itself.
    void secondSignal()
    {
        Line line;
        line.sim.setReg(17, 0);
        QProcess watch;
        watch.start(ELOAD_CLI, line.args({"watch", "--interval", "50", "--json", "--load-on"}));
        QTRY_COMPARE_WITH_TIMEOUT(int(line.sim.reg(17)), 1, kWaitMs);
        line.sim.failAlways(sim::Fault::late(60));
        ::kill(pid_t(watch.processId()), SIGINT);
        QTest::qWait(30); // two signals at once would be one
        ::kill(pid_t(watch.processId()), SIGINT);
        QElapsedTimer clock;
        clock.start();
        const Run r = finish(watch);
        QVERIFY2(r.status == 0, r.err);
        QVERIFY2(clock.elapsed() < 5000, qPrintable(QString::number(clock.elapsed())));
        QCOMPARE(int(line.sim.reg(17)), 0);
        QVERIFY2(r.err.contains("a second signal"), r.err);
    }

    // The adapter vanishes and comes back on the same path within
    // --lost-after: one test, one set of files, the gap marked in the CSV log
    // (an empty line) and in the summary.
    void lineComesBack()
    {
        QTemporaryDir dir;
        const QString link = dir.filePath("ttyBus");
        Line line({1}, 0, link);
        line.sim.setReg(17, 0);
        const QString csv = dir.filePath("cell.csv");
        QProcess watch;
        watch.start(ELOAD_CLI, line.args({"watch", "--interval", "50", "--json", "--load-on",
                                          "--lost-after", "60", "--csv", csv}));
        QVERIFY(line.sim.waitForRequests(10, std::chrono::milliseconds(kWaitMs)));
        line.sim.hangUp();
        QTest::qWait(1500);
        QVERIFY(std::holds_alternative<std::string>(line.sim.start()));
        const std::size_t before = line.sim.requests().size();
        QVERIFY(line.sim.waitForRequests(before + 10, std::chrono::milliseconds(kWaitMs)));
        ::kill(pid_t(watch.processId()), SIGTERM);
        const Run r = finish(watch);
        QVERIFY2(r.status == 0, r.err);
        QVERIFY2(r.err.contains("the line was lost") && r.err.contains("the line is back"), r.err);
        const QJsonObject s = r.summary(1);
        QCOMPARE(s["end"].toString(), "signal");
        QCOMPARE(s["gaps"].toInt(), 1);
        QVERIFY2(s["gap_s"].toDouble() >= 1.4 && s["gap_s"].toDouble() < 30,
                 qPrintable(QString::number(s["gap_s"].toDouble())));
        QVERIFY(s["missed_polls"].toInt() >= 3);
        QCOMPARE(s["flags"].toArray(), QJsonArray{"gaps"});
        QCOMPARE(int(line.sim.reg(17)), 0);
        const QStringList rows = csvRows(csv, Qt::KeepEmptyParts);
        QCOMPARE(rows.count(QString()), 1);
        const int gap = int(rows.indexOf(QString()));
        QVERIFY(gap > 2 && gap < rows.size() - 2);
        QVERIFY(msecsOf(rows[gap + 1]) - msecsOf(rows[gap - 1]) >= 1400);
        QCOMPARE(s["samples"].toInt(), rows.size() - 2); // header, gap
    }

    // It does not come back: the test rides the loss through for
    // --lost-after, then ends as line-lost, the load left as it was.
    void lineStaysLost()
    {
        // Behind a link of its own: a pty's name may be taken by another test's.
        QTemporaryDir dir;
        Line line({1}, 0, dir.filePath("ttyBus"));
        line.sim.setReg(17, 0);
        QProcess watch;
        watch.start(ELOAD_CLI, line.args({"watch", "--interval", "50", "--json", "--load-on",
                                          "--lost-after", "3"}));
        QVERIFY(line.sim.waitForRequests(10, std::chrono::milliseconds(kWaitMs)));
        line.sim.hangUp();
        QElapsedTimer clock;
        clock.start();
        const Run r = finish(watch);
        const qint64 took = clock.elapsed();
        QCOMPARE(r.status, 3);
        QVERIFY2(took >= 2800 && took < 20000, qPrintable(QString::number(took)));
        const QJsonObject s = r.summary(1);
        QCOMPARE(s["end"].toString(), "line-lost");
        QVERIFY(s["load_on"].isNull());
        QCOMPARE(int(line.sim.reg(17)), 1);
    }

    // Deadlines beyond a timer's range (24.8 days) and an interval of 1000 h
    // neither fire at once nor spin: one poll, then quiet until the signal.
    void longTimers()
    {
        Line line;
        QProcess watch;
        watch.start(ELOAD_CLI,
                    line.args({"watch", "--interval", "1000h", "--stop-after", "30d", "--json"}));
        QVERIFY(line.sim.waitForRequests(1, std::chrono::milliseconds(kWaitMs)));
        QTest::qWait(1500);
        QCOMPARE(int(line.sim.requests().size()), 1);
        QCOMPARE(watch.state(), QProcess::Running);
        ::kill(pid_t(watch.processId()), SIGTERM);
        const Run r = finish(watch);
        QVERIFY2(r.status == 0, r.err);
        QCOMPARE(r.summary(1)["end"].toString(), "signal");
    }

    // A workbook journal left by a run that was killed: the next run in that
    // folder makes its workbook first, so a new run under the same name is
    // refused before anything is made, and none of its files is left behind.
    // With --xlsx FOLDER, the journals of that folder are the ones recovered.
    void leftoverJournal_data()
    {
        QTest::addColumn<bool>("folder");
        QTest::newRow("file") << false;
        QTest::newRow("folder") << true;
    }
    void leftoverJournal()
    {
        QFETCH(bool, folder);
        Line line;
        QTemporaryDir dir;
        QVERIFY(QDir(dir.path()).mkdir("books"));
        const QString books = dir.filePath("books");
        const QString xlsx = folder ? books : QDir(books).filePath("cell.xlsx");
        const QString csv = dir.filePath("cell.csv");
        QProcess killed;
        killed.start(ELOAD_CLI, line.args({"watch", "--interval", "50", "--json", "--xlsx", xlsx}));
        QVERIFY(line.sim.waitForRequests(5, std::chrono::milliseconds(kWaitMs)));
        killed.kill();
        killed.waitForFinished();
        const auto journals = [&] {
            return QDir(books).entryList({".*.rows"}, QDir::Files | QDir::Hidden);
        };
        QCOMPARE(journals().size(), 1);

        const Run r =
            run(line.args({"watch", "--stop-after", "1", "--json", "--csv", csv, "--xlsx", xlsx}));
        QVERIFY2(r.err.contains("recovered an unfinished recording: " + books.toUtf8()), r.err);
        QVERIFY(journals().isEmpty());
        QVERIFY(QDir(dir.path()).entryList({"*.xlsx"}, QDir::Files).isEmpty()); // not the parent
        if (folder) {
            QVERIFY2(r.status == 0, r.err); // a new clock-named book beside the recovered one
            QCOMPARE(QDir(books).entryList({"*.xlsx"}, QDir::Files).size(), 2);
        } else {
            QCOMPARE(r.status, 2);
            QVERIFY2(r.err.contains("cell.xlsx exists already"), r.err);
            QVERIFY(!QFileInfo::exists(csv));
        }
    }

    // A full disk is named as such, and the status says a file failed.
    void diskFull()
    {
        if (::geteuid() != 0 || QStandardPaths::findExecutable("unshare").isEmpty())
            QSKIP("a small file system of its own needs root and unshare");
        Line line;
        QTemporaryDir dir;
        const QString mount = dir.filePath("small");
        QVERIFY(QDir(dir.path()).mkdir("small"));
        QStringList argv{"watch", "--interval", "20",    "--stop-after",
                         "5",     "--json",     "--csv", mount + "/cell.csv"};
        QProcess p;
        p.start("unshare", QStringList{"-m", "sh", "-c",
                                       "mount -t tmpfs -o size=4k tmpfs \"$1\" && shift && exec "
                                       "\"$@\"",
                                       "sh", mount, ELOAD_CLI, "--port", line.path} +
                               argv);
        const Run r = finish(p);
        if (r.err.contains("mount:")) QSKIP("mounting a tmpfs is not permitted here");
        QCOMPARE(r.status, 1);
        QVERIFY2(r.err.contains("No space left on device"), r.err);
        QVERIFY2(!r.err.contains("Unknown error"), r.err);
    }
};

QTEST_GUILESS_MAIN(WatchTest)
#include "test_watch.moc"
