#include "cli/LineWorker.h"

namespace eload::cli {

LineWorker::LineWorker(std::unique_ptr<Bus> bus) : bus_(std::move(bus)) {}

std::optional<ExchangeError> LineWorker::reopen(JobResult& r)
{
    if (bus_->isUp()) return std::nullopt;
    const std::optional<OpenError> e = bus_->reopen();
    if (!e) return std::nullopt;
    r.reopenError = e->message;
    return ExchangeError{Failure::LineDown, e->message};
}

void LineWorker::perform(const Job& job)
{
    const auto start = std::chrono::steady_clock::now();
    JobResult r{job, modbus::RegisterBlock{}, {}, 0, {}, {}, true, {}};
    std::optional<ExchangeError> failed;
    // A switch-off is worth a try to get the line back; a switch-on is not.
    if (job.kind == Job::Kind::Reopen || job.kind == Job::Kind::SwitchOff) failed = reopen(r);
    if (!failed && (job.kind == Job::Kind::SwitchOn || job.kind == Job::Kind::SwitchOff))
        failed = bus_->switchLoad(job.address, job.kind == Job::Kind::SwitchOn);
    if (failed)
        r.block = *failed;
    else if (job.kind != Job::Kind::Reopen)
        r.block = bus_->readBlock(job.address, job.tries);
    r.time = QDateTime::currentDateTime();
    r.monotonicMsecs = modbus::monotonicNowMsecs();
    r.tally = bus_->tally(job.address);
    r.took = std::chrono::steady_clock::now() - start;
    r.lineUp = bus_->isUp();
    Q_EMIT performed(r);
}

} // namespace eload::cli
