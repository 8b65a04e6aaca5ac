#pragma once
// The model of a battery test: follows the replies of one module and cuts
// them into discharges, decides where each starts and ends and why, and
// keeps its own figures. The chart, eload-cli, the readers of recordings and
// the test library all take their discharges from here. Pure: no window, no
// line, no clock of its own (samples carry their times).
//
// A discharge starts with the first reply; anew when one of the module's
// counts (capacity, energy) falls, whatever it falls to (the module was
// cleared); and anew when the load is on after an end. It ends when the
// protection register shows UVLO, OPP or OTP; when the load goes off after
// having been on (LoadOff); when the port is closed or lost, or when the
// module stays silent for the set number of polls and time (LineLost).
// Replies after the end (the load off, the module idle) belong to no
// discharge until a new one starts.
//
// The module may report a trip in the same reply that shows the load off, or
// a reply or two later. So a load-off without a code is settled only when the
// next kLoadOffReplies replies still show none (and the load still off); a
// code within them makes the end that protection. A protection code counts
// only once the load has been on in the discharge, and, while the load is on,
// only when it has just appeared: a code left from an earlier trip ends nothing.
//
// Silence shorter than the limit is a gap: the discharge goes on, and the
// gap is counted in its figures.

#include "discharge/Summary.h"

#include <optional>
#include <vector>

namespace eload::discharge {

class TestModel {
public:
    static constexpr int kLoadOffReplies = 2;

    // When a silent module ends the discharge: after `polls` unanswered polls
    // in a row that span at least `msecs` since the last answer. A silence of
    // at least `gapPolls` polls that ends before is a gap.
    struct Silence {
        int polls = 6;
        qint64 msecs = 0;
        int gapPolls = 2;
    };

    enum class Change {
        None,    // the sample belongs to the running discharge, or to none
        Started, // a new discharge starts with this sample (the earlier one, if any,
                 // ended before; it may end with this very sample too: see running())
        Ended,   // the running discharge ended with this sample, the silence or the line
    };

    TestModel() = default;
    explicit TestModel(Silence silence) : silence_(silence) {}

    Change take(const Sample& s);
    // A poll that brought no answer, at a steady clock's `monotonicMsecs`.
    Change missed(qint64 monotonicMsecs);
    // The port closed or the line was lost: the running discharge ends with
    // LineLost (LoadOff when the load had already gone off).
    Change lineEnded();
    // The recorded data ends: a load-off still waiting for its code ends as
    // LoadOff; a discharge still running stays unended.
    Change dataEnded();

    bool running() const { return running_; }
    // The running discharge, or the last one after its end.
    Summary summary() const;
    // The discharge that the last Started replaced, if it had any sample.
    const std::optional<Summary>& previous() const { return previous_; }
    // The module's capacity count less the running discharge's base: the
    // discharge's own capacity at `s`.
    double ownCapacity(const Sample& s) const { return s.capacityAh - base_.capacityAh; }
    double ownSeconds(const Sample& s) const { return s.dischargeSeconds - base_.seconds; }
    // Polls unanswered since the last answer.
    int silentPolls() const { return silentPolls_; }

private:
    struct Counts {
        double capacityAh = 0, energyWh = 0, seconds = 0;
    };
    // The running discharge's figures, sample by sample: constant time and memory.
    struct Figures {
        Summary s;
        double sumVoltage = 0, sumCurrent = 0, sumPower = 0;
        float minVoltage = 0, maxVoltage = 0, minCurrent = 0, maxCurrent = 0, minPower = 0,
              maxPower = 0;
    };

    bool countsFell(const Sample& s) const;
    bool startsNew(const Sample& s) const;
    Counts baseFor(const Sample& s) const;
    std::optional<EndReason> endOf(const Sample& s);
    void start(const Sample& s);
    void add(const Sample& s);
    void noteGap(const Sample& s);
    void finish(EndReason reason);
    bool loadOffPending() const { return offReplies_ >= 0; }

    Silence silence_;
    Figures figures_;
    Counts base_;
    std::optional<Summary> previous_;
    std::optional<Sample> last_;
    bool running_ = false;
    bool loadSeen_ = false; // the load was on in the running discharge
    int offReplies_ = -1;   // replies since the load went off with no code; -1: it did not
    int silentPolls_ = 0;
    qint64 lastAnswerMonotonic_ = 0;
};

// One discharge of a recorded series: its figures and its samples
// [first, last] (indices into the series).
struct RecordedDischarge {
    Summary summary;
    std::size_t first = 0, last = 0;
};

// Each discharge of a recorded series (workbook, CSV), cut and ended as the
// live model does it; at the end of the data a load-off that waits for its
// protection code counts as LoadOff. `hasStatus` false (a workbook, which
// holds no protection code): every end reason is None, since the cause
// cannot be told; the load counts as on while the current is above zero.
std::vector<RecordedDischarge> dischargesOf(const std::vector<Sample>& samples,
                                            bool hasStatus = true);
// The last of those in which the load was on (else the last one; an empty
// Summary for no samples): what a report of the recording shows.
Summary summarize(const std::vector<Sample>& samples, bool hasStatus = true);

} // namespace eload::discharge
