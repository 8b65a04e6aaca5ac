#include "modbus/HexText.h"

namespace eload::modbus {

namespace {
constexpr char kDigits[] = "0123456789ABCDEF";
} // namespace

int hexDigitValue(QChar c)
{
    if (c >= u'0' && c <= u'9') return c.unicode() - u'0';
    if (c >= u'A' && c <= u'F') return c.unicode() - u'A' + 10;
    return -1;
}

void appendHexText(QString& text, const QByteArray& bytes)
{
    text.reserve(text.size() + 3 * bytes.size());
    for (char ch : bytes) {
        const auto b = static_cast<unsigned char>(ch);
        text.append(QLatin1Char(kDigits[b >> 4]));
        text.append(QLatin1Char(kDigits[b & 0x0F]));
        text.append(QLatin1Char(' '));
    }
}

QString hexText(const QByteArray& bytes)
{
    QString text;
    appendHexText(text, bytes);
    return text;
}

std::optional<QByteArray> bytesOfHexText(const QString& text)
{
    if (text.size() % 3 != 0) return std::nullopt;
    QByteArray bytes;
    bytes.reserve(text.size() / 3);
    for (qsizetype i = 0; i < text.size(); i += 3) {
        const int hi = hexDigitValue(text[i]);
        const int lo = hexDigitValue(text[i + 1]);
        if (hi < 0 || lo < 0 || text[i + 2] != u' ') return std::nullopt;
        bytes.append(char(hi * 16 + lo));
    }
    return bytes;
}

} // namespace eload::modbus
