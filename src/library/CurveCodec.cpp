#include "library/CurveCodec.h"

#include <bit>
#include <cmath>
#include <cstring>

namespace eload::library {

namespace {

constexpr std::uint8_t kFormat = 1;
// The block's first byte: the column stream as it is, or zlib-packed.
constexpr char kPlain = 'P';
constexpr char kPacked = 'Z';
// Far above a chunk's size (a block holds a few thousand samples): a corrupt
// count or length is refused before anything is allocated for it.
constexpr std::uint64_t kMaxSamples = 1u << 22;
constexpr qsizetype kMaxPlainBytes = 64 << 20;

enum ColumnMode : std::uint8_t {
    Scaled = 0, // integers of 1/scale
    Bits = 1,   // the IEEE bits
};

// --- writing -------------------------------------------------------------

class Out {
public:
    void byte(std::uint8_t b) { bytes_.append(char(b)); }
    void unsignedVarint(std::uint64_t v)
    {
        while (v >= 0x80) {
            byte(std::uint8_t(v | 0x80));
            v >>= 7;
        }
        byte(std::uint8_t(v));
    }
    void signedVarint(std::int64_t v)
    {
        unsignedVarint((std::uint64_t(v) << 1) ^ std::uint64_t(v >> 63));
    }
    // Differences wrap: any 64-bit pattern goes through.
    void delta(std::uint64_t value, std::uint64_t& previous)
    {
        signedVarint(std::int64_t(value - previous));
        previous = value;
    }
    const QByteArray& bytes() const { return bytes_; }

private:
    QByteArray bytes_;
};

template <typename Float> bool scaledExactly(Float v, double scale, std::int64_t& n)
{
    if (!std::isfinite(v) || std::abs(double(v)) * scale > 9e15) return false;
    n = std::llround(double(v) * scale);
    const Float back = Float(double(n) / scale);
    return std::memcmp(&back, &v, sizeof v) == 0;
}

template <typename Float, typename Get>
void putFloatColumn(Out& out, std::span<const Sample> samples, double scale, Get get)
{
    using Bits = std::conditional_t<sizeof(Float) == 4, std::uint32_t, std::uint64_t>;
    std::vector<std::int64_t> scaled(samples.size());
    bool exact = true;
    for (std::size_t i = 0; i < samples.size() && exact; ++i)
        exact = scaledExactly<Float>(get(samples[i]), scale, scaled[i]);
    out.byte(exact ? Scaled : ColumnMode::Bits);
    std::uint64_t previous = 0;
    for (std::size_t i = 0; i < samples.size(); ++i)
        out.delta(exact ? std::uint64_t(scaled[i]) : std::bit_cast<Bits>(Float(get(samples[i]))),
                  previous);
}

template <typename Get> void putIntegerColumn(Out& out, std::span<const Sample> samples, Get get)
{
    std::uint64_t previous = 0;
    for (const Sample& s : samples)
        out.delta(std::uint64_t(std::int64_t(get(s))), previous);
}

// --- reading -------------------------------------------------------------

class In {
public:
    explicit In(QByteArrayView bytes) : bytes_(bytes) {}
    bool failed() const { return failed_; }
    std::uint8_t byte()
    {
        if (at_ >= bytes_.size()) return fail();
        return std::uint8_t(bytes_[at_++]);
    }
    std::uint64_t unsignedVarint()
    {
        std::uint64_t v = 0;
        for (int shift = 0; shift < 64; shift += 7) {
            const std::uint8_t b = byte();
            if (failed_) return 0;
            v |= std::uint64_t(b & 0x7f) << shift;
            if (!(b & 0x80)) return v;
        }
        return fail();
    }
    std::int64_t signedVarint()
    {
        const std::uint64_t z = unsignedVarint();
        return std::int64_t(z >> 1) ^ -std::int64_t(z & 1);
    }
    std::uint64_t delta(std::uint64_t& previous)
    {
        previous += std::uint64_t(signedVarint());
        return previous;
    }
    bool atEnd() const { return at_ == bytes_.size(); }
    void markFailed() { failed_ = true; }

private:
    std::uint8_t fail()
    {
        failed_ = true;
        return 0;
    }
    QByteArrayView bytes_;
    qsizetype at_ = 0;
    bool failed_ = false;
};

template <typename Float, typename Set>
void getFloatColumn(In& in, std::vector<Sample>& samples, double scale, Set set)
{
    using Bits = std::conditional_t<sizeof(Float) == 4, std::uint32_t, std::uint64_t>;
    const std::uint8_t mode = in.byte();
    if (mode != Scaled && mode != ColumnMode::Bits) return in.markFailed();
    std::uint64_t previous = 0;
    for (Sample& s : samples) {
        const std::uint64_t v = in.delta(previous);
        set(s, mode == Scaled ? Float(double(std::int64_t(v)) / scale)
                              : std::bit_cast<Float>(Bits(v)));
    }
}

template <typename Set> void getIntegerColumn(In& in, std::vector<Sample>& samples, Set set)
{
    std::uint64_t previous = 0;
    for (Sample& s : samples)
        set(s, std::int64_t(in.delta(previous)));
}

std::optional<Failure> corrupt(const QString& what)
{
    return Failure{QStringLiteral("a curve block is damaged (%1)").arg(what)};
}

} // namespace

QByteArray encodeSamples(std::span<const Sample> samples, int level)
{
    Out out;
    out.byte(kFormat);
    out.unsignedVarint(samples.size());
    putIntegerColumn(out, samples, [](const Sample& s) { return s.msecs; });
    putIntegerColumn(out, samples, [](const Sample& s) { return s.monotonicMsecs - s.msecs; });
    putFloatColumn<float>(out, samples, 100, [](const Sample& s) { return s.voltage; });
    putFloatColumn<float>(out, samples, 100, [](const Sample& s) { return s.current; });
    putFloatColumn<float>(out, samples, 100, [](const Sample& s) { return s.power; });
    putFloatColumn<double>(out, samples, 1000, [](const Sample& s) { return s.capacityAh; });
    putFloatColumn<double>(out, samples, 1000, [](const Sample& s) { return s.energyWh; });
    putIntegerColumn(out, samples, [](const Sample& s) { return s.temperatureC; });
    putIntegerColumn(out, samples, [](const Sample& s) { return s.resistanceMilliohm; });
    putIntegerColumn(out, samples, [](const Sample& s) { return s.protection; });
    putIntegerColumn(out, samples, [](const Sample& s) { return s.loadOn ? 1 : 0; });
    putIntegerColumn(out, samples, [](const Sample& s) { return s.dischargeSeconds; });
    if (level == 0) return kPlain + out.bytes();
    return kPacked + qCompress(out.bytes(), level);
}

namespace {

// The column stream of a block.
std::optional<QByteArray> unpacked(QByteArrayView bytes)
{
    if (bytes.isEmpty()) return std::nullopt;
    if (bytes.front() == kPlain) return bytes.sliced(1).toByteArray();
    if (bytes.front() != kPacked || bytes.size() < 5) return std::nullopt;
    // qCompress's own header: the size it will allocate, checked first.
    const std::uint32_t declared =
        std::uint32_t(std::uint8_t(bytes[1])) << 24 | std::uint32_t(std::uint8_t(bytes[2])) << 16 |
        std::uint32_t(std::uint8_t(bytes[3])) << 8 | std::uint32_t(std::uint8_t(bytes[4]));
    if (declared > kMaxPlainBytes) return std::nullopt;
    QByteArray plain =
        qUncompress(reinterpret_cast<const uchar*>(bytes.data() + 1), bytes.size() - 1);
    if (plain.isEmpty()) return std::nullopt;
    return plain;
}

} // namespace

std::optional<Failure> decodeSamples(QByteArrayView bytes, std::vector<Sample>& out)
{
    const std::optional<QByteArray> stream = unpacked(bytes);
    if (!stream) return corrupt(QStringLiteral("packing"));
    const QByteArray& plain = *stream;
    In in(plain);
    if (in.byte() != kFormat) return corrupt(QStringLiteral("unknown format"));
    const std::uint64_t count = in.unsignedVarint();
    if (in.failed() || count > kMaxSamples || count > std::uint64_t(plain.size()))
        return corrupt(QStringLiteral("count"));

    std::vector<Sample> samples(count);
    getIntegerColumn(in, samples, [](Sample& s, std::int64_t v) { s.msecs = v; });
    getIntegerColumn(in, samples,
                     [](Sample& s, std::int64_t v) { s.monotonicMsecs = s.msecs + v; });
    getFloatColumn<float>(in, samples, 100, [](Sample& s, float v) { s.voltage = v; });
    getFloatColumn<float>(in, samples, 100, [](Sample& s, float v) { s.current = v; });
    getFloatColumn<float>(in, samples, 100, [](Sample& s, float v) { s.power = v; });
    getFloatColumn<double>(in, samples, 1000, [](Sample& s, double v) { s.capacityAh = v; });
    getFloatColumn<double>(in, samples, 1000, [](Sample& s, double v) { s.energyWh = v; });
    getIntegerColumn(in, samples,
                     [](Sample& s, std::int64_t v) { s.temperatureC = std::uint16_t(v); });
    getIntegerColumn(in, samples,
                     [](Sample& s, std::int64_t v) { s.resistanceMilliohm = std::uint16_t(v); });
    getIntegerColumn(in, samples,
                     [](Sample& s, std::int64_t v) { s.protection = std::uint16_t(v); });
    getIntegerColumn(in, samples, [](Sample& s, std::int64_t v) { s.loadOn = v != 0; });
    getIntegerColumn(in, samples,
                     [](Sample& s, std::int64_t v) { s.dischargeSeconds = std::int32_t(v); });
    if (in.failed() || !in.atEnd()) return corrupt(QStringLiteral("values"));
    out.insert(out.end(), samples.begin(), samples.end());
    return std::nullopt;
}

bool sameSample(const Sample& a, const Sample& b)
{
    const auto bits = [](auto v) {
        return std::bit_cast<std::conditional_t<sizeof(v) == 4, std::uint32_t, std::uint64_t>>(v);
    };
    return a.msecs == b.msecs && a.monotonicMsecs == b.monotonicMsecs &&
           bits(a.voltage) == bits(b.voltage) && bits(a.current) == bits(b.current) &&
           bits(a.power) == bits(b.power) && bits(a.capacityAh) == bits(b.capacityAh) &&
           bits(a.energyWh) == bits(b.energyWh) && a.temperatureC == b.temperatureC &&
           a.resistanceMilliohm == b.resistanceMilliohm && a.protection == b.protection &&
           a.loadOn == b.loadOn && a.dischargeSeconds == b.dischargeSeconds;
}

} // namespace eload::library
