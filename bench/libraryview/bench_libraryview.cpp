// The library window over a lab's library: N tests (default 10,000) in a
// SQLite file, listed by the window (read on its own thread, shown on the
// event thread) beside the peer, the same listing done on the event thread
// (the same read, model, sorting proxy and column widths).
// For each: the wall time until the table shows the tests, the event
// thread's CPU, and its longest stall (the longest gap between ticks of a
// 1 ms timer: what a user feels as a frozen window); then a sort of the
// table by capacity, which is on the event thread either way.
//
// usage: QT_QPA_PLATFORM=offscreen bench_libraryview [--tests N] [--runs R]

#include "DemoLibrary.h"

#include "libraryview/LibraryWindow.h"
#include "libraryview/TestTableModel.h"
#include "support/Measure.h"

#include <QApplication>
#include <QCommandLineParser>
#include <QElapsedTimer>
#include <QHeaderView>
#include <QSignalSpy>
#include <QSortFilterProxyModel>
#include <QTableView>
#include <QTemporaryDir>
#include <QTimer>
#include <algorithm>
#include <cstdio>

using namespace eload;
using namespace eload::libraryview;

namespace {

struct Figures {
    double wallMs = 0, cpuMs = 0, stallMs = 0;
};

double median(std::vector<double> v)
{
    std::nth_element(v.begin(), v.begin() + qsizetype(v.size() / 2), v.end());
    return v[v.size() / 2];
}

Figures medianOf(const std::vector<Figures>& runs)
{
    std::vector<double> wall, cpu, stall;
    for (const Figures& f : runs) {
        wall.push_back(f.wallMs);
        cpu.push_back(f.cpuMs);
        stall.push_back(f.stallMs);
    }
    return {median(wall), median(cpu), median(stall)};
}

void report(const char* key, const Figures& f)
{
    std::printf("%-40s %9.1f ms wall %9.1f ms event-thread CPU %9.1f ms longest stall\n", key,
                f.wallMs, f.cpuMs, f.stallMs);
    std::fflush(stdout);
}

// The longest gap between ticks of a 1 ms timer while it runs.
class StallMeter {
public:
    StallMeter()
    {
        timer_.setInterval(1);
        QObject::connect(&timer_, &QTimer::timeout, [this] { tick(); });
    }
    void start()
    {
        longest_ = 0;
        clock_.start();
        last_ = 0;
        timer_.start();
    }
    double stop()
    {
        tick();
        timer_.stop();
        return longest_;
    }

private:
    void tick()
    {
        const double now = double(clock_.nsecsElapsed()) / 1e6;
        longest_ = std::max(longest_, now - last_);
        last_ = now;
    }
    QTimer timer_;
    QElapsedTimer clock_;
    double last_ = 0, longest_ = 0;
};

template <typename F> Figures measured(StallMeter& meter, F&& work)
{
    QElapsedTimer wall;
    const double cpu0 = bench::threadCpuMs();
    meter.start();
    wall.start();
    work();
    Figures f;
    f.wallMs = double(wall.nsecsElapsed()) / 1e6;
    f.stallMs = meter.stop();
    f.cpuMs = bench::threadCpuMs() - cpu0;
    return f;
}

void populate(library::Store& store, int tests)
{
    if (store.beginWrite()) qFatal("begin");
    const qint64 start = 1'767'225'600'000; // 2026-01-01 UTC
    for (testing::DemoCell cell : testing::demoCells(tests, start)) {
        cell.periodMs = 60'000; // about 150 replies a test: the list never reads curves
        testing::storeDemoTest(store, cell, QStringLiteral("B"));
    }
    if (store.commit()) qFatal("commit");
}

} // namespace

int main(int argc, char** argv)
{
    QApplication app(argc, argv);
    QCommandLineParser p;
    p.addOptions({{QStringLiteral("tests"), QStringLiteral("tests"), QStringLiteral("N"),
                   QStringLiteral("10000")},
                  {QStringLiteral("runs"), QStringLiteral("runs"), QStringLiteral("R"),
                   QStringLiteral("7")}});
    p.process(app);
    const int tests = p.value(QStringLiteral("tests")).toInt();
    const int runs = p.value(QStringLiteral("runs")).toInt();
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("lab.sqlite"));
    const auto location = std::get<library::DatabaseLocation>(library::parseLocation(path));
    {
        auto store = std::get<std::unique_ptr<library::Store>>(library::Store::open(location));
        QElapsedTimer t;
        t.start();
        populate(*store, tests);
        std::printf("populate: %d tests in %.1f s\n", tests, double(t.elapsed()) / 1000);
    }
    qputenv("XDG_CONFIG_HOME", dir.filePath(QStringLiteral("config")).toUtf8()); // no rules

    StallMeter meter;
    LibraryWindow window(path);
    {
        QSignalSpy first(&window, &LibraryWindow::listShown);
        window.show();
        if (!first.wait(120'000)) qFatal("no listing: %s", qPrintable(window.statusText()));
    }
    std::vector<Figures> viaWorker, peer, sort;
    for (int r = 0; r < runs; ++r) {
        viaWorker.push_back(measured(meter, [&] {
            QSignalSpy listed(&window, &LibraryWindow::listShown);
            window.refresh();
            if (!listed.wait(120'000)) qFatal("no listing");
        }));
        if (window.model()->rowCount() != tests) qFatal("listed %d", window.model()->rowCount());

        // The peer: the same store read and the same table filled, on the event thread.
        auto store = std::get<std::unique_ptr<library::Store>>(library::Store::open(location));
        TestTableModel model;
        QSortFilterProxyModel proxy;
        proxy.setSourceModel(&model);
        proxy.setSortRole(TestTableModel::kSortRole);
        QTableView view;
        view.setModel(&proxy);
        view.setSortingEnabled(true);
        view.sortByColumn(TestTableModel::DateColumn, Qt::DescendingOrder);
        view.horizontalHeader()->setResizeContentsPrecision(
            window.table()->horizontalHeader()->resizeContentsPrecision());
        peer.push_back(measured(meter, [&] {
            auto listed = std::get<std::vector<library::TestRecord>>(store->list({}));
            model.setTests(std::move(listed), {}, 0);
            view.resizeColumnsToContents();
        }));
        if (model.rowCount() != tests) qFatal("peer listed %d", model.rowCount());

        sort.push_back(measured(meter, [&] {
            window.table()->sortByColumn(r % 2 ? TestTableModel::CapacityColumn
                                               : TestTableModel::DateColumn,
                                         Qt::AscendingOrder);
        }));
    }
    std::printf("tests: %d, runs: %d (medians)\n", tests, runs);
    report("window: refresh until shown", medianOf(viaWorker));
    report("peer: listed on the event thread", medianOf(peer));
    report("sort by date / capacity", medianOf(sort));
    return 0;
}
