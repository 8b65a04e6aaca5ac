#pragma once
// One module's part of a watch: each reply into the test model and the
// files, our stop rules applied to what the model says, and the ending. The
// model alone decides where the discharge starts and ends and counts its
// figures and gaps; this keeps only what is not the model's. Knows nothing of
// the line or of scheduling.

#include "cli/Arguments.h"
#include "cli/ModuleFiles.h"
#include "cli/ModuleRecord.h"
#include "cli/Output.h"
#include "discharge/TestModel.h"

#include <memory>

namespace eload::cli {

class ModuleTest {
public:
    enum class State { Running, Ending, Ended };

    // --stop-below holds only after this many replies in a row below the
    // voltage, so that one odd reading does not end a test.
    static constexpr int kStopBelowReplies = 3;
    // A load switched on must read on within this many replies.
    static constexpr int kSwitchOnReplies = 3;

    ModuleTest(std::uint8_t address, discharge::TestModel::Silence silence);

    std::uint8_t address() const { return address_; }
    State state() const { return state_; }
    ModuleFiles& files() { return files_; }
    // Records its tests into the test library too.
    void record(std::unique_ptr<ModuleRecord> record) { record_ = std::move(record); }
    const ModuleRecord* record() const { return record_.get(); }
    const std::optional<modbus::Reading>& last() const { return last_; }
    const TestEnd& end() const { return end_; }

    // Into the model and the files; the test's end if this reply brings it
    // (the module's own, else our rules). `errors`: file trouble.
    std::optional<TestEnd> take(const modbus::Reading& r, const StopRules& rules,
                                QStringList& errors);
    // A poll that brought no answer, or that could not even be sent while the
    // line is being reopened; the end once the model counts the line as lost.
    std::optional<TestEnd> missed(qint64 monotonicMsecs);
    // The last poll brought no answer.
    bool silent() const { return model_.silentPolls() > 0; }
    // The load was switched on; it must now read on (kSwitchOnReplies).
    void switchedOn() { repliesAwaitingOn_ = 0; }

    void beginEnd(const TestEnd& end);
    // Files closed; the end, the summary and what was written.
    ModuleEnd finish(std::optional<bool> loadOn, QStringList& errors);

private:
    std::optional<TestEnd> modelEnd(discharge::TestModel::Change change) const;
    std::optional<TestEnd> switchOnEnd(const modbus::Reading& r);
    std::optional<TestEnd> ruleEnd(const modbus::Reading& r, const StopRules& rules);

    std::uint8_t address_;
    discharge::TestModel::Silence silence_;
    discharge::TestModel model_;
    State state_ = State::Running;
    ModuleFiles files_;
    std::unique_ptr<ModuleRecord> record_;
    std::optional<modbus::Reading> last_;
    TestEnd end_;
    int repliesBelow_ = 0;
    int repliesAwaitingOn_ = -1; // -1: no switch-on waits to be seen
};

} // namespace eload::cli
