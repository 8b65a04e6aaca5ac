#include "sim/Simulator.h"

#include "sim/Module.h"
#include "sim/Pty.h"
#include "sim/Slave.h"

#include <algorithm>
#include <array>
#include <atomic>
#include <cmath>
#include <condition_variable>
#include <deque>
#include <mutex>
#include <poll.h>
#include <sys/eventfd.h>
#include <thread>
#include <unistd.h>
#include <utility>

namespace eload::sim {

namespace {

using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;

constexpr std::array<int, 6> kBaudRates = {4800, 9600, 19200, 38400, 57600, 115200};
constexpr int kBaudCodeRegister = 16;
constexpr std::size_t kLogLimit = 100000;
constexpr milliseconds kModelTick{50};
constexpr milliseconds kMinFrameGap{5};
constexpr double kBitsPerCharacter = 10; // start, 8 data, stop

int codeOfBaud(int baud)
{
    const auto it = std::find(kBaudRates.begin(), kBaudRates.end(), baud);
    return it == kBaudRates.end() ? -1 : int(it - kBaudRates.begin());
}

Clock::duration characterTime(int baud)
{
    return std::chrono::duration_cast<Clock::duration>(
        std::chrono::duration<double>(kBitsPerCharacter / baud));
}

timespec toTimespec(Clock::duration d)
{
    const auto ns =
        std::chrono::duration_cast<std::chrono::nanoseconds>(std::max(d, Clock::duration::zero()))
            .count();
    return {time_t(ns / 1000000000), long(ns % 1000000000)};
}

std::vector<ModuleSetup> setupsOf(const Options& o)
{
    if (!o.modules.empty()) return o.modules;
    return {{o.address, o.model}};
}

std::optional<std::string> invalidSetup(const std::vector<ModuleSetup>& setups)
{
    std::array<bool, 256> taken{};
    for (const ModuleSetup& s : setups) {
        if (s.address == 0) return std::string("address 0 is the broadcast address");
        if (std::exchange(taken[s.address], true))
            return "address " + std::to_string(s.address) + " is given to two modules";
        if (s.model.cells < 1 || !(s.model.capacityAh > 0))
            return std::string("the battery needs at least one cell and some capacity");
    }
    return std::nullopt;
}

std::optional<std::string> invalidOption(const Options& o)
{
    if (codeOfBaud(o.baud) < 0)
        return "baud rate " + std::to_string(o.baud) +
               " is none of 4800, 9600, 19200, 38400, 57600, 115200";
    if (!(o.speed > 0) || !std::isfinite(o.speed))
        return std::string("speed factor must be above 0");
    return invalidSetup(setupsOf(o));
}

// How a reply leaves, after the faults that shape it.
struct Delivery {
    Bytes reply; // empty: nothing is sent
    milliseconds delay{0};
    int pieces = 1;
    milliseconds gap{0};
    int baud = 0;
};

void reshape(Bytes& reply, const Fault& f)
{
    switch (f.kind) {
    case Fault::Kind::OtherAddress:
        reply[0] = std::uint8_t(f.amount);
        reply = withCrc(Bytes(reply.begin(), reply.end() - 2));
        break;
    case Fault::Kind::WrongCrc:
        reply[reply.size() - 1] ^= 0xFF;
        reply[reply.size() - 2] ^= 0xFF;
        break;
    case Fault::Kind::MissingBytes:
        reply.resize(reply.size() - std::min(reply.size(), std::size_t(std::max(0, f.amount))));
        break;
    case Fault::Kind::ExtraBytes:
        reply.insert(reply.end(), std::size_t(std::max(0, f.amount)), 0x00);
        break;
    default: break;
    }
}

void schedule(Delivery& d, const Fault& f)
{
    switch (f.kind) {
    case Fault::Kind::Silent: d.reply.clear(); break;
    case Fault::Kind::Late: d.delay += milliseconds(std::max(0, f.amount)); break;
    case Fault::Kind::Split:
        d.pieces = std::max(1, f.amount);
        d.gap = milliseconds(std::max(0, f.gapMs));
        break;
    default: break;
    }
}

// Content first (in a fixed order, so that e.g. another address still gets
// its CRC spoiled), then the timing of the delivery.
Delivery deliver(Bytes reply, const std::vector<Fault>& faults)
{
    constexpr Fault::Kind kContentOrder[] = {Fault::Kind::OtherAddress, Fault::Kind::WrongCrc,
                                             Fault::Kind::MissingBytes, Fault::Kind::ExtraBytes};
    for (Fault::Kind kind : kContentOrder)
        for (const Fault& f : faults)
            if (f.kind == kind && reply.size() >= 2) reshape(reply, f);
    Delivery d{std::move(reply)};
    for (const Fault& f : faults)
        schedule(d, f);
    return d;
}

bool has(const std::vector<Fault>& faults, Fault::Kind kind)
{
    return std::any_of(faults.begin(), faults.end(),
                       [kind](const Fault& f) { return f.kind == kind; });
}

const Fault* findException(const std::vector<Fault>& faults)
{
    const auto it = std::find_if(faults.begin(), faults.end(),
                                 [](const Fault& f) { return f.kind == Fault::Kind::Exception; });
    return it == faults.end() ? nullptr : &*it;
}

// Replies due at once share the wire: the line idles at 1 and a driven 0
// bit wins, so the master reads their bitwise AND; the earliest sets the timing.
Delivery overlap(std::vector<Delivery> replies)
{
    std::erase_if(replies, [](const Delivery& d) { return d.reply.empty(); });
    if (replies.empty()) return {};
    Delivery line =
        *std::min_element(replies.begin(), replies.end(),
                          [](const Delivery& a, const Delivery& b) { return a.delay < b.delay; });
    for (const Delivery& d : replies) {
        if (line.reply.size() < d.reply.size()) line.reply.resize(d.reply.size(), 0xFF);
        for (std::size_t i = 0; i < d.reply.size(); ++i)
            line.reply[i] &= d.reply[i];
    }
    return line;
}

// One module on the line, with the speed it expects and its faults.
struct Station {
    Module module;
    int lineBaud;
    std::vector<Fault> nextFaults;
    std::vector<Fault> alwaysFaults;

    // Its answer to a frame it takes, carried out when due.
    Delivery answer(const Bytes& frame, bool broadcastSilent)
    {
        std::vector<Fault> faults = std::move(nextFaults);
        nextFaults.clear();
        faults.insert(faults.end(), alwaysFaults.begin(), alwaysFaults.end());
        const Fault* refusal = findException(faults);
        // An ignored request is served by a copy, which is then forgotten.
        Module ignoring = module;
        Module& target = has(faults, Fault::Kind::Ignored) ? ignoring : module;
        Bytes reply = refusal ? exceptionReply(frame, std::uint8_t(refusal->amount))
                              : serve(target, frame, broadcastSilent);
        return deliver(std::move(reply), faults);
    }

    // A new baud-rate code holds from after its reply on.
    void followBaudCode()
    {
        const int code = module.reg(kBaudCodeRegister);
        if (code >= 0 && code < int(kBaudRates.size())) lineBaud = kBaudRates[std::size_t(code)];
    }
};

} // namespace

struct Simulator::Impl {
    explicit Impl(Options o) : options(std::move(o))
    {
        const int code = std::max(0, codeOfBaud(options.baud));
        for (const ModuleSetup& s : setupsOf(options))
            stations.push_back({Module(s.model, s.address, code), options.baud, {}, {}});
    }

    void run();
    void receive(Bytes& pending, Clock::time_point& first, Clock::time_point& last);
    void advanceModel(Clock::time_point now);
    Clock::duration frameGap() const;
    void handle(Bytes frame, Clock::time_point at);
    Delivery take(const Bytes& frame);
    bool transmit(const Delivery& d, int baud);
    bool pace(const std::uint8_t* data, std::size_t size, int baud);
    bool waitUntil(Clock::time_point deadline);
    void wake();
    void shutDown(bool abrupt);

    Options options;

    // Registers, faults and the log: shared with the callers' threads.
    mutable std::mutex mutex;
    mutable std::condition_variable logGrew;
    std::vector<Station> stations; // never empty
    std::deque<RequestRecord> log;
    std::string path;
    Clock::time_point modelTime;

    // The line belongs to the module's thread while it runs.
    Pty pty;
    std::thread thread;
    int wakeFd = -1;
    std::atomic<bool> stopping{false};
    std::mutex wakeMutex;
    std::condition_variable hungUp;
    bool hangingUp = false; // under wakeMutex
    std::mutex control;     // start, stop and hangUp one at a time
};

void Simulator::Impl::run()
{
    Bytes pending;
    Clock::time_point first, last;
    while (!stopping) {
        const auto now = Clock::now();
        const auto timeout =
            pending.empty() ? Clock::duration(kModelTick) : last + frameGap() - now;
        pollfd fds[2] = {{pty.masterFd(), POLLIN, 0}, {wakeFd, POLLIN, 0}};
        const timespec ts = toTimespec(timeout);
        if (::ppoll(fds, 2, &ts, nullptr) > 0 && (fds[0].revents & POLLIN))
            receive(pending, first, last);
        else if (fds[0].revents & (POLLHUP | POLLERR))
            waitUntil(Clock::now() + kModelTick); // nobody on the line; do not spin
        advanceModel(Clock::now());
        if (!pending.empty() && Clock::now() - last >= frameGap()) {
            handle(std::move(pending), first);
            pending.clear();
        }
    }
}

void Simulator::Impl::receive(Bytes& pending, Clock::time_point& first, Clock::time_point& last)
{
    std::uint8_t buffer[512];
    const long n = pty.read(buffer, sizeof buffer);
    if (n <= 0) return;
    last = Clock::now();
    if (pending.empty()) first = last;
    pending.insert(pending.end(), buffer, buffer + n);
}

void Simulator::Impl::advanceModel(Clock::time_point now)
{
    std::lock_guard lock(mutex);
    const std::chrono::duration<double> real = now - modelTime;
    modelTime = now;
    for (Station& s : stations)
        s.module.advance(real.count() * options.speed);
}

Clock::duration Simulator::Impl::frameGap() const
{
    if (options.frameGapMs > 0) return milliseconds(options.frameGapMs);
    std::lock_guard lock(mutex);
    // The slowest module's: no module hears one request as two.
    const auto slowest =
        std::min_element(stations.begin(), stations.end(), [](const Station& a, const Station& b) {
            return a.lineBaud < b.lineBaud;
        });
    return std::max<Clock::duration>(kMinFrameGap, characterTime(slowest->lineBaud) * 7 / 2);
}

void Simulator::Impl::handle(Bytes frame, Clock::time_point at)
{
    const Delivery d = take(frame);
    const bool sent = !d.reply.empty() && transmit(d, d.baud);
    std::lock_guard lock(mutex);
    for (Station& s : stations)
        s.followBaudCode();
    if (log.size() >= kLogLimit) log.pop_front();
    log.push_back({std::move(frame), at, sent});
    logGrew.notify_all();
}

// Decides what the line carries back after one frame: every module it is
// for carries it out, and their replies overlap.
Delivery Simulator::Impl::take(const Bytes& frame)
{
    const int lineSpeed = pty.baud();
    std::lock_guard lock(mutex);
    std::vector<Delivery> replies;
    for (Station& s : stations)
        // A wrong line speed garbles every byte: that module hears nothing useful.
        if (lineSpeed == s.lineBaud && isForModule(frame, s.module.address()))
            replies.push_back(s.answer(frame, options.broadcastSilent));
    Delivery d = overlap(std::move(replies));
    d.baud = lineSpeed;
    return d;
}

bool Simulator::Impl::transmit(const Delivery& d, int baud)
{
    if (!waitUntil(Clock::now() + d.delay)) return false;
    const std::size_t size = d.reply.size();
    const std::size_t pieces = std::min<std::size_t>(std::size_t(d.pieces), size);
    for (std::size_t k = 0; k < pieces; ++k) {
        if (k > 0 && !waitUntil(Clock::now() + d.gap)) return false;
        const std::size_t from = k * size / pieces;
        const std::size_t to = (k + 1) * size / pieces;
        if (!pace(d.reply.data() + from, to - from, baud)) return false;
    }
    return true;
}

// Byte i leaves once its last bit would have arrived on a real line.
bool Simulator::Impl::pace(const std::uint8_t* data, std::size_t size, int baud)
{
    const auto start = Clock::now();
    const auto perByte = characterTime(baud);
    std::size_t sent = 0;
    while (sent < size) {
        if (!waitUntil(start + perByte * long(sent + 1))) return false;
        const auto elapsed = Clock::now() - start;
        const auto due = std::min<std::size_t>(size, std::size_t(elapsed / perByte));
        if (due > sent && !pty.write(data + sent, due - sent)) return false;
        sent = std::max(sent, due);
    }
    return true;
}

// Sleeps until `deadline`; false when the line was pulled meanwhile.
bool Simulator::Impl::waitUntil(Clock::time_point deadline)
{
    std::unique_lock lock(wakeMutex);
    return !hungUp.wait_until(lock, deadline, [this] { return hangingUp; });
}

void Simulator::Impl::wake()
{
    const std::uint64_t one = 1;
    [[maybe_unused]] const auto n = ::write(wakeFd, &one, sizeof one);
}

void Simulator::Impl::shutDown(bool abrupt)
{
    std::lock_guard guard(control);
    if (!thread.joinable()) return;
    {
        std::lock_guard lock(wakeMutex);
        hangingUp = abrupt;
    }
    hungUp.notify_all();
    stopping = true;
    wake();
    thread.join();
    pty.close();
    ::close(wakeFd);
    wakeFd = -1;
    std::lock_guard lock(mutex);
    path.clear();
}

Simulator::Simulator(Options options) : d_(std::make_unique<Impl>(std::move(options))) {}

Simulator::~Simulator() { stop(); }

std::variant<std::string, SimError> Simulator::start()
{
    std::lock_guard guard(d_->control);
    if (d_->thread.joinable()) return path();
    if (auto invalid = invalidOption(d_->options)) return SimError{*invalid};
    if (auto failure = d_->pty.open(d_->options.linkPath)) return SimError{*failure};
    d_->wakeFd = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    if (d_->wakeFd < 0) {
        d_->pty.close();
        return SimError{"eventfd failed"};
    }
    d_->stopping = false;
    {
        std::lock_guard lock(d_->wakeMutex);
        d_->hangingUp = false;
    }
    {
        std::lock_guard lock(d_->mutex);
        d_->path = d_->pty.path();
        d_->modelTime = Clock::now();
    }
    d_->thread = std::thread(&Impl::run, d_.get());
    return d_->pty.path();
}

void Simulator::stop() { d_->shutDown(false); }

void Simulator::hangUp() { d_->shutDown(true); }

bool Simulator::running() const { return !path().empty(); }

std::string Simulator::path() const
{
    std::lock_guard lock(d_->mutex);
    return d_->path;
}

std::vector<ModuleAccess> Simulator::modules() const
{
    std::vector<ModuleAccess> all;
    for (std::size_t i = 0; i < d_->stations.size(); ++i)
        all.push_back(ModuleAccess(*this, i));
    return all;
}

std::optional<ModuleAccess> Simulator::module(std::uint8_t address) const
{
    std::lock_guard lock(d_->mutex);
    for (std::size_t i = 0; i < d_->stations.size(); ++i)
        if (d_->stations[i].module.address() == address) return ModuleAccess(*this, i);
    return std::nullopt;
}

std::uint16_t Simulator::reg(int n) const { return ModuleAccess(*this, 0).reg(n); }
void Simulator::setReg(int n, std::uint16_t value) { ModuleAccess(*this, 0).setReg(n, value); }
std::uint8_t Simulator::address() const { return ModuleAccess(*this, 0).address(); }
void Simulator::setAddress(std::uint8_t address) { ModuleAccess(*this, 0).setAddress(address); }
int Simulator::baud() const { return ModuleAccess(*this, 0).baud(); }
void Simulator::failNext(const Fault& fault) { ModuleAccess(*this, 0).failNext(fault); }
void Simulator::failAlways(const Fault& fault) { ModuleAccess(*this, 0).failAlways(fault); }
void Simulator::clearFaults() { ModuleAccess(*this, 0).clearFaults(); }

template <class F> auto ModuleAccess::locked(F&& f) const
{
    std::lock_guard lock(simulator_->d_->mutex);
    return f(simulator_->d_->stations[index_]);
}

std::uint16_t ModuleAccess::reg(int n) const
{
    return locked([n](const Station& s) { return s.module.reg(n); });
}

void ModuleAccess::setReg(int n, std::uint16_t value)
{
    locked([=](Station& s) {
        s.module.setReg(n, value);
        if (n == kBaudCodeRegister && value < kBaudRates.size()) s.lineBaud = kBaudRates[value];
    });
}

std::uint8_t ModuleAccess::address() const
{
    return locked([](const Station& s) { return s.module.address(); });
}

void ModuleAccess::setAddress(std::uint8_t address)
{
    locked([address](Station& s) { s.module.setAddress(address); });
}

int ModuleAccess::baud() const
{
    return locked([](const Station& s) { return s.lineBaud; });
}

void ModuleAccess::failNext(const Fault& fault)
{
    locked([&fault](Station& s) { s.nextFaults.push_back(fault); });
}

void ModuleAccess::failAlways(const Fault& fault)
{
    locked([&fault](Station& s) { s.alwaysFaults.push_back(fault); });
}

void ModuleAccess::clearFaults()
{
    locked([](Station& s) {
        s.nextFaults.clear();
        s.alwaysFaults.clear();
    });
}

std::vector<RequestRecord> Simulator::requests() const
{
    std::lock_guard lock(d_->mutex);
    return {d_->log.begin(), d_->log.end()};
}

void Simulator::clearRequests()
{
    std::lock_guard lock(d_->mutex);
    d_->log.clear();
}

bool Simulator::waitForRequests(std::size_t count, std::chrono::milliseconds timeout) const
{
    std::unique_lock lock(d_->mutex);
    return d_->logGrew.wait_for(lock, timeout, [&] { return d_->log.size() >= count; });
}

} // namespace eload::sim
