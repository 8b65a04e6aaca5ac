#pragma once
// The port frame of frmmain: Command1 opens and closes the port, Combo1 and
// Combo2 pick port and baud rate. The caption of Command1 is the record of
// the port state; it reads "关闭串口" only while the device is really open.

#include "serial/SerialDevice.h"

#include <cstdint>
#include <optional>

namespace eload {

struct Context;

class SerialLink {
public:
    explicit SerialLink(Context& ctx);

    void Command1_Click();
    void Combo1_Click();
    void Combo2_Click();

    // Open and close again, with a box for each failure.
    bool TestPort(std::int16_t port);
    // The device opened with PortSettings; the failure is handed back.
    std::optional<SerialError> OpenPort(std::int16_t port);

    // The line went away while open: closed as by the button, one box.
    void lineFailed(const SerialError& e);

private:
    bool portOpen() const;
    std::int16_t pickedPort() const;
    void openPortFromPanel();
    void takeLineSettings();
    void showOpen(std::int16_t port);
    void fillPresetDefaults();
    void closePort();

    Context& ctx_;
};

} // namespace eload
