#pragma once
// The test library on one connection: records of tests and their curves,
// written and read with bound values only. One Store belongs to the thread
// that opened it (Qt SQL's rule); the writer opens its own.
//
// A curve is stored in chunks of consecutive samples, keyed by the index of
// their first sample. A live test adds a small chunk at each flush;
// compactCurve merges them into blocks of kBlockSamples, so that a long test
// is a few dozen rows. appendSamples skips samples already stored, so a
// batch written twice (a replay of the spool after a commit whose answer was
// lost) stores nothing twice.

#include "library/Location.h"
#include "library/Schema.h"
#include "library/TestRecord.h"

#include "discharge/Sample.h"

#include <QHash>
#include <QStringList>
#include <memory>
#include <span>
#include <vector>

namespace eload::library {

using discharge::Sample;

inline constexpr int kBlockSamples = 4096;

struct TestFilter {
    QString cell; // the cell's name; '*' and '?' as wildcards; any case
    QString type; // the cell's type, any case
    std::optional<qint64> sinceMsecs, untilMsecs; // start in [since, until), UTC
    QString grade;
    QList<qint64> ids; // only these
};

// How much of each record a list reads: what a table of tests shows (id,
// UUID, cell, type, start and end, state, end, capacity, resistance, flags,
// replies, state of health, grade), or all of it.
enum class ListDetail { Table, Full };

class Store {
public:
    // Connects and brings the schema up to `schemaTarget`. A SQLite file and
    // its folder are made on first use.
    static Result<std::unique_ptr<Store>> open(const DatabaseLocation& location,
                                               int schemaTarget = kSchemaVersion);
    ~Store();
    Store(const Store&) = delete;
    Store& operator=(const Store&) = delete;

    Dialect dialect() const { return dialect_; }
    const DatabaseLocation& location() const { return location_; }
    QSqlDatabase& database() { return db_; }

    std::optional<Failure> beginWrite();
    std::optional<Failure> commit();
    void rollback();

    // --- records (StoreTests.cpp)
    // The test's key; the test is inserted with its header (and the source
    // of an import) when its UUID is new.
    Result<qint64> ensureTest(const TestHeader& header, const std::optional<Source>& source = {});
    // The model's figures so far. Figures of fewer samples than those stored,
    // or of a test already finished, change nothing (a late replay).
    std::optional<Failure> storeFigures(qint64 id, const discharge::Summary& s, bool finished,
                                        std::optional<double> soh, qint64 nowMsecs);
    std::optional<Failure> touch(qint64 id, qint64 nowMsecs);
    std::optional<Failure> storeGrade(qint64 id, const QString& grade); // empty: none
    // The cell of a test, named or corrected while or after it ran; its state
    // of health follows the new rated capacity. False when there is no such test.
    Result<bool> storeCell(const QUuid& test, const Cell& cell);
    Result<std::vector<TestRecord>> list(const TestFilter& filter,
                                         ListDetail detail = ListDetail::Full);
    // By the key ("12") or the UUID; nothing when there is no such test.
    Result<std::optional<TestRecord>> find(const QString& idOrUuid);
    Result<std::optional<TestRecord>> byId(qint64 id);
    // The tests imported from a file with this content.
    Result<QList<qint64>> importedAs(const QByteArray& sha256);
    // Whether there was such a test.
    Result<bool> remove(qint64 id);

    // --- curves (StoreCurves.cpp)
    // One past the last sample stored.
    Result<qint64> storedSamples(qint64 id);
    // Stores samples [firstIndex, firstIndex + size) but those already there;
    // returns the new end.
    Result<qint64> appendSamples(qint64 id, qint64 firstIndex, std::span<const Sample> samples);
    // Merges runs of small chunks into blocks, in a transaction of its own;
    // the number of chunks merged.
    Result<int> compactCurve(qint64 id);
    Result<std::vector<Sample>> curve(qint64 id);
    // Bytes of the curve's blocks.
    Result<qint64> curveBytes(qint64 id);

private:
    Store(DatabaseLocation location, Dialect dialect, QString connection);
    std::optional<Failure> connect();
    // Statements a writer runs every second, prepared once per connection
    // (on PostgreSQL a prepare is a round trip to the server).
    Result<QSqlQuery*> cached(const QString& sql, const QVariantList& values);
    std::optional<Failure> change(const QString& sql, const QVariantList& values);
    Result<QVariant> scalar(const QString& sql, const QVariantList& values);
    std::optional<Failure> insertChunks(qint64 id, qint64 first, std::span<const Sample> samples,
                                        int level);
    // `f` with the database named and no password in it.
    Failure named(const Failure& f) const;
    template <typename T> Result<T> named(Result<T> r) const
    {
        if (auto* f = failureOf(r)) return named(*f);
        return r;
    }
    std::optional<Failure> named(const std::optional<Failure>& f) const
    {
        if (f) return named(*f);
        return std::nullopt;
    }

    DatabaseLocation location_;
    Dialect dialect_;
    QString connection_;
    QSqlDatabase db_;
    QHash<QString, QSqlQuery> statements_;
};

} // namespace eload::library
