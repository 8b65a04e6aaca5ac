#pragma once
// How often each module can be polled: one read of the register block per
// module and interval, in turn, as long as the line can carry them all; when
// it cannot, the polls go one after another as fast as the line carries them.

#include <QString>
#include <array>
#include <chrono>
#include <optional>

namespace eload::cli {

// One poll on the line at `baud`: the 8 request bytes and 41 reply bytes of
// 10 bits each, plus the module's turnaround (the 3.5 character silence that
// ends a request and about 5 ms to answer).
double pollMilliseconds(int baud);

struct Pacing {
    std::chrono::milliseconds interval; // each module's period: the one asked for, or a round's
    bool lineBound = false;             // the line cannot carry the interval asked for
    std::optional<QString> warning;     // why it is not the one asked for
};

// `measuredMs`: a round of polls already timed on this line, 0 if none.
Pacing pacingFor(std::chrono::milliseconds wanted, int modules, int baud, double measuredMs);

// The time a poll takes on this line as measured lately: the median of the
// last kKept, so that the pace follows a line or a machine that slows down
// or speeds up, but not one slow reply.
class PollTimes {
public:
    static constexpr int kKept = 16;
    void add(double ms);
    // 0 before the first.
    double typical() const;

private:
    std::array<double, kKept> ms_{};
    int count_ = 0;
    int next_ = 0;
};

} // namespace eload::cli
