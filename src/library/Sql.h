#pragma once
// Small steps over a Qt SQL connection shared by the schema, the store and
// the writer (internal): statements with bound values only, write
// transactions that take the database's write lock at their start, and
// failures as values.

#include "library/Failure.h"

#include <QSqlDatabase>
#include <QSqlQuery>
#include <QVariant>
#include <initializer_list>

namespace eload::library {

enum class Dialect { Sqlite, Postgres };

// A prepared statement run with `values` bound in order; the failure says
// which step failed and the driver's words.
Result<QSqlQuery> run(QSqlDatabase& db, const QString& sql, const QVariantList& values = {});
std::optional<Failure> exec(QSqlDatabase& db, const QString& sql, const QVariantList& values = {});

// SQLite: BEGIN IMMEDIATE, so that two writers wait for each other at the
// start instead of one failing on its first write. PostgreSQL: BEGIN.
std::optional<Failure> beginWrite(QSqlDatabase& db, Dialect dialect);
std::optional<Failure> commit(QSqlDatabase& db);
void rollback(QSqlDatabase& db);

Failure sqlFailure(const QString& step, const QSqlError& error);

} // namespace eload::library
