// Plays live tests into the test library the way a recording station does,
// from synthetic replies: one test per module, a reply of each module every
// --interval ms on the event thread, each handed to the writer with the test
// model's figures, the test finished with the model's summary. It prints
// what happens as JSON lines on stdout, so that a test can kill it, stop
// its database or fill its disk at a known point and check what arrived:
//
//   {"event":"begun","module":M,"uuid":...}
//   {"event":"tick","n":N}             every reply round, N counted from 1
//   {"event":"problem"|"recovered","message":...}
//   {"event":"stored","uuid":...}      a finished test complete in the database
//   {"event":"ended","max_gap_ms":G,"max_call_ms":C}
//                                      the last reply: the longest wait between
//                                      two rounds and the longest round itself
//   {"event":"done","stored":K,"durable":true|false}
//
// usage: library_driver --db URL|PATH [--spool DIR] [--station NAME]
//        [--modules N] [--samples M] [--interval MS] [--seed S]
//        [--wait-stored SECONDS] [--flush-ms MS] [--retry-ms MS]

#include "Synthetic.h"

#include "discharge/TestModel.h"
#include "library/TestWriter.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTimer>
#include <cstdio>

using namespace eload;

namespace {

void say(const QJsonObject& o)
{
    std::fputs(QJsonDocument(o).toJson(QJsonDocument::Compact).constData(), stdout);
    std::fputc('\n', stdout);
    std::fflush(stdout);
}

void say(const char* event, const QString& key, const QJsonValue& value)
{
    say({{QStringLiteral("event"), QLatin1String(event)}, {key, value}});
}

struct Module {
    QUuid uuid;
    std::vector<discharge::Sample> samples;
    discharge::TestModel model;
};

class Driver : public QObject {
public:
    Driver(library::WriterOptions options, const QString& station, int modules, int samples,
           unsigned seed)
        : writer_(std::move(options))
    {
        connect(&writer_, &library::TestWriter::problem, this,
                [](const QString& m) { say("problem", QStringLiteral("message"), m); });
        connect(&writer_, &library::TestWriter::recovered, this,
                [](const QString& m) { say("recovered", QStringLiteral("message"), m); });
        connect(&writer_, &library::TestWriter::stored, this, [this](const QUuid& u) {
            ++stored_;
            say("stored", QStringLiteral("uuid"), u.toString(QUuid::WithoutBraces));
        });
        for (int m = 0; m < modules; ++m) {
            Module module;
            module.samples = testing::syntheticDischarge(testing::driverPlan(samples, seed, m));
            library::TestHeader h;
            h.cell = {QStringLiteral("%1-cell%2").arg(station).arg(m + 1),
                      QStringLiteral("18650 Li-ion"), 2.5};
            h.station = station;
            h.port = QStringLiteral("/dev/ttyUSB0");
            h.address = m + 1;
            h.presets = {1.0, 2.95, 150.0};
            h.startMsecs = module.samples.empty() ? 0 : module.samples.front().msecs;
            module.uuid = writer_.begin(h);
            say({{QStringLiteral("event"), QStringLiteral("begun")},
                 {QStringLiteral("module"), m + 1},
                 {QStringLiteral("uuid"), module.uuid.toString(QUuid::WithoutBraces)}});
            modules_.push_back(std::move(module));
        }
    }

    void run(int intervalMs, int waitStoredSeconds)
    {
        waitStored_ = waitStoredSeconds;
        timer_.setTimerType(Qt::PreciseTimer);
        connect(&timer_, &QTimer::timeout, this, &Driver::round);
        timer_.start(intervalMs);
        sinceRound_.start();
        if (modules_.empty()) end();
    }

private:
    void round()
    {
        maxGapMs_ = std::max(maxGapMs_, sinceRound_.elapsed());
        sinceRound_.start();
        QElapsedTimer call;
        call.start();
        bool more = false;
        for (Module& m : modules_) {
            if (next_ >= m.samples.size()) continue;
            const discharge::Sample& s = m.samples[next_];
            m.model.take(s);
            writer_.append(m.uuid, s);
            if (next_ + 1 == m.samples.size())
                writer_.finish(m.uuid, m.model.summary());
            else
                writer_.update(m.uuid, m.model.summary());
            more = more || next_ + 1 < m.samples.size();
        }
        ++next_;
        maxCallMs_ = std::max(maxCallMs_, call.elapsed());
        say("tick", QStringLiteral("n"), qint64(next_));
        if (!more) end();
    }

    void end()
    {
        timer_.stop();
        say({{QStringLiteral("event"), QStringLiteral("ended")},
             {QStringLiteral("max_gap_ms"), maxGapMs_},
             {QStringLiteral("max_call_ms"), maxCallMs_}});
        waited_.start();
        auto* poll = new QTimer(this);
        connect(poll, &QTimer::timeout, this, [this] {
            const bool all = stored_ >= int(modules_.size());
            if (!all && waited_.elapsed() < waitStored_ * 1000) return;
            const bool durable = writer_.stop();
            say({{QStringLiteral("event"), QStringLiteral("done")},
                 {QStringLiteral("stored"), stored_},
                 {QStringLiteral("durable"), durable}});
            QCoreApplication::quit();
        });
        poll->start(50);
    }

    library::TestWriter writer_;
    std::vector<Module> modules_;
    QTimer timer_;
    QElapsedTimer sinceRound_, waited_;
    std::size_t next_ = 0;
    qint64 maxGapMs_ = 0, maxCallMs_ = 0;
    int stored_ = 0;
    int waitStored_ = 0;
};

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    QCommandLineParser p;
    const QList<QCommandLineOption> options = {
        {QStringLiteral("db"), QStringLiteral("database"), QStringLiteral("URL")},
        {QStringLiteral("spool"), QStringLiteral("spool folder"), QStringLiteral("DIR")},
        {QStringLiteral("station"), QStringLiteral("station"), QStringLiteral("NAME"),
         QStringLiteral("station")},
        {QStringLiteral("modules"), QStringLiteral("tests at once"), QStringLiteral("N"),
         QStringLiteral("1")},
        {QStringLiteral("samples"), QStringLiteral("replies per test"), QStringLiteral("M"),
         QStringLiteral("100")},
        {QStringLiteral("interval"), QStringLiteral("ms between rounds"), QStringLiteral("MS"),
         QStringLiteral("20")},
        {QStringLiteral("seed"), QStringLiteral("seed"), QStringLiteral("S"), QStringLiteral("1")},
        {QStringLiteral("wait-stored"), QStringLiteral("seconds to wait for the records"),
         QStringLiteral("SECONDS"), QStringLiteral("0")},
        {QStringLiteral("flush-ms"), QStringLiteral("writer's flush"), QStringLiteral("MS"),
         QStringLiteral("1000")},
        {QStringLiteral("retry-ms"), QStringLiteral("writer's retry"), QStringLiteral("MS"),
         QStringLiteral("1000")},
    };
    p.addOptions(options);
    p.process(app);
    auto location = library::parseLocation(p.value(QStringLiteral("db")));
    if (auto* f = library::failureOf(location)) {
        std::fprintf(stderr, "%s\n", qPrintable(f->message));
        return 2;
    }
    library::WriterOptions writerOptions;
    writerOptions.location = std::get<library::DatabaseLocation>(location);
    writerOptions.spoolFolder = p.value(QStringLiteral("spool"));
    writerOptions.flushMs = p.value(QStringLiteral("flush-ms")).toInt();
    writerOptions.retryMs = p.value(QStringLiteral("retry-ms")).toInt();
    Driver driver(writerOptions, p.value(QStringLiteral("station")),
                  p.value(QStringLiteral("modules")).toInt(),
                  p.value(QStringLiteral("samples")).toInt(),
                  p.value(QStringLiteral("seed")).toUInt());
    driver.run(p.value(QStringLiteral("interval")).toInt(),
               p.value(QStringLiteral("wait-stored")).toInt());
    return QCoreApplication::exec();
}
