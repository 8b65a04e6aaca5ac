#include "ui/BoxQueue.h"

#include <algorithm>

namespace eload {

BoxQueue::BoxQueue(std::function<void(const Box&)> show) : show_(std::move(show)) {}

bool BoxQueue::isPending(const Box& box) const
{
    return open_ == box || std::find(waiting_.begin(), waiting_.end(), box) != waiting_.end();
}

void BoxQueue::request(const Box& box)
{
    if (isPending(box)) return;
    waiting_.push_back(box);
    if (!open_) showAll();
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
