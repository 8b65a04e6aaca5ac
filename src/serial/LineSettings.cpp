#include "serial/LineSettings.h"

#include <QStringList>

namespace eload {

namespace {

// Digits only: QString::toInt would also take a sign or blanks around them.
std::optional<int> decimal(const QString& field)
{
    if (field.isEmpty()) return std::nullopt;
    for (QChar c : field)
        if (c < u'0' || c > u'9') return std::nullopt;
    bool ok = false;
    const int value = field.toInt(&ok);
    return ok ? std::optional<int>(value) : std::nullopt;
}

std::optional<QSerialPort::Parity> parityOf(const QString& letter)
{
    if (letter == u"N") return QSerialPort::NoParity;
    if (letter == u"O") return QSerialPort::OddParity;
    if (letter == u"E") return QSerialPort::EvenParity;
    return std::nullopt;
}

std::optional<QSerialPort::DataBits> dataBitsOf(const QString& field)
{
    const std::optional<int> n = decimal(field);
    if (!n || *n < 5 || *n > 8) return std::nullopt;
    return QSerialPort::DataBits(*n);
}

std::optional<QSerialPort::StopBits> stopBitsOf(const QString& field)
{
    if (field == u"1") return QSerialPort::OneStop;
    if (field == u"2") return QSerialPort::TwoStop;
    return std::nullopt;
}

} // namespace

std::optional<LineSettings> parseLineSettings(const QString& text)
{
    const QStringList fields = text.split(u',');
    if (fields.size() != 4) return std::nullopt;
    const std::optional<int> baud = decimal(fields[0]);
    const auto parity = parityOf(fields[1]);
    const auto dataBits = dataBitsOf(fields[2]);
    const auto stopBits = stopBitsOf(fields[3]);
    if (!baud || *baud <= 0 || !parity || !dataBits || !stopBits) return std::nullopt;
    return LineSettings{*baud, *parity, *dataBits, *stopBits};
}

LineSettings lineSettingsOf(const QSerialPort& port)
{
    return LineSettings{port.baudRate(), port.parity(), port.dataBits(), port.stopBits()};
}

void applyLineSettings(QSerialPort& port, const LineSettings& settings)
{
    port.setBaudRate(settings.baudRate);
    port.setParity(settings.parity);
    port.setDataBits(settings.dataBits);
    port.setStopBits(settings.stopBits);
    port.setFlowControl(QSerialPort::NoFlowControl);
}

} // namespace eload
