#include "library/Sql.h"

#include <QSqlError>

namespace eload::library {

namespace {

QString firstWords(const QString& sql)
{
    const QString simple = sql.simplified();
    return simple.size() > 60 ? simple.left(57) + QStringLiteral("...") : simple;
}

} // namespace

Failure sqlFailure(const QString& step, const QSqlError& error)
{
    QString words = error.databaseText().simplified();
    if (words.isEmpty()) words = error.driverText().simplified();
    if (words.isEmpty()) words = QStringLiteral("no reason given");
    return {QStringLiteral("%1: %2").arg(step, words)};
}

Result<QSqlQuery> run(QSqlDatabase& db, const QString& sql, const QVariantList& values)
{
    QSqlQuery q(db);
    q.setForwardOnly(true);
    if (values.isEmpty()) {
        // Statements without values run as they are: PostgreSQL prepares
        // only queries and data changes, not BEGIN or CREATE.
        if (!q.exec(sql)) return sqlFailure(firstWords(sql), q.lastError());
        return q;
    }
    if (!q.prepare(sql)) return sqlFailure(firstWords(sql), q.lastError());
    for (const QVariant& v : values)
        q.addBindValue(v);
    if (!q.exec()) return sqlFailure(firstWords(sql), q.lastError());
    return q;
}

std::optional<Failure> exec(QSqlDatabase& db, const QString& sql, const QVariantList& values)
{
    auto r = run(db, sql, values);
    if (auto* f = failureOf(r)) return *f;
    return std::nullopt;
}

std::optional<Failure> beginWrite(QSqlDatabase& db, Dialect dialect)
{
    return exec(db, dialect == Dialect::Sqlite ? QStringLiteral("BEGIN IMMEDIATE")
                                               : QStringLiteral("BEGIN"));
}

std::optional<Failure> commit(QSqlDatabase& db) { return exec(db, QStringLiteral("COMMIT")); }

void rollback(QSqlDatabase& db) { exec(db, QStringLiteral("ROLLBACK")); }

} // namespace eload::library
