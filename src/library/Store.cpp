#include "library/Store.h"

#include <QAtomicInt>
#include <QDir>
#include <QFileInfo>
#include <QSqlError>

namespace eload::library {

namespace {

QAtomicInt connections;

QString newConnectionName()
{
    return QStringLiteral("eload-library-%1").arg(connections.fetchAndAddRelaxed(1));
}

// A writer commits about once a second: each commit on the disk before the
// next, and a busy file waited for (another process writing) rather than
// failed at once.
const QStringList kSqlitePragmas = {
    QStringLiteral("PRAGMA journal_mode = WAL"),
    QStringLiteral("PRAGMA synchronous = FULL"),
    QStringLiteral("PRAGMA foreign_keys = ON"),
};
// libpq prints the server's notices on stderr ("relation ... already exists, skipping").
const QStringList kPostgresSettings = {QStringLiteral("SET client_min_messages TO WARNING")};
const QString kSqliteBusyOption = QStringLiteral("QSQLITE_BUSY_TIMEOUT=10000");

std::optional<Failure> missingDriver(const QString& driver, const QString& package)
{
    if (QSqlDatabase::isDriverAvailable(driver)) return std::nullopt;
    return Failure{QStringLiteral("Qt's %1 driver is missing (install %2)").arg(driver, package)};
}

} // namespace

Store::Store(DatabaseLocation location, Dialect dialect, QString connection)
    : location_(std::move(location)), dialect_(dialect), connection_(std::move(connection))
{
}

Store::~Store()
{
    statements_.clear();
    db_.close();
    db_ = QSqlDatabase();
    QSqlDatabase::removeDatabase(connection_);
}

Result<std::unique_ptr<Store>> Store::open(const DatabaseLocation& location, int schemaTarget)
{
    const Dialect dialect =
        location.kind == DatabaseLocation::Kind::Sqlite ? Dialect::Sqlite : Dialect::Postgres;
    std::unique_ptr<Store> store(new Store(location, dialect, newConnectionName()));
    if (auto f = store->connect()) return store->named(*f);
    if (auto f = migrate(store->db_, dialect, schemaTarget)) return store->named(*f);
    return store;
}

std::optional<Failure> Store::connect()
{
    if (dialect_ == Dialect::Sqlite) {
        if (auto f = missingDriver(QStringLiteral("QSQLITE"), QStringLiteral("libqt6sql6-sqlite")))
            return f;
        const QString folder = QFileInfo(location_.path).absolutePath();
        if (!QDir().mkpath(folder))
            return Failure{QStringLiteral("cannot make the folder %1").arg(folder)};
        db_ = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), connection_);
        db_.setDatabaseName(location_.path);
        db_.setConnectOptions(kSqliteBusyOption);
    } else {
        if (auto f = missingDriver(QStringLiteral("QPSQL"), QStringLiteral("libqt6sql6-psql")))
            return f;
        db_ = QSqlDatabase::addDatabase(QStringLiteral("QPSQL"), connection_);
        db_.setHostName(location_.host);
        db_.setPort(location_.port);
        db_.setDatabaseName(location_.database);
        db_.setUserName(location_.user);
        db_.setPassword(location_.password);
        db_.setConnectOptions(location_.connectOptions());
    }
    if (!db_.open()) return sqlFailure(QStringLiteral("cannot connect"), db_.lastError());
    const QStringList& settings = dialect_ == Dialect::Sqlite ? kSqlitePragmas : kPostgresSettings;
    for (const QString& setting : settings)
        if (auto f = exec(db_, setting)) return f;
    return std::nullopt;
}

Result<QSqlQuery*> Store::cached(const QString& sql, const QVariantList& values)
{
    auto it = statements_.find(sql);
    if (it == statements_.end()) {
        QSqlQuery q(db_);
        q.setForwardOnly(true);
        if (!q.prepare(sql)) return named(sqlFailure(sql.simplified().left(60), q.lastError()));
        it = statements_.insert(sql, q);
    }
    QSqlQuery& q = *it;
    for (int i = 0; i < values.size(); ++i)
        q.bindValue(i, values[i]);
    if (!q.exec()) return named(sqlFailure(sql.simplified().left(60), q.lastError()));
    return &q;
}

std::optional<Failure> Store::change(const QString& sql, const QVariantList& values)
{
    auto q = cached(sql, values);
    if (auto* f = failureOf(q)) return *f;
    std::get<QSqlQuery*>(q)->finish();
    return std::nullopt;
}

// The first column of the first row; a null value for no row. The statement
// is reset at once, so that no half-read query holds SQLite's read snapshot.
Result<QVariant> Store::scalar(const QString& sql, const QVariantList& values)
{
    auto q = cached(sql, values);
    if (auto* f = failureOf(q)) return *f;
    QSqlQuery* query = std::get<QSqlQuery*>(q);
    const QVariant v = query->next() ? query->value(0) : QVariant();
    query->finish();
    return v;
}

Failure Store::named(const Failure& f) const
{
    return {withoutPassword(QStringLiteral("%1: %2").arg(location_.displayText(), f.message),
                            location_.password)};
}

std::optional<Failure> Store::beginWrite() { return named(library::beginWrite(db_, dialect_)); }

std::optional<Failure> Store::commit() { return named(library::commit(db_)); }

void Store::rollback() { library::rollback(db_); }

} // namespace eload::library
