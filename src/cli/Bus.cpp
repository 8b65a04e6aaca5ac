#include "cli/Bus.h"

#include "serial/OpenFailure.h"
#include "serial/PortLock.h"

#include <cerrno>
#include <cmath>
#include <cstring>
#include <modbus.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <thread>

namespace eload::cli {

namespace {

// Request lengths on the wire, CRC included: the read of registers 0..17, the
// write of registers 13..17, a single-register write.
constexpr int kPresetCount = 5;
constexpr int kReadRequest = 8, kPresetsRequest = 9 + 2 * kPresetCount, kSingleRequest = 8;
// The reply to the read: address, function, byte count, 18 registers, CRC.
constexpr int kReadReply = 5 + 2 * modbus::kReadBlockCount;

// The longest pause inside a reply, which a USB adapter's latency timer (up
// to 16 ms) can stretch.
constexpr int kByteGapMs = 50;
// A scan waits less: a module that takes longer than this is rare, and 247
// silent addresses would otherwise take half a minute.
constexpr int kScanTurnaroundMs = 50;
// The silence that ends a frame, in characters.
constexpr double kFrameGapChars = 3.5;
constexpr std::chrono::microseconds kLongestSpin{1000};

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

OpenError busyError(const QString& path, const std::optional<PortHolder>& holder)
{
    if (!holder)
        return {QStringLiteral("%1 is busy: another program has it open (close the panel or the "
                               "other program first)")
                    .arg(path)};
    return {
        QStringLiteral("%1 is busy: %2 has it open (close it first)").arg(path, holder->text())};
}

OpenError openError(const Line& line, int error)
{
    const QString& path = line.path;
    switch (error) {
    case ENOENT:
    case ENODEV:
    case ENXIO:
        return {QStringLiteral("%1: no such device (is the adapter plugged in?)").arg(path)};
    case EBUSY: return busyError(path, findHolder(path));
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
    auto lock = PortLockFile::take(line.path);
    if (auto* busy = std::get_if<PortBusy>(&lock)) return busyError(line.path, busy->holder);
    modbus_t* ctx = modbus_new_rtu(line.path.toLocal8Bit().constData(), line.baud, 'N', 8, 1);
    if (!ctx) return OpenError{QStringLiteral("%1: cannot use this device").arg(line.text())};
    std::unique_ptr<Bus> bus(
        new Bus(ctx, line, std::get<std::unique_ptr<PortLockFile>>(std::move(lock))));
    if (auto e = bus->connectDevice()) return *e;
    return bus;
}

Bus::Bus(modbus_t* ctx, Line line, std::unique_ptr<PortLockFile> lock)
    : ctx_(ctx), line_(std::move(line)), lock_(std::move(lock))
{
}

Bus::~Bus()
{
    closeDevice();
    modbus_free(ctx_);
}

// Another program opening the same line would garble every exchange: the
// device is flocked (which holds for root too) and marked exclusive.
std::optional<OpenError> Bus::connectDevice()
{
    if (modbus_connect(ctx_) != 0) return openError(line_, errno);
    const int fd = modbus_get_socket(ctx_);
    if (std::optional<PortBusy> busy = lockDevice(fd, line_.path)) {
        modbus_close(ctx_);
        return busyError(line_.path, busy->holder);
    }
    ::ioctl(fd, TIOCEXCL);
    up_ = true;
    lastFrameEnd_ = std::chrono::steady_clock::now();
    return std::nullopt;
}

void Bus::closeDevice()
{
    if (!up_) return;
    releaseExclusive(modbus_get_socket(ctx_));
    modbus_close(ctx_);
    up_ = false;
}

std::optional<OpenError> Bus::reopen()
{
    closeDevice();
    return connectDevice();
}

std::chrono::microseconds Bus::charactersTime(double bytes) const
{
    return std::chrono::microseconds(std::llround(bytes * 10 * 1e6 / line_.baud));
}

std::chrono::milliseconds Bus::scanTime(int addresses) const
{
    const auto one = charactersTime(kReadRequest + kFrameGapChars) +
                     std::chrono::milliseconds(kScanTurnaroundMs);
    return std::chrono::ceil<std::chrono::milliseconds>(one * addresses);
}

Tally Bus::tally(std::uint8_t address) const
{
    const auto it = tallies_.find(address);
    return it == tallies_.end() ? Tally{} : it->second;
}

// The first byte is due when the request has left and the module has turned
// round; the rest follow at the line's pace.
void Bus::setTimeouts(int requestBytes, int turnaroundMs)
{
    const int charUs = 10 * 1000000 / line_.baud;
    responseAllowance_ = std::chrono::milliseconds(turnaroundMs);
    setTimeout(modbus_set_response_timeout, ctx_, requestBytes * charUs + turnaroundMs * 1000);
    setTimeout(modbus_set_byte_timeout, ctx_, kByteGapMs * 1000 + 3 * charUs);
}

// A request right behind the last frame would run into it on the wire. A
// gap shorter than a busy machine's wake-up is waited out awake.
void Bus::keepFrameGap()
{
    const auto until = lastFrameEnd_ + charactersTime(kFrameGapChars);
    if (until - std::chrono::steady_clock::now() > kLongestSpin)
        std::this_thread::sleep_until(until);
    while (std::chrono::steady_clock::now() < until) {
    }
}

// After a failed try the module may still be sending: wait for it to finish,
// then drop whatever came, so that the next reply starts clean.
void Bus::drain()
{
    std::this_thread::sleep_for(std::chrono::milliseconds(kTurnaroundMs));
    modbus_flush(ctx_);
    lastFrameEnd_ = std::chrono::steady_clock::now();
}

std::optional<ExchangeError> Bus::exchange(std::uint8_t address, int requestBytes,
                                           const Attempts& attempts,
                                           const std::function<int(modbus_t*)>& call)
{
    if (!up_)
        return ExchangeError{
            Failure::LineDown,
            QStringLiteral("address %1 on %2: the line is down").arg(address).arg(line_.text())};
    Tally& tally = tallies_[address];
    Failure last = Failure::NoAnswer;
    QString detail;
    int tried = 0;
    const int tries = hurry_ ? 1 : attempts.tries;
    while (tried < tries) {
        ++tried;
        keepFrameGap();
        modbus_flush(ctx_);
        setTimeouts(requestBytes, attempts.turnaroundMs);
        // A refused address would leave the last one set: another module asked.
        if (modbus_set_slave(ctx_, address) != 0)
            return ExchangeError{
                Failure::WrongReply,
                QStringLiteral("address %1: libmodbus cannot address it").arg(address)};
        const int rc = call(ctx_);
        lastFrameEnd_ = std::chrono::steady_clock::now();
        if (rc >= 0) {
            ++tally.replies;
            return std::nullopt;
        }
        const int error = errno;
        last = failureOf(error);
        detail = QString::fromLocal8Bit(modbus_strerror(error));
        ++tally.failures[int(last)];
        if (last == Failure::LineDown) {
            // Closed at once: an adapter plugged back in gets its old name only
            // once nobody holds the old device.
            closeDevice();
            break;
        }
        if (last != Failure::NoAnswer || attempts.settleAfterSilence) drain();
    }
    return ExchangeError{last, QStringLiteral("address %1 on %2: %3 (%4; %5 tries)")
                                   .arg(address)
                                   .arg(line_.text(), failureText(last), detail)
                                   .arg(tried)};
}

std::variant<modbus::RegisterBlock, ExchangeError> Bus::readBlock(std::uint8_t address, int tries)
{
    return readWith(address, {tries, kTurnaroundMs, true});
}

std::variant<modbus::RegisterBlock, ExchangeError> Bus::scanBlock(std::uint8_t address)
{
    return readWith(address, {1, kScanTurnaroundMs, false});
}

std::variant<modbus::RegisterBlock, ExchangeError> Bus::readWith(std::uint8_t address,
                                                                 const Attempts& attempts)
{
    modbus::RegisterBlock block{};
    auto error = exchange(address, kReadRequest, attempts,
                          [this, address, &block](modbus_t*) { return readAll(address, block); });
    if (error) return *error;
    return block;
}

// Whether a byte waits to be read before `due`.
bool Bus::awaitFirstByte(std::chrono::steady_clock::time_point due)
{
    pollfd p{modbus_get_socket(ctx_), POLLIN, 0};
    for (;;) {
        const auto left =
            std::chrono::ceil<std::chrono::milliseconds>(due - std::chrono::steady_clock::now());
        const int ready = ::poll(&p, 1, int(std::max<qint64>(left.count(), 0)));
        if (ready >= 0 || errno != EINTR) return ready > 0 && (p.revents & POLLIN);
    }
}

// The read of registers 0..17, its reply taken once it can have arrived
// whole (the time of its bytes on the wire after the first): libmodbus
// reading a reply as it trickles in wakes up for every byte or two, and on a
// busy machine each wake-up waits its turn. The reply is
// still framed and its CRC checked by libmodbus; what is left to check here
// is what modbus_read_registers would: address, function and length.
int Bus::readAll(std::uint8_t address, modbus::RegisterBlock& block)
{
    const std::uint8_t request[] = {address, modbus::FnReadHolding,
                                    0,       std::uint8_t(modbus::RegCurrent),
                                    0,       std::uint8_t(modbus::kReadBlockCount)};
    const auto sent = std::chrono::steady_clock::now();
    if (modbus_send_raw_request(ctx_, request, int(sizeof request)) < 0) return -1;
    const auto firstByteDue = sent + charactersTime(kReadRequest) + responseAllowance_;
    if (awaitFirstByte(firstByteDue)) std::this_thread::sleep_for(charactersTime(kReadReply - 1));
    const auto left = std::chrono::duration_cast<std::chrono::microseconds>(
        firstByteDue - std::chrono::steady_clock::now());
    setTimeout(modbus_set_response_timeout, ctx_, int(std::max<qint64>(left.count(), 1000)));

    std::uint8_t reply[MODBUS_RTU_MAX_ADU_LENGTH];
    const int length = modbus_receive_confirmation(ctx_, reply);
    if (length < 0) return -1;
    if (length == 0 || reply[0] != address) {
        errno = EMBBADSLAVE;
        return -1;
    }
    if (reply[1] == (modbus::FnReadHolding | 0x80)) {
        errno = MODBUS_ENOBASE + reply[2];
        return -1;
    }
    const int words = modbus::kReadBlockCount;
    if (reply[1] != modbus::FnReadHolding || reply[2] != 2 * words || length != kReadReply) {
        errno = EMBBADDATA;
        return -1;
    }
    for (int i = 0; i < words; ++i)
        block[std::size_t(i)] = std::uint16_t(reply[3 + 2 * i] << 8 | reply[4 + 2 * i]);
    return words;
}

std::optional<ExchangeError> Bus::writePresets(std::uint8_t address, const modbus::PresetWords& w)
{
    const std::array<std::uint16_t, kPresetCount> words{w.current, w.cutoff, w.power, w.baudCode,
                                                        w.loadState};
    return exchange(address, kPresetsRequest, {}, [&words](modbus_t* ctx) {
        return modbus_write_registers(ctx, modbus::RegCurrentPreset, kPresetCount, words.data());
    });
}

std::optional<ExchangeError> Bus::switchLoad(std::uint8_t address, bool on)
{
    return exchange(address, kSingleRequest, {}, [on](modbus_t* ctx) {
        return modbus_write_register(ctx, modbus::RegLoadSwitch, on ? 1 : 0);
    });
}

std::optional<ExchangeError> Bus::clearData(std::uint8_t address)
{
    return exchange(address, kSingleRequest, {}, [](modbus_t* ctx) {
        return modbus_write_register(ctx, modbus::RegClearData, 1);
    });
}

bool Bus::changeAddress(std::uint8_t newAddress)
{
    if (!up_) return false;
    keepFrameGap();
    modbus_flush(ctx_);
    setTimeouts(kSingleRequest, kTurnaroundMs);
    modbus_set_slave(ctx_, modbus::kBroadcast);
    const bool echoed = modbus_write_register(ctx_, modbus::RegAddress, newAddress) >= 0;
    lastFrameEnd_ = std::chrono::steady_clock::now();
    if (!echoed) drain();
    return echoed;
}

} // namespace eload::cli
