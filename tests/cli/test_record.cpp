// eload-cli watch recording into the test library: the simulator's
// discharge stored with the very figures the summary shows and every reply
// in its curve; cells named in the order of the addresses; --no-db; a
// database that cannot be made, which must not touch the test.

#include "CliRig.h"
#include "modbus/Registers.h"

#include <QDir>
#include <QJsonArray>
#include <QSysInfo>
#include <QTemporaryDir>

using namespace eload;
using namespace eload::test;

namespace {

Run tests(const QStringList& args) { return run(QStringList{"tests"} + args); }

QStringList uuidsOf(const QJsonObject& records)
{
    QStringList uuids;
    for (const QJsonValue& t : records["tests"].toArray())
        uuids << t["uuid"].toString();
    return uuids;
}

// The discharge log's rows without their header.
QStringList rowsOf(const QByteArray& csv)
{
    QStringList rows = QString::fromUtf8(csv).split(u'\n', Qt::SkipEmptyParts);
    if (!rows.isEmpty()) rows.removeFirst();
    return rows;
}

} // namespace

class RecordTest : public QObject {
    Q_OBJECT
    QTemporaryDir data_;
    QString defaultDatabase() const { return data_.filePath("eload-panel/tests.sqlite"); }

private Q_SLOTS:
    void initTestCase()
    {
        qputenv("XDG_DATA_HOME", data_.path().toUtf8());
        qunsetenv("ELOAD_DB");
    }

    // A discharge of the simulated battery at 5 A to --stop-at-ah: the
    // record holds the summary's figures, the cell and the presets read, and
    // its curve is every reply the watch logged, field for field.
    void recordEqualsSummary()
    {
        Line line({1}, 100);
        line.sim.setReg(13, 500); // 5 A
        QTemporaryDir dir;
        const QString db = dir.filePath("lib.sqlite"), csv = dir.filePath("cell.csv");
        const Run r = run(line.args({"watch", "--interval", "50", "--json", "--load-on",
                                     "--stop-at-ah", "0.3", "--csv", csv, "--db", db, "--cell",
                                     "S01", "--type", "18650 Li-ion", "--rated-ah", "2.5"}));
        QVERIFY2(r.status == 0, r.err);
        const QJsonObject summary = r.summary(1);
        QJsonObject records;
        for (const QJsonObject& o : r.json())
            if (o.contains("records")) records = o["records"].toObject();
        QCOMPARE(records["library"].toString(), db);
        const QStringList uuids = uuidsOf(records);
        QCOMPARE(uuids.size(), 1);
        QVERIFY(records["tests"].toArray()[0].toObject()["stored"].toBool());

        const Run shown = tests({"--db", db, "show", uuids[0], "--json"});
        QVERIFY2(shown.status == 0, shown.err);
        const QJsonObject rec = shown.json().value(0);
        QCOMPARE(rec["state"].toString(), "finished");
        QCOMPARE(rec["cell"]["name"].toString(), "S01");
        QCOMPARE(rec["cell"]["type"].toString(), "18650 Li-ion");
        QCOMPARE(rec["cell"]["rated_Ah"].toDouble(), 2.5);
        QCOMPARE(rec["station"].toString(), QSysInfo::machineHostName());
        QCOMPARE(rec["port"].toString(), line.path);
        QCOMPARE(rec["address"].toInt(), 1);
        QCOMPARE(rec["presets"]["current_A"].toDouble(), 5.0);
        const QJsonObject figures = rec["summary"].toObject();
        for (const char* key : {"capacity_Ah", "energy_Wh", "duration_s", "average_voltage_V",
                                "lowest_voltage_V", "average_current_A", "average_power_W",
                                "samples", "load_on_samples", "gaps", "missed_polls"})
            QVERIFY2(figures[key] == summary[key],
                     qPrintable(QStringLiteral("%1: stored %2, summary %3")
                                    .arg(key)
                                    .arg(figures[key].toDouble())
                                    .arg(summary[key].toDouble())));
        QCOMPARE(figures["flags"].toArray(), summary["flags"].toArray());
        QCOMPARE(qRound(figures["base_capacity_Ah"].toDouble() * 1000),
                 qRound(summary["base_capacity_Ah"].toDouble() * 1000));
        QCOMPARE(QDateTime::fromString(rec["start_time"].toString(), Qt::ISODateWithMs),
                 QDateTime::fromString(summary["start_time"].toString(), Qt::ISODateWithMs));
        QCOMPARE(QDateTime::fromString(rec["end_time"].toString(), Qt::ISODateWithMs),
                 QDateTime::fromString(summary["end_time"].toString(), Qt::ISODateWithMs));
        QVERIFY(rec["soh"].toDouble() > 0.1); // 0.3 Ah of 2.5

        // Every reply of the watch is in the curve, as the log has it.
        const Run curve = tests({"--db", db, "export", uuids[0]});
        QVERIFY2(curve.status == 0, curve.err);
        QFile log(csv);
        QVERIFY(log.open(QIODevice::ReadOnly));
        const QStringList logged = rowsOf(log.readAll()), stored = rowsOf(curve.out);
        QCOMPARE(stored.size(), summary["samples"].toInt());
        QCOMPARE(stored, logged);
    }

    // Three modules at addresses given out of order: the cells are named in
    // that order, by a pattern (into the default library, no --db) or one
    // name each.
    void cellsInOrder_data()
    {
        QTest::addColumn<QStringList>("cells");
        QTest::addColumn<QString>("db");
        QTest::addColumn<QStringList>("names"); // of addresses 3, 1, 2
        QTest::newRow("pattern") << QStringList{"--cell", "B{n}"} << QString()
                                 << QStringList{"B1", "B2", "B3"};
        QTest::newRow("one each") << QStringList{"--cell", "X", "--cell", "Y,1", "--cell", "Z"}
                                  << QStringLiteral("each.sqlite") << QStringList{"X", "Y,1", "Z"};
    }
    void cellsInOrder()
    {
        QFETCH(QStringList, cells);
        QFETCH(QString, db);
        QFETCH(QStringList, names);
        QTemporaryDir dir;
        const QStringList where =
            db.isEmpty() ? QStringList{} : QStringList{"--db", dir.filePath(db)};
        Line line({1, 2, 3});
        const Run r = run(line.args(QStringList{"--address", "3,1,2", "watch", "--interval", "100",
                                                "--json", "--stop-after", "2"} +
                                    cells + where));
        QVERIFY2(r.status == 0, r.err);
        if (db.isEmpty()) QVERIFY(QFile::exists(defaultDatabase()));
        const Run listed = tests(where + QStringList{"list", "--json"});
        QVERIFY2(listed.status == 0, listed.err);
        QMap<int, QString> cellOf;
        for (const QJsonObject& t : listed.json()) {
            if (!names.contains(t["cell"]["name"].toString())) continue;
            cellOf[t["address"].toInt()] = t["cell"]["name"].toString();
            QCOMPARE(t["state"].toString(), "finished");
            QVERIFY(t["summary"]["samples"].toInt() >= 2);
        }
        QCOMPARE(cellOf, (QMap<int, QString>{{3, names[0]}, {1, names[1]}, {2, names[2]}}));
    }

    // Arguments that do not fit: refused before anything is sent or made.
    void refused_data()
    {
        QTest::addColumn<QStringList>("args");
        QTest::addColumn<QString>("words");
        QTest::newRow("too few cells")
            << QStringList{"--address", "1-3", "watch", "--cell", "A", "--cell", "B"}
            << "3 module(s) but 2 cell name(s)";
        QTest::newRow("one name, two modules")
            << QStringList{"--address", "1,2", "watch", "--cell", "A"}
            << "2 module(s) but 1 cell name(s)";
        QTest::newRow("no-db and db")
            << QStringList{"watch", "--no-db", "--db", "x.sqlite"} << "--no-db records nothing";
        QTest::newRow("no-db and cell")
            << QStringList{"watch", "--no-db", "--cell", "A"} << "--no-db records nothing";
        QTest::newRow("rated") << QStringList{"watch", "--rated-ah", "0"} << "above 0";
        QTest::newRow("not a database")
            << QStringList{"watch", "--db", "mysql://u:pw@h/d"} << "not a database";
        QTest::newRow("db on read") << QStringList{"read", "--db", "x"} << "does not go with read";
    }
    void refused()
    {
        QFETCH(QStringList, args);
        QFETCH(QString, words);
        Line line({1, 2, 3});
        const Run r = run(line.args(args));
        QCOMPARE(r.status, 2);
        QVERIFY2(QString::fromUtf8(r.err).contains(words), r.err);
        QVERIFY(!r.err.contains("pw@"));
        QVERIFY(line.frames().empty());
        QVERIFY(!QFile::exists(QStringLiteral("x.sqlite")));
    }

    // --no-db: the watch as before, nothing in any library or spool.
    void noDatabase()
    {
        QTemporaryDir data;
        qputenv("XDG_DATA_HOME", data.path().toUtf8());
        Line line;
        const Run r = run(
            line.args({"watch", "--interval", "100", "--json", "--stop-after", "1", "--no-db"}));
        qputenv("XDG_DATA_HOME", data_.path().toUtf8());
        QVERIFY2(r.status == 0, r.err);
        QVERIFY(r.summary(1)["samples"].toInt() >= 2);
        for (const QJsonObject& o : r.json())
            QVERIFY(!o.contains("records"));
        QVERIFY(QDir(data.path()).isEmpty());
    }

    // A module whose load never came on tested no cell: no record, so that
    // lists and packs hold no cell of no capacity; the watch is as before.
    void idleModuleIsNoTest()
    {
        Line line;
        line.sim.setReg(modbus::RegLoadSwitch, 0);
        QTemporaryDir dir;
        const QString db = dir.filePath("lib.sqlite");
        const Run r = run(
            line.args({"watch", "--interval", "100", "--json", "--stop-after", "1", "--db", db}));
        QVERIFY2(r.status == 0, r.err);
        QVERIFY(r.summary(1)["samples"].toInt() >= 2);
        for (const QJsonObject& o : r.json())
            if (o.contains("records")) QVERIFY(uuidsOf(o["records"].toObject()).isEmpty());
        const Run listed = tests({"--db", db, "list", "--json"});
        QVERIFY2(listed.status == 0, listed.err);
        QVERIFY2(listed.json().isEmpty(), listed.out.constData());
    }

    // A database that cannot be made: the test runs its course at its pace,
    // stderr says where the replies went, and the spool holds them.
    void databaseThatCannotBeMade()
    {
        Line line({1}, 100);
        line.sim.setReg(13, 500);
        const QString db = QStringLiteral("/proc/no-such-folder/tests.sqlite");
        const Run r = run(line.args({"watch", "--interval", "50", "--json", "--load-on",
                                     "--stop-at-ah", "0.2", "--db", db, "--cell", "S09"}));
        QVERIFY2(r.status == 0, r.err);
        const QJsonObject summary = r.summary(1);
        QCOMPARE(summary["end"].toString(), "stop-at-ah");
        QVERIFY(summary["samples"].toInt() > 10);
        QVERIFY2(r.err.contains("test library: ") && r.err.contains("stay in the spool"), r.err);
        QJsonObject records;
        for (const QJsonObject& o : r.json())
            if (o.contains("records")) records = o["records"].toObject();
        QCOMPARE(records["tests"].toArray()[0].toObject()["stored"].toBool(true), false);
        QVERIFY(records["settled"].toBool());
        const QDir spool(records["spool"].toString());
        QVERIFY2(spool.path().startsWith(data_.path()), qPrintable(spool.path()));
        const QFileInfoList files = spool.entryInfoList({"*.spool"}, QDir::Files);
        QCOMPARE(files.size(), 1);
        QVERIFY(files[0].size() > 0);
    }
};

QTEST_GUILESS_MAIN(RecordTest)
#include "test_record.moc"
