#pragma once
// The figures of one discharge, as the chart and eload-cli show them, and
// why it ended.

#include "discharge/Sample.h"

#include <QString>
#include <vector>

namespace eload::discharge {

enum class EndReason {
    None,     // still running, or the end is not known
    Uvlo,     // the module's under-voltage lock-out (protection code 1)
    Opp,      // over-power (2)
    Otp,      // over-temperature (4)
    LoadOff,  // the load went off with no protection code
    LineLost, // the port closed or the line was lost
};

// "UVLO", "OPP", "OTP", "负载关闭", "通讯中断"; empty for None.
QString endReasonText(EndReason reason);
// "uvlo", "opp", "otp", "load-off", "line-lost", "" : for programs (eload-cli --json).
QString endReasonKey(EndReason reason);

struct Summary {
    qint64 startMsecs = 0; // PC time of the first sample
    qint64 endMsecs = 0;   // PC time of the last sample
    double durationSeconds = 0; // the module's discharge time at the last sample
    double capacityAh = 0;      // the module's count at the last sample
    double energyWh = 0;        // the module's count at the last sample
    double averageVoltage = 0;  // energy / capacity (the battery's mean voltage under load)
    double lowestVoltage = 0;   // lowest voltage while the load was on
    double averageCurrent = 0;  // capacity / duration
    double averagePower = 0;    // energy / duration
    EndReason end = EndReason::None;
    int samples = 0;
};

// Builds the summary sample by sample: constant time and memory per sample.
class SummaryBuilder {
public:
    void add(const Sample& s);
    void end(EndReason reason);
    Summary summary() const;
    bool empty() const;

private:
    Summary s_;
    bool anyLoadOn_ = false;
    double sumVoltage_ = 0, sumCurrent_ = 0, sumPower_ = 0; // over samples with the load on
    int loadOnSamples_ = 0;
};

// The summary of a whole recorded series (workbook, CSV), with its end reason
// found from the last samples the same way the live tracker finds it.
Summary summarize(const std::vector<Sample>& samples);

} // namespace eload::discharge
