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
// The end reason a protection code stands for; None for 0 and for codes without a meaning.
EndReason endReasonOfProtection(std::uint16_t code);

struct Summary {
    qint64 startMsecs = 0;      // PC time of the first sample
    qint64 endMsecs = 0;        // PC time of the last sample
    double durationSeconds = 0; // the module's discharge time at the last sample
    double capacityAh = 0;      // the module's count at the last sample
    double energyWh = 0;        // the module's count at the last sample
    double averageVoltage = 0;  // energy / capacity (the battery's mean voltage under load);
                                // with no capacity yet, the mean of the load-on samples
    double lowestVoltage = 0;   // lowest voltage while the load was on; 0 if it never was
    double averageCurrent = 0;  // capacity / duration; with no duration yet, the load-on mean
    double averagePower = 0;    // energy / duration; with no duration yet, the load-on mean
    EndReason end = EndReason::None;
    int samples = 0;
    int loadOnSamples = 0; // 0: the load was never on (an idle stretch, no discharge to speak of)
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

// Each discharge of a recorded series (workbook, CSV), cut and ended the same
// way the live Tracker does it; at the end of the data a load-off that waits
// for its protection code counts as LoadOff. `hasStatus` false (a workbook,
// which holds no protection code): every end reason is None, since the cause
// cannot be told; the load counts as on while the current is above zero.
std::vector<Summary> summarizeEach(const std::vector<Sample>& samples, bool hasStatus = true);
// The last of those in which the load was on (else the last one; an empty
// Summary for no samples): what a report of the recording shows.
Summary summarize(const std::vector<Sample>& samples, bool hasStatus = true);

} // namespace eload::discharge
