#pragma once
// The panel without widgets or hardware: in-memory window, form state, fake
// serial line and clock, tied together as the handlers expect them.

#include "core/Context.h"
#include "core/FormState.h"
#include "core/Texts.h"
#include "modbus/Crc16.h"
#include "support/Fakes.h"
#include "support/MemoryPanel.h"

#include <array>

namespace eload::test {

struct Rig {
    MemoryPanel panel;
    FormState state;
    FakeSerialDevice port;
    FakeClock clock;
    Context ctx{panel, state, port, clock};

    Rig()
    {
        panel.setText(Ctl::Combo_Addr0, QStringLiteral("1"));
        panel.setText(Ctl::Combo_Addr2, QStringLiteral("1"));
    }

    // The port as the handlers see it: open by the caption of Command1.
    void openPort()
    {
        panel.setText(Ctl::Command1, texts::kClosePort);
        port.openPort = 1;
    }
};

// A reply frame with its CRC appended.
inline QByteArray withCrc(QByteArray bytes)
{
    return modbus::CRC16(bytes, std::uint8_t(bytes.size() - 1));
}

// A function-3 reply carrying the first `count` of `regs`.
inline QByteArray readReply(std::uint8_t slave, const std::array<std::uint16_t, 18>& regs,
                            int count = 18)
{
    QByteArray b;
    b.append(char(slave));
    b.append(char(0x03));
    b.append(char(2 * count));
    for (int i = 0; i < count; ++i) {
        b.append(char(regs[i] >> 8));
        b.append(char(regs[i] & 0xFF));
    }
    return withCrc(b);
}

} // namespace eload::test
