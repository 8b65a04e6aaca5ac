#pragma once
// The chart's data: the panel's readings cut into discharges by the tracker,
// the running discharge's curves, summary and samples, and the reference
// curves (earlier discharges of this session and recordings opened by the
// user). No widgets: it only appends and tells; the window draws when it likes.

#include "chart/SampleLog.h"
#include "discharge/Series.h"
#include "discharge/Summary.h"
#include "discharge/TestModel.h"
#include "modbus/ReadingSink.h"
#include "reader/RecordingFile.h"

#include <QObject>
#include <QString>
#include <optional>
#include <vector>

namespace eload::chart {

// The clock of the time view's x: the PC's steady clock (every reply where
// it came), or the module's own discharge time (whole seconds; it stands
// still while the load is off).
enum class TimeClock { Pc, Module };

// What the time view keeps. The optional curves are built from the samples
// when they are asked for and dropped when they are not, so that a curve no
// one looks at costs no memory.
struct TimeCurves {
    TimeClock clock = TimeClock::Pc;
    bool temperature = false;
    bool resistance = false;
    bool operator==(const TimeCurves&) const = default;
};

// A reply's own figures in its discharge: the module's counts less the
// discharge's base.
struct OwnFigures {
    double seconds = 0; // the module's discharge time
    double capacityAh = 0;
    double energyWh = 0;
};

// One discharge's curves: voltage, current and power (temperature and
// internal resistance when kept) over the seconds since its first sample on
// `kept.clock` (the steady one by default, so a step of the time of day
// moves nothing); voltage under load over the discharge's own capacity.
// Each curve keeps up to kMaxPoints (as many as the export's samples); past
// that its older half is merged, extremes kept: about 6.5 MB a curve at most.
struct DischargeCurves {
    static constexpr std::size_t kMaxPoints = SampleLog::kDefaultMaxRows;

    discharge::Series voltage{kMaxPoints}, current{kMaxPoints}, power{kMaxPoints},
        temperature{kMaxPoints}, resistance{kMaxPoints}, voltageOverCapacity{kMaxPoints};
    TimeCurves kept;
    qint64 firstMonotonicMsecs = 0;
    qint64 firstMsecs = 0; // wall clock, for names

    void begin(const discharge::Sample& first);
    // x of `s` on the time view.
    double timeOf(const discharge::Sample& s, const OwnFigures& own) const;
    void append(const discharge::Sample& s, const OwnFigures& own);
    // Empties the curves; what is kept stays.
    void clear();
};

// Replies that are not points of the running discharge's curves, and why:
// none is left out without being counted. (Points given up to keep memory
// bounded are counted by the series and the sample log themselves.)
struct Omitted {
    int idle = 0;    // between the end of a discharge and the start of the next
    int loadOff = 0; // of the discharge with the load off: on the time view, not the capacity view
};

// A curve laid over the voltage-over-capacity view for comparison, with its
// energy over the same capacity for the figures down to a cut-off voltage.
struct ReferenceCurve {
    QString name;
    discharge::Series voltageOverCapacity;
    discharge::Series energyOverCapacity;
    discharge::Summary summary;
    int colour = 0;       // palette index, kept for the curve's life
    bool earlier = false; // an earlier discharge of this session, not a file
};

// The presets the module reported with a reading (registers 13 to 15).
struct ModulePresets {
    double currentA = 0, cutoffV = 0, powerW = 0;
};

// The curve and summary of a recording read back.
ReferenceCurve referenceOf(const reader::RecordedCurve& recorded);

// Capacity and energy of a discharge down to its first reply under a cut-off
// voltage with the load on.
struct AtCutoff {
    double capacityAh = 0;
    double energyWh = 0;
};

// Whether `volts` as shown (hundredths) is under the cut-off.
bool underCutoff(double volts, double cutoffVolts);

// Of a reference: nothing when its curve never goes under `volts`.
std::optional<AtCutoff> atCutoff(const ReferenceCurve& r, double volts);

class DischargeFeed final : public QObject, public modbus::ReadingSink {
    Q_OBJECT
public:
    // Earlier discharges kept as references; the oldest goes first.
    static constexpr std::size_t kMaxEarlierDischarges = 4;

    // Six polls in a row without an answer (three seconds at the panel's
    // pace) end the discharge as a lost line, the port open or not.
    static constexpr discharge::TestModel::Silence kSilence{6, 0, 2};

    enum class Axis { Time, Capacity };

    DischargeFeed() : model_(kSilence) {}

    void takeReading(const modbus::Reading& reading) override;
    void replyMissed(qint64 monotonicMsecs) override;
    void lineEnded() override;
    void take(const discharge::Sample& s);

    const DischargeCurves& curves() const { return curves_; }
    // Rebuilds the time view's curves from the samples when the clock or
    // the optional curves change.
    void setTimeCurves(TimeCurves wanted);
    // Of the running discharge, and the idle replies since the last one began.
    const Omitted& omitted() const { return omitted_; }
    const SampleLog& samples() const { return samples_; }
    discharge::Summary summary() const { return model_.summary(); }
    bool running() const { return model_.running(); }
    // Of the last reading; nothing before one (or for samples of a file).
    const std::optional<ModulePresets>& presets() const { return presets_; }

    // Of a sample of the running (or last) discharge.
    OwnFigures own(const discharge::Sample& s) const;
    double xOf(Axis axis, const discharge::Sample& s) const;
    // The sample nearest to `x` on the axis; on the capacity axis one with the
    // load on, the first to reach that capacity on a tie. Nothing without one.
    std::optional<discharge::Sample> sampleNear(Axis axis, double x) const;

    // The cut-off voltage for atCutoff(); nothing: none.
    void setCutoff(std::optional<double> volts);
    std::optional<double> cutoff() const { return cutoff_; }
    // Of the running discharge: nothing before a reply under the cut-off.
    const std::optional<AtCutoff>& atCutoff() const { return atCutoff_; }

    const std::vector<ReferenceCurve>& references() const { return references_; }
    void addReference(ReferenceCurve curve);
    void removeReference(std::size_t index);

Q_SIGNALS:
    void started(); // a new discharge: the curves begin again
    void changed(); // the running discharge's curves or summary
    void referencesChanged();
    // For a recorder of tests, in this order: a discharge began with
    // `first`; each of its replies, the first and the last too; its end,
    // with the model's final figures (also when the next one starts at once).
    void dischargeBegan(const discharge::Sample& first);
    void replyAdded(const discharge::Sample& s);
    void dischargeEnded(const discharge::Summary& figures);

private:
    void keepAsReference();
    void dropOldestEarlier();
    void noteCutoff(const discharge::Sample& s);
    // Tells the end of the announced discharge once the model has ended it.
    void tellEnd();

    discharge::TestModel model_;
    DischargeCurves curves_;
    Omitted omitted_;
    SampleLog samples_;
    double baseEnergyWh_ = 0; // the running discharge's, as the model set it
    std::optional<double> cutoff_;
    std::optional<AtCutoff> atCutoff_;
    std::vector<ReferenceCurve> references_;
    int nextColour_ = 0;
    int discharges_ = 0;
    std::optional<ModulePresets> presets_;
    bool announced_ = false; // dischargeBegan told, dischargeEnded not yet
};

} // namespace eload::chart
