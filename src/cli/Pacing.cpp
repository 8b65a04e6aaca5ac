#include "cli/Pacing.h"

#include <algorithm>
#include <cmath>

namespace eload::cli {

namespace {
constexpr int kRequestBytes = 8, kReplyBytes = 41, kBitsPerChar = 10;
constexpr double kAnswerMs = 5;
} // namespace

double pollMilliseconds(int baud)
{
    const double charMs = kBitsPerChar * 1000.0 / baud;
    return (kRequestBytes + kReplyBytes + 3.5) * charMs + kAnswerMs;
}

Pacing pacingFor(std::chrono::milliseconds wanted, int modules, int baud, double measuredMs)
{
    const double estimate = modules * pollMilliseconds(baud);
    const double need = std::max(estimate, measuredMs);
    if (need <= double(wanted.count())) return {wanted, false, std::nullopt};
    const auto used = std::chrono::milliseconds(std::lround(std::ceil(need)));
    const QString why = measuredMs > estimate
                            ? QStringLiteral("a round of polls took %1 ms on this line")
                                  .arg(std::lround(measuredMs))
                            : QStringLiteral("%1 module(s) at %2 Bd need about %3 ms per round")
                                  .arg(modules)
                                  .arg(baud)
                                  .arg(std::lround(estimate));
    return {used, true,
            QStringLiteral("%1, more than the interval of %2 ms: each module is polled every %3 ms "
                           "instead, as fast as the line carries the polls (the pace follows the "
                           "line as measured)")
                .arg(why)
                .arg(wanted.count())
                .arg(used.count())};
}

void PollTimes::add(double ms)
{
    ms_[std::size_t(next_)] = ms;
    next_ = (next_ + 1) % kKept;
    count_ = std::min(count_ + 1, kKept);
}

double PollTimes::typical() const
{
    if (count_ == 0) return 0;
    std::array<double, kKept> sorted = ms_;
    const auto end = sorted.begin() + count_;
    std::nth_element(sorted.begin(), sorted.begin() + count_ / 2, end);
    return sorted[std::size_t(count_ / 2)];
}

} // namespace eload::cli
