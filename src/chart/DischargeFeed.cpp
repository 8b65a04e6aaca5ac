#include "chart/DischargeFeed.h"

#include <QDateTime>
#include <algorithm>
#include <utility>

namespace eload::chart {

void DischargeCurves::append(const discharge::Sample& s)
{
    if (voltage.empty()) firstMsecs = s.msecs;
    const double t = double(s.msecs - firstMsecs) / 1000.0;
    voltage.append(t, s.voltage);
    current.append(t, s.current);
    power.append(t, s.power);
    // The discharge curve is the voltage under load; an idle battery's rises again.
    if (s.loadOn) voltageOverCapacity.append(s.capacityAh, s.voltage);
}

void DischargeCurves::clear()
{
    voltage.clear();
    current.clear();
    power.clear();
    voltageOverCapacity.clear();
    firstMsecs = 0;
}

// A recording may hold several discharges: the curve is the one its summary is of.
ReferenceCurve referenceOf(const reader::RecordedCurve& recorded)
{
    ReferenceCurve r;
    r.name = recorded.name;
    r.summary = reader::summarize(recorded);
    for (const discharge::Sample& s : recorded.samples)
        if (s.loadOn && s.msecs >= r.summary.startMsecs && s.msecs <= r.summary.endMsecs)
            r.voltageOverCapacity.append(s.capacityAh, s.voltage);
    return r;
}

void DischargeFeed::takeReading(const modbus::Reading& reading)
{
    take(discharge::sampleOf(reading));
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
        ++discharges_;
        Q_EMIT started();
    }
    // Readings between an end and the next start belong to no discharge.
    if (change == Change::None && !model_.running()) return;
    curves_.append(s);
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
