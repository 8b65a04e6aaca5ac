#include "cli/Pacing.h"

#include <algorithm>
#include <cmath>

namespace eload::cli {

namespace {
constexpr int kRequestBytes = 8, kReplyBytes = 41, kBitsPerChar = 10;
constexpr double kAnswerMs = 5;
constexpr double kMargin = 1.1; // room for the odd slow reply
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
    if (need <= double(wanted.count())) return {wanted, std::nullopt};
    // Whole milliseconds: rounding to tens would cost up to 10 ms a round,
    // which at 115200 Bd doubles the interval of one module.
    const auto used = std::chrono::milliseconds(std::lround(std::ceil(need * kMargin)));
    const QString why = measuredMs > estimate
                            ? QStringLiteral("a round of polls took %1 ms on this line")
                                  .arg(std::lround(measuredMs))
                            : QStringLiteral("%1 module(s) at %2 Bd need about %3 ms per round")
                                  .arg(modules)
                                  .arg(baud)
                                  .arg(std::lround(estimate));
    return {used, QStringLiteral("%1, more than the interval of %2 ms: each module is polled "
                                 "every %3 ms instead")
                      .arg(why)
                      .arg(wanted.count())
                      .arg(used.count())};
}

} // namespace eload::cli
