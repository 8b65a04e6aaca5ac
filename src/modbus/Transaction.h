#pragma once
// The request transaction: the one fixed order of steps every sender follows,
// from clearing the status line to starting the reply timer. Senders differ
// only in the parameters of Request, never by a copy of the steps.

#include <QByteArray>
#include <QString>
#include <cstdint>
#include <functional>
#include <optional>
#include <variant>

namespace eload {

struct Context;

namespace modbus {

// A refusal: the message box text; the request is not sent.
struct Refusal {
    QString message;
};

enum class AcquisitionEffect {
    None,           // polling tick: a refusal stops acquisition instead
    Stop,           // stop whether or not it runs
    StopIfRunning,  // stop only while Command_OK3 reads "停 止"
    PauseIfRunning, // pause for this one exchange, before anything else
};

enum class AddressCheck {
    NewAddressBox, // Combo_Addr(0) must not be empty ("参数设置错误！")
    SlaveIdBox,    // Combo_Addr(2) must not be empty ("模块地址未设置！")
};

struct Request {
    AcquisitionEffect acquisition = AcquisitionEffect::StopIfRunning;
    bool keepHexBoxes = false; // Text1(0) and Text2 keep their contents
    AddressCheck addressCheck = AddressCheck::NewAddressBox;
    bool pauseAfterWrite = true; // the 100 ms pause before the reply timer
    // Work that needs no port (field checks); may refuse.
    std::function<std::optional<Refusal>()> prepare;
    // The request bytes before the CRC, built once the checks have passed.
    std::function<std::variant<QByteArray, Refusal>()> build;
};

inline constexpr int kPauseAfterWriteMs = 100;

// Runs the transaction; true when the frame was written to the port.
bool sendRequest(Context& ctx, const Request& request);

// The slave address of every request but the address change, from the
// "Slave ID" box; a text that is no address 0..255 refuses.
std::variant<std::uint8_t, Refusal> slaveAddress(const Context& ctx);

// The bytes `frame` builds for the Slave ID, or that box's refusal.
template <typename Frame> std::variant<QByteArray, Refusal> toSlave(const Context& ctx, Frame frame)
{
    const auto slave = slaveAddress(ctx);
    if (const auto* refusal = std::get_if<Refusal>(&slave)) return *refusal;
    return frame(std::get<std::uint8_t>(slave));
}

} // namespace modbus
} // namespace eload
