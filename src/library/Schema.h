#pragma once
// The test library's tables, the same on SQLite and PostgreSQL, and their
// versioned migrations. A database records its version in schema_version;
// opening one brings it up to this program's version step by step, each
// step in the transaction that records it, under a lock so that two
// stations opening a new database at once migrate it once. A database of a
// newer version is refused rather than written in a shape this program does
// not know.
//
// 1: tests (one row per test: cell, station, presets, figures, state of
//    health, grade, source of an import) and curve_chunks (the curve in
//    compact blocks, keyed by the test and the index of its first sample).
// 2: tests.updated_ms (when a test was last written, so that a test whose
//    writer crashed is told from one still running) and indexes for the
//    list's filters (start; cell, type and grade in any case).

#include "library/Sql.h"

namespace eload::library {

inline constexpr int kSchemaVersion = 2;

// The version recorded in `db`; 0 for a database without the library's tables.
Result<int> schemaVersion(QSqlDatabase& db);
// Brings `db` up to `target` (this program's version unless a test asks for an older one).
std::optional<Failure> migrate(QSqlDatabase& db, Dialect dialect, int target = kSchemaVersion);

} // namespace eload::library
