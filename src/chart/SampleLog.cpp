#include "chart/SampleLog.h"

#include <algorithm>

namespace eload::chart {

SampleLog::SampleLog(std::size_t maxRows) : maxRows_(std::max<std::size_t>(maxRows, 4)) {}

void SampleLog::append(const discharge::Sample& s)
{
    if (rows_.size() >= maxRows_) thinOlderHalf();
    rows_.push_back(s);
}

void SampleLog::clear()
{
    rows_.clear();
    dropped_ = 0;
}

// Keeps the first row and every second one after it in the older half.
void SampleLog::thinOlderHalf()
{
    const std::size_t half = rows_.size() / 2;
    std::size_t kept = 0;
    for (std::size_t i = 0; i < half; i += 2)
        rows_[kept++] = rows_[i];
    const auto tail = rows_.begin() + std::ptrdiff_t(half);
    std::move(tail, rows_.end(), rows_.begin() + std::ptrdiff_t(kept));
    dropped_ += half - kept;
    rows_.resize(kept + (rows_.size() - half));
}

} // namespace eload::chart
