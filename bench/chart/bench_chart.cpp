// The chart window's update at the size of a short test, a nine-hour one
// (65,000 replies at 2 Hz), 200,000 and a week-long one (1,000,000): one
// reading appended and the chart repainted, as the window does it (the
// coalesced redraw, then a synchronous grab of the chart view), and the
// resident memory at 1,000,000. Beside it, in the same run, a plain Qt Charts
// chart whose QLineSeries hold every point, drawn the same way, up to the
// first size where one of its updates takes more than a second.
//
// Both views of the window are measured: voltage and current over time (two
// curves), and voltage over capacity (one).
//
// At the largest size, choosing the module's clock for the time view and
// showing the temperature, which rebuild the time view's curves from the
// samples kept, each with its repaint.
//
// usage: QT_QPA_PLATFORM=offscreen bench_chart [updates per size, 21]
// Prints a line per measurement: the medians of wall and CPU time (the event
// thread's) and the fastest update, in milliseconds.

#include "chart/ChartWindow.h"
#include "support/Measure.h"

#include <QApplication>
#include <QChartView>
#include <QElapsedTimer>
#include <QFile>
#include <QLineSeries>
#include <QRandomGenerator>
#include <QTabWidget>
#include <QValueAxis>
#include <algorithm>
#include <array>
#include <cmath>
#include <cstdio>
#include <ctime>
#include <tuple>
#include <vector>

using namespace eload;

using namespace eload::bench;

namespace {

constexpr int kSizes[] = {1'000, 65'000, 200'000, 1'000'000};
constexpr double kPlainLimitMs = 1000;

// Wall time and the event thread's CPU time of one update, in milliseconds.
struct Cost {
    double wall = 0, cpu = 0;
    double fastest = 0; // wall time of the fastest update, for a busy machine
};

template <typename F> Cost measure(F&& f)
{
    QElapsedTimer t;
    const double cpu = threadCpuMs();
    t.start();
    f();
    const double wall = double(t.nsecsElapsed()) / 1e6;
    return {wall, threadCpuMs() - cpu, wall};
}

double median(std::vector<double> v)
{
    std::nth_element(v.begin(), v.begin() + std::ptrdiff_t(v.size() / 2), v.end());
    return v[v.size() / 2];
}

// Reply i of a week-long 2 A discharge polled at 2 Hz, as the module reports
// it: 10 mV and 10 mA steps, a few millivolts of noise, the voltage falling
// from 12.6 V to 9.6 V over 1,200,000 replies, and a 0.3 V dip (a load
// transient) every 10,000 replies, which every view must keep.
class Battery {
public:
    discharge::Sample next()
    {
        discharge::Sample s;
        const double volts = 12.6 - 3.0 * i_ / 1.2e6 + noise(0.004);
        const bool dip = i_ % 10'000 == 5'000;
        s.msecs = 1'700'000'000'000 + qint64(i_) * 500;
        s.monotonicMsecs = qint64(i_) * 500; // the curves' time runs on it
        s.voltage = float(std::round((dip ? volts - 0.3 : volts) * 100) / 100);
        s.current = float(std::round((2.0 + noise(0.003)) * 100) / 100);
        s.power = s.voltage * s.current;
        s.capacityAh = i_ * 2.0 / 7200;
        // The module's count only grows: a fall would start a new discharge.
        energyWh_ += 2.0 / 7200 * volts;
        s.energyWh = energyWh_;
        s.loadOn = true;
        s.dischargeSeconds = i_ / 2;
        ++i_;
        return s;
    }

private:
    // About normal, with standard deviation `sigma`.
    double noise(double sigma)
    {
        double sum = 0;
        for (int k = 0; k < 4; ++k)
            sum += rng_.generateDouble() - 0.5;
        return sum * sigma * std::sqrt(3.0);
    }

    QRandomGenerator rng_{7};
    int i_ = 0;
    double energyWh_ = 0;
};

// Events the redraw posted (the chart's layout), then the paint.
void repaint(QChartView* view)
{
    QCoreApplication::sendPostedEvents();
    view->grab();
}

using View = chart::ChartWindow::View;

struct Ours {
    chart::ChartWindow window;
    Battery battery;
    int fed = 0;

    Ours() { window.show(); }
    QChartView* view() { return qobject_cast<QChartView*>(tabs()->currentWidget()); }
    QTabWidget* tabs() { return window.findChild<QTabWidget*>(); }
    void show(View v)
    {
        window.showView(v);
        repaint(view());
    }
    void fillTo(int n)
    {
        for (; fed < n; ++fed)
            window.feed().take(battery.next());
    }
    // One update of the shown view: the reading, the window's redraw, the paint.
    Cost update()
    {
        return measure([this] {
            window.feed().take(battery.next());
            ++fed;
            window.redrawNow();
            repaint(view());
        });
    }
    int drawn(View v) { return window.plot(v).line(0)->count(); }
};

// Every point in the series, the axes widened as points come; same curves,
// pens, antialiasing and view size as the window's time view.
struct Plain {
    QChart* chart = new QChart;
    QLineSeries* voltage = new QLineSeries;
    QLineSeries* current = new QLineSeries;
    QValueAxis* x = new QValueAxis;
    QValueAxis* v = new QValueAxis;
    QValueAxis* a = new QValueAxis;
    QChartView view{chart};
    Battery battery;
    int fed = 0;
    double vLow = 1e9, vHigh = -1e9, aLow = 1e9, aHigh = -1e9;

    explicit Plain(QSize size)
    {
        chart->addAxis(x, Qt::AlignBottom);
        chart->addAxis(v, Qt::AlignLeft);
        chart->addAxis(a, Qt::AlignRight);
        for (auto [line, axis, colour] : {std::tuple{voltage, v, QColor(0, 80, 200)},
                                          std::tuple{current, a, QColor(210, 40, 40)}}) {
            line->setPen(QPen(colour, 1.5));
            chart->addSeries(line);
            line->attachAxis(x);
            line->attachAxis(axis);
        }
        view.setRenderHint(QPainter::Antialiasing);
        view.resize(size);
        view.show();
    }
    QPointF widen(double& low, double& high, float value)
    {
        low = std::min(low, double(value));
        high = std::max(high, double(value));
        return {fed * 0.5, double(value)};
    }
    void fitAxes()
    {
        x->setRange(0, fed * 0.5 * 1.03);
        v->setRange(vLow, vHigh);
        a->setRange(aLow, aHigh);
    }
    void fillTo(int n)
    {
        QList<QPointF> vs = voltage->points(), as = current->points();
        for (; fed < n; ++fed) {
            const discharge::Sample s = battery.next();
            vs.append(widen(vLow, vHigh, s.voltage));
            as.append(widen(aLow, aHigh, s.current));
        }
        voltage->replace(vs);
        current->replace(as);
        fitAxes();
    }
    Cost update()
    {
        return measure([this] {
            const discharge::Sample s = battery.next();
            voltage->append(widen(vLow, vHigh, s.voltage));
            current->append(widen(aLow, aHigh, s.current));
            ++fed;
            fitAxes();
            repaint(&view);
        });
    }
};

template <typename Rig> Cost medianUpdate(Rig& rig, int updates)
{
    std::vector<double> wall, cpu;
    for (int i = 0; i < updates; ++i) {
        const Cost c = rig.update();
        wall.push_back(c.wall);
        cpu.push_back(c.cpu);
    }
    return {median(wall), median(cpu), *std::min_element(wall.begin(), wall.end())};
}

} // namespace

int main(int argc, char** argv)
{
    QApplication app(argc, argv);
    const int updates = argc > 1 ? std::max(1, std::atoi(argv[1])) : 21;

    const long rssStart = rssKb();
    std::vector<Cost> ours;         // the time view's, for the plain series
    std::array<Cost, 2> smallest{}; // each view's at the first size
    Ours rig;
    const long rssEmpty = rssKb();
    for (int n : kSizes) {
        rig.fillTo(n);
        for (View v : {View::Capacity, View::Time}) {
            rig.show(v);
            medianUpdate(rig, 2); // the first paint at a new size lays out new tick labels
            const Cost c = medianUpdate(rig, updates);
            Cost& base = smallest[std::size_t(v)];
            if (base.wall == 0) base = c;
            std::printf("ours %s view, %d readings: update %.2f ms (fastest %.2f), cpu %.2f ms; "
                        "%.2f / %.2f times at %d; %d voltage points drawn, %zu held\n",
                        v == View::Time ? "time" : "capacity", n, c.wall, c.fastest, c.cpu,
                        c.wall / base.wall, c.cpu / base.cpu, kSizes[0], rig.drawn(v),
                        rig.window.feed().curves().voltage.size());
            std::fflush(stdout);
            if (v == View::Time) ours.push_back(c);
        }
    }
    const long rssFull = rssKb();
    std::printf("ours rss at %d readings: %.1f MB (window empty %.1f MB, program start %.1f MB; "
                "growth with the readings %.1f MB)\n",
                kSizes[std::size(kSizes) - 1], rssFull / 1024.0, rssEmpty / 1024.0,
                rssStart / 1024.0, (rssFull - rssEmpty) / 1024.0);

    if (!rig.window.feed().references().empty())
        std::printf("the readings made more than one discharge: the figures are not of one\n");

    // The time view's curves rebuilt from the kept samples: the module's
    // clock chosen, then the temperature shown, at the largest size.
    const Cost clock = measure([&] {
        rig.window.setTimeClock(chart::TimeClock::Module);
        repaint(rig.view());
    });
    const Cost temperature = measure([&] {
        rig.window.showTimeTrace(chart::ChartWindow::TimeTrace::Temperature, true);
        repaint(rig.view());
    });
    std::printf("ours at %d readings (%zu samples kept): module clock chosen %.1f ms (cpu %.1f), "
                "temperature shown %.1f ms (cpu %.1f)\n",
                kSizes[std::size(kSizes) - 1], rig.window.feed().samples().rows().size(),
                clock.wall, clock.cpu, temperature.wall, temperature.cpu);
    std::fflush(stdout);

    Plain plain(rig.view()->size());
    for (std::size_t i = 0; i < std::size(kSizes); ++i) {
        plain.fillTo(kSizes[i]);
        const Cost once = plain.update();
        const Cost c = once.wall > kPlainLimitMs ? once : medianUpdate(plain, updates);
        std::printf("plain %d points: update %.2f ms (fastest %.2f), cpu %.2f ms; %.1f / %.1f "
                    "times ours (time view)\n",
                    kSizes[i], c.wall, c.fastest, c.cpu, c.wall / ours[i].wall,
                    c.cpu / ours[i].cpu);
        std::fflush(stdout);
        if (c.wall > kPlainLimitMs) break;
    }
    return 0;
}
