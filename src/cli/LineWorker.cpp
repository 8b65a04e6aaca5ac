#include "cli/LineWorker.h"

namespace eload::cli {

LineWorker::LineWorker(std::unique_ptr<Bus> bus) : bus_(std::move(bus)) {}

void LineWorker::perform(const Job& job)
{
    const auto start = std::chrono::steady_clock::now();
    JobResult r{job, modbus::RegisterBlock{}, {}, {}, {}};
    std::optional<ExchangeError> switchError;
    if (job.kind != Job::Kind::Read)
        switchError = bus_->switchLoad(job.address, job.kind == Job::Kind::SwitchOn);
    if (switchError)
        r.block = *switchError;
    else
        r.block = bus_->readBlock(job.address, job.tries);
    r.time = QDateTime::currentDateTime();
    r.tally = bus_->tally(job.address);
    r.took = std::chrono::steady_clock::now() - start;
    Q_EMIT performed(r);
}

} // namespace eload::cli
