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
#include <vector>

namespace eload::chart {

// One discharge's curves: voltage, current and power over the seconds since
// its first sample (on the steady clock, so a step of the time of day moves
// nothing); voltage under load over the discharge's own capacity.
// Each curve keeps up to kMaxPoints (as many as the export's samples); past
// that its older half is merged, extremes kept: about 6.5 MB a curve at most.
struct DischargeCurves {
    static constexpr std::size_t kMaxPoints = SampleLog::kDefaultMaxRows;

    discharge::Series voltage{kMaxPoints}, current{kMaxPoints}, power{kMaxPoints},
        voltageOverCapacity{kMaxPoints};
    qint64 firstMonotonicMsecs = 0;
    qint64 firstMsecs = 0; // wall clock, for names

    // `ownCapacityAh`: the discharge's own capacity at `s` (the model's).
    void append(const discharge::Sample& s, double ownCapacityAh);
    void clear();
};

// Replies that are not points of the running discharge's curves, and why:
// none is left out without being counted. (Points given up to keep memory
// bounded are counted by the series and the sample log themselves.)
struct Omitted {
    int idle = 0;    // between the end of a discharge and the start of the next
    int loadOff = 0; // of the discharge with the load off: on the time view, not the capacity view
};

// A curve laid over the voltage-over-capacity view for comparison.
struct ReferenceCurve {
    QString name;
    discharge::Series voltageOverCapacity;
    discharge::Summary summary;
    int colour = 0;       // palette index, kept for the curve's life
    bool earlier = false; // an earlier discharge of this session, not a file
};

// The curve and summary of a recording read back.
ReferenceCurve referenceOf(const reader::RecordedCurve& recorded);

class DischargeFeed final : public QObject, public modbus::ReadingSink {
    Q_OBJECT
public:
    // Earlier discharges kept as references; the oldest goes first.
    static constexpr std::size_t kMaxEarlierDischarges = 4;

    // Six polls in a row without an answer (three seconds at the panel's
    // pace) end the discharge as a lost line, the port open or not.
    static constexpr discharge::TestModel::Silence kSilence{6, 0, 2};

    DischargeFeed() : model_(kSilence) {}

    void takeReading(const modbus::Reading& reading) override;
    void replyMissed(qint64 monotonicMsecs) override;
    void lineEnded() override;
    void take(const discharge::Sample& s);

    const DischargeCurves& curves() const { return curves_; }
    // Of the running discharge, and the idle replies since the last one began.
    const Omitted& omitted() const { return omitted_; }
    const SampleLog& samples() const { return samples_; }
    discharge::Summary summary() const { return model_.summary(); }
    bool running() const { return model_.running(); }

    const std::vector<ReferenceCurve>& references() const { return references_; }
    void addReference(ReferenceCurve curve);
    void removeReference(std::size_t index);

Q_SIGNALS:
    void started(); // a new discharge: the curves begin again
    void changed(); // the running discharge's curves or summary
    void referencesChanged();

private:
    void keepAsReference();
    void dropOldestEarlier();

    discharge::TestModel model_;
    DischargeCurves curves_;
    Omitted omitted_;
    SampleLog samples_;
    std::vector<ReferenceCurve> references_;
    int nextColour_ = 0;
    int discharges_ = 0;
};

} // namespace eload::chart
