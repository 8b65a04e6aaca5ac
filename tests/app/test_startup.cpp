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

struct StartupRig : Rig {
    QTemporaryDir dir;
    QString path = dir.filePath(QStringLiteral("com.txt"));
    QList<int> clickedAt; // Combo1's list position whenever its click handler ran
    Startup startup{ctx, [this] { clickedAt << panel.listIndex(Ctl::Combo1); }, path,
                    QStringLiteral("/opt/eload")};

    explicit StartupRig(const QByteArray& file) // a null array: no file
    {
        QFile f(path);
        if (!file.isNull()) QVERIFY(f.open(QIODevice::WriteOnly) && f.write(file) == file.size());
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
        const auto row = [](const char* tag, QByteArray file, const char* port, int position,
                            QString baud, QByteArray written) {
            QTest::newRow(tag) << file << QString::fromLatin1(port) << position << baud << written;
        };
        row("COM3 9600", "3\r\n9600\r\n", "COM3", 2, "9600", "3\r\n9600\r\n");
        row("0: no entry", "0\r\n9600\r\n", "COM0", -1, "9600", "0\r\n9600\r\n");
        row("typed rate", "9\r\n14400\r\n", "COM9", 8, "14400", "9\r\n14400\r\n");
        row("LF ends", "5\n57600\n", "COM5", 4, "57600", "5\r\n57600\r\n");
        row("last line unended", "1\r\n4800", "COM1", 0, "4800", "1\r\n4800\r\n");
        row("extra lines dropped", "2\r\n19200\r\nx\r\n", "COM2", 1, "19200", "2\r\n19200\r\n");
        row("8-bit byte kept", "4\r\n96\xE9\r\n", "COM4", 3, QString::fromLatin1("96\xE9"),
            "4\r\n96\xE9\r\n");
        row("not a number", "abc\r\n9600\r\n", "COMabc", -1, "9600", "0\r\n9600\r\n");
        row("half to even", "1.5\r\n9600\r\n", "COM1", 0, "9600", "1\r\n9600\r\n");
        // Where the file cannot tell: no port, and 9600 when line 2 is missing.
        row("missing", QByteArray(), "COM0", -1, "9600", "0\r\n9600\r\n");
        row("empty", "", "COM0", -1, "9600", "0\r\n9600\r\n");
        row("one line", "3\r\n", "COM0", -1, "9600", "0\r\n9600\r\n");
        row("port 10", "10\r\n38400\r\n", "COM0", -1, "38400", "0\r\n38400\r\n");
        row("port -1", "-1\r\n9600\r\n", "COM0", -1, "9600", "0\r\n9600\r\n");
    }
    void savedPortReachesTheLists()
    {
        QFETCH(QByteArray, file);
        QFETCH(int, position);
        StartupRig r(file);
        r.startup.Form_Load();
        QTEST(r.panel.text(Ctl::Combo1), "portText");
        QCOMPARE(r.panel.listIndex(Ctl::Combo1), position);
        QCOMPARE(r.clickedAt, QList<int>{position}); // once, after the position is set
        QTEST(r.panel.text(Ctl::Combo2), "baudText");
        QVERIFY(r.panel.messages.isEmpty());
        r.startup.Form_QueryUnload();
        QTEST(r.fileBytes(), "written");
    }

    void restOfStartupAndWhatShutdownWrites()
    {
        StartupRig r("3\r\n9600\r\n");
        r.panel.setEnabled(Ctl::Command4, false);
        r.state.ResumePolling = 1;
        r.state.RecordFlag = QStringLiteral("1");
        r.startup.Form_Load();

        QCOMPARE(r.state.AppFolder, QStringLiteral("/opt/eload"));
        QCOMPARE(r.panel.text(Ctl::Combo3) + r.panel.text(Ctl::Combo4) + r.panel.text(Ctl::Combo5) +
                     u'|' + r.panel.text(Ctl::Combo6),
                 QStringLiteral("无校验81|9600"));
        for (auto [list, count] : {std::pair{Ctl::Combo_Addr0, 254}, {Ctl::Combo_Addr2, 255}}) {
            QCOMPARE(r.panel.listCount(list), count);
            for (int i = 0; i < count; ++i)
                QCOMPARE(r.panel.listItem(list, i), QString::number(i + 1));
            QCOMPARE(r.panel.text(list), QStringLiteral("1"));
        }
        for (Ctl field : {Ctl::Text3, Ctl::Text4, Ctl::Text5})
            QCOMPARE(r.panel.maxLength(field), 5);
        QVERIFY(r.panel.isEnabled(Ctl::Command4));
        QCOMPARE(r.state.ResumePolling, std::int16_t(0));
        QCOMPARE(r.state.RecordFlag, QStringLiteral("0"));
        // The port stays closed and nothing runs.
        QVERIFY(r.port.probed.isEmpty() && r.port.openPort == 0);
        for (Timer t : {Timer::Timer1, Timer::Timer2, Timer::Timer3})
            QVERIFY(!r.panel.isTimerEnabled(t));

        // Shutdown writes the lists as they stand.
        r.panel.pick(Ctl::Combo1, 6);
        r.panel.setText(Ctl::Combo2, QStringLiteral("250000"));
        r.startup.Form_QueryUnload();
        QCOMPARE(r.fileBytes(), QByteArray("7\r\n250000\r\n"));
        r.panel.setText(Ctl::Combo1, QStringLiteral("COM5")); // typed: no entry selected
        r.startup.Form_QueryUnload();
        QCOMPARE(r.fileBytes(), QByteArray("0\r\n250000\r\n"));
    }

    void failingFileNeverStopsTheWindow()
    {
        // com.txt is a folder: nothing to read, nothing can be written.
        StartupRig r{QByteArray()};
        QVERIFY(QDir(r.dir.path()).mkdir(QStringLiteral("com.txt")));
        QTest::ignoreMessage(QtWarningMsg, QRegularExpression("cannot read .*com.txt"));
        r.startup.Form_Load();
        QCOMPARE(r.panel.text(Ctl::Combo1) + r.panel.text(Ctl::Combo2), QStringLiteral("COM09600"));
        QTest::ignoreMessage(QtWarningMsg,
                             QRegularExpression("port settings not saved to .*com.txt"));
        r.startup.Form_QueryUnload();
        QVERIFY(r.panel.messages.isEmpty());
    }

    void commandLine()
    {
        // --help and --version are run as a program by CTest; here the rest.
        const auto parse = [](QList<QByteArray> args) {
            args.prepend("eload-panel");
            std::vector<char*> argv;
            for (QByteArray& a : args)
                argv.push_back(a.data());
            const ParsedOptions p = parseOptions(int(argv.size()), argv.data(), PortMap());
            QStringList qt;
            for (std::size_t i = 1; i < p.options.qtArguments.size(); ++i)
                qt << QString::fromLocal8Bit(p.options.qtArguments[i]);
            return p.error.isEmpty() ? qt.join(u' ') + u'|' + p.options.ports.pathOf(3)
                                     : QStringLiteral("refused");
        };
        QCOMPARE(parse({}), QStringLiteral("|/dev/ttyUSB2"));
        QCOMPARE(parse({"-platform", "offscreen", "--com", "3=/dev/pts/7", "-style", "fusion"}),
                 QStringLiteral("-platform offscreen -style fusion|/dev/pts/7"));
        QCOMPARE(parse({"--com=3=/dev/a", "--com", "3=/dev/b"}), QStringLiteral("|/dev/b"));
        for (const QList<QByteArray>& bad :
             {QList<QByteArray>{"--com", "10=/dev/x"}, {"--com", "3="}, {"--com"}})
            QCOMPARE(parse(bad), QStringLiteral("refused"));
    }
};

QTEST_GUILESS_MAIN(StartupTest)
#include "test_startup.moc"
