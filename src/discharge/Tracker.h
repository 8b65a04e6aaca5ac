#pragma once
// Follows the readings of one module and cuts them into discharges: when one
// ends and why, when a new one starts. Pure: no window, no line.
//
// A discharge starts with the first reading, and anew when the module's
// capacity count goes back to zero (from above zero) or the load is on after
// an end. It ends when the protection register shows UVLO, OPP or OTP, when
// the load goes off after having been on (LoadOff), or when the line is lost
// (LineLost). Readings after the end (the load off, the module idle) belong
// to no discharge until a new one starts.
//
// The module may report a trip in the same reply that shows the load off, or
// a reply or two later. So a load-off without a code is settled only when the
// next kLoadOffReplies replies still show none (and the load still off); a
// code within them makes the end that protection. A LoadOff end thus comes
// with the second reply after the load went off. A protection code counts
// only once the load has been on in the discharge, and, while the load is on,
// only when it has just appeared: a code left over from an earlier trip ends
// nothing.

#include "discharge/Summary.h"

#include <optional>

namespace eload::discharge {

class Tracker {
public:
    static constexpr int kLoadOffReplies = 2;

    enum class Change {
        None,    // the sample belongs to the running discharge, or to none
        Started, // a new discharge starts with this sample (the earlier one, if any,
                 // ended before; it may end with this very sample too: see summary().end)
        Ended,   // the running discharge ended with this sample (or with the line)
    };

    Change take(const Sample& s);
    // The port closed or the line was lost: the running discharge ends with
    // LineLost (LoadOff when the load had already gone off).
    Change lineEnded();
    // The recorded data ends: a load-off still waiting for its code ends as
    // LoadOff; a discharge still running stays unended.
    Change dataEnded();

    bool running() const;
    // The running discharge, or the last one after its end.
    Summary summary() const;
    // The summary of the discharge that the last Started replaced, if it had any sample.
    std::optional<Summary> previous() const;

private:
    bool startsNew(const Sample& s) const;
    std::optional<EndReason> endOf(const Sample& s);
    void start();
    void finish(EndReason reason);
    bool loadOffPending() const { return offReplies_ >= 0; }

    SummaryBuilder current_;
    std::optional<Summary> previous_;
    std::optional<Sample> last_;
    bool running_ = false;
    bool loadSeen_ = false; // the load was on in the running discharge
    int offReplies_ = -1;   // replies since the load went off with no code; -1: it did not
};

} // namespace eload::discharge
