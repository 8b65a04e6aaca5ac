#pragma once
// Modal boxes one at a time. A box asked for while another is open (from a
// timer tick or a line failure delivered by the box's own event loop) waits
// until the open one is dismissed; one that repeats the open box or a waiting
// box is dropped, so a repeating cause cannot pile up boxes. Once no one is
// left to answer (the session ends), boxes are told instead of shown.

#include <QString>
#include <deque>
#include <functional>
#include <optional>

namespace eload {

struct Box {
    QString text;
    QString detail;
    friend bool operator==(const Box&, const Box&) = default;
};

class BoxQueue {
public:
    // `show` runs one box modally and returns when it is dismissed; `tell`
    // passes one on without waiting for anyone.
    BoxQueue(std::function<void(const Box&)> show, std::function<void(const Box&)> tell);

    // Shows `box` and every box asked for meanwhile; returns at once when
    // called while a box is open.
    void request(const Box& box);

    bool isShowing() const { return open_.has_value(); }

    // Boxes waiting and every box asked for from now on are told; the open
    // one is the caller's to dismiss.
    void stopShowing();

private:
    bool isPending(const Box& box) const;
    void showAll();

    std::function<void(const Box&)> show_;
    std::function<void(const Box&)> tell_;
    bool showing_ = true;
    std::optional<Box> open_;
    std::deque<Box> waiting_;
};

} // namespace eload
