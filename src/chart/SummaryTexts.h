#pragma once
// The discharge's figures as texts, with the panel's patterns and units
// ("12.34V", "2.200AH", "02:11:05"), for the summary, the reference table
// and the hover read-out.

#include "discharge/Summary.h"

#include <QString>

namespace eload::chart {

QString voltageOf(double volts);
QString currentOf(double amperes);
QString powerOf(double watts);
QString capacityOf(double ampereHours);
QString energyOf(double wattHours);
QString durationOf(double seconds);
QString temperatureOf(double celsius);
QString resistanceOf(double milliohm);
// A difference in the pattern of `text`, with "-" before it when negative
// ("-0.60V"); the patterns themselves have no sign.
QString differenceOf(double value, QString (*text)(double));

struct SummaryTexts {
    QString duration, capacity, energy, averageVoltage, lowestVoltage, averageCurrent, averagePower,
        end;
    // What to know before trusting the figures: counts that disagree with the
    // polled values (the capacity and energy then carry a mark "*"), gaps in
    // the line; "—" when there is nothing.
    QString notes;
};

// `running`: the discharge has not ended; its end reads "放电中".
SummaryTexts summaryTexts(const discharge::Summary& s, bool running);

} // namespace eload::chart
