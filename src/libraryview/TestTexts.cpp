#include "libraryview/TestTexts.h"

#include "library/Grading.h"

#include "modbus/Formats.h"

#include <QDateTime>
#include <QStringList>
#include <cmath>

namespace eload::libraryview {

using namespace library;

QString dateText(qint64 utcMsecs)
{
    return QDateTime::fromMSecsSinceEpoch(utcMsecs).toLocalTime().toString(
        QStringLiteral("yyyy-MM-dd HH:mm"));
}

QString stationText(const TestHeader& h)
{
    QStringList parts;
    if (!h.station.isEmpty()) parts << h.station;
    if (!h.port.isEmpty()) parts << h.port;
    if (h.address) parts << QStringLiteral("#%1").arg(*h.address);
    return parts.isEmpty() ? kNone : parts.join(QLatin1Char(' '));
}

QString capacityText(double ampereHours)
{
    return modbus::capacityText(modbus::thousandthsOfValue(ampereHours));
}

QString energyText(double wattHours)
{
    return modbus::energyText(modbus::thousandthsOfValue(wattHours));
}

QString durationText(double seconds) { return modbus::durationText(modbus::wholeOfValue(seconds)); }

QString voltageText(double volts) { return modbus::voltageText(modbus::hundredthsOfValue(volts)); }

QString resistanceText(const discharge::Summary& s)
{
    return s.resistanceMilliohm > 0 ? modbus::resistanceText(s.resistanceMilliohm) : kNone;
}

QString sohText(const std::optional<double>& soh)
{
    if (!soh || !std::isfinite(*soh)) return kNone;
    return QString::number(*soh * 100, 'f', 1) + QLatin1Char('%');
}

QString ratedText(const Cell& cell) { return cell.ratedAh ? capacityText(*cell.ratedAh) : kNone; }

QString endText(const TestRecord& r, qint64 nowMsecs)
{
    if (r.summary.end != discharge::EndReason::None) return discharge::endReasonText(r.summary.end);
    switch (r.state(nowMsecs)) {
    case TestState::Running: return QStringLiteral("放电中");
    case TestState::Unfinished: return QStringLiteral("未结束");
    case TestState::Finished: break;
    }
    return kNone;
}

QString flagsText(const TestRecord& r, qint64 nowMsecs)
{
    QStringList flags;
    if (r.summary.countsDisagree) flags << QStringLiteral("计数不符");
    if (r.summary.gaps > 0) flags << QStringLiteral("通讯间断 %1 次").arg(r.summary.gaps);
    if (r.state(nowMsecs) == TestState::Unfinished) flags << QStringLiteral("记录未完成");
    if (r.source) flags << QStringLiteral("导入");
    return flags.isEmpty() ? kNone : flags.join(QStringLiteral("，"));
}

QString presetText(const std::optional<double>& value, QString (*text)(std::uint16_t))
{
    return value ? text(modbus::hundredthsOfValue(*value)) : kNone;
}

QString presetsText(const Presets& p)
{
    return QStringLiteral("%1 / %2 / %3")
        .arg(presetText(p.currentA, modbus::currentText),
             presetText(p.cutoffV, modbus::voltageText), presetText(p.powerW, modbus::powerText));
}

QString gradeText(const QString& grade)
{
    if (grade.isEmpty()) return kNone;
    return grade == kRejectGrade ? QStringLiteral("不合格") : grade;
}

} // namespace eload::libraryview
