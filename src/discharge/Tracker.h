#pragma once
// Follows the readings of one module and cuts them into discharges: when one
// ends and why, when a new one starts. Pure: no window, no line.
//
// A discharge starts with the first reading, and anew when the module's
// capacity count goes back to zero (from above zero) or the load is switched
// on after an end. It ends when the protection register shows UVLO, OPP or
// OTP, when the load goes off after having been on (LoadOff), or when the
// line is lost (LineLost). Readings after the end (the load off, the module
// idle) belong to no discharge until a new one starts.

#include "discharge/Summary.h"

#include <optional>

namespace eload::discharge {

class Tracker {
public:
    enum class Change {
        None,    // the sample belongs to the running discharge, or to none
        Started, // a new discharge starts with this sample (the earlier one, if any, ended before)
        Ended,   // the running discharge ended with this sample (or with the line)
    };

    Change take(const Sample& s);
    Change lineEnded();

    bool running() const;
    // The running discharge, or the last one after its end.
    Summary summary() const;
    // The summary of the discharge that the last Started replaced, if it had any sample.
    std::optional<Summary> previous() const;

private:
    SummaryBuilder current_;
    std::optional<Summary> previous_;
    std::optional<Sample> last_;
    bool running_ = false;
};

} // namespace eload::discharge
