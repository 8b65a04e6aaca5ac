#pragma once
// A test's record as the window and its report show it: the panel's
// patterns and units ("2.512AH", "02:11:05"), Chinese words, "—" for what
// is not known.

#include "library/TestRecord.h"

#include <QString>

namespace eload::libraryview {

inline const QString kNone = QStringLiteral("—");

QString dateText(qint64 utcMsecs);                 // local time, "2026-03-05 14:00"
QString stationText(const library::TestHeader& h); // "bench-1 /dev/ttyUSB0 #1"
QString capacityText(double ampereHours);
QString energyText(double wattHours);
QString durationText(double seconds);
QString voltageText(double volts);
QString resistanceText(const discharge::Summary& s); // "45mΩ", or "—" when not reported
QString sohText(const std::optional<double>& soh);   // "93.8%"
QString ratedText(const library::Cell& cell);
QString endText(const library::TestRecord& r, qint64 nowMsecs);
// Whatever should make a reader doubt the figures or the record: counts that
// disagree, gaps in the line, a test still running or never finished, an import.
QString flagsText(const library::TestRecord& r, qint64 nowMsecs);
// One preset in the panel's pattern (modbus::currentText ...), "—" when not known.
QString presetText(const std::optional<double>& value, QString (*text)(std::uint16_t));
QString presetsText(const library::Presets& p); // "1.00A / 2.80V / 150.00W"
QString gradeText(const QString& grade);        // "不合格" for reject, "—" for none

} // namespace eload::libraryview
