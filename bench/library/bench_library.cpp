// The test library at the size of a lab's: 10,000 tests (synthetic, each
// with a curve of --curve-samples replies), then
//   - list and filter: all of them, one cell, cells by a pattern, a type and
//     grade, one month;
//   - a nine-hour test (64,800 replies) written by the writer: its curve's
//     bytes on disk and the time to open it;
//   - the writer's cost per reply, fed as four modules at two replies a
//     second give it, one flush at a time;
// each beside the plain layout a simpler library would use, one row per
// reply (the same replies, the same database, the same run).
//
// usage: bench_library [--postgres | --db PATH|URL] [--tests N] [--curve-samples M]
//        [--runs R] [--rounds K]
// --postgres starts a server of its own (as the tests do). Prints "key value" lines.

#include "PgServer.h"
#include "Synthetic.h"

#include "discharge/TestModel.h"
#include "library/Store.h"
#include "library/TestWriter.h"
#include "support/Measure.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QSqlError>
#include <QSqlQuery>
#include <QTemporaryDir>
#include <QThread>
#include <algorithm>
#include <cstdio>
#include <ctime>

using namespace eload;
using namespace eload::library;
using discharge::Sample;

namespace {

const QStringList kTypes = {"18650 Li-ion", "21700 Li-ion", "LiFePO4 26650", "NiMH AA"};
const QStringList kGrades = {"A", "B", "C", "reject", ""};
constexpr qint64 kYear = 365LL * 86'400'000;
constexpr qint64 kStart = 1'767'225'600'000; // 2026-01-01 UTC

template <typename T> T valueOf(Result<T> r)
{
    if (auto* f = failureOf(r)) qFatal("%s", qPrintable(f->message));
    return std::move(std::get<T>(r));
}

void report(const char* key, double value, const char* unit = "")
{
    std::printf("%-44s %12.3f %s\n", key, value, unit);
    std::fflush(stdout);
}

double median(std::vector<double> v)
{
    std::nth_element(v.begin(), v.begin() + qsizetype(v.size() / 2), v.end());
    return v[v.size() / 2];
}

struct Timing {
    double wallMs = 0, cpuMs = 0; // medians
};

// Wall time and this thread's CPU time: on a shared machine the CPU time
// is the cost, the wall time what a user waits.
template <typename F> Timing timed(int runs, F&& f)
{
    std::vector<double> wall, cpu;
    for (int i = 0; i < runs; ++i) {
        QElapsedTimer t;
        const double cpu0 = bench::threadCpuMs();
        t.start();
        f();
        wall.push_back(double(t.nsecsElapsed()) / 1e6);
        cpu.push_back(bench::threadCpuMs() - cpu0);
    }
    return {median(wall), median(cpu)};
}

void report(const char* key, const Timing& t, const QString& note = {})
{
    std::printf("%-44s %9.2f ms wall %9.2f ms CPU %s\n", key, t.wallMs, t.cpuMs, qPrintable(note));
    std::fflush(stdout);
}

double processCpuMs()
{
    timespec t{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
    return double(t.tv_sec) * 1e3 + double(t.tv_nsec) / 1e6;
}

// Where each measurement's database lives: a file in a folder, or a
// database on the server.
class Place {
public:
    explicit Place(bool postgres) : postgres_(postgres)
    {
        if (!postgres_) return;
        QString why;
        if (!server_.start(&why)) qFatal("%s", qPrintable(why));
    }
    DatabaseLocation make(const QString& name)
    {
        if (!postgres_)
            return std::get<DatabaseLocation>(parseLocation(dir_.filePath(name + ".sqlite")));
        QString why;
        if (!server_.superuser({QStringLiteral("CREATE DATABASE %1").arg(name)}, &why))
            qFatal("%s", qPrintable(why));
        return std::get<DatabaseLocation>(parseLocation(server_.url(name)));
    }

private:
    bool postgres_;
    QTemporaryDir dir_;
    testing::PgServer server_;
};

// --- 10,000 tests ---------------------------------------------------------------

std::vector<Sample> shifted(const std::vector<Sample>& base, qint64 start)
{
    std::vector<Sample> v = base;
    const qint64 by = start - base.front().msecs;
    for (Sample& s : v) {
        s.msecs += by;
        s.monotonicMsecs += by;
    }
    return v;
}

void populate(Store& store, int tests, int curveSamples)
{
    std::vector<std::vector<Sample>> bases;
    for (unsigned seed = 0; seed < 16; ++seed)
        bases.push_back(testing::syntheticDischarge({curveSamples, seed, kStart, 500, true}));
    const int cells = std::max(1, tests / 25);
    QElapsedTimer t;
    t.start();
    for (int i = 0; i < tests; ++i) {
        if (i % 200 == 0 && store.beginWrite()) qFatal("begin");
        TestHeader h;
        h.uuid = QUuid::createUuid();
        h.cell = {QStringLiteral("cell-%1").arg(i % cells, 3, 10, QLatin1Char('0')), kTypes[i % 4],
                  2.5};
        h.station = QStringLiteral("station-%1").arg(i % 3);
        h.port = QStringLiteral("/dev/ttyUSB0");
        h.address = 1 + i % 4;
        h.startMsecs = kStart + qint64(i) * (kYear / tests);
        const auto curve = shifted(bases[std::size_t(i % 16)], h.startMsecs);
        const qint64 id = valueOf(store.ensureTest(h));
        valueOf(store.appendSamples(id, 0, curve));
        const discharge::Summary s = discharge::summarize(curve);
        if (store.storeFigures(id, s, true, stateOfHealth(s, h.cell), s.endMsecs) ||
            store.storeGrade(id, kGrades[i % 5]))
            qFatal("figures");
        if ((i % 200 == 199 || i == tests - 1) && store.commit()) qFatal("commit");
    }
    report("populate: seconds", double(t.elapsed()) / 1000.0, "s");
}

void listAndFilter(Store& store, int runs)
{
    struct Case {
        const char* name;
        TestFilter filter;
        ListDetail detail = ListDetail::Table;
    };
    const qint64 march = kStart + 59LL * 86'400'000;
    const std::vector<Case> cases = {
        {"list: all, every field", {}, ListDetail::Full},
        {"list: all", {}},
        {"list: one cell (cell-123)", {QStringLiteral("cell-123"), {}, {}, {}, {}, {}}},
        {"list: cells cell-01* (pattern)", {QStringLiteral("cell-01*"), {}, {}, {}, {}, {}}},
        {"list: type and grade",
         {{}, QStringLiteral("LiFePO4 26650"), {}, {}, QStringLiteral("B"), {}}},
        {"list: one month (March)", {{}, {}, march, march + 31LL * 86'400'000, {}, {}}},
    };
    for (const Case& c : cases) {
        std::size_t rows = 0;
        const Timing t =
            timed(runs, [&] { rows = valueOf(store.list(c.filter, c.detail)).size(); });
        report(c.name, t, QStringLiteral("(%1 tests)").arg(rows));
    }
}

// --- the peer: one row per reply -------------------------------------------------

void makeRowTable(Store& store)
{
    const bool lite = store.dialect() == Dialect::Sqlite;
    const QString real = lite ? QStringLiteral("REAL") : QStringLiteral("DOUBLE PRECISION");
    QSqlQuery q(store.database());
    if (!q.exec(
            QStringLiteral("CREATE TABLE replies (test_id BIGINT NOT NULL, idx INTEGER NOT NULL,"
                           " msecs BIGINT, steady BIGINT, voltage %1, current %1, power %1,"
                           " capacity %1, energy %1, temperature INTEGER, resistance INTEGER,"
                           " protection INTEGER, load_on INTEGER, seconds INTEGER,"
                           " PRIMARY KEY (test_id, idx))")
                .arg(real)))
        qFatal("%s", qPrintable(q.lastError().text()));
}

void insertRows(Store& store, qint64 test, qint64 first, std::span<const Sample> samples)
{
    QSqlQuery q(store.database());
    q.prepare(
        QStringLiteral("INSERT INTO replies VALUES (?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?)"));
    for (std::size_t i = 0; i < samples.size(); ++i) {
        const Sample& s = samples[i];
        for (const QVariant& v :
             QVariantList{test, first + qint64(i), s.msecs, s.monotonicMsecs, double(s.voltage),
                          double(s.current), double(s.power), s.capacityAh, s.energyWh,
                          int(s.temperatureC), int(s.resistanceMilliohm), int(s.protection),
                          s.loadOn ? 1 : 0, s.dischargeSeconds})
            q.addBindValue(v);
        if (!q.exec()) qFatal("%s", qPrintable(q.lastError().text()));
    }
}

std::vector<Sample> readRows(Store& store, qint64 test)
{
    QSqlQuery q(store.database());
    q.setForwardOnly(true);
    q.prepare(QStringLiteral("SELECT msecs, steady, voltage, current, power, capacity, energy,"
                             " temperature, resistance, protection, load_on, seconds FROM replies"
                             " WHERE test_id = ? ORDER BY idx"));
    q.addBindValue(test);
    if (!q.exec()) qFatal("%s", qPrintable(q.lastError().text()));
    std::vector<Sample> samples;
    while (q.next()) {
        Sample s;
        s.msecs = q.value(0).toLongLong();
        s.monotonicMsecs = q.value(1).toLongLong();
        s.voltage = float(q.value(2).toDouble());
        s.current = float(q.value(3).toDouble());
        s.power = float(q.value(4).toDouble());
        s.capacityAh = q.value(5).toDouble();
        s.energyWh = q.value(6).toDouble();
        s.temperatureC = std::uint16_t(q.value(7).toInt());
        s.resistanceMilliohm = std::uint16_t(q.value(8).toInt());
        s.protection = std::uint16_t(q.value(9).toInt());
        s.loadOn = q.value(10).toInt() != 0;
        s.dischargeSeconds = q.value(11).toInt();
        samples.push_back(s);
    }
    return samples;
}

// Bytes the database holds for a table: SQLite's pages (dbstat), PostgreSQL's
// relation with its TOAST and indexes.
qint64 tableBytes(Store& store, const QString& table)
{
    QSqlQuery q(store.database());
    const bool ok = store.dialect() == Dialect::Sqlite
                        ? q.exec(QStringLiteral("SELECT SUM(pgsize) FROM dbstat WHERE name = '%1'"
                                                " OR name LIKE 'sqlite_autoindex_%1%'")
                                     .arg(table))
                        : q.exec(QStringLiteral("SELECT pg_total_relation_size('%1')").arg(table));
    if (!ok || !q.next()) qFatal("%s", qPrintable(q.lastError().text()));
    return q.value(0).toLongLong();
}

// --- a nine-hour test ------------------------------------------------------------

void nineHours(Place& place, int runs)
{
    const DatabaseLocation location = place.make(QStringLiteral("ninehours"));
    const auto curve = testing::syntheticDischarge({64'800, 99, kStart, 500, true});
    QUuid uuid;
    {
        WriterOptions o;
        o.location = location;
        o.spoolFolder = QDir::temp().filePath(QStringLiteral("bench-library-spool"));
        TestWriter writer(o);
        TestHeader h;
        h.cell = {QStringLiteral("nine"), kTypes[0], 2.5};
        uuid = writer.begin(h);
        for (const Sample& s : curve)
            writer.append(uuid, s);
        writer.finish(uuid, discharge::summarize(curve));
        if (!writer.stop()) qFatal("writer");
    }
    auto store = valueOf(Store::open(location));
    const qint64 id = valueOf(store->find(uuid.toString()))->id;
    report("nine hours (64,800 replies): blob bytes", double(valueOf(store->curveBytes(id))), "B");
    report("nine hours: curve table on disk", double(tableBytes(*store, "curve_chunks")), "B");
    report("nine hours: open the curve", timed(runs, [&] { valueOf(store->curve(id)); }));

    makeRowTable(*store);
    if (store->beginWrite()) qFatal("begin");
    insertRows(*store, id, 0, curve);
    if (store->commit()) qFatal("commit");
    report("peer, row per reply: table on disk", double(tableBytes(*store, "replies")), "B");
    report("peer, row per reply: open the curve", timed(runs, [&] { readRows(*store, id); }));
}

// --- the writer's cost ----------------------------------------------------------------

// Four modules at two replies a second: eight replies per one-second flush.
void writerCost(Place& place, int rounds)
{
    const DatabaseLocation location = place.make(QStringLiteral("cost"));
    std::vector<std::vector<Sample>> curves;
    for (int m = 0; m < 4; ++m)
        curves.push_back(testing::syntheticDischarge({2 * rounds, unsigned(m), kStart, 500, true}));
    WriterOptions o;
    o.location = location;
    o.spoolFolder = QDir::temp().filePath(QStringLiteral("bench-library-spool"));
    o.flushMs = 20;
    double eventMs = 0, writerCpuMs = 0;
    {
        TestWriter writer(o);
        QUuid uuids[4];
        discharge::TestModel models[4];
        for (int m = 0; m < 4; ++m)
            uuids[m] = writer.begin({});
        QThread::msleep(200);
        const double processStart = processCpuMs(), mainStart = bench::threadCpuMs();
        for (int r = 0; r < rounds; ++r) {
            const double before = bench::threadCpuMs();
            for (int m = 0; m < 4; ++m)
                for (int k = 0; k < 2; ++k) {
                    const Sample& s = curves[std::size_t(m)][std::size_t(2 * r + k)];
                    models[m].take(s);
                    writer.append(uuids[m], s);
                    writer.update(uuids[m], models[m].summary());
                }
            eventMs += bench::threadCpuMs() - before;
            QThread::msleep(25); // one flush
        }
        for (int m = 0; m < 4; ++m)
            writer.finish(uuids[m], models[m].summary());
        if (!writer.stop()) qFatal("writer");
        writerCpuMs = (processCpuMs() - processStart) - (bench::threadCpuMs() - mainStart);
    }
    const double replies = 8.0 * rounds;
    report("writer: event thread per reply (append+update)", eventMs * 1e3 / replies, "us");
    report("writer: its thread per reply", writerCpuMs * 1e3 / replies, "us");

    // The same record (a test row with the figures of each flush) with its
    // curve as rows, on the main thread.
    auto store = valueOf(Store::open(location));
    makeRowTable(*store);
    std::vector<std::vector<discharge::Summary>> figures(4);
    qint64 ids[4];
    for (int m = 0; m < 4; ++m) {
        discharge::TestModel model;
        for (int r = 0; r < rounds; ++r) {
            model.take(curves[std::size_t(m)][std::size_t(2 * r)]);
            model.take(curves[std::size_t(m)][std::size_t(2 * r + 1)]);
            figures[std::size_t(m)].push_back(model.summary());
        }
        TestHeader h;
        h.uuid = QUuid::createUuid();
        ids[m] = valueOf(store->ensureTest(h));
    }
    double peerMs = 0;
    for (int r = 0; r < rounds; ++r) {
        const double before = bench::threadCpuMs();
        if (store->beginWrite()) qFatal("begin");
        for (int m = 0; m < 4; ++m) {
            insertRows(*store, ids[m], 2 * r, std::span(curves[std::size_t(m)]).subspan(2 * r, 2));
            if (store->storeFigures(ids[m], figures[std::size_t(m)][std::size_t(r)], false, {}, r))
                qFatal("figures");
        }
        if (store->commit()) qFatal("commit");
        peerMs += bench::threadCpuMs() - before;
        QThread::msleep(25); // paced as the writer is
    }
    report("peer, row per reply: per reply", peerMs * 1e3 / replies, "us");
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    QCommandLineParser p;
    p.addOptions({{QStringLiteral("postgres"), QStringLiteral("a PostgreSQL server of its own")},
                  {QStringLiteral("tests"), QStringLiteral("tests"), QStringLiteral("N"),
                   QStringLiteral("10000")},
                  {QStringLiteral("curve-samples"), QStringLiteral("replies per test"),
                   QStringLiteral("M"), QStringLiteral("2000")},
                  {QStringLiteral("runs"), QStringLiteral("runs per timing"), QStringLiteral("R"),
                   QStringLiteral("11")},
                  {QStringLiteral("rounds"), QStringLiteral("flushes for the writer's cost"),
                   QStringLiteral("K"), QStringLiteral("1000")}});
    p.process(app);
    const int runs = p.value(QStringLiteral("runs")).toInt();
    Place place(p.isSet(QStringLiteral("postgres")));
    std::printf("database: %s\n", p.isSet(QStringLiteral("postgres")) ? "PostgreSQL" : "SQLite");
    {
        auto store = valueOf(Store::open(place.make(QStringLiteral("lab"))));
        populate(*store, p.value(QStringLiteral("tests")).toInt(),
                 p.value(QStringLiteral("curve-samples")).toInt());
        if (store->dialect() == Dialect::Postgres) QSqlQuery(store->database()).exec("ANALYZE");
        listAndFilter(*store, runs);
    }
    nineHours(place, runs);
    writerCost(place, p.value(QStringLiteral("rounds")).toInt());
    return 0;
}
