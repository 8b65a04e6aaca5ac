#pragma once
// The curve of a test, compact: a run of samples as one block of bytes.
// Column by column, each value as the difference to the one before in a
// zigzag varint, then zlib. Voltage, current and power go as hundredths and
// the counts as thousandths when that gives back the very same float or
// double (always, for values taken from the module's registers); a column
// that does not goes as its bits. Every field of a Sample comes back exactly.

#include "discharge/Sample.h"
#include "library/Failure.h"

#include <QByteArray>
#include <QByteArrayView>
#include <span>
#include <vector>

namespace eload::library {

using discharge::Sample;

// `level`: zlib's, 1 (fast) to 9 (small); -1 its default; 0 not packed at
// all (a live chunk of a few samples, merged into a packed block later).
QByteArray encodeSamples(std::span<const Sample> samples, int level = -1);
// Appends the samples of `bytes` to `out`; on a failure `out` is left as it was.
std::optional<Failure> decodeSamples(QByteArrayView bytes, std::vector<Sample>& out);

// Every field equal, floats and doubles by their bits.
bool sameSample(const Sample& a, const Sample& b);

} // namespace eload::library
