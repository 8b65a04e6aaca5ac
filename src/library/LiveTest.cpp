#include "library/LiveTest.h"

#include <utility>

namespace eload::library {

void LiveTest::start(TestHeader header)
{
    header_ = std::move(header);
    test_.reset();
    held_.clear();
    open_ = true;
}

void LiveTest::add(const discharge::Sample& s, const discharge::Summary& figures)
{
    if (!open_) return;
    if (!test_) {
        held_.push_back(s);
        if (figures.loadOnSamples == 0) return;
        beginWithHeld();
    } else {
        // Refused only when the writer's memory is full: its problem() says so.
        (void)writer_.append(*test_, s);
    }
    writer_.update(*test_, figures);
}

void LiveTest::update(const discharge::Summary& figures)
{
    if (open_ && test_) writer_.update(*test_, figures);
}

void LiveTest::finish(const discharge::Summary& figures)
{
    if (!std::exchange(open_, false)) return;
    if (test_ || figures.loadOnSamples > 0) {
        if (!test_) beginWithHeld();
        writer_.finish(*test_, figures);
    }
    held_.clear();
    held_.shrink_to_fit();
}

void LiveTest::setCell(const Cell& cell)
{
    header_.cell = cell;
    if (test_) writer_.setCell(*test_, cell);
}

void LiveTest::beginWithHeld()
{
    test_ = writer_.begin(header_);
    for (const discharge::Sample& s : held_)
        (void)writer_.append(*test_, s);
    held_.clear();
    held_.shrink_to_fit();
}

} // namespace eload::library
