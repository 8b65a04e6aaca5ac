#include "modbus/Formats.h"

#include <QLocale>
#include <QRegularExpression>
#include <array>
#include <cmath>
#include <limits>

namespace eload::modbus {

namespace {

bool allDigits(const QString& s)
{
    for (QChar c : s)
        if (c < u'0' || c > u'9') return false;
    return true;
}

} // namespace

QString formatHundredths(std::uint32_t v)
{
    return QStringLiteral("%1.%2").arg(v / 100).arg(v % 100, 2, 10, QLatin1Char('0'));
}

QString formatThousandths(std::uint64_t c)
{
    return QStringLiteral("%1.%2").arg(c / 1000).arg(c % 1000, 3, 10, QLatin1Char('0'));
}

QString formatTwoDigits(std::uint32_t v)
{
    return QStringLiteral("%1").arg(v, 2, 10, QLatin1Char('0'));
}

QString currentText(std::uint16_t v) { return formatHundredths(v) + u'A'; }
QString voltageText(std::uint16_t v) { return formatHundredths(v) + u'V'; }
QString powerText(std::uint16_t v) { return formatHundredths(v) + u'W'; }
QString capacityText(std::uint64_t c) { return formatThousandths(c) + QStringLiteral("AH"); }
QString energyText(std::uint64_t c) { return formatThousandths(c) + QStringLiteral("WH"); }
QString resistanceText(std::uint16_t v) { return QString::number(v) + QStringLiteral("MR"); }
QString temperatureText(std::uint16_t v) { return QString::number(v) + QStringLiteral("℃"); }

QString dischargeTimeText(std::uint16_t h, std::uint16_t m, std::uint16_t s)
{
    return formatTwoDigits(h) + u':' + formatTwoDigits(m) + u':' + formatTwoDigits(s);
}

QString durationText(std::uint32_t seconds)
{
    return formatTwoDigits(seconds / 3600) + u':' + formatTwoDigits(seconds / 60 % 60) + u':' +
           formatTwoDigits(seconds % 60);
}

namespace {

// The nearest count of 1/`per` in `value`, saturated to T's range.
template <typename T> T saturatingCount(double value, double per)
{
    const double count = std::round(value * per);
    if (!(count > 0)) return 0; // negative or NaN
    // The largest T as a double may round up past it: compare with >=.
    if (count >= double(std::numeric_limits<T>::max())) return std::numeric_limits<T>::max();
    return T(count);
}

} // namespace

std::uint16_t hundredthsOfValue(double value) { return saturatingCount<std::uint16_t>(value, 100); }
std::uint64_t thousandthsOfValue(double value)
{
    return saturatingCount<std::uint64_t>(value, 1000);
}
std::uint32_t wholeOfValue(double value) { return saturatingCount<std::uint32_t>(value, 1); }

// A code, not a mask; codes without a text leave the last one standing.
std::optional<QString> protectionText(std::uint16_t code)
{
    switch (code) {
    case 0: return QStringLiteral("    ");
    case 1: return QStringLiteral("UVLO");
    case 2: return QStringLiteral(" OPP");
    case 4: return QStringLiteral(" OTP");
    default: return std::nullopt;
    }
}

std::optional<int> baudOfCode(std::uint16_t code)
{
    static constexpr std::array<int, 6> rates{4800, 9600, 19200, 38400, 57600, 115200};
    if (code >= rates.size()) return std::nullopt;
    return rates[code];
}

} // namespace eload::modbus

namespace eload::modbus {

namespace {

// Digits with an optional fraction: the shape of every number the texts hold.
std::optional<double> plainNumber(QStringView text)
{
    static const QRegularExpression shape(QStringLiteral("^-?[0-9]{1,10}(\\.[0-9]{1,6})?$"));
    if (!shape.match(text).hasMatch()) return std::nullopt;
    return QLocale::c().toDouble(text);
}

} // namespace

std::optional<double> valueOfText(QStringView text, QStringView unit)
{
    const QStringView t = text.trimmed();
    if (unit.isEmpty() || !t.endsWith(unit)) return std::nullopt;
    return plainNumber(t.chopped(unit.size()));
}

std::optional<int> secondsOfDischargeTimeText(QStringView text)
{
    static const QRegularExpression shape(
        QStringLiteral("^\\s*([0-9]{1,5}):([0-5][0-9]):([0-5][0-9])\\s*$"));
    const QRegularExpressionMatch m = shape.match(text);
    if (!m.hasMatch()) return std::nullopt;
    return m.capturedView(1).toInt() * 3600 + m.capturedView(2).toInt() * 60 +
           m.capturedView(3).toInt();
}

std::optional<std::pair<QDate, QTime>> wallClockOfRowText(QStringView text)
{
    static const QRegularExpression shape(
        QStringLiteral("^\\s*([0-9]{4})-([0-9]{2})-([0-9]{2}) "
                       "([0-9]{2})(?:时:|:)([0-9]{2})(?:分:|:)([0-9]{2})秒?\\s*$"));
    const QRegularExpressionMatch m = shape.match(text);
    if (!m.hasMatch()) return std::nullopt;
    const auto n = [&](int i) { return m.capturedView(i).toInt(); };
    const QDate date(n(1), n(2), n(3));
    const QTime time(n(4), n(5), n(6));
    if (!date.isValid() || !time.isValid()) return std::nullopt;
    return std::pair{date, time};
}

std::optional<QDateTime> timeOfRowText(QStringView text)
{
    const auto clock = wallClockOfRowText(text);
    if (!clock) return std::nullopt;
    return QDateTime(clock->first, clock->second);
}

std::optional<double> hundredthsOf(const QString& text)
{
    const QString t = text.trimmed();
    const qsizetype point = t.indexOf(u'.');
    const QString whole = point < 0 ? t : t.left(point);
    const QString fraction = point < 0 ? QString() : t.mid(point + 1);
    if ((whole.isEmpty() && fraction.isEmpty()) || !allDigits(whole) || !allDigits(fraction))
        return std::nullopt;
    const QString shifted =
        whole + fraction.left(2).leftJustified(2, u'0') + u'.' + fraction.mid(2) + u'0';
    // Syntax is checked above; an overflow reads as infinity, above any bound.
    return shifted.toDouble();
}

std::uint16_t roundHalfEven(double hundredths)
{
    const double below = std::floor(hundredths);
    const double rest = hundredths - below;
    const bool up = rest > 0.5 || (rest == 0.5 && std::fmod(below, 2.0) != 0.0);
    return std::uint16_t(below + (up ? 1 : 0));
}

QString shortestText(int hundredths)
{
    QString s = formatHundredths(std::uint32_t(hundredths));
    while (s.endsWith(u'0'))
        s.chop(1);
    if (s.endsWith(u'.')) s.chop(1);
    return s;
}

} // namespace eload::modbus
