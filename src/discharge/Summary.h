#pragma once
// The figures of one discharge, as the chart, eload-cli and the test library
// show and keep them, and why it ended. TestModel produces them; nothing
// else computes them.

#include "discharge/Sample.h"

#include <QString>
#include <QStringList>

namespace eload::discharge {

enum class EndReason {
    None,     // still running, or the end is not known
    Uvlo,     // the module's under-voltage lock-out (protection code 1)
    Opp,      // over-power (2)
    Otp,      // over-temperature (4)
    LoadOff,  // the load went off with no protection code
    LineLost, // the port closed, the line was lost or the module stayed silent
};

// "UVLO", "OPP", "OTP", "负载关闭", "通讯中断"; empty for None.
QString endReasonText(EndReason reason);
// "uvlo", "opp", "otp", "load-off", "line-lost", "" : for programs (eload-cli --json).
QString endReasonKey(EndReason reason);
// The end reason a protection code stands for; None for 0 and for codes without a meaning.
EndReason endReasonOfProtection(std::uint16_t code);

struct Summary {
    qint64 startMsecs = 0; // wall clock of the first sample
    qint64 endMsecs = 0;   // wall clock of the last sample
    qint64 startMonotonicMsecs = 0, endMonotonicMsecs = 0;

    // The discharge's own figures: the module's counts at the last sample
    // less the counts it had when the discharge began (its integration stays
    // the authority for accuracy; only the part before is taken off).
    double durationSeconds = 0;
    double capacityAh = 0;
    double energyWh = 0;
    // The counts the figures are measured from: the reply before the first
    // one, or zero after the module was cleared, or the first reply's own
    // when nothing came before.
    double baseCapacityAh = 0, baseEnergyWh = 0, baseSeconds = 0;

    double averageVoltage = 0; // energy / capacity (the battery's mean voltage under load)
    double lowestVoltage = 0;  // lowest voltage while the load was on; 0 if it never was
    double averageCurrent = 0; // capacity / duration
    double averagePower = 0;   // energy / duration
    // With no count or time yet, or with countsDisagree, the means are those
    // of the polled values with the load on instead.
    std::uint16_t highestTemperatureC = 0;
    std::uint16_t resistanceMilliohm = 0; // as the module last reported it with the load on

    // The module's counts do not fit what was polled (a mean outside the
    // range of the polled values, energy that does not grow while current
    // flows): the figures are shown with a mark, the means are the polled ones.
    bool countsDisagree = false;
    // Stretches with no answer that the discharge rode through, their total
    // length, and every poll left unanswered during the discharge.
    int gaps = 0;
    double gapSeconds = 0;
    int missedPolls = 0;

    EndReason end = EndReason::None;
    int samples = 0;
    int loadOnSamples = 0; // 0: the load was never on (an idle stretch, no discharge to speak of)

    // "counts-disagree", "gaps": for programs.
    QStringList flagKeys() const;
};

} // namespace eload::discharge
