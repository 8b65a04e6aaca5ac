// Recording end to end: the real window polls the simulated module while
// recording; the saved workbook, read back by openpyxl, holds exactly the
// values the window showed, reply by reply.

#include "core/Texts.h"
#include "e2e/LivePanel.h"
#include "recording/WorkbookReader.h"
#include "sim/Simulator.h"

#include <QDir>
#include <QLineEdit>
#include <QTest>

using namespace eload;
using namespace eload::test;

class RecordingLiveTest : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void workbookHoldsWhatTheWindowShowed()
    {
        sim::Options options;
        options.speed = 60; // a minute of discharge per second: values move
        sim::Simulator module(options);
        const QString path = QString::fromStdString(std::get<std::string>(module.start()));
        module.setReg(17, 1);
        LivePanel panel(path);

        // Every accepted reply: the texts the row writer has just copied.
        QList<QStringList> shown;
        auto* status = qobject_cast<QLineEdit*>(panel.window.control(Ctl::Message_Show));
        QVERIFY(status);
        QObject::connect(status, &QLineEdit::textChanged, [&](const QString& t) {
            if (t != texts::kReplyGood || panel.text(Ctl::Command6) != texts::kRecording) return;
            QStringList row;
            for (Ctl c : {Ctl::AI_SHOW0, Ctl::AI_SHOW1, Ctl::AI_SHOW2, Ctl::AI_SHOW7, Ctl::AI_SHOW5,
                          Ctl::AI_SHOW3, Ctl::AI_SHOW4})
                row << panel.text(c);
            row << QLatin1Char(' ') + panel.text(Ctl::Label17_0) + u':' +
                       panel.text(Ctl::Label17_1) + u':' + panel.text(Ctl::Label17_2);
            shown << row;
        });

        panel.click(Ctl::Command1);
        panel.click(Ctl::Command6);
        QCOMPARE(panel.text(Ctl::Command6), texts::kRecording);
        panel.click(Ctl::Command_OK3);
        QTRY_VERIFY_WITH_TIMEOUT(shown.size() >= 6, 15000);
        panel.click(Ctl::Command_OK3);
        QCOMPARE(panel.text(Ctl::Command6), texts::kSave);
        QTest::qWait(300); // a reply in flight is checked, but no longer recorded
        panel.click(Ctl::Command6);
        QCOMPARE(panel.text(Ctl::Command6), texts::kRecord);
        QVERIFY(panel.boxes.texts.isEmpty());

        const QStringList books = QDir(panel.folder.path()).entryList({"*.xlsx"}, QDir::Files);
        QCOMPARE(books.size(), 1);
        QVERIFY(QRegularExpression(
                    QStringLiteral("^\\d{4}-\\d\\d-\\d\\d_\\d\\d时\\d\\d分\\d\\d秒\\.xlsx$"))
                    .match(books.first())
                    .hasMatch());
        const auto book = readWorkbook(panel.folder.filePath(books.first()));
        QVERIFY(book);
        QCOMPARE(book->count, 1 + shown.size());
        QVERIFY(shown.first() != shown.last()); // the module's values did move
        for (int i = 0; i < shown.size(); ++i) {
            const SheetRow& row = book->head.at(i + 1);
            QCOMPARE(row.at(0).toDouble(), double(i + 1));
            for (int col = 2; col < 10; ++col)
                QCOMPARE(row.at(col).toString(), shown[i][col - 2]);
        }
    }
};

QTEST_MAIN(RecordingLiveTest)
#include "test_recording_live.moc"
