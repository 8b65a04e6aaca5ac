#include "chart/DischargeFeed.h"

#include <QDateTime>
#include <algorithm>
#include <utility>

namespace eload::chart {

void DischargeCurves::append(const discharge::Sample& s, double ownCapacityAh)
{
    if (voltage.empty()) {
        firstMonotonicMsecs = s.monotonicMsecs;
        firstMsecs = s.msecs;
    }
    const double t = double(s.monotonicMsecs - firstMonotonicMsecs) / 1000.0;
    voltage.append(t, s.voltage);
    current.append(t, s.current);
    power.append(t, s.power);
    // The discharge curve is the voltage under load; an idle battery's rises again.
    if (s.loadOn) voltageOverCapacity.append(ownCapacityAh, s.voltage);
}

void DischargeCurves::clear()
{
    voltage.clear();
    current.clear();
    power.clear();
    voltageOverCapacity.clear();
    firstMonotonicMsecs = firstMsecs = 0;
}

// A recording may hold several discharges: the curve is the one its summary
// is of, over its own capacity.
ReferenceCurve referenceOf(const reader::RecordedCurve& recorded)
{
    ReferenceCurve r;
    r.name = recorded.name;
    const std::vector<discharge::RecordedDischarge> each =
        discharge::dischargesOf(recorded.samples, recorded.hasStatus);
    auto shown = std::find_if(each.rbegin(), each.rend(),
                              [](const auto& d) { return d.summary.loadOnSamples > 0; });
    if (shown == each.rend()) shown = each.rbegin();
    if (shown == each.rend()) return r;
    r.summary = shown->summary;
    for (std::size_t i = shown->first; i <= shown->last; ++i) {
        const discharge::Sample& s = recorded.samples[i];
        if (s.loadOn)
            r.voltageOverCapacity.append(s.capacityAh - r.summary.baseCapacityAh, s.voltage);
    }
    return r;
}

void DischargeFeed::takeReading(const modbus::Reading& reading)
{
    take(discharge::sampleOf(reading));
}

void DischargeFeed::replyMissed(qint64 monotonicMsecs)
{
    if (model_.missed(monotonicMsecs) != discharge::TestModel::Change::None) Q_EMIT changed();
}

void DischargeFeed::lineEnded()
{
    if (model_.lineEnded() != discharge::TestModel::Change::None) Q_EMIT changed();
}

void DischargeFeed::take(const discharge::Sample& s)
{
    using Change = discharge::TestModel::Change;
    const Change change = model_.take(s);
    if (change == Change::Started) {
        keepAsReference();
        curves_.clear();
        samples_.clear();
        omitted_ = {};
        ++discharges_;
        Q_EMIT started();
    }
    // Replies between an end and the next start belong to no discharge.
    if (change == Change::None && !model_.running()) {
        ++omitted_.idle;
        return;
    }
    if (!s.loadOn) ++omitted_.loadOff;
    curves_.append(s, model_.ownCapacity(s));
    samples_.append(s);
    Q_EMIT changed();
}

// The discharge that just ended stays on the capacity view for comparison.
void DischargeFeed::keepAsReference()
{
    if (curves_.voltageOverCapacity.empty()) return;
    ReferenceCurve r;
    r.name = QStringLiteral("第 %1 次放电 (%2)")
                 .arg(discharges_)
                 .arg(QDateTime::fromMSecsSinceEpoch(curves_.firstMsecs)
                          .toString(QStringLiteral("HH:mm:ss")));
    r.voltageOverCapacity =
        std::exchange(curves_.voltageOverCapacity, discharge::Series{DischargeCurves::kMaxPoints});
    r.summary = model_.previous().value_or(discharge::Summary{});
    r.earlier = true;
    addReference(std::move(r));
    dropOldestEarlier();
}

void DischargeFeed::dropOldestEarlier()
{
    const auto earlier = std::count_if(references_.begin(), references_.end(),
                                       [](const ReferenceCurve& r) { return r.earlier; });
    if (std::size_t(earlier) <= kMaxEarlierDischarges) return;
    references_.erase(std::find_if(references_.begin(), references_.end(),
                                   [](const ReferenceCurve& r) { return r.earlier; }));
    Q_EMIT referencesChanged();
}

void DischargeFeed::addReference(ReferenceCurve curve)
{
    curve.colour = nextColour_++;
    references_.push_back(std::move(curve));
    Q_EMIT referencesChanged();
}

void DischargeFeed::removeReference(std::size_t index)
{
    if (index >= references_.size()) return;
    references_.erase(references_.begin() + std::ptrdiff_t(index));
    Q_EMIT referencesChanged();
}

} // namespace eload::chart
