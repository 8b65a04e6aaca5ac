#pragma once
// One module's part of a watch: its readings into the summary, the end
// tracker and its files; when its test ends and why. Knows nothing of the
// line or the clock's scheduling.

#include "cli/Arguments.h"
#include "cli/ModuleFiles.h"
#include "cli/Output.h"
#include "discharge/TestModel.h"

#include <chrono>

namespace eload::cli {

// The end our own rules set for a reading, if any: --stop-below (while the
// load is on), --stop-at-ah, --stop-at-wh.
std::optional<TestEnd> stopFor(const StopRules& rules, const modbus::Reading& r);

class ModuleTest {
public:
    enum class State { Running, Ending, Ended };
    using Clock = std::chrono::steady_clock;

    // Polls in a row without an answer, and the time without one, after which
    // the module counts as lost and its test ends.
    static constexpr int kLostPolls = 3;
    static constexpr std::chrono::seconds kLostAfter{10};

    ModuleTest(std::uint8_t address, Clock::time_point now);

    std::uint8_t address() const { return address_; }
    State state() const { return state_; }
    ModuleFiles& files() { return files_; }
    const std::optional<modbus::Reading>& last() const { return last_; }

    // Into summary, tracker and files; the test's end if this reading brings
    // it (the module's own, else our rules). `errors`: file trouble.
    std::optional<TestEnd> take(const modbus::Reading& r, const StopRules& rules,
                                QStringList& errors);
    // A poll that failed every try; the end once the module counts as lost.
    std::optional<TestEnd> missed(Clock::time_point now, bool lineDown);
    // The last poll brought no answer.
    bool silent() const { return missedPolls_ > 0; }

    void beginEnd(const TestEnd& end);
    // Files closed; the end, the summary and what was written.
    ModuleEnd finish(std::optional<bool> loadOn, QStringList& errors);

private:
    std::uint8_t address_;
    State state_ = State::Running;
    discharge::TestModel model_;
    ModuleFiles files_;
    std::optional<modbus::Reading> last_;
    TestEnd end_;
    Clock::time_point lastAnswer_;
    int missedPolls_ = 0;
};

} // namespace eload::cli
