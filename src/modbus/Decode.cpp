#include "modbus/Decode.h"

#include "core/FormState.h"
#include "modbus/DisplayRules.h"
#include "modbus/HexText.h"
#include "modbus/Registers.h"
#include "modbus/RowWriter.h"

namespace eload::modbus {

std::optional<int> readReplyRegisters(qsizetype hexLength)
{
    switch (hexLength) {
    case 123: return 18;
    case 63: return 8;
    case 57: return 7;
    case 51: return 6;
    case 45: return 5;
    case 21: return 1;
    default: return std::nullopt;
    }
}

std::optional<std::uint16_t> registerAt(const QString& hex, int d)
{
    const qsizetype p = 6 * d + 9; // first digit, counted from 0
    if (p + 4 >= hex.size()) return std::nullopt;
    std::uint16_t v = 0;
    for (qsizetype at : {p, p + 1, p + 3, p + 4}) {
        const int digit = hexDigitValue(hex[at]);
        if (digit < 0) return std::nullopt;
        v = std::uint16_t(v * 16 + digit);
    }
    return v;
}

std::optional<RegisterBlock> DecodeReply(Panel& panel, FormState& state, RowWriter* rows)
{
    const QString& hex = state.ReceiveHex;
    const auto count = readReplyRegisters(hex.size());
    if (hex.size() < 5 || hex[4] != u'3' || !count) return std::nullopt;
    // Short replies carry fewer registers: the rest keep what they show.
    RegisterBlock block{};
    int carried = 0;
    for (int d = 0; d < qMin(*count, kReadBlockCount); ++d) {
        if (const auto v = registerAt(hex, d)) {
            applyRegister(panel, state, d, *v);
            block[d] = *v;
            ++carried;
        }
    }
    if (rows) rows->WriteRow();
    if (carried < kReadBlockCount) return std::nullopt;
    return block;
}

} // namespace eload::modbus
