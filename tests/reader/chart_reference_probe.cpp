// The chart window loading a reference in a process of its own, its address
// space limited (LIMIT_MIB 0: not): chart_reference_probe LIMIT_MIB FILE.
// Prints the references it holds and its box, and exits 0 if the window
// lived to say it.

#include "AddressSpace.h"
#include "chart/ChartWindow.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QLabel>
#include <QMessageBox>
#include <QTimer>
#include <QtConcurrent/QtConcurrentRun>
#include <cstdio>

using namespace eload;

int main(int argc, char** argv)
{
    test::plainMalloc();
    QApplication app(argc, argv);
    const QStringList args = app.arguments().mid(1);
    if (args.size() != 2) {
        std::fprintf(stderr, "usage: chart_reference_probe LIMIT_MIB FILE\n");
        return 2;
    }
    chart::ChartWindow w;
    w.show();
    // The window painted and the worker thread started before the limit: the
    // backing store and a thread's stack are no part of what is tried here.
    QElapsedTimer painting;
    painting.start();
    while (painting.elapsed() < 500)
        app.processEvents(QEventLoop::AllEvents, 50);
    QtConcurrent::run([] {}).waitForFinished();
    if (args[0].toLong() > 0 && !test::limitAddressSpace(args[0].toLong())) return 2;

    QEventLoop loop;
    QObject::connect(&w, &chart::ChartWindow::referencesOpened, &loop, &QEventLoop::quit);
    QTimer::singleShot(120000, &loop, &QEventLoop::quit);
    w.openReferences({args[1]});
    loop.exec();
    const auto boxes = w.findChildren<QMessageBox*>();
    std::printf("references %zu\n", w.feed().references().size());
    for (const chart::ReferenceCurve& r : w.feed().references())
        std::printf("reference %s\n", r.name.toUtf8().constData());
    std::printf("box %s\n", boxes.isEmpty() ? "" : boxes.last()->text().toUtf8().constData());
    return 0;
}
