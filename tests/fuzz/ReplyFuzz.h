#pragma once
// One fuzz case: arbitrary bytes, cut into arbitrary receive events, go
// through capture, the reply check and decoding. Only an accepted read reply
// with a correct CRC may change what the window shows. Returns false (and
// says why on stderr) when that is broken.

#include <cstddef>
#include <cstdint>

namespace eload::test {

bool runReplyFuzzCase(const std::uint8_t* data, std::size_t size);

} // namespace eload::test
