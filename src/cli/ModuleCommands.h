#pragma once
// The commands that are over after one exchange or a few per module: read,
// set, on, off, clear, address and scan. Each returns the exit status; results go
// to stdout, what went wrong to stderr, naming the address and the line.

#include "cli/Arguments.h"

namespace eload::cli {

class Bus;

int readValues(Bus& bus, const Invocation& inv);
int setPresets(Bus& bus, const Invocation& inv);
int switchLoad(Bus& bus, const Invocation& inv, bool on);
int clearData(Bus& bus, const Invocation& inv);
int changeAddress(Bus& bus, const Invocation& inv);
// Which addresses answer on the line (those named, else all).
int scanModules(Bus& bus, const Invocation& inv);

// `report`: the summary of each recording; needs no line.
int reportRecordings(const Invocation& inv);

} // namespace eload::cli
