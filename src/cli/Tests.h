#pragma once
// `eload-cli tests ...`: the test library from a terminal and from scripts.

#include <QStringList>

namespace eload::cli {

// The arguments after "tests"; the exit status.
int runTests(const QStringList& args);

} // namespace eload::cli
