#include "ui/BoxQueue.h"

#include <algorithm>

namespace eload {

BoxQueue::BoxQueue(std::function<void(const Box&)> show, std::function<void(const Box&)> tell)
    : show_(std::move(show)), tell_(std::move(tell))
{
}

bool BoxQueue::isPending(const Box& box) const
{
    return open_ == box || std::find(waiting_.begin(), waiting_.end(), box) != waiting_.end();
}

void BoxQueue::request(const Box& box)
{
    if (!showing_) return tell_(box);
    if (isPending(box)) return;
    waiting_.push_back(box);
    if (!open_) showAll();
}

void BoxQueue::stopShowing()
{
    showing_ = false;
    for (const Box& box : waiting_)
        tell_(box);
    waiting_.clear();
}

void BoxQueue::showAll()
{
    while (!waiting_.empty()) {
        open_ = waiting_.front();
        waiting_.pop_front();
        show_(*open_);
    }
    open_.reset();
}

} // namespace eload
