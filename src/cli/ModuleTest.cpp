#include "cli/ModuleTest.h"

#include "discharge/Sample.h"
#include "modbus/Formats.h"

#include <cmath>

namespace eload::cli {

namespace {

using namespace modbus;

TestEnd moduleEnd(discharge::EndReason reason)
{
    const QString key = discharge::endReasonKey(reason);
    const QString text = reason == discharge::EndReason::LoadOff
                             ? QStringLiteral("the module switching its load off")
                         : reason == discharge::EndReason::LineLost
                             ? QStringLiteral("the module no longer answering")
                             : QStringLiteral("the module's protection %1").arg(key.toUpper());
    return {reason, key, text};
}

} // namespace

std::optional<TestEnd> stopFor(const StopRules& rules, const Reading& r)
{
    if (rules.belowVolts && r.loadOn && r.voltage < *rules.belowVolts)
        return TestEnd{{},
                       QStringLiteral("stop-below"),
                       QStringLiteral("voltage %1 below %2")
                           .arg(voltageText(r.raw[RegVoltage]),
                                voltageText(hundredthsOfValue(*rules.belowVolts)))};
    if (rules.atAh && r.capacityAh >= *rules.atAh)
        return TestEnd{{},
                       QStringLiteral("stop-at-ah"),
                       QStringLiteral("capacity %1 reaching %2")
                           .arg(capacityText(registerPair(r.raw, RegCapacityHigh)),
                                capacityText(thousandthsOfValue(*rules.atAh)))};
    if (rules.atWh && r.energyWh >= *rules.atWh)
        return TestEnd{{},
                       QStringLiteral("stop-at-wh"),
                       QStringLiteral("energy %1 reaching %2")
                           .arg(energyText(registerPair(r.raw, RegEnergyHigh)),
                                energyText(thousandthsOfValue(*rules.atWh)))};
    return std::nullopt;
}

ModuleTest::ModuleTest(std::uint8_t address, Clock::time_point now)
    : address_(address), lastAnswer_(now)
{
}

std::optional<TestEnd> ModuleTest::take(const Reading& r, const StopRules& rules,
                                        QStringList& errors)
{
    last_ = r;
    lastAnswer_ = Clock::now();
    missedPolls_ = 0;
    files_.append(r, errors);
    using Change = discharge::TestModel::Change;
    const Change change = model_.take(discharge::sampleOf(r));
    if (state_ != State::Running) return std::nullopt;
    if (change == Change::Ended || (change == Change::Started && !model_.running()))
        return moduleEnd(model_.summary().end);
    return stopFor(rules, r);
}

std::optional<TestEnd> ModuleTest::missed(Clock::time_point now, bool lineDown)
{
    ++missedPolls_;
    if (state_ != State::Running) return std::nullopt;
    if (!lineDown && (missedPolls_ < kLostPolls || now - lastAnswer_ < kLostAfter))
        return std::nullopt;
    model_.lineEnded();
    return moduleEnd(discharge::EndReason::LineLost);
}

void ModuleTest::beginEnd(const TestEnd& end)
{
    end_ = end;
    state_ = State::Ending;
}

ModuleEnd ModuleTest::finish(std::optional<bool> loadOn, QStringList& errors)
{
    state_ = State::Ended;
    ModuleEnd m;
    m.address = address_;
    m.end = end_;
    m.summary = model_.summary();
    m.summary.end = end_.moduleReason;
    m.loadOnAtEnd = loadOn;
    m.files = files_.close(errors);
    return m;
}

} // namespace eload::cli
