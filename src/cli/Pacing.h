#pragma once
// How often each module can be polled: one read of the register block per
// module and interval, in turn, as long as the line can carry them all.

#include <QString>
#include <chrono>
#include <optional>

namespace eload::cli {

// One poll on the line at `baud`: the 8 request bytes and 41 reply bytes of
// 10 bits each, plus the module's turnaround (the 3.5 character silence that
// ends a request and about 5 ms to answer).
double pollMilliseconds(int baud);

struct Pacing {
    std::chrono::milliseconds interval; // the one used
    std::optional<QString> warning;     // why it is not the one asked for
};

// `measuredMs`: a round of polls already timed on this line, 0 if none.
Pacing pacingFor(std::chrono::milliseconds wanted, int modules, int baud, double measuredMs);

} // namespace eload::cli
