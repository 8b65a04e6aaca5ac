#include "cli/ModuleTest.h"

#include "discharge/Sample.h"
#include "modbus/Formats.h"

#include <cmath>

namespace eload::cli {

namespace {

using namespace modbus;
using Change = discharge::TestModel::Change;

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

QString protectionNote(const Reading& r)
{
    const std::optional<QString> text = protectionText(r.protection);
    if (r.protection == ProtectionNone || !text) return {};
    return QStringLiteral(" (protection %1)").arg(text->trimmed());
}

} // namespace

ModuleTest::ModuleTest(std::uint8_t address, discharge::TestModel::Silence silence)
    : address_(address), silence_(silence), model_(silence)
{
}

std::optional<TestEnd> ModuleTest::take(const Reading& r, const StopRules& rules,
                                        QStringList& errors)
{
    last_ = r;
    files_.append(r, errors, model_.silentPolls() >= silence_.gapPolls);
    const bool wasRunning = model_.running();
    const Change change = model_.take(discharge::sampleOf(r));
    // Ending, the switch-off's reply still counts in the discharge; a new
    // one starting then is not this watch's test.
    if (record_ && (state_ == State::Running || change != Change::Started))
        record_->taken(r, change, wasRunning || change == Change::Started, model_);
    if (state_ != State::Running) return std::nullopt;
    if (auto end = modelEnd(change)) return end;
    if (auto end = switchOnEnd(r)) return end;
    return ruleEnd(r, rules);
}

std::optional<TestEnd> ModuleTest::missed(qint64 monotonicMsecs)
{
    const Change change = model_.missed(monotonicMsecs);
    if (record_) record_->missed(model_);
    if (state_ != State::Running) return std::nullopt;
    return modelEnd(change);
}

// The discharge the watch follows ended with this reply (or ended at once
// when it started: see TestModel::Change).
std::optional<TestEnd> ModuleTest::modelEnd(Change change) const
{
    if (change == Change::Ended || (change == Change::Started && !model_.running()))
        return moduleEnd(model_.summary().end);
    return std::nullopt;
}

std::optional<TestEnd> ModuleTest::switchOnEnd(const Reading& r)
{
    if (repliesAwaitingOn_ < 0) return std::nullopt;
    if (r.loadOn) {
        repliesAwaitingOn_ = -1;
        return std::nullopt;
    }
    if (++repliesAwaitingOn_ < kSwitchOnReplies) return std::nullopt;
    return TestEnd{
        {},
        QStringLiteral("load-not-on"),
        QStringLiteral("the load not coming on after switching it on%1").arg(protectionNote(r))};
}

// --stop-below on the polled voltage under load; --stop-at-ah and
// --stop-at-wh on the discharge's own figures, as the model counts them.
std::optional<TestEnd> ModuleTest::ruleEnd(const Reading& r, const StopRules& rules)
{
    const bool below = rules.belowVolts && r.loadOn && r.voltage < *rules.belowVolts;
    repliesBelow_ = below ? repliesBelow_ + 1 : 0;
    if (repliesBelow_ >= kStopBelowReplies)
        return TestEnd{{},
                       QStringLiteral("stop-below"),
                       QStringLiteral("voltage %1 below %2")
                           .arg(voltageText(r.raw[RegVoltage]),
                                voltageText(hundredthsOfValue(*rules.belowVolts)))};
    if (!model_.running() || (!rules.atAh && !rules.atWh)) return std::nullopt;
    const discharge::Summary own = model_.summary();
    if (rules.atAh && own.capacityAh >= *rules.atAh)
        return TestEnd{{},
                       QStringLiteral("stop-at-ah"),
                       QStringLiteral("capacity %1 reaching %2")
                           .arg(capacityText(thousandthsOfValue(own.capacityAh)),
                                capacityText(thousandthsOfValue(*rules.atAh)))};
    if (rules.atWh && own.energyWh >= *rules.atWh)
        return TestEnd{{},
                       QStringLiteral("stop-at-wh"),
                       QStringLiteral("energy %1 reaching %2")
                           .arg(energyText(thousandthsOfValue(own.energyWh)),
                                energyText(thousandthsOfValue(*rules.atWh)))};
    return std::nullopt;
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
    if (record_) {
        record_->finish(m.summary);
        m.records = record_->tests();
    }
    return m;
}

} // namespace eload::cli
