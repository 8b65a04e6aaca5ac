#include "discharge/TestModel.h"

#include <algorithm>

namespace eload::discharge {

namespace {

// The module counts capacity and energy in 0.001 A·h / W·h and its time in
// whole seconds: a mean is only checked against the polled values once the
// counts are well above that resolution.
constexpr double kCountStep = 0.001;
constexpr double kSecondStep = 1.0;
constexpr double kMinCheckedSeconds = 30;
constexpr double kMinCheckedCount = 10 * kCountStep;
constexpr int kMinCheckedSamples = 3;
// Polls every half second miss short swings of the values.
constexpr double kTolerance = 0.05;

// Whether a count over `seconds` fits values between `low` and `high` per
// hour: within one step of the count and one second of the time.
bool countFits(double count, double seconds, double low, double high)
{
    const double least = low * std::max(seconds - kSecondStep, 0.0) / 3600 * (1 - kTolerance);
    const double most = high * (seconds + kSecondStep) / 3600 * (1 + kTolerance);
    return count >= least - kCountStep && count <= most + kCountStep;
}

} // namespace

bool TestModel::countsFell(const Sample& s) const
{
    return last_ && (s.capacityAh < last_->capacityAh || s.energyWh < last_->energyWh);
}

bool TestModel::startsNew(const Sample& s) const
{
    if (!last_) return true;
    const bool onAfterEnd = s.loadOn && (!running_ || loadOffPending());
    return countsFell(s) || onAfterEnd;
}

// The counts the new discharge is measured from. The reply before it holds
// the module's totals up to its start; after a fall the module counted from
// zero; with nothing before, the discharge is what is seen of it.
TestModel::Counts TestModel::baseFor(const Sample& s) const
{
    if (!last_) return {s.capacityAh, s.energyWh, double(s.dischargeSeconds)};
    if (countsFell(s)) return {};
    return {last_->capacityAh, last_->energyWh,
            double(std::min(last_->dischargeSeconds, s.dischargeSeconds))};
}

void TestModel::start(const Sample& s)
{
    if (running_) finish(loadOffPending() ? EndReason::LoadOff : EndReason::None);
    previous_.reset();
    if (figures_.s.samples > 0) previous_ = summary();
    base_ = baseFor(s);
    figures_ = {};
    figures_.s.baseCapacityAh = base_.capacityAh;
    figures_.s.baseEnergyWh = base_.energyWh;
    figures_.s.baseSeconds = base_.seconds;
    running_ = true;
    loadSeen_ = false;
    offReplies_ = -1;
}

void TestModel::add(const Sample& s)
{
    Figures& f = figures_;
    Summary& r = f.s;
    if (r.samples == 0) {
        r.startMsecs = s.msecs;
        r.startMonotonicMsecs = s.monotonicMsecs;
    }
    ++r.samples;
    r.endMsecs = s.msecs;
    r.endMonotonicMsecs = s.monotonicMsecs;
    r.capacityAh = s.capacityAh - base_.capacityAh;
    r.energyWh = s.energyWh - base_.energyWh;
    r.durationSeconds = std::max(0.0, s.dischargeSeconds - base_.seconds);
    r.highestTemperatureC = std::max(r.highestTemperatureC, s.temperatureC);
    if (!s.loadOn) return;
    if (r.loadOnSamples == 0) {
        f.minVoltage = f.maxVoltage = s.voltage;
        f.minCurrent = f.maxCurrent = s.current;
        f.minPower = f.maxPower = s.power;
    }
    ++r.loadOnSamples;
    f.minVoltage = std::min(f.minVoltage, s.voltage);
    f.maxVoltage = std::max(f.maxVoltage, s.voltage);
    f.minCurrent = std::min(f.minCurrent, s.current);
    f.maxCurrent = std::max(f.maxCurrent, s.current);
    f.minPower = std::min(f.minPower, s.power);
    f.maxPower = std::max(f.maxPower, s.power);
    f.sumVoltage += s.voltage;
    f.sumCurrent += s.current;
    f.sumPower += s.power;
    r.lowestVoltage = f.minVoltage;
    if (s.resistanceMilliohm > 0) r.resistanceMilliohm = s.resistanceMilliohm;
}

// The silence before `s` was long enough to count, but not to end the discharge.
void TestModel::noteGap(const Sample& s)
{
    Summary& r = figures_.s;
    ++r.gaps;
    r.gapSeconds += std::max<qint64>(0, s.monotonicMsecs - lastAnswerMonotonic_) / 1000.0;
}

void TestModel::finish(EndReason reason)
{
    figures_.s.end = reason;
    running_ = false;
    offReplies_ = -1;
}

std::optional<EndReason> TestModel::endOf(const Sample& s)
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

TestModel::Change TestModel::take(const Sample& s)
{
    Change change = Change::None;
    if (startsNew(s)) {
        start(s);
        change = Change::Started;
    } else if (running_ && silentPolls_ >= silence_.gapPolls) {
        noteGap(s);
    }
    if (running_) {
        add(s);
        loadSeen_ = loadSeen_ || s.loadOn;
        if (auto reason = endOf(s)) {
            finish(*reason);
            if (change == Change::None) change = Change::Ended;
        }
    }
    silentPolls_ = 0;
    lastAnswerMonotonic_ = s.monotonicMsecs;
    last_ = s;
    return change;
}

TestModel::Change TestModel::missed(qint64 monotonicMsecs)
{
    ++silentPolls_;
    if (!running_) return Change::None;
    ++figures_.s.missedPolls;
    if (!last_ || silentPolls_ < silence_.polls ||
        monotonicMsecs - lastAnswerMonotonic_ < silence_.msecs)
        return Change::None;
    finish(loadOffPending() ? EndReason::LoadOff : EndReason::LineLost);
    return Change::Ended;
}

TestModel::Change TestModel::lineEnded()
{
    if (!running_) return Change::None;
    finish(loadOffPending() ? EndReason::LoadOff : EndReason::LineLost);
    return Change::Ended;
}

TestModel::Change TestModel::dataEnded()
{
    if (!running_ || !loadOffPending()) return Change::None;
    finish(EndReason::LoadOff);
    return Change::Ended;
}

Summary TestModel::summary() const
{
    const Figures& f = figures_;
    Summary r = f.s;
    const double n = std::max(r.loadOnSamples, 1);
    const double polledVoltage = f.sumVoltage / n, polledCurrent = f.sumCurrent / n,
                 polledPower = f.sumPower / n;
    const double hours = r.durationSeconds / 3600.0;
    r.averageVoltage = r.capacityAh > 0 ? r.energyWh / r.capacityAh : polledVoltage;
    r.averageCurrent = hours > 0 ? r.capacityAh / hours : polledCurrent;
    r.averagePower = hours > 0 ? r.energyWh / hours : polledPower;

    const bool enough = r.durationSeconds >= kMinCheckedSeconds ||
                        r.capacityAh >= kMinCheckedCount || r.energyWh >= kMinCheckedCount;
    if (r.loadOnSamples >= kMinCheckedSamples && enough) {
        const double d = r.durationSeconds;
        const double leastEnergy = f.minVoltage * std::max(r.capacityAh - kCountStep, 0.0);
        const double mostEnergy = f.maxVoltage * (r.capacityAh + kCountStep);
        r.countsDisagree = !countFits(r.capacityAh, d, f.minCurrent, f.maxCurrent) ||
                           !countFits(r.energyWh, d, f.minPower, f.maxPower) ||
                           r.energyWh < leastEnergy * (1 - kTolerance) - kCountStep ||
                           r.energyWh > mostEnergy * (1 + kTolerance) + kCountStep;
    }
    if (r.countsDisagree) {
        r.averageVoltage = polledVoltage;
        r.averageCurrent = polledCurrent;
        r.averagePower = polledPower;
    }
    return r;
}

std::vector<RecordedDischarge> dischargesOf(const std::vector<Sample>& samples, bool hasStatus)
{
    std::vector<RecordedDischarge> each;
    TestModel model;
    std::size_t first = 0;
    std::optional<std::size_t> lastIn; // the last sample that belonged to a discharge
    for (std::size_t i = 0; i < samples.size(); ++i) {
        const TestModel::Change change = model.take(samples[i]);
        if (change == TestModel::Change::Started) {
            if (model.previous()) each.push_back({*model.previous(), first, *lastIn});
            first = i;
        }
        if (change != TestModel::Change::None || model.running()) lastIn = i;
    }
    model.dataEnded();
    if (!samples.empty()) each.push_back({model.summary(), first, *lastIn});
    if (!hasStatus)
        for (RecordedDischarge& d : each)
            d.summary.end = EndReason::None;
    return each;
}

Summary summarize(const std::vector<Sample>& samples, bool hasStatus)
{
    const std::vector<RecordedDischarge> each = dischargesOf(samples, hasStatus);
    if (each.empty()) return {};
    auto loaded = std::find_if(each.rbegin(), each.rend(), [](const RecordedDischarge& d) {
        return d.summary.loadOnSamples > 0;
    });
    return loaded != each.rend() ? loaded->summary : each.back().summary;
}

} // namespace eload::discharge
