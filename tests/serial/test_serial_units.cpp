// The settings text and the reading of open failures, without a device.

#include "serial/LineSettings.h"
#include "serial/OpenFailure.h"
#include "ui/Texts.h"

#include <QFile>
#include <QTemporaryDir>
#include <QTest>

#include <grp.h>
#include <unistd.h>

using namespace eload;

class SerialUnitsTest : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void lineSettings_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<bool>("valid");
        QTest::newRow("start-up") << "9600,N,8,1" << true;
        QTest::newRow("odd 7 2") << "115200,O,7,2" << true;
        QTest::newRow("even 5 bits, rate off the list") << "14400,E,5,1" << true;
        for (const char* t : {"", "abc,N,8,1", "0,N,8,1", "-9600,N,8,1", " 9600,N,8,1",
                              "99999999999,N,8,1", "9600,n,8,1", "9600,,8,1", "9600,N,9,1",
                              "9600,N,4,1", "9600,N,8,1.5", "9600,N,8", "9600,N,8,1,"})
            QTest::newRow(*t ? t : "empty") << QString::fromLatin1(t) << false;
    }
    void lineSettings()
    {
        QFETCH(QString, text);
        QFETCH(bool, valid);
        const std::optional<LineSettings> s = parseLineSettings(text);
        QCOMPARE(bool(s), valid);
        if (text == u"115200,O,7,2")
            QCOMPARE(*s, (LineSettings{115200, QSerialPort::OddParity, QSerialPort::Data7,
                                       QSerialPort::TwoStop}));
    }

    // Qt says PermissionError for a lock held elsewhere and for missing rights.
    void permissionErrorTellsLockFromRights()
    {
        const SerialError locked =
            openFailure(QSerialPort::PermissionError, "words", "/dev/x", false);
        QCOMPARE(locked.number, SerialError::kPortInUse);
        QVERIFY(locked.remedy.isEmpty());
        const SerialError denied =
            openFailure(QSerialPort::PermissionError, "words", "/dev/x", true);
        QCOMPARE(denied.number, SerialError::kOtherFailure);
        QCOMPARE(denied.cause, QStringLiteral("words"));
        QVERIFY(denied.remedy.contains(u"/dev/x"));
    }

    // Tests run as root, for whom every device opens: a real EACCES cannot be
    // produced here, so the remedy is built for files owned by chosen groups.
    void permissionRemedy_data()
    {
        QTest::addColumn<int>("gid"); // -1: no such file
        QTest::addColumn<QString>("expected");
        if (const group* g = ::getgrnam("dialout"))
            QTest::newRow("dialout") << int(g->gr_gid)
                                     << "无权访问 %1：请将用户加入 dialout 组（sudo usermod -aG "
                                        "dialout $USER），然后重新登录。";
        if (!::getgrgid(54321))
            QTest::newRow("unnamed") << 54321 << texts::kNoAccessGroupId.arg("%1", "54321");
        QTest::newRow("root only") << 0 << texts::kNoAccessCheckRights;
        QTest::newRow("gone") << -1 << texts::kNoAccessCheckRights;
    }
    void permissionRemedy()
    {
        QFETCH(int, gid);
        QFETCH(QString, expected);
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("ttyTest"));
        if (gid >= 0) {
            QFile f(path);
            QVERIFY(f.open(QIODevice::WriteOnly));
            QCOMPARE(::chown(QFile::encodeName(path).constData(), uid_t(-1), gid_t(gid)), 0);
        }
        QCOMPARE(eload::permissionRemedy(path), expected.arg(path));
    }
};

QTEST_GUILESS_MAIN(SerialUnitsTest)
#include "test_serial_units.moc"
