// Poll period on the wire and CPU use while polling: the panel (real window
// offscreen, real serial device) and mbpoll, each against the simulated
// module on a pseudo-terminal, one after the other in the same run.
//
//   bench_poll [polls]   (default 120)

#include "e2e/LivePanel.h"
#include "sim/Simulator.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QProcess>
#include <QStandardPaths>
#include <QTimer>
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <sys/resource.h>
#include <unistd.h>

using namespace eload;

namespace {

struct Figures {
    int polls = 0;
    double medianMs = 0;
    double p99DeviationMs = 0;
    double maxDeviationMs = 0;
    double cpuPercent = 0;
};

Figures periods(const std::vector<sim::RequestRecord>& requests, double cpuSeconds,
                double wallSeconds)
{
    std::vector<double> period, deviation;
    for (std::size_t i = 1; i < requests.size(); ++i) {
        const double ms =
            std::chrono::duration<double, std::milli>(requests[i].at - requests[i - 1].at).count();
        period.push_back(ms);
        if (std::getenv("BENCH_POLL_TRACE")) std::fprintf(stderr, "%.2f\n", ms);
        deviation.push_back(std::fabs(ms - 500.0));
    }
    Figures f;
    if (period.empty()) return f;
    std::sort(period.begin(), period.end());
    std::sort(deviation.begin(), deviation.end());
    f.polls = int(requests.size());
    f.medianMs = period[period.size() / 2];
    f.p99DeviationMs =
        deviation[std::min(deviation.size() - 1, std::size_t(0.99 * double(deviation.size())))];
    f.maxDeviationMs = deviation.back();
    f.cpuPercent = 100.0 * cpuSeconds / wallSeconds;
    return f;
}

double threadCpuSeconds()
{
    rusage u{};
    getrusage(RUSAGE_THREAD, &u);
    return double(u.ru_utime.tv_sec + u.ru_stime.tv_sec) +
           double(u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e6;
}

double processCpuSeconds(qint64 pid)
{
    QFile stat(QStringLiteral("/proc/%1/stat").arg(pid));
    if (!stat.open(QIODevice::ReadOnly)) return -1;
    const QByteArray line = stat.readAll();
    const QList<QByteArray> fields = line.mid(line.lastIndexOf(')') + 2).split(' ');
    // utime and stime are fields 14 and 15 of the whole line.
    return double(fields.value(11).toLongLong() + fields.value(12).toLongLong()) /
           double(sysconf(_SC_CLK_TCK));
}

// Runs the event loop as the program's own does (QTest::qWait would sleep
// 10 ms at a time between passes, and the panel's timers with it).
bool waitFor(sim::Simulator& module, std::size_t count, int timeoutMs)
{
    QEventLoop loop;
    QTimer check;
    QObject::connect(&check, &QTimer::timeout, &loop, [&] {
        if (module.requests().size() >= count) loop.quit();
    });
    QTimer::singleShot(timeoutMs, &loop, &QEventLoop::quit);
    check.start(250);
    loop.exec();
    return module.requests().size() >= count;
}

Figures benchPanel(int polls)
{
    sim::Simulator module;
    auto started = module.start();
    const QString path = QString::fromStdString(std::get<std::string>(started));
    test::LivePanel panel(path);
    panel.click(Ctl::Command1);
    module.clearRequests();
    const double cpu0 = threadCpuSeconds();
    QElapsedTimer wall;
    wall.start();
    panel.click(Ctl::Command_OK3);
    waitFor(module, std::size_t(polls), polls * 500 + 10000);
    const double cpu = threadCpuSeconds() - cpu0;
    const double seconds = double(wall.elapsed()) / 1000.0;
    panel.click(Ctl::Command_OK3);
    return periods(module.requests(), cpu, seconds);
}

Figures benchMbpoll(int polls)
{
    sim::Simulator module;
    auto started = module.start();
    const QString path = QString::fromStdString(std::get<std::string>(started));
    QProcess mbpoll;
    mbpoll.setProgram(QStringLiteral("mbpoll"));
    mbpoll.setArguments({"-m", "rtu", "-a", "1",  "-b", "9600", "-P", "none", "-t", "4",
                         "-r", "1",   "-c", "18", "-l", "500",  "-o", "1",    "-q", path});
    mbpoll.setStandardOutputFile(QProcess::nullDevice());
    mbpoll.start();
    if (!mbpoll.waitForStarted()) return {};
    QElapsedTimer wall;
    wall.start();
    waitFor(module, std::size_t(polls), polls * 600 + 10000);
    const double cpu = processCpuSeconds(mbpoll.processId());
    const double seconds = double(wall.elapsed()) / 1000.0;
    mbpoll.kill();
    mbpoll.waitForFinished();
    return periods(module.requests(), cpu, seconds);
}

void print(const char* who, const Figures& f)
{
    std::printf("| %-8s | %5d | %9.2f | %13.2f | %13.2f | %6.2f |\n", who, f.polls, f.medianMs,
                f.p99DeviationMs, f.maxDeviationMs, f.cpuPercent);
}

} // namespace

int main(int argc, char** argv)
{
    QApplication app(argc, argv);
    const int polls = argc > 1 ? std::max(10, std::atoi(argv[1])) : 120;
    const Figures panel = benchPanel(polls);
    const Figures mbpoll = benchMbpoll(polls);
    std::printf("| master   | polls | median ms | p99 dev. ms   | max dev. ms   | CPU %%  |\n");
    std::printf("|----------|-------|-----------|---------------|---------------|--------|\n");
    print("panel", panel);
    print("mbpoll", mbpoll);
    return panel.polls >= polls && mbpoll.polls >= polls ? 0 : 1;
}
