// Where the panel keeps its files, decided by the program's folder; the
// causes of failures in Chinese; when a test runs. "The panel run as root
// from a copy in a system-like prefix" needs root (the copy goes under /opt).

#include "app/Form.h"
#include "app/Startup.h"
#include "app/TestActivity.h"
#include "core/Causes.h"
#include "core/ProgramFolder.h"
#include "core/Texts.h"
#include "support/Fakes.h"
#include "support/MemoryPanel.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>
#include <cerrno>
#include <csignal>
#include <cstring>
#include <unistd.h>

using namespace eload;
using namespace eload::test;

Q_DECLARE_METATYPE(eload::FolderUse)

namespace {

bool isRoot() { return ::geteuid() == 0; }

// A scratch folder in a prefix where packages install programs.
std::unique_ptr<QTemporaryDir> systemLikeFolder()
{
    auto dir = std::make_unique<QTemporaryDir>(QStringLiteral("/opt/eload-panel-test-XXXXXX"));
    if (!dir->isValid()) dir.reset();
    return dir;
}

QStringList filesIn(const QString& folder)
{
    return QDir(folder).entryList(QDir::Files | QDir::Hidden | QDir::NoDotAndDotDot);
}

QString systemText(int error) { return QString::fromLocal8Bit(std::strerror(error)); }

// The process has set its handler for SIGTERM: its window closes on one.
bool catchesSigterm(qint64 pid)
{
    QFile status(QStringLiteral("/proc/%1/status").arg(pid));
    if (!status.open(QIODevice::ReadOnly)) return false;
    for (const QByteArray& line : status.readAll().split('\n'))
        if (line.startsWith("SigCgt:"))
            return (line.mid(7).trimmed().toULongLong(nullptr, 16) >> (SIGTERM - 1)) & 1;
    return false;
}

} // namespace

class AppTest : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void programFolder_data()
    {
        QTest::addColumn<QString>("folder"); // "tmp": a scratch folder of the user's
        QTest::addColumn<QString>("change"); // made to it first
        QTest::addColumn<FolderUse>("use");
        QTest::newRow("installed: /usr/bin") << "/usr/bin"
                                             << "" << FolderUse::System;
        QTest::newRow("installed: /usr/local/bin") << "/usr/local/bin"
                                                   << "" << FolderUse::System;
        QTest::newRow("the root folder") << "/"
                                         << "" << FolderUse::System;
        QTest::newRow("a copy of the user's") << "tmp"
                                              << "" << FolderUse::Own;
        QTest::newRow("a link to /usr/bin") << "tmp"
                                            << "link to /usr/bin" << FolderUse::System;
        QTest::newRow("another user's") << "tmp"
                                        << "owned by nobody" << FolderUse::OtherUser;
        QTest::newRow("a file") << "tmp"
                                << "a file" << FolderUse::NotWritable;
        QTest::newRow("missing") << "tmp"
                                 << "missing" << FolderUse::NotWritable;
    }
    void programFolder()
    {
        QFETCH(QString, folder);
        QFETCH(QString, change);
        QTemporaryDir scratch;
        if (folder == "tmp") folder = scratch.filePath(QStringLiteral("app"));
        if (change != "a file" && change != "missing" && change != "link to /usr/bin")
            QVERIFY(QDir().mkpath(folder));
        if (change == "link to /usr/bin") QVERIFY(QFile::link(QStringLiteral("/usr/bin"), folder));
        if (change == "a file") QVERIFY(QFile(folder).open(QIODevice::WriteOnly));
        if (change == "owned by nobody") {
            if (!isRoot()) QSKIP("only root can give a folder away");
            QCOMPARE(::chown(QFile::encodeName(folder).constData(), 65534, 65534), 0);
        }
        QTEST(programFolderUse(folder), "use");
    }

    // com.txt beside a copy of the user's own, else in the configuration folder.
    void settingsFile()
    {
        QTemporaryDir scratch;
        const QString config = scratch.filePath(QStringLiteral("config"));
        QCOMPARE(settingsFilePath(scratch.path(), config), scratch.filePath("com.txt"));
        QCOMPARE(settingsFilePath(QStringLiteral("/usr/bin"), config),
                 config + QStringLiteral("/eload-panel/com.txt"));
        // The configuration folder is made at the first shutdown.
        const QString path = settingsFilePath(QStringLiteral("/usr/bin"), config);
        QCOMPARE(writeSavedPorts(path, {QStringLiteral("3"), QStringLiteral("9600")}),
                 std::nullopt);
        QFile f(path);
        QVERIFY(f.open(QIODevice::ReadOnly));
        QCOMPARE(f.readAll(), QByteArray("3\r\n9600\r\n"));
    }

    // An installed copy run as root: the recording and com.txt go to the
    // user's folders, never to the program's.
    void installedCopyRunAsRoot()
    {
        if (!isRoot()) QSKIP("needs root, as the program run with sudo");
        const auto program = systemLikeFolder();
        QVERIFY(program);
        QTemporaryDir home;
        const QString docs = home.filePath("Documents"), config = home.filePath(".config");
        MemoryPanel panel;
        FakeSerialDevice port;
        FakeClock clock;
        Form form(panel, port, clock,
                  FormOptions{settingsFilePath(program->path(), config), program->path(), docs});
        form.Form_Load();
        panel.setText(Ctl::Command1, texts::kClosePort); // the port is open
        port.openPort = 1;
        form.Command6_Click();
        QCOMPARE(panel.text(Ctl::Command6), texts::kRecording);
        QCOMPARE(panel.text(Ctl::Message_Show),
                 texts::kRecordingInFolder.arg(texts::kProgramFolderIsSystem, docs));
        form.Form_QueryUnload();
        const QString book = QStringLiteral("2026-03-05_14时07分09秒.xlsx");
        QCOMPARE(filesIn(docs), QStringList{book});
        QCOMPARE(filesIn(config + "/eload-panel"), QStringList{"com.txt"});
        QCOMPARE(filesIn(program->path()), QStringList{});
        // The shutdown's save is named: it is not where the program is.
        QCOMPARE(panel.messages,
                 QStringList{texts::kRecordSavedOutside.arg(texts::kProgramFolderIsSystem)});
        QCOMPARE(panel.details, QStringList{docs + "/" + book});
    }

    // The program itself, copied under /opt and closed as a logout closes it.
    void installedProgramKeepsItsSettingsInConfig()
    {
        if (!isRoot()) QSKIP("needs root, as the program run with sudo");
        const auto program = systemLikeFolder();
        QVERIFY(program);
        const QString copy = program->filePath(QStringLiteral("eload-panel"));
        QVERIFY(QFile::copy(QStringLiteral(ELOAD_PANEL), copy));
        QTemporaryDir home, work;
        QProcess panel;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("HOME"), home.path());
        env.remove(QStringLiteral("XDG_CONFIG_HOME"));
        env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
        panel.setProcessEnvironment(env);
        panel.setWorkingDirectory(work.path());
        panel.start(copy);
        QVERIFY(panel.waitForStarted());
        QTRY_VERIFY_WITH_TIMEOUT(catchesSigterm(panel.processId()), 30000);
        panel.terminate();
        QVERIFY(panel.waitForFinished(30000));
        QCOMPARE(panel.exitCode(), 0);
        QFile saved(home.filePath(QStringLiteral(".config/eload-panel/com.txt")));
        QVERIFY2(saved.open(QIODevice::ReadOnly), panel.readAllStandardError().constData());
        QCOMPARE(saved.readAll(), QByteArray("0\r\n9600\r\n"));
        QCOMPARE(filesIn(program->path()), QStringList{"eload-panel"});
        QCOMPARE(filesIn(work.path()), QStringList{});
    }

    void testRunning_data()
    {
        QTest::addColumn<QString>("acquisition");
        QTest::addColumn<QString>("load");
        QTest::addColumn<QString>("record");
        QTest::addColumn<bool>("running");
        const QString go = texts::kStop, idle = texts::kAcquire, on = texts::kOn, off = texts::kOff;
        QTest::newRow("idle") << idle << off << texts::kRecord << false;
        QTest::newRow("polling, load off") << go << off << texts::kRecord << false;
        QTest::newRow("polling, load on") << go << on << texts::kRecord << true;
        QTest::newRow("load on, not polled") << idle << on << texts::kRecord << false;
        QTest::newRow("recording") << idle << off << texts::kRecording << true;
        QTest::newRow("save pending") << idle << off << texts::kSave << false;
    }
    void testRunning()
    {
        QFETCH(QString, acquisition);
        QFETCH(QString, load);
        QFETCH(QString, record);
        MemoryPanel panel;
        panel.setText(Ctl::Command_OK3, acquisition);
        panel.setText(Ctl::Command5, load);
        panel.setText(Ctl::Command6, record);
        QTEST(eload::testRunning(panel), "running");
    }

    void causesInChinese_data()
    {
        QTest::addColumn<QString>("detail");
        QTest::addColumn<QString>("shown");
        const QString book = QStringLiteral("/home/u/Documents/2026-03-05_14时07分09秒.xlsx");
        QTest::newRow("the system's words")
            << book + "\n" + systemText(ENOSPC) << book + "\n磁盘空间已满";
        QTest::newRow("after a device")
            << "/dev/ttyUSB0: " + systemText(ENOENT) << "/dev/ttyUSB0: 文件或文件夹不存在";
        QTest::newRow("with a name") << "every name for 2026-03-05 is taken"
                                     << "2026-03-05 的所有编号文件名都已被占用";
        QTest::newRow("libxlsxwriter's")
            << "/x/.~eload-1.xlsx.part: Error creating output xlsx file. Usually a permissions "
               "error."
            << "/x/.~eload-1.xlsx.part: 无法创建 xlsx 文件（通常是没有写入权限）";
        QTest::newRow("unknown: as it was") << "/x\nsomething new"
                                            << "/x\nsomething new";
    }
    void causesInChinese()
    {
        QFETCH(QString, detail);
        QTEST(causes::inChinese(detail), "shown");
    }
};

QTEST_GUILESS_MAIN(AppTest)
#include "test_app.moc"
