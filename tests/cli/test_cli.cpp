// eload-cli end to end: the program itself against the simulated modules on a
// pseudo-terminal and against pymodbus' RTU server. Checked: the frames on
// the wire, the values and their JSON and CSV shapes, every end of a watch
// with the load left off and the files complete, and the exit statuses.

#include "CliRig.h"
#include "WorkbookReader.h"
#include "modbus/Frames.h"
#include "reader/RecordingFile.h"

#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>
#include <csignal>

using namespace eload;
using namespace eload::test;

using Frames = std::vector<QByteArray>;
using Registers = QList<QPair<int, int>>;
Q_DECLARE_METATYPE(Frames)

class CliTest : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void initTestCase() { keepLibraryApart(); }

    void refusals_data()
    {
        QTest::addColumn<QStringList>("args");
        QTest::addColumn<int>("status");
        QTest::addColumn<QString>("message");
        QTest::addColumn<int>("requests");
        const auto row = [](const char* name, QStringList args, int status, QString message,
                            int requests = 0) {
            QTest::newRow(name) << args << status << message << requests;
        };
        const QString range = "outside the module's range ";
        row("current low", {"set", "--current", "0.004"}, 2, range + "0.01 to 10 A");
        row("current high", {"set", "--current", "10.01"}, 2, range + "0.01 to 10 A");
        row("cut-off low", {"set", "--cutoff", "0.99"}, 2, range + "1 to 99.99 V");
        row("cut-off high", {"set", "--cutoff", "100"}, 2, range + "1 to 99.99 V");
        row("power low", {"set", "--power", "0.99"}, 2, range + "1 to 150 W");
        row("power high", {"set", "--power", "150.01", "--current", "1"}, 2, range + "1 to 150 W");
        row("no number", {"set", "--power", "1e2"}, 2, "not a number");
        row("nothing to set", {"set"}, 2, "set wants");
        row("address 0", {"address", "0"}, 2, "1 to 247");
        row("address 248", {"address", "248"}, 2, "1 to 247");
        // libmodbus cannot address 248..255: it would ask 247 instead.
        row("reserved module", {"--address", "250", "read"}, 2, "addresses are 1 to 247");
        row("broadcast to several", {"--address", "1,2", "address", "5"}, 2, "say --yes");
        // The broadcast would reach both modules: the scan of the line finds them.
        row("two modules", {"--address", "1", "address", "2"}, 2, "the scan found 2 modules", 247);
        row("baud", {"--baud", "1200", "read"}, 2, "one of 4800, 9600");
        row("stray option", {"read", "--stop-below", "3"}, 2, "does not go with read");
        row("missing port", {"--port", "/nonexistent/tty", "read"}, 2, "no such device");
        row("existing file", {"watch", "--csv", "{file}"}, 2, "exists already");
        row("no recording", {"report", "{file}.xlsx"}, 1, "no such file");
        row("silent module", {"--address", "9", "read"}, 3, "address 9 on {line} at 9600 Bd", 1);
    }
    void refusals()
    {
        QFETCH(QStringList, args);
        QFETCH(int, status);
        QFETCH(QString, message);
        QFETCH(int, requests);
        Line line({1, 2});
        QTemporaryDir dir;
        const QString file = dir.filePath("taken.csv");
        QFile(file).open(QIODevice::WriteOnly);
        args.replaceInStrings("{file}", file);
        const Run r = run(args[0] == "report" ? args : line.args(args));
        QCOMPARE(r.status, status);
        QVERIFY2(r.err.contains(message.replace("{line}", line.path).toUtf8()), r.err);
        // The simulator logs a request once its reply is out: wait for the last.
        // On a loaded machine two of a scan's 247 requests may reach the pty's
        // far end in one read and count as one (a real line keeps their gap).
        const int slack = requests / 50;
        QTRY_VERIFY_WITH_TIMEOUT(int(line.frames().size()) >= requests - slack, 10000);
        QVERIFY(int(line.frames().size()) <= requests);
        for (const QByteArray& f : line.frames())
            QVERIFY(f[0] != 0); // no broadcast went out
    }

    // The panel's requests, byte for byte, and what the module holds after.
    void commandFrames_data()
    {
        using namespace modbus;
        QTest::addColumn<QStringList>("args");
        QTest::addColumn<Frames>("frames");
        QTest::addColumn<QString>("said");
        QTest::addColumn<Registers>("after");
        const QByteArray poll = measurementPoll(1);
        QTest::newRow("read") << QStringList{"read"} << Frames{poll} << "12.10V" << Registers{};
        // 3.005 V is 300.5 hundredths: half to even, as the panel rounds.
        QTest::newRow("set") << QStringList{"set",   "--current", "2.5", "--cutoff",
                                            "3.005", "--power",   "50"}
                             << Frames{poll, writePresets(1, {250, 300, 5000, 1, 1}), poll}
                             << "current preset 2.50A, cut-off 3.00V, power preset 50.00W"
                             << Registers{{13, 250}, {14, 300}, {15, 5000}, {17, 1}};
        QTest::newRow("module baud") << QStringList{"set", "--module-baud", "19200"}
                                     << Frames{poll, writePresets(1, {200, 150, 10000, 2, 1})}
                                     << "listens at 19200 Bd" << Registers{{16, 2}};
        QTest::newRow("on") << QStringList{"on"} << Frames{loadSwitch(1, 1), poll}
                            << "address 1: load on" << Registers{{17, 1}};
        QTest::newRow("off") << QStringList{"off"} << Frames{loadSwitch(1, 0), poll}
                             << "address 1: load off" << Registers{{17, 0}};
        QTest::newRow("clear") << QStringList{"clear"} << Frames{poll, clearData(1), poll}
                               << "capacity 0.000AH" << Registers{{4, 0}, {6, 0}, {10, 0}};
        // The scan finds the one module (at 1) before the broadcast; after it
        // address 1 is silent (three tries, counted once) and 7 answers.
        Frames scanThenChange;
        for (int a = 1; a <= 247; ++a)
            scanThenChange.push_back(measurementPoll(std::uint8_t(a)));
        scanThenChange.insert(scanThenChange.end(),
                              {changeAddress(7), measurementPoll(1), measurementPoll(7)});
        QTest::newRow("address") << QStringList{"address", "7"} << scanThenChange
                                 << "the module answers at address 7" << Registers{};
    }
    void commandFrames()
    {
        QFETCH(QStringList, args);
        QFETCH(Frames, frames);
        QFETCH(QString, said);
        QFETCH(Registers, after);
        Line line;
        if (args[0] == "clear") line.sim.setReg(17, 0);
        const Run r = run(line.args(args));
        QVERIFY2(r.status == 0, r.err);
        QVERIFY2(r.out.contains(said.toUtf8()), r.out);
        std::vector<QByteArray> expected;
        for (const QByteArray& body : frames)
            expected.push_back(withCrc(body));
        QTRY_COMPARE_WITH_TIMEOUT(line.frames(), expected, 20000);
        for (const auto& [reg, value] : after)
            QCOMPARE(int(line.sim.reg(reg)), value);
        if (args[0] == "address") QCOMPARE(int(line.sim.address()), 7);
    }

    // A reply that fails a check is never decoded: each kind named, three tries.
    void faultyReplies_data()
    {
        QTest::addColumn<int>("kind");
        QTest::addColumn<int>("amount");
        QTest::addColumn<int>("status");
        QTest::addColumn<QString>("said");
        using K = sim::Fault::Kind;
        QTest::newRow("exception") << int(K::Exception) << 4 << 3 << "exception";
        QTest::newRow("other address") << int(K::OtherAddress) << 9 << 3 << "wrong reply";
        QTest::newRow("wrong CRC") << int(K::WrongCrc) << 0 << 3 << "wrong CRC";
        QTest::newRow("cut short") << int(K::MissingBytes) << 3 << 3 << "no answer";
        // What follows a whole reply is dropped before the next request.
        QTest::newRow("bytes after") << int(K::ExtraBytes) << 2 << 0 << "12.10V";
        QTest::newRow("in pieces") << int(K::Split) << 3 << 0 << "12.10V";
    }
    void faultyReplies()
    {
        QFETCH(int, kind);
        QFETCH(int, amount);
        QFETCH(int, status);
        QFETCH(QString, said);
        Line line;
        line.sim.failAlways({sim::Fault::Kind(kind), amount, 20});
        const Run r = run(line.args({"read"}));
        QCOMPARE(r.status, status);
        QVERIFY2((status == 0 ? r.out : r.err).contains(said.toUtf8()), r.out + r.err);
        if (status != 0) QVERIFY2(r.err.contains("3 tries"), r.err);
    }

    // The broadcast reaches every module on the line: it goes out only when a
    // scan finds exactly one, and the old address must fall silent after it.
    void addressChange_data()
    {
        QTest::addColumn<int>("modules");  // at 1, 2, 3 ..., all in the same state
        QTest::addColumn<bool>("ignored"); // the module answers but keeps its address
        QTest::addColumn<int>("status");
        QTest::addColumn<QString>("message");
        QTest::addColumn<int>("broadcasts");
        QTest::newRow("three alike")
            << 3 << false << 2 << "the scan found 3 modules on the line (at 1, 2, 3)" << 0;
        QTest::newRow("change ignored")
            << 1 << true << 1 << "a module still answers at the old address 1" << 1;
    }
    void addressChange()
    {
        QFETCH(int, modules);
        QFETCH(bool, ignored);
        QFETCH(int, status);
        QFETCH(QString, message);
        QFETCH(int, broadcasts);
        std::vector<std::uint8_t> addresses;
        for (int a = 1; a <= modules; ++a)
            addresses.push_back(std::uint8_t(a));
        Line line(addresses);
        if (ignored) line.sim.failAlways(sim::Fault::ignored());
        const Run r =
            run(line.args({"--address", QString::number(modules > 1 ? 2 : 1), "address", "7"}));
        QCOMPARE(r.status, status);
        QVERIFY2(r.err.contains(message.toUtf8()), r.err);
        QCOMPARE(line.count(withCrc(modbus::changeAddress(7))), broadcasts);
        for (int i = 0; i < modules; ++i)
            QCOMPARE(int(line.sim.modules()[std::size_t(i)].address()), i + 1);
    }

    // Which addresses answer: a reading each, as read --json gives it, and an
    // address two modules share shows as replies that fail their checks.
    void scan()
    {
        Line line({1, 2, 5});
        line.sim.module(5)->setReg(1, 999);
        line.sim.module(5)->setAddress(2);
        Run r = run(line.args({"--address", "1-6", "scan", "--json"}));
        QCOMPARE(r.status, 0);
        const QList<QJsonObject> found = r.json();
        QCOMPARE(found.size(), 2);
        QCOMPARE(found[0]["address"].toInt(), 1);
        QCOMPARE(found[0]["voltage_V"].toDouble(), 12.1);
        QCOMPARE(found[1]["address"].toInt(), 2);
        QCOMPARE(found[1]["error"].toString(), "wrong CRC");
        QVERIFY2(r.err.contains("2 address(es) answer: 1, 2"), r.err);
        QCOMPARE(int(line.frames().size()), 6);

        r = run(line.args({"--address", "3-4", "scan"}));
        QCOMPARE(r.status, 3);
        QVERIFY2(r.err.contains("no module answers"), r.err);
    }

    void valuesAndShapes()
    {
        Line line;
        const Run table = run(line.args({"read"}));
        QCOMPARE(table.status, 0);
        for (const char* text : {"1.25A", "12.10V", "15.12W", "2.500AH", "30.250WH", "45MR", "36℃",
                                 "OTP", "01:05:09", "2.00A", "1.50V", "100.00W", "9600 Bd"})
            QVERIFY2(table.out.contains(text), text);

        const QList<QJsonObject> json = run(line.args({"read", "--json"})).json();
        QCOMPARE(json.size(), 1);
        const QJsonObject& o = json[0];
        QCOMPARE(o["current_A"].toDouble(), 1.25);
        QCOMPARE(o["voltage_V"].toDouble(), 12.1);
        QCOMPARE(o["capacity_Ah"].toDouble(), 2.5);
        QCOMPARE(o["energy_Wh"].toDouble(), 30.25);
        QCOMPARE(o["protection_text"].toString(), "OTP");
        QCOMPARE(o["discharge_s"].toInt(), 3909);
        QCOMPARE(o["module_baud"].toInt(), 9600);
        QCOMPARE(o["load_on"].toBool(), true);
        QJsonArray raw;
        for (std::uint16_t w : kRegisters)
            raw.append(w);
        QCOMPARE(o["registers"].toArray(), raw);

        const QStringList csv = QString::fromUtf8(run(line.args({"read", "--csv"})).out)
                                    .split(u'\n', Qt::SkipEmptyParts);
        QCOMPARE(csv.size(), 2);
        QCOMPARE(csv[0], "address," + reader::csvHeader());
        const QStringList f = csv[1].split(u',');
        QCOMPARE(f.mid(2), (QStringList{"12.10", "1.25", "15.12", "2.500", "30.250", "36", "45",
                                        "4", "1", "3909"}));
    }

    // The other modules go on while one does not answer; a read names it.
    void severalModules()
    {
        Line line({1, 2, 3});
        for (sim::ModuleAccess m : line.sim.modules())
            m.setReg(1, 1000 + m.address());
        line.sim.module(2)->failAlways(sim::Fault::silent());
        Run r = run(line.args({"--address", "1-3", "read", "--json"}));
        QCOMPARE(r.status, 3);
        QList<QJsonObject> lines = r.json();
        QCOMPARE(lines.size(), 3);
        QCOMPARE(lines[0]["voltage_V"].toDouble(), 10.01);
        QCOMPARE(lines[1]["error"].toString(), "no answer");
        QCOMPARE(lines[2]["voltage_V"].toDouble(), 10.03);

        line.sim.module(2)->clearFaults();
        QProcess watch;
        watch.start(ELOAD_CLI, line.args({"--address", "1-3", "watch", "--interval", "50",
                                          "--stop-after", "3", "--json"}));
        QVERIFY(line.sim.waitForRequests(12, std::chrono::milliseconds(kWaitMs)));
        line.sim.module(3)->failAlways(sim::Fault::silent());
        const std::size_t silencedAt = line.sim.requests().size();
        r = finish(watch);
        // The line's need (3 x 60 ms at 9600 Bd, or more when the first round
        // took longer) is said, and what is used instead.
        const QRegularExpressionMatch used =
            QRegularExpression("each module is polled every (\\d+) ms instead")
                .match(QString::fromUtf8(r.err));
        QVERIFY2(used.hasMatch() && used.captured(1).toInt() >= 179, r.err);
        QCOMPARE(r.status, 3); // module 3's load was not confirmed off
        // Module 1 goes on at its pace once module 3 has stopped answering.
        int errors3 = 0, after1 = 0;
        for (const QJsonObject& o : r.json()) {
            errors3 += o["address"].toInt() == 3 && o.contains("error");
            after1 += errors3 > 0 && o["address"].toInt() == 1 && o.contains("registers");
        }
        QVERIFY2(errors3 > 0 && after1 >= 6, qPrintable(QString("%1 %2").arg(errors3).arg(after1)));
        QVERIFY(line.sim.requests().size() > silencedAt + 20);
        QCOMPARE(r.summary(1)["load_on"].toBool(true), false);
        QVERIFY(r.summary(3)["load_on"].isNull());
        QVERIFY(r.summary(3)["failed_tries"].toInt() >= 3);
        QCOMPARE(int(line.sim.module(1)->reg(17)), 0);
    }

    // Every end of a test: the load off (unless a signal ends a watch that did
    // not switch it on), the files complete and readable, the summary's
    // capacity that of the last reading.
    void stopConditions_data()
    {
        QTest::addColumn<QStringList>("args");
        QTest::addColumn<QString>("action");
        QTest::addColumn<QString>("end");
        QTest::addColumn<int>("loadAtEnd");
        QTest::addColumn<int>("status");
        const auto row = [](const char* name, QStringList args, QString action, QString end,
                            int load = 0, int status = 0) {
            QTest::newRow(name) << args << action << end << load << status;
        };
        // The whole pack down to 9.5 V, above the module's own cut-off at 9 V.
        row("whole discharge", {"--load-on", "--stop-below", "9.5"}, {}, "stop-below");
        row("capacity", {"--load-on", "--stop-at-ah", "0.5"}, {}, "stop-at-ah");
        row("energy", {"--load-on", "--stop-at-wh", "5"}, {}, "stop-at-wh");
        row("time", {"--load-on", "--stop-after", "1"}, {}, "stop-after");
        row("module's UVLO", {"--load-on"}, {}, "uvlo");
        row("module off by itself", {"--load-on"}, "module-off", "load-off");
        row("SIGTERM", {"--load-on"}, "sigterm", "signal");
        row("SIGINT, load left on", {}, "sigint", "signal", 1);
        row("adapter unplugged", {"--load-on", "--lost-after", "1"}, "hang-up", "line-lost", 1, 3);
    }
    void stopConditions()
    {
        QFETCH(QStringList, args);
        QFETCH(QString, action);
        QFETCH(QString, end);
        QFETCH(int, loadAtEnd);
        QFETCH(int, status);
        // Behind a link of its own: once unplugged, the pty's name may be another test's.
        QTemporaryDir dir;
        Line line({1}, 400, dir.filePath("ttyBus"));
        line.sim.setReg(13, 1000); // 10 A: the 2.2 AH pack lasts about 2 s at this speed
        if (!args.contains("--load-on")) line.sim.setReg(17, 1);
        const QString csv = dir.filePath("cell.csv"), xlsx = dir.filePath("cell.xlsx");
        QProcess watch;
        watch.start(ELOAD_CLI, line.args(QStringList{"watch", "--interval", "50", "--json", "--csv",
                                                     csv, "--xlsx", xlsx} +
                                         args));
        if (!action.isEmpty()) {
            QVERIFY(line.sim.waitForRequests(8, std::chrono::milliseconds(kWaitMs)));
            if (action == "module-off") line.sim.setReg(17, 0);
            if (action == "hang-up") line.sim.hangUp();
            if (action.startsWith("sig"))
                ::kill(pid_t(watch.processId()), action == "sigterm" ? SIGTERM : SIGINT);
        }
        const Run r = finish(watch);
        QVERIFY2(r.status == status, r.err);
        const QJsonObject summary = r.summary(1);
        QCOMPARE(summary["end"].toString(), end);
        QCOMPARE(int(line.sim.reg(17)), loadAtEnd);

        // The discharge runs from the first reply; the read-back after the
        // module's own end belongs to none. Its capacity is its own: the
        // count less the first reply's.
        const QStringList rows = csvRows(csv);
        const int afterEnd = int(rows.size()) - 1 - summary["samples"].toInt();
        QVERIFY2(afterEnd >= 0 && afterEnd <= 1, qPrintable(QString::number(afterEnd)));
        const QStringList first = rows[1].split(u','), last = rows.last().split(u',');
        QCOMPARE(qRound((last[4].toDouble() - first[4].toDouble()) * 1000),
                 qRound(summary["capacity_Ah"].toDouble() * 1000));
        QCOMPARE(last[9].toInt(), loadAtEnd);
        QJsonObject lastReading;
        for (const QJsonObject& o : r.json())
            if (o.contains("registers")) lastReading = o;
        QCOMPARE(lastReading["capacity_Ah"].toDouble(), last[4].toDouble());

        const std::optional<test::ReadWorkbook> book = test::readWorkbook(xlsx, 1);
        QVERIFY(book);
        QCOMPARE(book->count, rows.size());
        QCOMPARE(book->tail.last()[7].toString(), last[4] + "AH");

        const Run report = run({"report", "--json", csv, xlsx});
        QCOMPARE(report.status, 0);
        for (const QJsonObject& o : report.json())
            QCOMPARE(o["summary"]["capacity_Ah"].toDouble(), summary["capacity_Ah"].toDouble());
    }

    // An independent Modbus implementation: pymodbus' RTU server on a socat pty pair.
    void againstPymodbus()
    {
        const QString socatExe = QStandardPaths::findExecutable("socat");
        QProcess probe;
        probe.start("/usr/bin/python3", {"-c", "import pymodbus.server"});
        if (socatExe.isEmpty() || !probe.waitForFinished(20000) || probe.exitCode() != 0)
            QSKIP("socat or Debian's python3-pymodbus missing (scripts/bootstrap installs both)");
        QTemporaryDir dir;
        const QString serverEnd = dir.filePath("server"), cliEnd = dir.filePath("cli");
        QProcess socat;
        socat.start(socatExe, {QString("pty,raw,echo=0,link=%1").arg(serverEnd),
                               QString("pty,raw,echo=0,link=%1").arg(cliEnd)});
        QTRY_VERIFY_WITH_TIMEOUT(QFileInfo::exists(serverEnd) && QFileInfo::exists(cliEnd), 5000);
        QStringList regs;
        for (std::uint16_t w : kRegisters)
            regs << QString::number(w);
        regs[17] = "0";
        QProcess server;
        server.start("/usr/bin/python3",
                     {ELOAD_TESTS_DIR "/e2e/pymodbus_server.py", "--port", serverEnd, "--slave",
                      "7", "--registers", regs.join(',')});
        QVERIFY(server.waitForReadyRead(20000));

        const QStringList at7{"--port", cliEnd, "--address", "7"};
        QList<QJsonObject> read = run(at7 + QStringList{"read", "--json"}).json();
        QCOMPARE(read.size(), 1);
        QCOMPARE(read[0]["energy_Wh"].toDouble(), 30.25);
        QCOMPARE(read[0]["protection_text"].toString(), "OTP");
        for (const QStringList& command : {QStringList{"set", "--current", "2.5", "--power", "75"},
                                           QStringList{"on"}, QStringList{"clear"}}) {
            const Run r = run(at7 + command);
            QCOMPARE(r.status, command[0] == "clear" ? 1 : 0); // clear refused: the load is on
        }
        read = run(at7 + QStringList{"read", "--json"}).json();
        QCOMPARE(read[0]["registers"][13].toInt(), 250);
        QCOMPARE(read[0]["registers"][15].toInt(), 7500);
        QCOMPARE(read[0]["load_on"].toBool(), true);
        server.kill();
        socat.kill();
        server.waitForFinished();
        socat.waitForFinished();
    }
};

QTEST_GUILESS_MAIN(CliTest)
#include "test_cli.moc"
