// libFuzzer entry: abort on the first case that breaks the reply rules.

#include "fuzz/ReplyFuzz.h"

#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    if (!eload::test::runReplyFuzzCase(data, size)) std::abort();
    return 0;
}
