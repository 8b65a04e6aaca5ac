// Start-up and shutdown over the in-memory panel: what com.txt gives the
// lists, what goes back into it, and the command line.

#include "app/Options.h"
#include "app/Startup.h"
#include "support/Rig.h"

#include <QFile>
#include <QTemporaryDir>
#include <QTest>

using namespace eload;
using namespace eload::test;

namespace {

// A file that is not there; "" stands for an empty file.
const QByteArray kMissing = QByteArray();

struct StartupRig : Rig {
    QTemporaryDir dir;
    QString path = dir.filePath(QStringLiteral("com.txt"));
    QList<int> clickedAt; // Combo1's list position whenever its click handler ran
    Startup startup{ctx, [this] { clickedAt << panel.listIndex(Ctl::Combo1); }, path,
                    QStringLiteral("/opt/eload")};

    void writeFile(const QByteArray& bytes)
    {
        if (bytes.isNull()) return;
        QFile f(path);
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.write(bytes);
    }
    QByteArray fileBytes()
    {
        QFile f(path);
        return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("<missing>");
    }
};

} // namespace

class StartupTest : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void savedPortReachesTheLists_data()
    {
        QTest::addColumn<QByteArray>("file");
        QTest::addColumn<QString>("portText");
        QTest::addColumn<int>("position");
        QTest::addColumn<QString>("baudText");
        QTest::addColumn<QByteArray>("written"); // by a shutdown without changes

        QTest::newRow("COM3 9600")
            << QByteArray("3\r\n9600\r\n") << "COM3" << 2 << "9600" << QByteArray("3\r\n9600\r\n");
        QTest::newRow("0: no entry")
            << QByteArray("0\r\n9600\r\n") << "COM0" << -1 << "9600" << QByteArray("0\r\n9600\r\n");
        QTest::newRow("typed rate") << QByteArray("9\r\n14400\r\n") << "COM9" << 8 << "14400"
                                    << QByteArray("9\r\n14400\r\n");
        QTest::newRow("LF ends") << QByteArray("5\n57600\n") << "COM5" << 4 << "57600"
                                 << QByteArray("5\r\n57600\r\n");
        QTest::newRow("last line unended")
            << QByteArray("1\r\n4800") << "COM1" << 0 << "4800" << QByteArray("1\r\n4800\r\n");
        QTest::newRow("extra lines dropped") << QByteArray("2\r\n19200\r\nx\r\n") << "COM2" << 1
                                             << "19200" << QByteArray("2\r\n19200\r\n");
        QTest::newRow("8-bit byte kept")
            << QByteArray("4\r\n96\xE9\r\n") << "COM4" << 3 << QString::fromLatin1("96\xE9")
            << QByteArray("4\r\n96\xE9\r\n");
        QTest::newRow("not a number") << QByteArray("abc\r\n9600\r\n") << "COMabc" << -1 << "9600"
                                      << QByteArray("0\r\n9600\r\n");
        QTest::newRow("number first")
            << QByteArray("6x\r\n9600\r\n") << "COM6" << 5 << "9600" << QByteArray("6\r\n9600\r\n");
        QTest::newRow("fraction rounds half to even") << QByteArray("1.5\r\n9600\r\n") << "COM1"
                                                      << 0 << "9600" << QByteArray("1\r\n9600\r\n");
        // Where the file cannot tell: no port, and 9600 when line 2 is missing.
        QTest::newRow("missing") << kMissing << "COM0" << -1 << "9600"
                                 << QByteArray("0\r\n9600\r\n");
        QTest::newRow("empty") << QByteArray("") << "COM0" << -1 << "9600"
                               << QByteArray("0\r\n9600\r\n");
        QTest::newRow("one line") << QByteArray("3\r\n") << "COM0" << -1 << "9600"
                                  << QByteArray("0\r\n9600\r\n");
        QTest::newRow("port 10") << QByteArray("10\r\n38400\r\n") << "COM0" << -1 << "38400"
                                 << QByteArray("0\r\n38400\r\n");
        QTest::newRow("port -1") << QByteArray("-1\r\n9600\r\n") << "COM0" << -1 << "9600"
                                 << QByteArray("0\r\n9600\r\n");
        QTest::newRow("huge port") << QByteArray("99999999999999999999\r\n9600\r\n") << "COM0" << -1
                                   << "9600" << QByteArray("0\r\n9600\r\n");
    }
    void savedPortReachesTheLists()
    {
        QFETCH(QByteArray, file);
        StartupRig r;
        r.writeFile(file);
        r.startup.Form_Load();

        QFETCH(QString, portText);
        QFETCH(int, position);
        QCOMPARE(r.panel.text(Ctl::Combo1), portText);
        QCOMPARE(r.panel.listIndex(Ctl::Combo1), position);
        // The click handler runs once, after the position is set.
        QCOMPARE(r.clickedAt, QList<int>{position});
        QTEST(r.panel.text(Ctl::Combo2), "baudText");
        QVERIFY(r.panel.messages.isEmpty());

        r.startup.Form_QueryUnload();
        QTEST(r.fileBytes(), "written");
    }

    void restOfStartup()
    {
        StartupRig r;
        r.writeFile("3\r\n9600\r\n");
        r.panel.setEnabled(Ctl::Command4, false);
        r.state.ResumePolling = 1;
        r.state.RecordFlag = QStringLiteral("1");
        r.startup.Form_Load();

        QCOMPARE(r.state.AppFolder, QStringLiteral("/opt/eload"));
        QCOMPARE(r.panel.text(Ctl::Combo3), QStringLiteral("无校验"));
        QCOMPARE(r.panel.text(Ctl::Combo4), QStringLiteral("8"));
        QCOMPARE(r.panel.text(Ctl::Combo5), QStringLiteral("1"));
        QCOMPARE(r.panel.text(Ctl::Combo6), QStringLiteral("9600"));
        for (auto [list, last] : {std::pair{Ctl::Combo_Addr0, 254}, {Ctl::Combo_Addr2, 255}}) {
            QCOMPARE(r.panel.listCount(list), last);
            for (int i = 0; i < last; ++i)
                QCOMPARE(r.panel.listItem(list, i), QString::number(i + 1));
            QCOMPARE(r.panel.text(list), QStringLiteral("1"));
        }
        for (Ctl field : {Ctl::Text3, Ctl::Text4, Ctl::Text5})
            QCOMPARE(r.panel.maxLength(field), 5);
        QVERIFY(r.panel.isEnabled(Ctl::Command4));
        QCOMPARE(r.state.ResumePolling, std::int16_t(0));
        QCOMPARE(r.state.RecordFlag, QStringLiteral("0"));
        // The port stays closed and nothing runs.
        QCOMPARE(r.panel.text(Ctl::Command1), QStringLiteral("打开串口"));
        for (Timer t : {Timer::Timer1, Timer::Timer2, Timer::Timer3})
            QVERIFY(!r.panel.isTimerEnabled(t));
        QCOMPARE(r.port.openPort, 0);
        QVERIFY(r.port.probed.isEmpty());
    }

    void shutdownWritesTheListsAsTheyStand_data()
    {
        QTest::addColumn<int>("pick"); // Combo1 entry the operator picks; -1 none
        QTest::addColumn<QString>("typedPort");
        QTest::addColumn<QString>("baud");
        QTest::addColumn<QByteArray>("written");
        QTest::newRow("picked COM7") << 6 << QString() << "115200" << QByteArray("7\r\n115200\r\n");
        QTest::newRow("port typed over") << -1 << "COM5"
                                         << "9600" << QByteArray("0\r\n9600\r\n");
        QTest::newRow("rate typed") << -1 << QString() << "250000" << QByteArray("3\r\n250000\r\n");
    }
    void shutdownWritesTheListsAsTheyStand()
    {
        QFETCH(int, pick);
        QFETCH(QString, typedPort);
        QFETCH(QString, baud);
        StartupRig r;
        r.writeFile("3\r\n9600\r\n");
        r.startup.Form_Load();
        if (pick >= 0) r.panel.pick(Ctl::Combo1, pick);
        if (!typedPort.isNull()) r.panel.setText(Ctl::Combo1, typedPort);
        r.panel.setText(Ctl::Combo2, baud);
        r.startup.Form_QueryUnload();
        QTEST(r.fileBytes(), "written");
    }

    void failingFileNeverStopsTheWindow()
    {
        // com.txt is a folder: nothing to read, nothing can be written.
        StartupRig r;
        QVERIFY(QDir(r.dir.path()).mkdir(QStringLiteral("com.txt")));
        QTest::ignoreMessage(QtWarningMsg, QRegularExpression("cannot read .*com.txt"));
        r.startup.Form_Load();
        QCOMPARE(r.panel.text(Ctl::Combo1), QStringLiteral("COM0"));
        QCOMPARE(r.panel.text(Ctl::Combo2), QStringLiteral("9600"));
        QTest::ignoreMessage(QtWarningMsg,
                             QRegularExpression("port settings not saved to .*com.txt"));
        r.startup.Form_QueryUnload();
        QVERIFY(r.panel.messages.isEmpty());
    }

    void commandLine_data()
    {
        QTest::addColumn<QStringList>("args");
        QTest::addColumn<int>("action");
        QTest::addColumn<QStringList>("qtArgs");
        QTest::addColumn<QString>("com3"); // device behind COM3 afterwards
        QTest::addColumn<bool>("bad");
        const auto run = int(Options::Action::Run);
        QTest::newRow("nothing") << QStringList{} << run << QStringList{} << "/dev/ttyUSB2"
                                 << false;
        QTest::newRow("help") << QStringList{"--help"} << int(Options::Action::Help)
                              << QStringList{} << "/dev/ttyUSB2" << false;
        QTest::newRow("version") << QStringList{"--version"} << int(Options::Action::Version)
                                 << QStringList{} << "/dev/ttyUSB2" << false;
        QTest::newRow("com, Qt's options kept")
            << QStringList{"-platform", "offscreen", "--com", "3=/dev/pts/7", "-style", "fusion"}
            << run << QStringList{"-platform", "offscreen", "-style", "fusion"} << "/dev/pts/7"
            << false;
        QTest::newRow("com=, last wins") << QStringList{"--com=3=/dev/a", "--com", "3=/dev/b"}
                                         << run << QStringList{} << "/dev/b" << false;
        QTest::newRow("port 10") << QStringList{"--com", "10=/dev/x"} << run << QStringList{} << ""
                                 << true;
        QTest::newRow("no path") << QStringList{"--com", "3="} << run << QStringList{} << ""
                                 << true;
        QTest::newRow("no value") << QStringList{"--com"} << run << QStringList{} << "" << true;
    }
    void commandLine()
    {
        QFETCH(QStringList, args);
        std::vector<QByteArray> bytes{"eload-panel"};
        for (const QString& a : args)
            bytes.push_back(a.toLocal8Bit());
        std::vector<char*> argv;
        for (QByteArray& b : bytes)
            argv.push_back(b.data());

        const ParsedOptions parsed = parseOptions(int(argv.size()), argv.data(), PortMap());
        QFETCH(bool, bad);
        QCOMPARE(!parsed.error.isEmpty(), bad);
        if (bad) return;
        QTEST(int(parsed.options.action), "action");
        QStringList qtArgs;
        for (std::size_t i = 1; i < parsed.options.qtArguments.size(); ++i)
            qtArgs << QString::fromLocal8Bit(parsed.options.qtArguments[i]);
        QTEST(qtArgs, "qtArgs");
        QCOMPARE(parsed.options.qtArguments.front(), argv.front());
        QTEST(parsed.options.ports.pathOf(3), "com3");
    }
};

QTEST_GUILESS_MAIN(StartupTest)
#include "test_startup.moc"
