#pragma once
// What went wrong inside a read (internal): a ReadError without its file,
// which the reader fills in last.

#include "reader/RecordingFile.h"

#include <optional>

namespace eload::reader {

using Failure = std::optional<ReadError>;

} // namespace eload::reader
