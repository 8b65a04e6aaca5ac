// The discharge data at the sizes of a nine-hour test (64,800 points at 2 Hz)
// and a week-long one (1.2 million): the cost of one append, of the points a
// 1000-column view draws (beside one plain pass over the points in view), of
// autoscale and hover, the memory, the append that merges at the default
// bound; and reading back a full workbook.
//
// usage: bench_discharge
// Prints "key value" lines.

#include "core/Texts.h"
#include "discharge/Series.h"
#include "modbus/Formats.h"
#include "reader/RecordingFile.h"
#include "recording/XlsxSpreadsheet.h"
#include "support/Measure.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <ctime>
#include <vector>

using namespace eload;
using namespace eload::discharge;
using namespace eload::reader;

using namespace eload::bench;

namespace {

// Median of `runs` timings of f, in milliseconds.
template <typename F> double medianMs(int runs, F&& f)
{
    std::vector<double> ms;
    for (int i = 0; i < runs; ++i) {
        QElapsedTimer t;
        t.start();
        f();
        ms.push_back(t.nsecsElapsed() / 1e6);
    }
    std::nth_element(ms.begin(), ms.begin() + runs / 2, ms.end());
    return ms[runs / 2];
}

// What a view would cost without the summary: every point in view visited.
std::size_t plainPass(const std::vector<QPointF>& points, double x0, double x1, int columns)
{
    std::vector<double> low(columns, INFINITY), high(columns, -INFINITY);
    const double w = (x1 - x0) / columns;
    for (const QPointF& p : points) {
        if (p.x() < x0 || p.x() > x1) continue;
        const int c = std::min(columns - 1, int((p.x() - x0) / w));
        low[c] = std::min(low[c], p.y());
        high[c] = std::max(high[c], p.y());
    }
    return std::size_t(
        std::count_if(low.begin(), low.end(), [](double v) { return v < INFINITY; }));
}

void benchSeries(int n)
{
    const long rssBefore = rssKb();
    Series series;
    std::vector<QPointF> copy; // for the plain pass only, kept out of the memory figure
    QRandomGenerator rng(5);
    double y = 12.6, worstAppendUs = 0;
    QElapsedTimer total;
    total.start();
    qint64 spent = 0;
    for (int i = 0; i < n; ++i) {
        y -= 1e-6 + (rng.generateDouble() - 0.5) * 0.002;
        const double v = rng.bounded(1000) == 0 ? y - 1 : y;
        const qint64 before = total.nsecsElapsed();
        series.append(i * 0.5, v);
        const qint64 took = total.nsecsElapsed() - before;
        spent += took;
        worstAppendUs = std::max(worstAppendUs, took / 1e3);
    }
    const long rssAfter = rssKb();
    for (int i = 0; i < n; ++i)
        copy.push_back(series.at(std::size_t(i)));

    const double x1 = (n - 1) * 0.5;
    std::printf("points %d\n", n);
    std::printf("  append_per_point_ns %.0f\n", double(spent) / n);
    std::printf("  append_worst_us %.0f\n", worstAppendUs);
    std::printf("  memory_bytes_per_point %.1f\n", double(series.memoryBytes()) / n);
    std::printf("  memory_series_MB %.1f\n", series.memoryBytes() / 1048576.0);
    std::printf("  rss_growth_MB %.1f\n", (rssAfter - rssBefore) / 1024.0);
    std::size_t drawn = 0;
    const double full = medianMs(51, [&] { drawn = series.decimated(0, x1, 1000).size(); });
    std::printf("  decimated_full_view_1000_columns_ms %.3f (%zu points)\n", full, drawn);
    const double tenth =
        medianMs(51, [&] { drawn = series.decimated(x1 * 0.45, x1 * 0.55, 1000).size(); });
    std::printf("  decimated_tenth_view_1000_columns_ms %.3f (%zu points)\n", tenth, drawn);
    std::printf("  yrange_full_ms %.4f\n", medianMs(51, [&] { series.yRange(0, x1); }));
    std::printf("  nearest_us %.3f\n",
                medianMs(51, [&] { series.nearest(rng.generateDouble() * x1); }) * 1e3);
    std::printf("  plain_pass_full_view_ms %.3f\n",
                medianMs(11, [&] { plainPass(copy, 0, x1, 1000); }));
}

// The one append in maxPoints/4 that merges the oldest half: O(maxPoints).
void benchMerge()
{
    Series series;
    for (std::size_t i = 0; i < Series::kDefaultMaxPoints; ++i)
        series.append(double(i), std::sin(i * 1e-3));
    QElapsedTimer t;
    t.start();
    series.append(double(Series::kDefaultMaxPoints), 0);
    std::printf("merging_append_at_%zu_points_ms %.1f (%zu points after)\n",
                Series::kDefaultMaxPoints, t.nsecsElapsed() / 1e6, series.size());
}

void benchWorkbook()
{
    QTemporaryDir dir;
    XlsxSpreadsheet sheet(dir.path());
    sheet.newBook();
    for (int c = 1; c <= 10; ++c)
        sheet.setText(1, c, texts::kRecordHeader[c - 1]);
    constexpr int kRows = 65533;
    for (int r = 2; r < 2 + kRows; ++r) {
        const int s = r - 2;
        const QStringList row = {QStringLiteral("2026-03-05 %1时:%2分:%3秒")
                                     .arg(s / 7200, 2, 10, QLatin1Char('0'))
                                     .arg(s / 120 % 60, 2, 10, QLatin1Char('0'))
                                     .arg(s / 2 % 60, 2, 10, QLatin1Char('0')),
                                 modbus::currentText(200),
                                 modbus::voltageText(std::uint16_t(1260 - s / 200)),
                                 modbus::powerText(2468),
                                 modbus::temperatureText(31),
                                 modbus::resistanceText(35),
                                 modbus::capacityText(std::uint32_t(s / 2 * 2000 / 3600)),
                                 modbus::energyText(std::uint32_t(s / 2 * 24000 / 3600)),
                                 QLatin1Char(' ') +
                                     modbus::dischargeTimeText(std::uint16_t(s / 7200),
                                                               std::uint16_t(s / 120 % 60),
                                                               std::uint16_t(s / 2 % 60))};
        sheet.setNumber(r, 1, r - 1);
        for (int c = 0; c < row.size(); ++c)
            sheet.setText(r, c + 2, row[c]);
    }
    sheet.saveAs(dir.filePath("full"));
    sheet.close();
    std::size_t rows = 0;
    double cpuMs = 0;
    const double ms = medianMs(3, [&] {
        const double cpuBefore = threadCpuMs();
        const ReadResult r = readWorkbook(dir.filePath("full.xlsx"));
        cpuMs = threadCpuMs() - cpuBefore;
        if (const auto* read = std::get_if<Recording>(&r))
            rows = read->curves.front().samples.size();
    });
    std::printf("workbook_read_65533_rows_ms %.0f, cpu of the last run %.0f ms (%zu samples, "
                "%lld bytes)\n",
                ms, cpuMs, rows, QFileInfo(dir.filePath("full.xlsx")).size());
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    benchSeries(64'800);
    benchSeries(1'200'000);
    benchMerge();
    benchWorkbook();
    return 0;
}
