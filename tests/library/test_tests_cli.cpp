// eload-cli tests, the program itself, on the default SQLite file in a data
// folder of the test's own: bad arguments refused before any database is
// touched; import, list with its filters in all three forms, show, export
// to stdout and to a workbook, grade by a rules file, remove.

#include "Synthetic.h"

#include "library/Export.h"
#include "library/Store.h"
#include "reader/RecordingFile.h"

#include <QDateTime>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QSet>
#include <QTemporaryDir>
#include <QTest>

using namespace eload;

namespace {

constexpr int kWaitMs = 60000;

struct Run {
    int status = -1;
    QByteArray out, err;
    QList<QJsonObject> json() const
    {
        QList<QJsonObject> objects;
        for (const QByteArray& line : out.split('\n'))
            if (!line.isEmpty()) objects << QJsonDocument::fromJson(line).object();
        return objects;
    }
};

Run cli(const QStringList& args)
{
    QProcess p;
    p.start(QStringLiteral(ELOAD_CLI), QStringList{QStringLiteral("tests")} + args);
    if (!p.waitForFinished(kWaitMs)) p.kill();
    p.waitForFinished();
    return {p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1, p.readAllStandardOutput(),
            p.readAllStandardError()};
}

// One test of `cell`, stored as a writer would store it, `day` days into March 2026.
bool storeTest(library::Store& store, const QString& cell, double ah, int milliohm,
               discharge::EndReason end, bool finished, int day)
{
    library::TestHeader h;
    h.uuid = QUuid::createUuid();
    h.cell.name = cell;
    h.startMsecs = QDateTime(QDate(2026, 3, day), QTime(12, 0), Qt::UTC).toMSecsSinceEpoch();
    discharge::Summary s;
    s.startMsecs = h.startMsecs;
    s.endMsecs = h.startMsecs + 3'600'000;
    s.capacityAh = ah;
    s.resistanceMilliohm = std::uint16_t(milliohm);
    s.end = end;
    s.samples = s.loadOnSamples = 100;
    if (store.beginWrite()) return false;
    auto id = store.ensureTest(h);
    if (!std::holds_alternative<qint64>(id) ||
        store.storeFigures(std::get<qint64>(id), s, finished, std::nullopt, s.endMsecs))
        return false;
    return !store.commit();
}

} // namespace

class TestTestsCli : public QObject {
    Q_OBJECT
    QTemporaryDir dir_;
    QString path(const QString& name) const { return dir_.filePath(name); }
    QString database() const { return path(QStringLiteral("data/eload-panel/tests.sqlite")); }

private Q_SLOTS:
    void initTestCase()
    {
        qputenv("XDG_DATA_HOME", path(QStringLiteral("data")).toUtf8());
        qputenv("XDG_CONFIG_HOME", path(QStringLiteral("config")).toUtf8());
        qunsetenv("ELOAD_DB");
    }

    void badArguments_data()
    {
        QTest::addColumn<QStringList>("args");
        QTest::addColumn<QString>("words");
        QTest::newRow("no such command") << QStringList{"frobnicate"} << "unknown tests command";
        QTest::newRow("show without ID") << QStringList{"show"} << "one test ID expected";
        QTest::newRow("two IDs") << QStringList{"export", "1", "2"} << "one test ID expected";
        QTest::newRow("option of another command")
            << QStringList{"list", "--rated-ah", "2"} << "--rated-ah is no option of tests list";
        QTest::newRow("unknown option")
            << QStringList{"list", "--colour"} << "unknown option --colour";
        QTest::newRow("no value") << QStringList{"list", "--cell"} << "--cell needs a value";
        QTest::newRow("bad date") << QStringList{"list", "--since", "yesterday"} << "not a date";
        QTest::newRow("bad rated")
            << QStringList{"import", "x.csv", "--rated-ah", "-1"} << "above 0";
        QTest::newRow("bad format")
            << QStringList{"export", "1", "--format", "pdf"} << "csv or xlsx";
        QTest::newRow("workbook to stdout")
            << QStringList{"export", "1", "--format", "xlsx"} << "needs --output FILE";
        QTest::newRow("import nothing") << QStringList{"import"} << "which files";
        QTest::newRow("not a database")
            << QStringList{"--db", "mysql://u:pw@h/d", "list"} << "not a database";
    }
    void badArguments()
    {
        QFETCH(QStringList, args);
        QFETCH(QString, words);
        const Run r = cli(args);
        QCOMPARE(r.status, 2);
        QVERIFY2(QString::fromUtf8(r.err).contains(words), r.err.constData());
        QVERIFY(!r.err.contains("pw@"));
        QVERIFY(r.out.isEmpty());
        QVERIFY(!QFile::exists(database())); // nothing touched
    }

    void recordGradeRemove()
    {
        const QString a = path(QStringLiteral("A1.csv")), b = path(QStringLiteral("B,2.csv"));
        const auto good = testing::syntheticDischarge({2400, 1}); // 0.333 Ah: 47.6 % of 0.7
        const auto other = testing::syntheticDischarge({1200, 2});
        QVERIFY(!library::exportCsv(good, a));
        QVERIFY(!library::exportCsv(other, b));

        Run r = cli({"import", a, b, "--type", "18650 Li-ion", "--rated-ah", "0.7", "--json"});
        QVERIFY2(r.status == 0, r.err.constData());
        QVERIFY(QFile::exists(database())); // made on first use
        QCOMPARE(r.json().size(), 2);
        const qint64 idA = r.json()[0]["ids"].toArray()[0].toInteger();
        const qint64 idB = r.json()[1]["ids"].toArray()[0].toInteger();
        r = cli({"import", a});
        QVERIFY2(r.status == 0 && r.out.contains("imported before"), r.out.constData());

        r = cli({"list"});
        QVERIFY(r.status == 0 && r.out.contains("A1") && r.out.contains("B,2"));
        r = cli({"list", "--json"});
        QCOMPARE(r.json().size(), 2);
        const QJsonObject first = r.json()[0];
        QCOMPARE(first["state"].toString(), QStringLiteral("finished"));
        QCOMPARE(first["cell"]["rated_Ah"].toDouble(), 0.7);
        QCOMPARE(first["summary"]["samples"].toInt(), 2400);
        QVERIFY(first["start_time"].toString().endsWith(u'Z'));
        r = cli({"list", "--csv"});
        QStringList lines = QString::fromUtf8(r.out).split(u'\n', Qt::SkipEmptyParts);
        QCOMPARE(lines.size(), 3);
        QVERIFY(lines[0].startsWith(QLatin1String("id,uuid,cell,type,rated_Ah")));
        QVERIFY2(lines[2].contains(QLatin1String(",\"B,2\",18650 Li-ion,")), qPrintable(lines[2]));
        r = cli({"list", "--cell", "a*", "--json"});
        QCOMPARE(r.json().size(), 1);
        r = cli({"list", "--until", "2026-03-04", "--json"});
        QCOMPARE(r.json().size(), 0);

        r = cli({"show", QString::number(idA)});
        QVERIFY2(r.status == 0 && r.out.contains("rated 0.7 Ah") &&
                     r.out.contains("imported  from " + a.toUtf8()),
                 r.out.constData());
        const QString uuid = first["uuid"].toString();
        r = cli({"show", uuid, "--json"});
        QCOMPARE(r.json().value(0)["id"].toInteger(), idA);

        r = cli({"export", QString::number(idA)});
        QVERIFY(r.status == 0);
        QFile expected(a);
        QVERIFY(expected.open(QIODevice::ReadOnly));
        QCOMPARE(r.out, expected.readAll());
        const QString book = path(QStringLiteral("A1.xlsx"));
        r = cli({"export", QString::number(idA), "--output", book});
        QVERIFY2(r.status == 0 && r.out.contains("2400 replies written"), r.err.constData());
        const auto read = reader::readWorkbook(book);
        QVERIFY(std::holds_alternative<reader::Recording>(read));
        QCOMPARE(std::get<reader::Recording>(read).curves.at(0).samples.size(), std::size_t(2400));
        r = cli({"export", QString::number(idA), "--output", book});
        QCOMPARE(r.status, 1); // never overwritten

        r = cli({"grade"});
        QCOMPARE(r.status, 1);
        QVERIFY2(r.err.contains("eload-panel/grades.json") && r.err.contains("min_soh_percent"),
                 r.err.constData());
        const QString rules = path(QStringLiteral("rules.json"));
        QFile f(rules);
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.write(R"({"18650 Li-ion": [{"grade": "A", "min_soh_percent": 45},
                                    {"grade": "B", "min_soh_percent": 40}]})");
        f.close();
        r = cli({"grade", "--rules", rules, "--json"});
        QVERIFY2(r.status == 0, r.err.constData());
        QCOMPARE(r.json().size(), 2);
        QCOMPARE(r.json()[0]["grade"].toString(), QStringLiteral("A"));
        QCOMPARE(r.json()[1]["grade"].toString(), QStringLiteral("reject"));
        r = cli({"list", "--grade", "A", "--json"});
        QCOMPARE(r.json().size(), 1);
        QCOMPARE(r.json()[0]["id"].toInteger(), idA);

        r = cli({"remove", QString::number(idB), "12345"});
        QCOMPARE(r.status, 1);
        QVERIFY(r.out.contains("removed test"));
        QVERIFY(r.err.contains("no test 12345"));
        r = cli({"show", QString::number(idB)});
        QCOMPARE(r.status, 1);
        r = cli({"list", "--json"});
        QCOMPARE(r.json().size(), 1);
    }

    // Cells with hand-made tests: 2S2P of C1..C4 balances exactly (3.0 +
    // 2.7 = 2.9 + 2.8); C5's latest test is weaker than its older one, C6's
    // latest ended by OTP, C7's never finished. So C5 is left over, C6 is
    // not considered and C7 not seen at all.
    void pack()
    {
        const QString db = path(QStringLiteral("pack.sqlite"));
        {
            library::DatabaseLocation where;
            where.path = db;
            auto opened = library::Store::open(where);
            QVERIFY(std::holds_alternative<std::unique_ptr<library::Store>>(opened));
            library::Store& store = *std::get<std::unique_ptr<library::Store>>(opened);
            using discharge::EndReason;
            struct Made {
                const char* cell;
                double ah;
                int milliohm;
                EndReason end;
                bool finished;
                int day;
            };
            for (const Made& m : {Made{"C1", 3.0, 40, EndReason::Uvlo, true, 2},
                                  Made{"C2", 2.9, 42, EndReason::Uvlo, true, 2},
                                  Made{"C3", 2.8, 41, EndReason::Uvlo, true, 2},
                                  Made{"C4", 2.7, 43, EndReason::Uvlo, true, 2},
                                  Made{"C5", 3.5, 30, EndReason::Uvlo, true, 1},
                                  Made{"C5", 1.0, 90, EndReason::Uvlo, true, 2},
                                  Made{"C6", 2.6, 40, EndReason::Uvlo, true, 1},
                                  Made{"C6", 5.0, 40, EndReason::Otp, true, 2},
                                  Made{"C7", 4.0, 40, EndReason::None, false, 2}})
                QVERIFY(storeTest(store, m.cell, m.ah, m.milliohm, m.end, m.finished, m.day));
        }
        Run r = cli({"--db", db, "pack", "--series", "2", "--parallel", "2", "--json"});
        QVERIFY2(r.status == 0, r.err.constData());
        const QJsonObject p = r.json().value(0);
        QSet<QSet<QString>> groups;
        for (const QJsonValue& g : p["groups"].toArray()) {
            QSet<QString> cells;
            for (const QJsonValue& c : g["cells"].toArray())
                cells << c["cell"].toString();
            groups << cells;
            QCOMPARE(g["capacity_Ah"].toDouble(), 5.7);
        }
        QCOMPARE(groups, (QSet<QSet<QString>>{{"C1", "C4"}, {"C2", "C3"}}));
        QCOMPARE(p["spread_Ah"].toDouble(), 0.0);
        QVERIFY(p["optimal"].toBool());
        QCOMPARE(p["left_over"].toArray().size(), 1);
        QCOMPARE(p["left_over"][0]["cell"].toString(), QStringLiteral("C5"));
        QCOMPARE(p["left_over"][0]["capacity_Ah"].toDouble(), 1.0);
        QCOMPARE(p["not_considered"].toArray().size(), 1);
        QCOMPARE(p["not_considered"][0]["cell"].toString(), QStringLiteral("C6"));
        QVERIFY(p["not_considered"][0]["reason"].toString().contains("otp"));

        // 1S3P takes the three largest; the spread of one group is none.
        r = cli({"--db", db, "pack", "--series", "1", "--parallel", "3"});
        QVERIFY2(r.status == 0 && r.out.contains("C1") && r.out.contains("left over: C4"),
                 r.out.constData());
        // 4S1P: one cell per group, the spread is the strongest less the weakest of four.
        r = cli({"--db", db, "pack", "--series", "4", "--parallel", "1", "--csv"});
        QVERIFY2(r.status == 0, r.err.constData());
        const QStringList rows = QString::fromUtf8(r.out).split(u'\n', Qt::SkipEmptyParts);
        QCOMPARE(rows.size(), 1 + 5 + 1); // header, 4 in groups and C5 left over, C6 out
        QVERIFY(rows.contains(QStringLiteral("left-over,C5,6,1,90,")));
        r = cli({"--db", db, "pack", "--series", "4", "--parallel", "1", "--json"});
        QCOMPARE(qRound(r.json().value(0)["spread_Ah"].toDouble() * 1000), 300);
        // The resistance rule narrows the groups' resistances to within 2 %.
        r = cli({"--db", db, "pack", "--series", "2", "--parallel", "2", "--max-resistance-spread",
                 "2", "--json"});
        QVERIFY2(r.status == 0, r.err.constData());
        QVERIFY(r.json().value(0)["resistance_rule_met"].toBool());
        QVERIFY(r.json().value(0)["resistance_spread_percent"].toDouble() <= 2.0);
    }

    void packRefused_data()
    {
        QTest::addColumn<QStringList>("args");
        QTest::addColumn<QString>("words");
        QTest::newRow("too few") << QStringList{"--series", "3", "--parallel", "2"}
                                 << "(5 cells with a usable finished test, 1 left out)";
        QTest::newRow("no parallel") << QStringList{"--series", "3"} << "--parallel P";
        QTest::newRow("zero series")
            << QStringList{"--series", "0", "--parallel", "2"} << "a whole number from 1";
        QTest::newRow("bad spread")
            << QStringList{"--series", "1", "--parallel", "1", "--max-resistance-spread", "x"}
            << "a percentage";
        QTest::newRow("graded, none is")
            << QStringList{"--series", "1", "--parallel", "1", "--graded"} << "0 cells";
        QTest::newRow("operand") << QStringList{"7", "--series", "1", "--parallel", "1"}
                                 << "unexpected 7";
    }
    void packRefused()
    {
        QFETCH(QStringList, args);
        QFETCH(QString, words);
        const Run r = cli(QStringList{"--db", path(QStringLiteral("pack.sqlite")), "pack"} + args);
        QCOMPARE(r.status, 2);
        QVERIFY2(QString::fromUtf8(r.err).contains(words), r.err.constData());
        QVERIFY(r.out.isEmpty());
    }

    void syncWithNothingLeft()
    {
        const Run r = cli({"sync", "--json"});
        QVERIFY2(r.status == 0, r.err.constData());
        QCOMPARE(r.json().value(0)["replies"].toInteger(), 0);
    }
};

QTEST_GUILESS_MAIN(TestTestsCli)
#include "test_tests_cli.moc"
