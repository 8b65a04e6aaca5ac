#include "Checks.h"

#include "Synthetic.h"

#include "discharge/TestModel.h"
#include "library/CurveCodec.h"

#include <QSqlError>
#include <QSqlQuery>
#include <QTest>

namespace eload::testing {

using library::DatabaseLocation;
using library::Store;

namespace {

std::unique_ptr<Store> opened(const DatabaseLocation& location,
                              int target = library::kSchemaVersion)
{
    auto store = Store::open(location, target);
    if (auto* f = library::failureOf(store)) {
        QTest::qFail(qPrintable(f->message), __FILE__, __LINE__);
        return nullptr;
    }
    return std::move(std::get<std::unique_ptr<Store>>(store));
}

bool hasIndex(Store& store, const QString& name)
{
    QSqlQuery q(store.database());
    q.prepare(
        store.dialect() == library::Dialect::Sqlite
            ? QStringLiteral("SELECT name FROM sqlite_master WHERE type = 'index' AND name = ?")
            : QStringLiteral("SELECT indexname FROM pg_indexes WHERE indexname = ?"));
    q.addBindValue(name);
    return q.exec() && q.next();
}

int version(Store& store)
{
    const auto v = library::schemaVersion(store.database());
    return std::holds_alternative<int>(v) ? std::get<int>(v) : -1;
}

} // namespace

void compareSamples(const std::vector<discharge::Sample>& got,
                    const std::vector<discharge::Sample>& want)
{
    QCOMPARE(got.size(), want.size());
    for (std::size_t i = 0; i < want.size(); ++i)
        if (!library::sameSample(got[i], want[i]))
            QFAIL(qPrintable(QStringLiteral("sample %1 of %2 differs").arg(i).arg(want.size())));
}

void checkNewAndNewerSchema(const DatabaseLocation& location)
{
    {
        auto store = opened(location);
        QVERIFY(store);
        QCOMPARE(version(*store), library::kSchemaVersion);
        QVERIFY(hasIndex(*store, QStringLiteral("tests_start")));
        QSqlQuery q(store->database());
        QVERIFY(q.exec(QStringLiteral("UPDATE schema_version SET version = 99")));
    }
    const auto refused = Store::open(location);
    QVERIFY(library::failureOf(refused));
    QVERIFY2(library::failureOf(refused)->message.contains(QLatin1String("newer")),
             qPrintable(library::failureOf(refused)->message));
}

void checkUpgradeFromVersion1(const DatabaseLocation& location)
{
    const auto samples = syntheticDischarge({900, 5, 1'772'719'200'000, 500, true});
    const discharge::Summary s = discharge::summarize(samples);
    {
        auto store = opened(location, 1);
        QVERIFY(store);
        QCOMPARE(version(*store), 1);
        QVERIFY(!hasIndex(*store, QStringLiteral("tests_start")));
        QSqlQuery q(store->database());
        QVERIFY(q.prepare(QStringLiteral(
            "INSERT INTO tests (uuid, cell_name, cell_type, rated_ah, station, port, address,"
            " start_ms, end_ms, finished, end_reason, capacity_ah, energy_wh, samples,"
            " load_on_samples, resistance_mohm, soh) VALUES"
            " ('0b6f1c2e-0000-4000-8000-000000000001', 'A17', '18650 Li-ion', 2.5, 'bench-1',"
            " '/dev/ttyUSB0', 3, ?, ?, 1, 'uvlo', ?, ?, ?, ?, ?, ?)")));
        for (const QVariant& v :
             QVariantList{s.startMsecs, s.endMsecs, s.capacityAh, s.energyWh, s.samples,
                          s.loadOnSamples, int(s.resistanceMilliohm), s.capacityAh / 2.5})
            q.addBindValue(v);
        QVERIFY2(q.exec(), qPrintable(q.lastError().text()));
        QVERIFY(q.prepare(QStringLiteral("INSERT INTO curve_chunks (test_id, first_index,"
                                         " samples, data) SELECT id, 0, ?, ? FROM tests")));
        q.addBindValue(int(samples.size()));
        q.addBindValue(library::encodeSamples(samples));
        QVERIFY2(q.exec(), qPrintable(q.lastError().text()));
    }
    auto store = opened(location);
    QVERIFY(store);
    QCOMPARE(version(*store), library::kSchemaVersion);
    QVERIFY(hasIndex(*store, QStringLiteral("tests_type_grade")));
    auto records = store->list({});
    QVERIFY(std::holds_alternative<std::vector<library::TestRecord>>(records));
    const auto& all = std::get<std::vector<library::TestRecord>>(records);
    QCOMPARE(all.size(), std::size_t(1));
    const library::TestRecord& r = all.front();
    QCOMPARE(r.header.cell.name, QStringLiteral("A17"));
    QCOMPARE(r.header.address, std::optional<int>(3));
    QCOMPARE(r.summary.end, discharge::EndReason::Uvlo);
    QCOMPARE(r.summary.capacityAh, s.capacityAh);
    QCOMPARE(r.updatedMsecs, s.endMsecs); // filled by the step
    QCOMPARE(r.state(s.endMsecs + 1), library::TestState::Finished);
    auto curve = store->curve(r.id);
    QVERIFY(std::holds_alternative<std::vector<discharge::Sample>>(curve));
    compareSamples(std::get<std::vector<discharge::Sample>>(curve), samples);
}

void checkDriverTest(Store& store, const QUuid& uuid, int samples, unsigned seed, int module)
{
    const auto want = syntheticDischarge(driverPlan(samples, seed, module));
    auto found = store.find(uuid.toString(QUuid::WithoutBraces));
    QVERIFY(std::holds_alternative<std::optional<library::TestRecord>>(found));
    const auto& record = std::get<std::optional<library::TestRecord>>(found);
    QVERIFY2(record, qPrintable(uuid.toString()));
    QVERIFY(record->finished);
    const discharge::Summary expected = discharge::summarize(want);
    QCOMPARE(record->summary.samples, expected.samples);
    QCOMPARE(record->summary.capacityAh, expected.capacityAh);
    QCOMPARE(record->summary.end, discharge::EndReason::Uvlo);
    QCOMPARE(record->header.address, std::optional<int>(module + 1));
    auto curve = store.curve(record->id);
    QVERIFY(std::holds_alternative<std::vector<discharge::Sample>>(curve));
    compareSamples(std::get<std::vector<discharge::Sample>>(curve), want);
}

} // namespace eload::testing
