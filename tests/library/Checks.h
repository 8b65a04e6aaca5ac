#pragma once
// Checks shared by the library's tests on SQLite and on PostgreSQL. Each
// records its failures with Qt Test; a caller returns when
// QTest::currentTestFailed().

#include "library/Store.h"

namespace eload::testing {

void compareSamples(const std::vector<discharge::Sample>& got,
                    const std::vector<discharge::Sample>& want);

// A database with no tables comes up to the current schema; one of a newer
// schema is refused.
void checkNewAndNewerSchema(const library::DatabaseLocation& location);
// A database of version 1 with a test in it comes up to the current schema
// with the test, its figures and its curve intact and the new column filled.
void checkUpgradeFromVersion1(const library::DatabaseLocation& location);

// The record and curve of a test the driver played (module from 0).
void checkDriverTest(library::Store& store, const QUuid& uuid, int samples, unsigned seed,
                     int module);

} // namespace eload::testing
