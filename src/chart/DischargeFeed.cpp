#include "chart/DischargeFeed.h"

#include "chart/CurveValues.h"

#include <QDateTime>
#include <algorithm>
#include <array>
#include <cmath>
#include <utility>

namespace eload::chart {

namespace {

// A curve of the time view: which member, its value, and whether it is optional.
struct TimeSeries {
    discharge::Series DischargeCurves::*series;
    float (*value)(const discharge::Sample&);
    bool TimeCurves::*optional; // null: always kept
};

const std::array<TimeSeries, 5>& timeSeries()
{
    using S = discharge::Sample;
    static const std::array<TimeSeries, 5> list{{
        {&DischargeCurves::voltage, [](const S& s) { return s.voltage; }, nullptr},
        {&DischargeCurves::current, [](const S& s) { return s.current; }, nullptr},
        {&DischargeCurves::power, [](const S& s) { return s.power; }, nullptr},
        {&DischargeCurves::temperature, [](const S& s) { return float(s.temperatureC); },
         &TimeCurves::temperature},
        {&DischargeCurves::resistance, [](const S& s) { return float(s.resistanceMilliohm); },
         &TimeCurves::resistance},
    }};
    return list;
}

bool kept(const TimeSeries& t, const TimeCurves& curves)
{
    return t.optional == nullptr || curves.*t.optional;
}

int hundredths(double volts) { return int(std::lround(volts * 100)); }

} // namespace

void DischargeCurves::begin(const discharge::Sample& first)
{
    firstMonotonicMsecs = first.monotonicMsecs;
    firstMsecs = first.msecs;
}

double DischargeCurves::timeOf(const discharge::Sample& s, const OwnFigures& own) const
{
    if (kept.clock == TimeClock::Module) return own.seconds;
    return double(s.monotonicMsecs - firstMonotonicMsecs) / 1000.0;
}

void DischargeCurves::append(const discharge::Sample& s, const OwnFigures& own)
{
    const double t = timeOf(s, own);
    for (const TimeSeries& c : timeSeries())
        if (chart::kept(c, kept)) (this->*c.series).append(t, c.value(s));
    // The discharge curve is the voltage under load; an idle battery's rises again.
    if (s.loadOn) voltageOverCapacity.append(own.capacityAh, s.voltage);
}

void DischargeCurves::clear()
{
    for (const TimeSeries& c : timeSeries())
        (this->*c.series).clear();
    voltageOverCapacity.clear();
    firstMonotonicMsecs = firstMsecs = 0;
}

bool underCutoff(double volts, double cutoffVolts)
{
    return hundredths(volts) < hundredths(cutoffVolts);
}

std::optional<AtCutoff> atCutoff(const ReferenceCurve& r, double volts)
{
    const std::optional<QPointF> first = firstUnder(r.voltageOverCapacity, volts, underCutoff);
    if (!first) return std::nullopt;
    return AtCutoff{first->x(), valueAt(r.energyOverCapacity, first->x()).value_or(0)};
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
        if (!s.loadOn) continue;
        const double capacity = s.capacityAh - r.summary.baseCapacityAh;
        r.voltageOverCapacity.append(capacity, s.voltage);
        r.energyOverCapacity.append(capacity, s.energyWh - r.summary.baseEnergyWh);
    }
    return r;
}

void DischargeFeed::takeReading(const modbus::Reading& reading)
{
    presets_ = ModulePresets{reading.currentPreset, reading.cutoffPreset, reading.powerPreset};
    take(discharge::sampleOf(reading));
}

void DischargeFeed::replyMissed(qint64 monotonicMsecs)
{
    if (model_.missed(monotonicMsecs) == discharge::TestModel::Change::None) return;
    tellEnd();
    Q_EMIT changed();
}

void DischargeFeed::lineEnded()
{
    if (model_.lineEnded() == discharge::TestModel::Change::None) return;
    tellEnd();
    Q_EMIT changed();
}

void DischargeFeed::tellEnd()
{
    if (!announced_ || model_.running()) return;
    announced_ = false;
    Q_EMIT dischargeEnded(model_.summary());
}

void DischargeFeed::take(const discharge::Sample& s)
{
    using Change = discharge::TestModel::Change;
    const Change change = model_.take(s);
    if (change == Change::Started) {
        if (std::exchange(announced_, false))
            Q_EMIT dischargeEnded(model_.previous().value_or(discharge::Summary{}));
        keepAsReference();
        curves_.clear();
        curves_.begin(s);
        baseEnergyWh_ = model_.summary().baseEnergyWh;
        samples_.clear();
        omitted_ = {};
        atCutoff_.reset();
        ++discharges_;
        announced_ = true;
        Q_EMIT started();
        Q_EMIT dischargeBegan(s);
    }
    // Replies between an end and the next start belong to no discharge.
    if (change == Change::None && !model_.running()) {
        ++omitted_.idle;
        return;
    }
    if (!s.loadOn) ++omitted_.loadOff;
    curves_.append(s, own(s));
    samples_.append(s);
    noteCutoff(s);
    Q_EMIT replyAdded(s);
    tellEnd();
    Q_EMIT changed();
}

OwnFigures DischargeFeed::own(const discharge::Sample& s) const
{
    return {model_.ownSeconds(s), model_.ownCapacity(s), s.energyWh - baseEnergyWh_};
}

double DischargeFeed::xOf(Axis axis, const discharge::Sample& s) const
{
    return axis == Axis::Time ? curves_.timeOf(s, own(s)) : own(s).capacityAh;
}

std::optional<discharge::Sample> DischargeFeed::sampleNear(Axis axis, double x) const
{
    const std::vector<discharge::Sample>& rows = samples_.rows();
    const bool capacity = axis == Axis::Capacity;
    const auto counts = [&](std::size_t i) { return !capacity || rows[i].loadOn; };
    // Both keys grow with the rows (a fall of the count starts a new discharge).
    const auto at = std::partition_point(rows.begin(), rows.end(),
                                         [&](const auto& s) { return xOf(axis, s) < x; });
    std::optional<std::size_t> best;
    double bestDistance = 0;
    const auto consider = [&](std::size_t i) {
        const double d = std::abs(xOf(axis, rows[i]) - x);
        if (!best || d < bestDistance) {
            best = i;
            bestDistance = d;
        }
    };
    const auto first = std::size_t(at - rows.begin());
    for (std::size_t i = first; i < rows.size(); ++i)
        if (counts(i)) {
            consider(i);
            break;
        }
    for (std::size_t i = first; i-- > 0;)
        if (counts(i)) {
            consider(i);
            break;
        }
    if (!best) return std::nullopt;
    // On a tie the earlier reply: the first to reach that x.
    std::size_t i = *best;
    while (i > 0 && counts(i - 1) && xOf(axis, rows[i - 1]) == xOf(axis, rows[i]))
        --i;
    return rows[i];
}

void DischargeFeed::setTimeCurves(TimeCurves wanted)
{
    const TimeCurves was = curves_.kept;
    if (wanted == was) return;
    curves_.kept = wanted;
    for (const TimeSeries& c : timeSeries()) {
        discharge::Series& series = curves_.*c.series;
        if (kept(c, wanted) && kept(c, was) && wanted.clock == was.clock) continue;
        series.clear();
        if (!kept(c, wanted)) continue;
        for (const discharge::Sample& s : samples_.rows())
            series.append(curves_.timeOf(s, own(s)), c.value(s));
    }
    Q_EMIT changed();
}

void DischargeFeed::setCutoff(std::optional<double> volts)
{
    cutoff_ = volts;
    atCutoff_.reset();
    for (const discharge::Sample& s : samples_.rows()) {
        if (atCutoff_) break;
        noteCutoff(s);
    }
    Q_EMIT changed();
}

void DischargeFeed::noteCutoff(const discharge::Sample& s)
{
    if (!cutoff_ || atCutoff_ || !s.loadOn || !underCutoff(s.voltage, *cutoff_)) return;
    const OwnFigures o = own(s);
    atCutoff_ = AtCutoff{o.capacityAh, o.energyWh};
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
    // The model has begun the next discharge: the ended one's base is in its summary.
    r.summary = model_.previous().value_or(discharge::Summary{});
    for (const discharge::Sample& s : samples_.rows())
        if (s.loadOn)
            r.energyOverCapacity.append(s.capacityAh - r.summary.baseCapacityAh,
                                        s.energyWh - r.summary.baseEnergyWh);
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
