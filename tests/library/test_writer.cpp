// The writer of live tests on SQLite: every reply and the model's figures
// arrive; a database that cannot be reached sends replies to the spool and
// gets them once it can; a spool left behind is replayed by the next
// writer, also with a torn last record; the memory bound refuses replies
// and says so. Then the writer in a process of its own (library_driver):
// killed with SIGKILL mid-test it loses at most a few seconds, and with the
// database and spool on a full disk the test runs to its end and the record
// arrives once there is room.

#include "Checks.h"
#include "Synthetic.h"

#include "discharge/TestModel.h"
#include "library/Spool.h"
#include "library/TestWriter.h"

#include <QDir>
#include <QElapsedTimer>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QSignalSpy>
#include <QSqlQuery>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>
#include <csignal>
#include <unistd.h>

using namespace eload;
using namespace eload::library;
using discharge::Sample;

namespace {

constexpr int kWaitMs = 60000;

template <typename T> T valueOf(Result<T> r)
{
    if (auto* f = failureOf(r)) qFatal("%s", qPrintable(f->message));
    return std::move(std::get<T>(r));
}

enum class CellEdit { Running, Finished, Stored };

DatabaseLocation at(const QString& path) { return std::get<DatabaseLocation>(parseLocation(path)); }

std::unique_ptr<Store> openStore(const QString& path) { return valueOf(Store::open(at(path))); }

WriterOptions options(const QString& db, const QString& spool)
{
    WriterOptions o;
    o.location = at(db);
    o.spoolFolder = spool;
    o.flushMs = 100;
    o.retryMs = 200;
    return o;
}

TestHeader header(int module)
{
    TestHeader h;
    h.cell = {QStringLiteral("cell%1").arg(module), QStringLiteral("18650 Li-ion"), 2.5};
    h.station = QStringLiteral("here");
    h.port = QStringLiteral("/dev/ttyUSB0");
    h.address = module + 1;
    return h;
}

// Feeds a whole test as the event thread would: reply, figures, ..., finish.
QUuid play(TestWriter& writer, int module, const std::vector<Sample>& samples)
{
    const QUuid uuid = writer.begin(header(module));
    discharge::TestModel model;
    for (const Sample& s : samples) {
        model.take(s);
        writer.append(uuid, s);
        writer.update(uuid, model.summary());
    }
    writer.finish(uuid, model.summary());
    return uuid;
}

void checkStored(Store& store, const QUuid& uuid, const std::vector<Sample>& samples)
{
    auto record = valueOf(store.find(uuid.toString()));
    QVERIFY(record);
    QVERIFY(record->finished);
    QCOMPARE(record->summary.samples, int(samples.size()));
    QCOMPARE(record->stateOfHealth, stateOfHealth(record->summary, record->header.cell));
    testing::compareSamples(valueOf(store.curve(record->id)), samples);
}

// A file where a folder is needed: the database (or spool) cannot be made
// until it is removed.
QString blocked(const QString& blocker, const QString& name)
{
    QFile file(blocker);
    file.open(QIODevice::WriteOnly);
    return blocker + u'/' + name;
}

QStringList spoolFiles(const QString& folder)
{
    return QDir(folder).entryList({QStringLiteral("*.spool")}, QDir::Files);
}

struct DriverOutput {
    QList<QJsonObject> events;
    QList<QJsonObject> of(const QString& event) const
    {
        QList<QJsonObject> found;
        for (const QJsonObject& o : events)
            if (o[QStringLiteral("event")].toString() == event) found << o;
        return found;
    }
    QList<QUuid> begun() const
    {
        QList<QUuid> uuids;
        for (const QJsonObject& o : of(QStringLiteral("begun")))
            uuids << QUuid::fromString(o[QStringLiteral("uuid")].toString());
        return uuids;
    }
};

DriverOutput parsed(const QByteArray& out)
{
    DriverOutput d;
    for (const QByteArray& line : out.split('\n'))
        if (!line.isEmpty()) d.events << QJsonDocument::fromJson(line).object();
    return d;
}

} // namespace

class TestWriterCase : public QObject {
    Q_OBJECT
    QTemporaryDir dir_;
    QString path(const QString& name) const { return dir_.filePath(name); }

private Q_SLOTS:
    void initTestCase() { qputenv("XDG_DATA_HOME", path(QStringLiteral("data")).toUtf8()); }

    void writesLiveTests()
    {
        const QString db = path(QStringLiteral("live.sqlite"));
        const QString spool = path(QStringLiteral("live-spool"));
        std::vector<std::vector<Sample>> curves;
        QList<QUuid> uuids;
        {
            TestWriter writer(options(db, spool));
            QSignalSpy stored(&writer, &TestWriter::stored);
            QSignalSpy problems(&writer, &TestWriter::problem);
            for (int m = 0; m < 3; ++m) {
                curves.push_back(testing::syntheticDischarge(testing::driverPlan(5000 + m, 3, m)));
                uuids << play(writer, m, curves.back());
            }
            QTRY_COMPARE_WITH_TIMEOUT(stored.size(), 3, kWaitMs);
            QCOMPARE(problems.size(), 0);
            QVERIFY(writer.stop());
        }
        auto store = openStore(db);
        for (int m = 0; m < 3; ++m)
            checkStored(*store, uuids[m], curves[std::size_t(m)]);
        QSqlQuery q(store->database());
        QVERIFY(q.exec(QStringLiteral("SELECT COUNT(*) FROM curve_chunks")) && q.next());
        QCOMPARE(q.value(0).toInt(), 6); // compacted: 4096 + the rest, per test
        QVERIFY(spoolFiles(spool).isEmpty());
    }

    void spoolsWhileUnreachable()
    {
        const QString blocker = path(QStringLiteral("blocker1"));
        const QString db = blocked(blocker, QStringLiteral("lib.sqlite"));
        const QString spool = path(QStringLiteral("spool1"));
        TestWriter writer(options(db, spool));
        QSignalSpy problems(&writer, &TestWriter::problem);
        QSignalSpy recovered(&writer, &TestWriter::recovered);
        QSignalSpy stored(&writer, &TestWriter::stored);
        const auto samples = testing::syntheticDischarge({3000, 8});
        const QUuid uuid = play(writer, 0, samples);
        QTRY_VERIFY_WITH_TIMEOUT(writer.status().spooling && writer.status().heldReplies == 0,
                                 kWaitMs);
        QCOMPARE(problems.size(), 1); // once per spell
        QVERIFY2(problems.first().first().toString().contains(spool),
                 qPrintable(problems.first().first().toString()));
        QCOMPARE(spoolFiles(spool).size(), 1);
        QCOMPARE(stored.size(), 0);

        QVERIFY(QFile::remove(blocker));
        QTRY_COMPARE_WITH_TIMEOUT(stored.size(), 1, kWaitMs);
        QCOMPARE(recovered.size(), 1);
        QVERIFY(!writer.status().spooling);
        QVERIFY(writer.stop());
        QVERIFY(spoolFiles(spool).isEmpty());
        checkStored(*openStore(db), uuid, samples);
    }

    // A writer that ended before its database came back leaves its spool;
    // the next one replays it, torn tail and all, and twice does no harm.
    void leftoverSpoolReplayed()
    {
        const QString blocker = path(QStringLiteral("blocker2"));
        const QString db = blocked(blocker, QStringLiteral("lib.sqlite"));
        const QString spool = path(QStringLiteral("spool2"));
        const auto first = testing::syntheticDischarge({2000, 1});
        const auto second = testing::syntheticDischarge({700, 2});
        QUuid a, b;
        {
            TestWriter writer(options(db, spool));
            a = play(writer, 0, first);
            b = writer.begin(header(1)); // crashed mid-test: never finished
            for (const Sample& s : second)
                writer.append(b, s);
            QVERIFY(writer.stop()); // in the spool, not in the database
        }
        const QStringList files = spoolFiles(spool);
        QCOMPARE(files.size(), 1);
        const QString file = QDir(spool).filePath(files.first());
        const auto contents = valueOf(readSpoolFile(file));
        QFile torn(file);
        QVERIFY(torn.open(QIODevice::Append));
        torn.write("\x45\x53\x50\x31\x00\x00\x10\x00garbage", 15);
        torn.close();

        QVERIFY(QFile::remove(blocker));
        {
            TestWriter writer(options(db, spool));
            QTRY_VERIFY_WITH_TIMEOUT(spoolFiles(spool).isEmpty(), kWaitMs);
            QVERIFY(writer.stop());
        }
        auto store = openStore(db);
        checkStored(*store, a, first);
        const auto unfinished = valueOf(store->find(b.toString()));
        QVERIFY(unfinished && !unfinished->finished);
        testing::compareSamples(valueOf(store->curve(unfinished->id)), second);
        QCOMPARE(unfinished->state(QDateTime::currentMSecsSinceEpoch() + kRunningNewsMsecs + 1),
                 TestState::Unfinished);

        const auto again = valueOf(replayRecords(*store, contents.records, 0));
        QCOMPARE(again.samples, qint64(first.size() + second.size()));
        checkStored(*store, a, first);
        testing::compareSamples(valueOf(store->curve(unfinished->id)), second);
        QCOMPARE(valueOf(store->list({})).size(), std::size_t(2));
    }

    // A cell named or corrected while the test runs, after its end, or after
    // its record is complete reaches the record, through the spool too; its
    // state of health follows the new rated capacity.
    void cellChanged_data()
    {
        QTest::addColumn<int>("when");
        QTest::addColumn<bool>("unreachable");
        QTest::newRow("running") << int(CellEdit::Running) << false;
        QTest::newRow("finished") << int(CellEdit::Finished) << false;
        QTest::newRow("stored") << int(CellEdit::Stored) << false;
        QTest::newRow("running, spooled") << int(CellEdit::Running) << true;
        QTest::newRow("finished, spooled") << int(CellEdit::Finished) << true;
    }

    void cellChanged()
    {
        QFETCH(int, when);
        QFETCH(bool, unreachable);
        const QString name = QStringLiteral("cell-%1-%2").arg(when).arg(unreachable);
        const QString blocker = path(name + QStringLiteral("-blocker"));
        const QString db = unreachable ? blocked(blocker, QStringLiteral("lib.sqlite"))
                                       : path(name + QStringLiteral(".sqlite"));
        TestWriter writer(options(db, path(name + QStringLiteral("-spool"))));
        QSignalSpy stored(&writer, &TestWriter::stored);
        const Cell renamed{QStringLiteral("B 7"), QStringLiteral("LiFePO4"), 2.0};
        const auto samples = testing::syntheticDischarge({800, 11});
        const QUuid uuid = writer.begin(header(0));
        // The header and the first replies in the database or the spool
        // first, with the old cell.
        const auto durable = [&] {
            QTRY_VERIFY_WITH_TIMEOUT(writer.status().heldReplies == 0 &&
                                         writer.status().spooling == unreachable,
                                     kWaitMs);
        };
        discharge::TestModel model;
        for (std::size_t i = 0; i < samples.size(); ++i) {
            model.take(samples[i]);
            writer.append(uuid, samples[i]);
            writer.update(uuid, model.summary());
            if (i == samples.size() / 2 && when == int(CellEdit::Running)) {
                durable();
                writer.setCell(uuid, renamed);
            }
        }
        writer.finish(uuid, model.summary());
        if (when == int(CellEdit::Finished)) {
            durable();
            writer.setCell(uuid, renamed);
        }
        if (unreachable) {
            durable();
            QVERIFY(QFile::remove(blocker));
        }
        QTRY_COMPARE_WITH_TIMEOUT(stored.size(), 1, kWaitMs);
        if (when == int(CellEdit::Stored)) writer.setCell(uuid, renamed);
        QVERIFY(writer.stop());

        auto store = openStore(db);
        checkStored(*store, uuid, samples);
        const auto record = valueOf(store->find(uuid.toString()));
        QCOMPARE(record->header.cell.name, renamed.name);
        QCOMPARE(record->header.cell.type, renamed.type);
        QCOMPARE(record->header.cell.ratedAh, renamed.ratedAh);
        QVERIFY(record->summary.capacityAh > 0);
        QCOMPARE(record->stateOfHealth, stateOfHealth(record->summary, renamed));
    }

    // A spool left with the cell of a test whose record is complete: the
    // replay changes that record, and a test the database does not know is
    // no failure.
    void cellOfStoredTestReplayed()
    {
        const QString db = path(QStringLiteral("cell-replay.sqlite"));
        const auto samples = testing::syntheticDischarge({300, 12});
        QUuid uuid;
        {
            TestWriter writer(options(db, path(QStringLiteral("cell-replay-spool"))));
            QSignalSpy stored(&writer, &TestWriter::stored);
            uuid = play(writer, 0, samples);
            QTRY_COMPARE_WITH_TIMEOUT(stored.size(), 1, kWaitMs);
            QVERIFY(writer.stop());
        }
        SpoolFile spool;
        spool.setFolder(path(QStringLiteral("cell-replay-file")));
        std::vector<SpoolRecord> records(2);
        records[0].kind = records[1].kind = SpoolRecord::Kind::Cell;
        records[0].test = uuid;
        records[0].cell = {QStringLiteral("A 1"), QStringLiteral("NiMH"), std::nullopt};
        records[1].test = QUuid::createUuid();
        records[1].cell = {QStringLiteral("nobody"), {}, 1.0};
        QVERIFY(!spool.append(records));
        const auto read = valueOf(readSpoolFile(spool.path()));
        QCOMPARE(read.records.size(), std::size_t(2));

        auto store = openStore(db);
        valueOf(replayRecords(*store, read.records, 0));
        const auto record = valueOf(store->find(uuid.toString()));
        QCOMPARE(record->header.cell.name, QStringLiteral("A 1"));
        QCOMPARE(record->header.cell.type, QStringLiteral("NiMH"));
        QVERIFY(!record->header.cell.ratedAh);
        QVERIFY(!record->stateOfHealth); // no rated capacity any more
        QCOMPARE(valueOf(store->list({})).size(), std::size_t(1));
    }

    void refusesBeyondItsBound()
    {
        const QString blockerDb = path(QStringLiteral("blocker3"));
        const QString blockerSpool = path(QStringLiteral("blocker4"));
        const QString db = blocked(blockerDb, QStringLiteral("lib.sqlite"));
        const QString spool = blocked(blockerSpool, QStringLiteral("spool"));
        WriterOptions o = options(db, spool);
        o.maxHeld = 1000;
        TestWriter writer(o);
        QSignalSpy problems(&writer, &TestWriter::problem);
        QSignalSpy stored(&writer, &TestWriter::stored);
        const auto samples = testing::syntheticDischarge({1500, 6});
        const QUuid uuid = writer.begin(header(0));
        int taken = 0;
        for (const Sample& s : samples)
            taken += writer.append(uuid, s) ? 1 : 0;
        QCOMPARE(taken, 1000);
        QTRY_VERIFY_WITH_TIMEOUT(problems.size() >= 3, kWaitMs); // database, spool, refused
        QStringList messages;
        for (const auto& p : problems)
            messages << p.first().toString();
        QVERIFY2(messages.join(u'\n').contains(QLatin1String("new replies are refused")),
                 qPrintable(messages.join(u'\n')));
        QVERIFY2(messages.join(u'\n').contains(QLatin1String("held in memory")),
                 qPrintable(messages.join(u'\n')));
        QCOMPARE(writer.status().heldReplies, 1000);

        QVERIFY(QFile::remove(blockerDb) && QFile::remove(blockerSpool));
        writer.finish(uuid, discharge::summarize({samples.begin(), samples.begin() + 1000}));
        QTRY_COMPARE_WITH_TIMEOUT(stored.size(), 1, kWaitMs);
        checkStored(*openStore(db), uuid, {samples.begin(), samples.begin() + 1000});
    }

    void crashLosesAFewSecondsAtMost()
    {
        const QString db = path(QStringLiteral("crash.sqlite"));
        QProcess driver;
        driver.start(QStringLiteral(LIBRARY_DRIVER),
                     {QStringLiteral("--db"), db, QStringLiteral("--modules"), QStringLiteral("2"),
                      QStringLiteral("--samples"), QStringLiteral("100000"),
                      QStringLiteral("--interval"), QStringLiteral("20"), QStringLiteral("--seed"),
                      QStringLiteral("4")});
        QVERIFY(driver.waitForStarted());
        QByteArray out;
        qint64 ticks = 0;
        QElapsedTimer waited;
        waited.start();
        while (ticks < 300 && waited.elapsed() < kWaitMs) {
            driver.waitForReadyRead(1000);
            out += driver.readAllStandardOutput();
            const auto last = parsed(out.left(out.lastIndexOf('\n'))).of(QStringLiteral("tick"));
            if (!last.isEmpty()) ticks = last.last()[QStringLiteral("n")].toInteger();
        }
        ::kill(pid_t(driver.processId()), SIGKILL);
        QVERIFY(driver.waitForFinished(kWaitMs));
        QVERIFY(ticks >= 300);
        const QList<QUuid> uuids = parsed(out).begun();
        QCOMPARE(uuids.size(), 2);

        auto store = openStore(db);
        for (int m = 0; m < 2; ++m) {
            const auto record = valueOf(store->find(uuids[m].toString()));
            QVERIFY(record && !record->finished);
            const auto curve = valueOf(store->curve(record->id));
            // Three seconds of rounds at 20 ms: generous against a flush a second.
            QVERIFY2(qint64(curve.size()) >= ticks - 150,
                     qPrintable(QStringLiteral("%1 stored of %2").arg(curve.size()).arg(ticks)));
            const auto want = testing::syntheticDischarge(testing::driverPlan(100000, 4, m));
            testing::compareSamples(curve, {want.begin(), want.begin() + qsizetype(curve.size())});
            QVERIFY(record->summary.samples > 0 && record->summary.samples <= int(curve.size()));
        }
    }

    void fullDisk()
    {
        if (QStandardPaths::findExecutable(QStringLiteral("unshare")).isEmpty())
            QSKIP("unshare (util-linux) is missing: no small disk of the test's own");
        const QString work = path(QStringLiteral("full"));
        QVERIFY(QDir().mkpath(work));
        QStringList args{QStringLiteral("--mount"), QStringLiteral("--propagation"),
                         QStringLiteral("private")};
        if (::geteuid() != 0) args << QStringLiteral("--map-root-user");
        QProcess script;
        script.setProcessChannelMode(QProcess::MergedChannels);
        script.start(QStringLiteral("unshare"), args << QStringLiteral("/bin/sh")
                                                     << QStringLiteral(FULL_DISK_SH)
                                                     << QStringLiteral(LIBRARY_DRIVER) << work);
        QVERIFY(script.waitForFinished(240000));
        QVERIFY2(script.exitCode() == 0, script.readAll().constData());
        QFile outFile(work + QStringLiteral("/driver.out"));
        QVERIFY(outFile.open(QIODevice::ReadOnly));
        const DriverOutput out = parsed(outFile.readAll());

        QVERIFY(!out.of(QStringLiteral("problem")).isEmpty());
        QVERIFY(!out.of(QStringLiteral("recovered")).isEmpty());
        const QJsonObject ended = out.of(QStringLiteral("ended")).value(0);
        // Rounds every 20 ms: the disk must not hold the test up (generous bound).
        QVERIFY2(ended[QStringLiteral("max_gap_ms")].toInt() < 1000,
                 QJsonDocument(ended).toJson().constData());
        const QJsonObject done = out.of(QStringLiteral("done")).value(0);
        QCOMPARE(done[QStringLiteral("stored")].toInt(), 2);
        QVERIFY(done[QStringLiteral("durable")].toBool());
        auto store = openStore(work + QStringLiteral("/lib.sqlite"));
        const QList<QUuid> uuids = out.begun();
        QCOMPARE(uuids.size(), 2);
        for (int m = 0; m < 2; ++m)
            testing::checkDriverTest(*store, uuids[m], 300, 1, m);
    }
};

QTEST_GUILESS_MAIN(TestWriterCase)
#include "test_writer.moc"
