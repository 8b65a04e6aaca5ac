// The library on PostgreSQL servers of the test's own (Debian's postgresql,
// a Unix socket only, as nobody when run as root): the schema new and from
// version 1; libpq's service and password files honoured and no password in
// any message; a server stopped mid-test, the test running on to its end
// and its record arriving once the server is back; a writer killed while the
// server was down, its spool stored by `eload-cli tests sync`; two stations
// of four modules each writing at once into a new database.

#include "Checks.h"
#include "PgServer.h"
#include "Synthetic.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>
#include <csignal>

using namespace eload;
using namespace eload::library;

namespace {

constexpr int kWaitMs = 120000;
const QString kPassword = QStringLiteral("s3cret-pw");

template <typename T> T valueOf(Result<T> r)
{
    if (auto* f = failureOf(r)) qFatal("%s", qPrintable(f->message));
    return std::move(std::get<T>(r));
}

DatabaseLocation at(const QString& url) { return std::get<DatabaseLocation>(parseLocation(url)); }

// A driver's JSON lines as they come.
class Driver {
public:
    void start(const QStringList& args)
    {
        process_.start(QStringLiteral(LIBRARY_DRIVER), args);
        process_.waitForStarted();
    }
    // Reads until round `n` was played; false when the driver ended or time ran out.
    bool waitForTick(qint64 n)
    {
        QElapsedTimer waited;
        waited.start();
        while (lastTick() < n && waited.elapsed() < kWaitMs) {
            if (process_.state() == QProcess::NotRunning) return false;
            process_.waitForReadyRead(500);
            out_ += process_.readAllStandardOutput();
        }
        return lastTick() >= n;
    }
    bool finish()
    {
        const bool ended = process_.waitForFinished(kWaitMs);
        out_ += process_.readAllStandardOutput();
        return ended && process_.exitStatus() == QProcess::NormalExit && process_.exitCode() == 0;
    }
    void kill()
    {
        ::kill(pid_t(process_.processId()), SIGKILL);
        process_.waitForFinished(kWaitMs);
        out_ += process_.readAllStandardOutput();
    }
    QList<QJsonObject> of(const QString& event) const
    {
        QList<QJsonObject> found;
        for (const QByteArray& line : out_.split('\n')) {
            const QJsonObject o = QJsonDocument::fromJson(line).object();
            if (o[QStringLiteral("event")].toString() == event) found << o;
        }
        return found;
    }
    QList<QUuid> begun() const
    {
        QList<QUuid> uuids;
        for (const QJsonObject& o : of(QStringLiteral("begun")))
            uuids << QUuid::fromString(o[QStringLiteral("uuid")].toString());
        return uuids;
    }
    qint64 lastTick() const
    {
        const auto ticks = of(QStringLiteral("tick"));
        return ticks.isEmpty() ? 0 : ticks.last()[QStringLiteral("n")].toInteger();
    }
    // For a failure's message: what it said last, without the rounds, and its errors.
    QByteArray output()
    {
        QByteArray said;
        for (const QByteArray& line : out_.split('\n'))
            if (!line.contains("\"tick\"")) said += line + '\n';
        return said + QByteArray("rounds: ") + QByteArray::number(lastTick()) +
               "\nstderr: " + process_.readAllStandardError().right(4000);
    }

private:
    QProcess process_;
    QByteArray out_;
};

void checkRanThrough(Driver& d, int tests)
{
    QVERIFY2(!d.of(QStringLiteral("problem")).isEmpty(), d.output().constData());
    QVERIFY2(!d.of(QStringLiteral("recovered")).isEmpty(), d.output().constData());
    const QJsonObject ended = d.of(QStringLiteral("ended")).value(0);
    // Rounds every 20 ms: the server's fall must not hold the test up.
    QVERIFY2(ended[QStringLiteral("max_gap_ms")].toInt() < 1000,
             QJsonDocument(ended).toJson().constData());
    const QJsonObject done = d.of(QStringLiteral("done")).value(0);
    QCOMPARE(done[QStringLiteral("stored")].toInt(), tests);
    QVERIFY(done[QStringLiteral("durable")].toBool());
}

} // namespace

class TestPostgres : public QObject {
    Q_OBJECT
    testing::PgServer server_;
    QTemporaryDir dir_;

    void createDatabase(const QString& name)
    {
        QString why;
        QVERIFY2(
            server_.superuser({QStringLiteral("CREATE DATABASE %1 OWNER station").arg(name)}, &why),
            qPrintable(why));
    }
    QString url(const QString& database) const
    {
        return server_.url(database, QStringLiteral("station"))
            .replace(QStringLiteral("station@"), QStringLiteral("station:") + kPassword + u'@');
    }

private Q_SLOTS:
    void initTestCase()
    {
        if (testing::PgServer::binFolder().isEmpty())
            QSKIP("PostgreSQL's server is not installed (/usr/lib/postgresql/*/bin): "
                  "scripts/bootstrap installs it");
        QString why;
        QVERIFY2(server_.start(&why), qPrintable(why));
        QVERIFY2(
            server_.superuser(
                {QStringLiteral("CREATE ROLE station LOGIN PASSWORD '%1'").arg(kPassword)}, &why),
            qPrintable(why));
        qputenv("XDG_DATA_HOME", dir_.filePath(QStringLiteral("data")).toUtf8());
    }
    void cleanupTestCase() { server_.stop(); }

    void schemaNewAndNewer()
    {
        createDatabase(QStringLiteral("fresh"));
        testing::checkNewAndNewerSchema(at(url(QStringLiteral("fresh"))));
    }

    void schemaFromVersion1()
    {
        createDatabase(QStringLiteral("old"));
        testing::checkUpgradeFromVersion1(at(url(QStringLiteral("old"))));
    }

    void serviceAndPasswordFiles()
    {
        createDatabase(QStringLiteral("svc"));
        const QString services = dir_.filePath(QStringLiteral("pg_service.conf"));
        const QString passwords = dir_.filePath(QStringLiteral("pgpass"));
        QFile s(services), p(passwords);
        QVERIFY(s.open(QIODevice::WriteOnly) && p.open(QIODevice::WriteOnly));
        s.write(QStringLiteral("[lab]\nhost=%1\ndbname=svc\nuser=station\n")
                    .arg(server_.socketFolder())
                    .toUtf8());
        p.write(QStringLiteral("*:*:svc:station:%1\n").arg(kPassword).toUtf8());
        s.close();
        p.close();
        QVERIFY(p.setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner));
        qputenv("PGSERVICEFILE", services.toUtf8());
        qputenv("PGPASSFILE", passwords.toUtf8());

        for (const QString& u : {QStringLiteral("postgresql://?service=lab"),
                                 server_.url(QStringLiteral("svc"), QStringLiteral("station"))}) {
            auto store = Store::open(at(u));
            if (auto* f = failureOf(store)) QFAIL(qPrintable(f->message));
        }
        QProcess cli;
        cli.start(QStringLiteral(ELOAD_CLI),
                  {QStringLiteral("tests"), QStringLiteral("--db"),
                   QStringLiteral("postgresql://?service=lab"), QStringLiteral("list")});
        QVERIFY(cli.waitForFinished(kWaitMs));
        QVERIFY2(cli.exitCode() == 0, cli.readAllStandardError().constData());

        // Without the password file: refused, and said so.
        qputenv("PGPASSFILE", dir_.filePath(QStringLiteral("none")).toUtf8());
        const auto refused = Store::open(at(QStringLiteral("postgresql://?service=lab")));
        QVERIFY(failureOf(refused));
        QVERIFY2(failureOf(refused)->message.contains(QLatin1String("password")),
                 qPrintable(failureOf(refused)->message));
        // A wrong password given in the URL never appears in a message.
        const QString wrong =
            server_.url(QStringLiteral("svc"), QStringLiteral("station"))
                .replace(QStringLiteral("station@"), QStringLiteral("station:wr0ng-pw-77@"));
        const auto failed = Store::open(at(wrong));
        QVERIFY(failureOf(failed));
        const QString message = failureOf(failed)->message;
        QVERIFY2(!message.contains(QLatin1String("wr0ng-pw-77")) &&
                     message.contains(QLatin1String("station:***@")),
                 qPrintable(message));
        qunsetenv("PGSERVICEFILE");
        qunsetenv("PGPASSFILE");
    }

    void serverStoppedMidTest()
    {
        createDatabase(QStringLiteral("stopped"));
        Driver d;
        d.start({QStringLiteral("--db"), url(QStringLiteral("stopped")), QStringLiteral("--spool"),
                 dir_.filePath(QStringLiteral("spool-stopped")), QStringLiteral("--modules"),
                 QStringLiteral("2"), QStringLiteral("--samples"), QStringLiteral("400"),
                 QStringLiteral("--interval"), QStringLiteral("20"), QStringLiteral("--retry-ms"),
                 QStringLiteral("300"), QStringLiteral("--wait-stored"), QStringLiteral("120")});
        QVERIFY2(d.waitForTick(100), d.output().constData());
        QVERIFY(server_.stop());
        QVERIFY2(d.waitForTick(250), d.output().constData());
        QString why;
        QVERIFY2(server_.start(&why), qPrintable(why));
        QVERIFY2(d.finish(), d.output().constData());
        checkRanThrough(d, 2);
        if (QTest::currentTestFailed()) return;
        auto store = valueOf(Store::open(at(url(QStringLiteral("stopped")))));
        const QList<QUuid> uuids = d.begun();
        for (int m = 0; m < 2; ++m)
            testing::checkDriverTest(*store, uuids[m], 400, 1, m);
    }

    void crashWhileServerDownThenSync()
    {
        createDatabase(QStringLiteral("crashed"));
        const QString db = url(QStringLiteral("crashed"));
        Driver d;
        d.start({QStringLiteral("--db"), db, QStringLiteral("--samples"), QStringLiteral("100000"),
                 QStringLiteral("--interval"), QStringLiteral("20"), QStringLiteral("--seed"),
                 QStringLiteral("7")});
        QVERIFY2(d.waitForTick(100), d.output().constData());
        QVERIFY(server_.stop());
        QVERIFY2(d.waitForTick(350), d.output().constData());
        const qint64 ticks = d.lastTick();
        d.kill();
        QString why;
        QVERIFY2(server_.start(&why), qPrintable(why));

        const QString spool = defaultSpoolFolder(at(db));
        QCOMPARE(QDir(spool).entryList({QStringLiteral("*.spool")}, QDir::Files).size(), 1);
        QProcess cli;
        cli.start(QStringLiteral(ELOAD_CLI),
                  {QStringLiteral("tests"), QStringLiteral("--db"), db, QStringLiteral("sync")});
        QVERIFY(cli.waitForFinished(kWaitMs));
        const QByteArray said = cli.readAllStandardOutput();
        QVERIFY2(cli.exitCode() == 0, cli.readAllStandardError().constData());
        QVERIFY2(said.contains("replies from the spool stored"), said.constData());
        QVERIFY(QDir(spool).entryList({QStringLiteral("*.spool")}, QDir::Files).isEmpty());

        auto store = valueOf(Store::open(at(db)));
        const auto record = valueOf(store->find(d.begun().value(0).toString()));
        QVERIFY(record && !record->finished);
        const auto curve = valueOf(store->curve(record->id));
        QVERIFY2(qint64(curve.size()) >= ticks - 150,
                 qPrintable(QStringLiteral("%1 stored of %2").arg(curve.size()).arg(ticks)));
        const auto want = testing::syntheticDischarge(testing::driverPlan(100000, 7, 0));
        testing::compareSamples(curve, {want.begin(), want.begin() + qsizetype(curve.size())});
    }

    void twoStationsAtOnce()
    {
        createDatabase(QStringLiteral("lab")); // no tables yet: both stations migrate it
        Driver stations[2];
        for (int i = 0; i < 2; ++i)
            stations[i].start(
                {QStringLiteral("--db"), url(QStringLiteral("lab")), QStringLiteral("--spool"),
                 dir_.filePath(QStringLiteral("spool-station%1").arg(i)),
                 QStringLiteral("--station"), QStringLiteral("station%1").arg(i),
                 QStringLiteral("--seed"), QString::number(i + 1), QStringLiteral("--modules"),
                 QStringLiteral("4"), QStringLiteral("--samples"), QStringLiteral("600"),
                 QStringLiteral("--interval"), QStringLiteral("10"), QStringLiteral("--flush-ms"),
                 QStringLiteral("200"), QStringLiteral("--wait-stored"), QStringLiteral("120")});
        for (Driver& d : stations) {
            QVERIFY2(d.finish(), d.output().constData());
            QCOMPARE(d.of(QStringLiteral("done")).value(0)[QStringLiteral("stored")].toInt(), 4);
            QVERIFY2(d.of(QStringLiteral("problem")).isEmpty(), d.output().constData());
        }
        auto store = valueOf(Store::open(at(url(QStringLiteral("lab")))));
        QCOMPARE(valueOf(store->list({})).size(), std::size_t(8));
        for (int i = 0; i < 2; ++i)
            for (int m = 0; m < 4; ++m)
                testing::checkDriverTest(*store, stations[i].begun().value(m), 600, unsigned(i + 1),
                                         m);
    }
};

QTEST_GUILESS_MAIN(TestPostgres)
#include "test_postgres.moc"
