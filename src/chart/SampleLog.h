#pragma once
// The samples of the running discharge, kept for the CSV export. Bounded:
// past `maxRows` every second row of the older half is dropped, so a
// week-long run stays within a fixed amount of memory while the recent part
// (and the end of the discharge) keeps every reply.

#include "discharge/Sample.h"

#include <cstddef>
#include <vector>

namespace eload::chart {

class SampleLog {
public:
    // 500,000 rows of 56 bytes: about 28 MB, 69 hours at two replies a second.
    static constexpr std::size_t kDefaultMaxRows = 500'000;

    explicit SampleLog(std::size_t maxRows = kDefaultMaxRows);

    void append(const discharge::Sample& s);
    void clear();
    const std::vector<discharge::Sample>& rows() const { return rows_; }
    // Rows dropped to stay within the bound since the last clear().
    std::size_t dropped() const { return dropped_; }

private:
    void thinOlderHalf();

    std::size_t maxRows_;
    std::vector<discharge::Sample> rows_;
    std::size_t dropped_ = 0;
};

} // namespace eload::chart
