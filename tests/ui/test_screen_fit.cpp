// The window on one screen of the size and scaling given on the command line
// ("--screen 1366x768@1.5", the default): every control within the screen's
// room, through the scroll area where the layout does not fit; nothing
// changed where it fits. CTest runs it for a laptop at 150 % and 200 % and a
// desktop at 150 %.

#include "ui/ScreenFit.h"
#include "ui/frmmain.h"

#include <QApplication>
#include <QFile>
#include <QRegularExpression>
#include <QScreen>
#include <QScrollArea>
#include <QScrollBar>
#include <QTemporaryDir>
#include <QTest>
#include <vector>

using namespace eload;

namespace {
constexpr int kWaitMs = 5000;
}

class ScreenFitTest : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void windowSize_data()
    {
        QTest::addColumn<QSize>("room");
        QTest::addColumn<QSize>("size");
        const QSize page(990, 506);
        QTest::newRow("fits") << QSize(1280, 720) << page;
        QTest::newRow("fits exactly") << page << page;
        QTest::newRow("too narrow: a bar below") << QSize(980, 600) << QSize(980, 522);
        QTest::newRow("too low: a bar beside") << QSize(1200, 500) << QSize(1006, 500);
        QTest::newRow("150 % of 1366x768") << QSize(910, 512) << QSize(910, 512);
        QTest::newRow("narrow, and the bar makes it too low") << QSize(900, 515) << QSize(900, 515);
    }
    void windowSize()
    {
        QFETCH(QSize, room);
        QTEST(windowSizeFor(QSize(990, 506), room, 16), "size");
    }

    void onScreen()
    {
        frmmain w;
        const QRect room = QGuiApplication::primaryScreen()->availableGeometry();
        const bool fits = room.width() >= frmmain::pageSize().width() + 4 &&
                          room.height() >= frmmain::pageSize().height() + 4;
        // Placed where its right and bottom edges would be off the screen.
        w.move(room.topLeft() + QPoint(400, 300));
        w.show();
        QVERIFY(QTest::qWaitForWindowExposed(&w));
        QTRY_VERIFY_WITH_TIMEOUT(room.contains(w.frameGeometry()), kWaitMs);
        auto* scroller = w.findChild<QScrollArea*>(QStringLiteral("pageScroller"));
        QVERIFY(scroller);
        if (fits) {
            // As on any screen with room: the fixed size, no bars, the page at the corner.
            QCOMPARE(w.size(), frmmain::pageSize());
            QCOMPARE(w.minimumSize(), w.maximumSize());
            QVERIFY(!scroller->horizontalScrollBar()->isVisible());
            QVERIFY(!scroller->verticalScrollBar()->isVisible());
            QCOMPARE(scroller->widget()->mapTo(&w, QPoint(0, 0)), QPoint(0, 0));
            return;
        }
        QVERIFY(w.width() < frmmain::pageSize().width());
        QVERIFY(scroller->horizontalScrollBar()->isVisible());
        // Every control can be scrolled into the window: each corner of it (the
        // status lines are wider than the window at 150 %).
        const QRect view = scroller->viewport()->rect();
        for (int c = 0; c <= int(Ctl::Text2); ++c) {
            QWidget* control = w.control(Ctl(c));
            for (const QPoint corner : {control->rect().topLeft(), control->rect().bottomRight()}) {
                const QPoint onPage = control->mapTo(scroller->widget(), corner);
                scroller->ensureVisible(onPage.x(), onPage.y(), 1, 1);
                QVERIFY2(view.contains(control->mapTo(scroller->viewport(), corner)),
                         qPrintable(control->objectName()));
            }
        }
    }
};

int main(int argc, char** argv)
{
    // "--screen WxH@SCALE": the screen's size in the device's pixels and Qt's scale factor.
    std::vector<char*> args(argv, argv + argc);
    QByteArray screen = "1366x768@1.5";
    for (auto it = args.begin(); it != args.end(); ++it)
        if (QByteArray(*it) == "--screen" && it + 1 != args.end()) {
            screen = *(it + 1);
            args.erase(it, it + 2);
            break;
        }
    const QRegularExpression pattern(QStringLiteral("^(\\d+)x(\\d+)@([0-9.]+)$"));
    const auto m = pattern.match(QString::fromLatin1(screen));
    QTemporaryDir folder;
    QFile config(folder.filePath(QStringLiteral("screen.json")));
    if (!m.hasMatch() || !config.open(QIODevice::WriteOnly) ||
        config.write(QStringLiteral(R"({"screens": [{"name": "screen", "x": 0, "y": 0,
             "width": %1, "height": %2, "logicalDpi": 96, "logicalBaseDpi": 96, "dpr": 1}]})")
                         .arg(m.captured(1), m.captured(2))
                         .toLatin1()) < 0)
        return 2;
    config.close();
    qputenv("QT_QPA_PLATFORM", "offscreen:configfile=" + QFile::encodeName(config.fileName()));
    qputenv("QT_SCALE_FACTOR", m.captured(3).toLatin1());
    int qtArgc = int(args.size());
    args.push_back(nullptr);
    QApplication app(qtArgc, args.data());
    ScreenFitTest test;
    return QTest::qExec(&test, qtArgc, args.data());
}

#include "test_screen_fit.moc"
