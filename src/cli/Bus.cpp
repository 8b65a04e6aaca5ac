#include "cli/Bus.h"

#include "serial/OpenFailure.h"

#include <cerrno>
#include <cstring>
#include <modbus.h>
#include <sys/ioctl.h>
#include <thread>

namespace eload::cli {

namespace {

// Request lengths on the wire, CRC included: the read of registers 0..17, the
// write of registers 13..17, a single-register write.
constexpr int kPresetCount = 5;
constexpr int kReadRequest = 8, kPresetsRequest = 9 + 2 * kPresetCount, kSingleRequest = 8;

// What a module may take to start its reply, beyond the request's own time on
// the wire; and the longest pause inside a reply, which a USB adapter's
// latency timer (up to 16 ms) can stretch.
constexpr int kTurnaroundMs = 100;
constexpr int kByteGapMs = 50;

Failure failureOf(int error)
{
    if (error == ETIMEDOUT) return Failure::NoAnswer;
    if (error == EMBBADCRC) return Failure::BadCrc;
    if (error > MODBUS_ENOBASE && error <= EMBXGTAR) return Failure::Exception;
    if (error >= EMBBADCRC && error <= EMBBADSLAVE) return Failure::WrongReply;
    return Failure::LineDown;
}

void setTimeout(int (*set)(modbus_t*, uint32_t, uint32_t), modbus_t* ctx, int us)
{
    set(ctx, uint32_t(us / 1000000), uint32_t(us % 1000000));
}

OpenError openError(const Line& line, int error)
{
    const QString& path = line.path;
    switch (error) {
    case ENOENT:
    case ENODEV:
    case ENXIO:
        return {QStringLiteral("%1: no such device (is the adapter plugged in?)").arg(path)};
    case EBUSY:
        return {QStringLiteral("%1 is busy: another program has it open (close the panel or the "
                               "other program first)")
                    .arg(path)};
    case EACCES:
    case EPERM: {
        const std::optional<DeviceGroup> group = deviceGroup(path);
        if (!group)
            return {QStringLiteral("%1: permission denied; check the device's access rights")
                        .arg(path)};
        const QString name = group->name.isEmpty()
                                 ? QStringLiteral("the group with id %1").arg(group->id)
                                 : group->name;
        return {QStringLiteral("%1: permission denied; join the group %2 (sudo usermod -aG %2 "
                               "$USER) and log in again")
                    .arg(path, name)};
    }
    default: return {QStringLiteral("%1: %2").arg(path, QString::fromLocal8Bit(strerror(error)))};
    }
}

} // namespace

QString Line::text() const { return QStringLiteral("%1 at %2 Bd").arg(path).arg(baud); }

QString failureText(Failure f)
{
    switch (f) {
    case Failure::NoAnswer: return QStringLiteral("no answer");
    case Failure::BadCrc: return QStringLiteral("wrong CRC");
    case Failure::Exception: return QStringLiteral("exception");
    case Failure::WrongReply: return QStringLiteral("wrong reply");
    case Failure::LineDown: return QStringLiteral("line failed");
    }
    return {};
}

int Tally::failed() const
{
    int n = 0;
    for (int f : failures)
        n += f;
    return n;
}

QString Tally::text() const
{
    QStringList kinds;
    for (int k = 0; k < kFailureKinds; ++k)
        if (failures[k])
            kinds << QStringLiteral("%1 %2").arg(failureText(Failure(k))).arg(failures[k]);
    QString t = QStringLiteral("%1 replies, %2 failed tries").arg(replies).arg(failed());
    if (!kinds.isEmpty()) t += QStringLiteral(" (%1)").arg(kinds.join(QStringLiteral(", ")));
    return t;
}

std::variant<std::unique_ptr<Bus>, OpenError> Bus::open(const Line& line)
{
    modbus_t* ctx = modbus_new_rtu(line.path.toLocal8Bit().constData(), line.baud, 'N', 8, 1);
    if (!ctx) return OpenError{QStringLiteral("%1: cannot use this device").arg(line.text())};
    if (modbus_connect(ctx) != 0) {
        const int error = errno;
        modbus_free(ctx);
        return openError(line, error);
    }
    // Another program opening the same line would garble every exchange.
    ::ioctl(modbus_get_socket(ctx), TIOCEXCL);
    return std::unique_ptr<Bus>(new Bus(ctx, line));
}

Bus::Bus(modbus_t* ctx, Line line) : ctx_(ctx), line_(std::move(line)) {}

Bus::~Bus()
{
    modbus_close(ctx_);
    modbus_free(ctx_);
}

Tally Bus::tally(std::uint8_t address) const
{
    const auto it = tallies_.find(address);
    return it == tallies_.end() ? Tally{} : it->second;
}

// The first byte is due when the request has left and the module has turned
// round; the rest follow at the line's pace.
void Bus::setTimeouts(int requestBytes)
{
    const int charUs = 10 * 1000000 / line_.baud;
    setTimeout(modbus_set_response_timeout, ctx_, requestBytes * charUs + kTurnaroundMs * 1000);
    setTimeout(modbus_set_byte_timeout, ctx_, kByteGapMs * 1000 + 3 * charUs);
}

// After a failed try the module may still be sending: wait for it to finish,
// then drop whatever came, so that the next reply starts clean.
void Bus::drain()
{
    std::this_thread::sleep_for(std::chrono::milliseconds(kTurnaroundMs));
    modbus_flush(ctx_);
}

std::optional<ExchangeError> Bus::exchange(std::uint8_t address, int requestBytes, int tries,
                                           const std::function<int(modbus_t*)>& call)
{
    Tally& tally = tallies_[address];
    Failure last = Failure::NoAnswer;
    QString detail;
    int tried = 0;
    while (tried < tries) {
        ++tried;
        modbus_flush(ctx_);
        setTimeouts(requestBytes);
        modbus_set_slave(ctx_, address);
        if (call(ctx_) >= 0) {
            ++tally.replies;
            return std::nullopt;
        }
        const int error = errno;
        last = failureOf(error);
        detail = QString::fromLocal8Bit(modbus_strerror(error));
        ++tally.failures[int(last)];
        if (last == Failure::LineDown) break;
        drain();
    }
    return ExchangeError{last, QStringLiteral("address %1 on %2: %3 (%4; %5 tries)")
                                   .arg(address)
                                   .arg(line_.text(), failureText(last), detail)
                                   .arg(tried)};
}

std::variant<modbus::RegisterBlock, ExchangeError> Bus::readBlock(std::uint8_t address, int tries)
{
    modbus::RegisterBlock block{};
    auto error = exchange(address, kReadRequest, tries, [&block](modbus_t* ctx) {
        return modbus_read_registers(ctx, modbus::RegCurrent, modbus::kReadBlockCount,
                                     block.data());
    });
    if (error) return *error;
    return block;
}

std::optional<ExchangeError> Bus::writePresets(std::uint8_t address, const modbus::PresetWords& w)
{
    const std::array<std::uint16_t, kPresetCount> words{w.current, w.cutoff, w.power, w.baudCode,
                                                        w.loadState};
    return exchange(address, kPresetsRequest, kTries, [&words](modbus_t* ctx) {
        return modbus_write_registers(ctx, modbus::RegCurrentPreset, kPresetCount, words.data());
    });
}

std::optional<ExchangeError> Bus::switchLoad(std::uint8_t address, bool on)
{
    return exchange(address, kSingleRequest, kTries, [on](modbus_t* ctx) {
        return modbus_write_register(ctx, modbus::RegLoadSwitch, on ? 1 : 0);
    });
}

std::optional<ExchangeError> Bus::clearData(std::uint8_t address)
{
    return exchange(address, kSingleRequest, kTries, [](modbus_t* ctx) {
        return modbus_write_register(ctx, modbus::RegClearData, 1);
    });
}

bool Bus::changeAddress(std::uint8_t newAddress)
{
    modbus_flush(ctx_);
    setTimeouts(kSingleRequest);
    modbus_set_slave(ctx_, modbus::kBroadcast);
    const bool echoed = modbus_write_register(ctx_, modbus::RegAddress, newAddress) >= 0;
    if (!echoed) drain();
    return echoed;
}

} // namespace eload::cli
