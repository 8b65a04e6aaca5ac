#include "modbus/Frames.h"

#include "modbus/Registers.h"

namespace eload::modbus {

namespace {
void appendWord(QByteArray& b, std::uint16_t w)
{
    b.append(char(w >> 8));
    b.append(char(w & 0xFF));
}

QByteArray header(std::uint8_t slave, Function fn, std::uint16_t reg)
{
    QByteArray b;
    b.append(char(slave));
    b.append(char(fn));
    appendWord(b, reg);
    return b;
}
} // namespace

QByteArray measurementPoll(std::uint8_t slave)
{
    QByteArray b = header(slave, FnReadHolding, RegCurrent);
    appendWord(b, kReadBlockCount);
    return b;
}

QByteArray writePresets(std::uint8_t slave, const PresetWords& w)
{
    QByteArray b = header(slave, FnWriteMultiple, RegCurrentPreset);
    appendWord(b, 5);
    b.append(char(10));
    for (std::uint16_t v : {w.current, w.cutoff, w.power, w.baudCode, w.loadState})
        appendWord(b, v);
    return b;
}

QByteArray loadSwitch(std::uint8_t slave, std::uint16_t state)
{
    QByteArray b = header(slave, FnWriteSingle, RegLoadSwitch);
    appendWord(b, state);
    return b;
}

QByteArray clearData(std::uint8_t slave)
{
    QByteArray b = header(slave, FnWriteSingle, RegClearData);
    appendWord(b, 1);
    return b;
}

QByteArray changeAddress(std::uint8_t newAddress)
{
    QByteArray b = header(kBroadcast, FnWriteSingle, RegAddress);
    appendWord(b, newAddress);
    return b;
}

std::optional<std::uint8_t> parseAddress(const QString& text)
{
    const QString t = text.trimmed();
    if (t.isEmpty() || t.size() > 3) return std::nullopt;
    int value = 0;
    for (QChar c : t) {
        if (c < u'0' || c > u'9') return std::nullopt;
        value = value * 10 + (c.unicode() - u'0');
    }
    if (value > 255) return std::nullopt;
    return std::uint8_t(value);
}

} // namespace eload::modbus
