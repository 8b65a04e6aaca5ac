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
    enum class Kind {
        Read,
        SwitchOn,
        SwitchOff, // on a line that is down, after one try to open it again
        Reopen,    // the device opened again by its path
    };
    std::uint8_t address = 0;
    Kind kind = Kind::Read;
    int tries = Bus::kTries; // of the read
};

struct JobResult {
    Job job;
    // The block read (after a switch, its read-back), or why there is none.
    std::variant<modbus::RegisterBlock, ExchangeError> block;
    QDateTime time;            // when the block was read
    qint64 monotonicMsecs = 0; // the same moment on the steady clock
    Tally tally;               // the module's, after this job
    std::chrono::steady_clock::duration took{};
    bool lineUp = true;  // the device is open after this job
    QString reopenError; // why the device could not be opened again, when it was tried
};

class LineWorker : public QObject {
    Q_OBJECT
public:
    explicit LineWorker(std::unique_ptr<Bus> bus);
    // On the worker's thread; answers with performed().
    void perform(const Job& job);
    // From any thread: from now on every exchange is tried once.
    void hurry() { bus_->hurry(); }

Q_SIGNALS:
    void performed(const eload::cli::JobResult& result);

private:
    std::optional<ExchangeError> reopen(JobResult& r);

    std::unique_ptr<Bus> bus_;
};

} // namespace eload::cli

Q_DECLARE_METATYPE(eload::cli::JobResult)
