#pragma once
// Frames held as text: two upper-case hex digits and one blank per byte.
// n bytes give 3n characters; byte k stands at characters 3k+1 and 3k+2.

#include <QByteArray>
#include <QString>
#include <optional>

namespace eload::modbus {

QString hexText(const QByteArray& bytes);
void appendHexText(QString& text, const QByteArray& bytes);

// Value of one upper-case hex digit of such text, -1 for anything else.
int hexDigitValue(QChar c);

// Inverse of hexText for text built by it; anything else yields nothing.
std::optional<QByteArray> bytesOfHexText(const QString& text);

} // namespace eload::modbus
