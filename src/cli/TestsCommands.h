#pragma once
// Each `eload-cli tests` command over an open store (internal to Tests.cpp).

#include "cli/TestsArguments.h"

namespace eload::cli {

int listTests(library::Store& store, const TestsInvocation& inv);
int showTest(library::Store& store, const TestsInvocation& inv);
int exportTest(library::Store& store, const TestsInvocation& inv);
int importFiles(library::Store& store, const TestsInvocation& inv);
int gradeTests(library::Store& store, const TestsInvocation& inv);
int removeTests(library::Store& store, const TestsInvocation& inv);
int syncSpool(library::Store& store, const TestsInvocation& inv);
// TestsPack.cpp
int packCells(library::Store& store, const TestsInvocation& inv);

} // namespace eload::cli
