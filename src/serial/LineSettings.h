#pragma once
// The line settings text of the port ("9600,N,8,1": baud rate, parity letter,
// data bits, stop bits) as QSerialPort takes it.

#include <QSerialPort>
#include <QString>
#include <optional>

namespace eload {

struct LineSettings {
    qint32 baudRate = 9600;
    QSerialPort::Parity parity = QSerialPort::NoParity;
    QSerialPort::DataBits dataBits = QSerialPort::Data8;
    QSerialPort::StopBits stopBits = QSerialPort::OneStop;

    friend bool operator==(const LineSettings&, const LineSettings&) = default;
};

// Nothing when the text is not four fields: a positive decimal rate, N/O/E,
// 5 to 8 data bits, 1 or 2 stop bits. No blanks are skipped.
std::optional<LineSettings> parseLineSettings(const QString& text);

LineSettings lineSettingsOf(const QSerialPort& port);
void applyLineSettings(QSerialPort& port, const LineSettings& settings);

} // namespace eload
