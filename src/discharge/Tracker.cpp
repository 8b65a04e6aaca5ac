#include "discharge/Tracker.h"

namespace eload::discharge {

bool Tracker::running() const { return running_; }
Summary Tracker::summary() const { return current_.summary(); }
std::optional<Summary> Tracker::previous() const { return previous_; }

bool Tracker::startsNew(const Sample& s) const
{
    if (!last_) return true;
    const bool cleared = last_->capacityAh > 0 && s.capacityAh == 0;
    const bool onAfterEnd = s.loadOn && (!running_ || loadOffPending());
    return cleared || onAfterEnd;
}

void Tracker::start()
{
    if (running_) finish(loadOffPending() ? EndReason::LoadOff : EndReason::None);
    previous_.reset();
    if (!current_.empty()) previous_ = current_.summary();
    current_ = {};
    running_ = true;
    loadSeen_ = false;
    offReplies_ = -1;
}

void Tracker::finish(EndReason reason)
{
    current_.end(reason);
    running_ = false;
    offReplies_ = -1;
}

std::optional<EndReason> Tracker::endOf(const Sample& s)
{
    const EndReason tripped = endReasonOfProtection(s.protection);
    if (loadOffPending()) {
        if (tripped != EndReason::None) return tripped;
        if (++offReplies_ >= kLoadOffReplies) return EndReason::LoadOff;
        return std::nullopt;
    }
    if (!loadSeen_) return std::nullopt;
    const bool fresh = last_ && last_->protection != s.protection;
    if (tripped != EndReason::None && (!s.loadOn || fresh)) return tripped;
    if (!s.loadOn) offReplies_ = 0;
    return std::nullopt;
}

Tracker::Change Tracker::take(const Sample& s)
{
    Change change = Change::None;
    if (startsNew(s)) {
        start();
        change = Change::Started;
    }
    if (running_) {
        current_.add(s);
        loadSeen_ = loadSeen_ || s.loadOn;
        if (auto reason = endOf(s)) {
            finish(*reason);
            if (change == Change::None) change = Change::Ended;
        }
    }
    last_ = s;
    return change;
}

Tracker::Change Tracker::lineEnded()
{
    if (!running_) return Change::None;
    finish(loadOffPending() ? EndReason::LoadOff : EndReason::LineLost);
    return Change::Ended;
}

Tracker::Change Tracker::dataEnded()
{
    if (!running_ || !loadOffPending()) return Change::None;
    finish(EndReason::LoadOff);
    return Change::Ended;
}

} // namespace eload::discharge
