#pragma once
// The bus on a thread of its own, so that the event thread never waits for
// the line: the watch posts one job at a time and gets its result as a signal.

#include "cli/Bus.h"

#include <QDateTime>
#include <QObject>
#include <chrono>
#include <memory>

namespace eload::cli {

struct Job {
    enum class Kind { Read, SwitchOn, SwitchOff };
    std::uint8_t address = 0;
    Kind kind = Kind::Read;
    int tries = Bus::kTries; // of the read
};

struct JobResult {
    Job job;
    // The block read (after a switch, its read-back), or why there is none.
    std::variant<modbus::RegisterBlock, ExchangeError> block;
    QDateTime time; // when the block was read
    Tally tally;    // the module's, after this job
    std::chrono::steady_clock::duration took{};
};

class LineWorker : public QObject {
    Q_OBJECT
public:
    explicit LineWorker(std::unique_ptr<Bus> bus);
    // On the worker's thread; answers with performed().
    void perform(const Job& job);

Q_SIGNALS:
    void performed(const eload::cli::JobResult& result);

private:
    std::unique_ptr<Bus> bus_;
};

} // namespace eload::cli

Q_DECLARE_METATYPE(eload::cli::JobResult)
