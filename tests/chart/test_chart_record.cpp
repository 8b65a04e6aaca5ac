// The chart records each discharge into the test library, end to end: the
// panel with the chart beside it, wired as --chart wires it, polls the
// simulated module. The record holds what 本次放电 shows and every reply of
// the discharge; the cell typed in the box reaches it, also after the end,
// and carries over to the next discharge; a library that cannot be written
// leaves the discharge and the chart alone, says so in a line, and gets the
// whole record once it can be written.

#include "Checks.h"

#include "chart/ChartWindow.h"
#include "chart/SummaryTexts.h"
#include "core/Texts.h"
#include "e2e/LivePanel.h"
#include "library/Store.h"
#include "library/TestWriter.h"
#include "modbus/Reading.h"
#include "sim/Simulator.h"

#include <QDoubleSpinBox>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QSignalSpy>
#include <QSysInfo>
#include <QTest>
#include <functional>

using namespace eload;
using namespace eload::test;
using discharge::Sample;

namespace {

constexpr int kWaitMs = 60000;

template <typename T> T valueOf(library::Result<T> r)
{
    if (auto* f = library::failureOf(r)) qFatal("%s", qPrintable(f->message));
    return std::move(std::get<T>(r));
}

library::WriterOptions writerOptions(const QString& db, const QString& spool)
{
    library::WriterOptions o;
    o.location = valueOf(library::parseLocation(db));
    o.spoolFolder = spool;
    o.flushMs = 100;
    o.retryMs = 200;
    return o;
}

// A file where the library's folder must be: it cannot be written until the
// file goes.
QString blockedPath(const QString& blocker)
{
    QFile file(blocker);
    file.open(QIODevice::WriteOnly);
    return blocker + QStringLiteral("/tests.sqlite");
}

// The panel, the chart and a writer into `db`, against one simulated module;
// every reply the chart gave the recorder, by discharge.
struct Rig {
    sim::Simulator module;
    QString line; // the module's end of the pseudo-terminal
    LivePanel panel;
    PortMap ports;
    chart::ChartWindow chartWindow;
    library::TestWriter writer;
    std::vector<std::vector<Sample>> discharges;
    int accepted = 0;

    Rig(sim::Options options, const QString& db, const QString& spool)
        : module(options), line(QString::fromStdString(std::get<std::string>(module.start()))),
          panel(line), writer(writerOptions(db, spool))
    {
        ports.set(1, line);
        panel.form.setReadingSink(&chartWindow.feed());
        chartWindow.recordInto(writer, chart::panelLine(panel.window, panel.form.state(), ports));
        auto* status = qobject_cast<QLineEdit*>(panel.window.control(Ctl::Message_Show));
        QObject::connect(status, &QLineEdit::textChanged, [this](const QString& t) {
            if (t == texts::kReplyGood) ++accepted;
        });
        QObject::connect(&feed(), &chart::DischargeFeed::dischargeBegan,
                         [this] { discharges.emplace_back(); });
        QObject::connect(&feed(), &chart::DischargeFeed::replyAdded,
                         [this](const Sample& s) { discharges.back().push_back(s); });
    }
    chart::DischargeFeed& feed() { return chartWindow.feed(); }
    bool replies(int n)
    {
        const int want = accepted + n;
        return QTest::qWaitFor([&] { return accepted >= want; }, 30000);
    }
    template <typename W> W* widget(const char* name)
    {
        return chartWindow.findChild<W*>(QLatin1String(name));
    }
    QString shown(const char* name) { return widget<QLabel>(name)->text(); }
    // Types into a field of the box as an operator does.
    void type(const char* field, const QString& text)
    {
        auto* edit = widget<QLineEdit>(field);
        edit->selectAll();
        QTest::keyClicks(edit, text);
    }
    void typeRated(const QString& text)
    {
        auto* box = widget<QDoubleSpinBox>("ratedAh");
        box->selectAll();
        QTest::keyClicks(box, text);
        QTest::keyClick(box, Qt::Key_Return);
    }
};

const char* const kFigureLabels[] = {"duration",       "capacity",      "energy",
                                     "averageVoltage", "lowestVoltage", "averageCurrent",
                                     "averagePower",   "end",           "notes"};

QStringList figureTexts(const chart::SummaryTexts& t)
{
    return {t.duration,       t.capacity,     t.energy, t.averageVoltage, t.lowestVoltage,
            t.averageCurrent, t.averagePower, t.end,    t.notes};
}

std::vector<library::TestRecord> records(const QString& db)
{
    auto store = valueOf(library::Store::open(valueOf(library::parseLocation(db))));
    return valueOf(store->list({}));
}

std::vector<Sample> curveOf(const QString& db, qint64 id)
{
    auto store = valueOf(library::Store::open(valueOf(library::parseLocation(db))));
    return valueOf(store->curve(id));
}

// Second i of a 1 A discharge: the module counts from `counted` (its
// capacity in thousandths of an AH) on.
modbus::Reading second(int i, int counted = 0, bool loadOn = true)
{
    modbus::Reading r;
    r.time = QDateTime::fromMSecsSinceEpoch(1'700'000'000'000 + i * 1000);
    r.monotonicMsecs = 1000 + i * 1000;
    r.voltage = 4.0;
    r.current = loadOn ? 1.0 : 0;
    r.power = r.voltage * r.current;
    r.capacityAh = (counted + i) / 1000.0;
    r.energyWh = 4 * r.capacityAh;
    r.dischargeSeconds = i;
    r.loadOn = loadOn;
    return r;
}

// What the feed tells a recorder, as text: "B" a discharge began, "R" a
// reply of it, "E:<end>:<replies>" its end.
struct Told {
    QStringList events;
    explicit Told(chart::DischargeFeed& feed)
    {
        QObject::connect(&feed, &chart::DischargeFeed::dischargeBegan,
                         [this] { events << QStringLiteral("B"); });
        QObject::connect(&feed, &chart::DischargeFeed::replyAdded,
                         [this] { events << QStringLiteral("R"); });
        QObject::connect(
            &feed, &chart::DischargeFeed::dischargeEnded, [this](const discharge::Summary& s) {
                events
                    << QStringLiteral("E:%1:%2").arg(discharge::endReasonKey(s.end)).arg(s.samples);
            });
    }
};

QString repliesTold(int n) { return QStringList(n, QStringLiteral("R")).join(u' '); }

} // namespace

using Play = std::function<void(chart::DischargeFeed&)>;
Q_DECLARE_METATYPE(Play)

class ChartRecordTest : public QObject {
    Q_OBJECT
    QTemporaryDir dir_;
    QString path(const QString& name) const { return dir_.filePath(name); }

private Q_SLOTS:
    void initTestCase() { qputenv("XDG_DATA_HOME", path(QStringLiteral("data")).toUtf8()); }

    // Down to UVLO: the record's figures are those 本次放电 shows, its curve
    // every reply the panel accepted in the discharge; the line, the module
    // and its presets are in the header; the name corrected after the end
    // reaches the record, with the state of health the box showed.
    void dischargeRecorded()
    {
        const QString db = path(QStringLiteral("uvlo.sqlite"));
        sim::Options options;
        options.speed = 30;
        options.model.capacityAh = 0.05; // 3 minutes at 1 A: 6 s of real time
        Rig rig(options, db, path(QStringLiteral("uvlo-spool")));
        rig.chartWindow.show();
        rig.type("cellName", QStringLiteral("A17"));
        rig.type("cellType", QStringLiteral("18650"));
        rig.typeRated(QStringLiteral("0.06"));
        QCOMPARE(rig.chartWindow.cell().ratedAh, std::optional(0.06));
        int acceptedAtEnd = 0;
        QObject::connect(&rig.feed(), &chart::DischargeFeed::dischargeEnded,
                         [&] { acceptedAtEnd = rig.accepted; });
        QSignalSpy stored(&rig.writer, &library::TestWriter::stored);
        rig.module.setReg(17, 1);
        rig.panel.openAndAcquire();
        QTRY_VERIFY_WITH_TIMEOUT(acceptedAtEnd > 0, kWaitMs);
        QVERIFY(rig.replies(2)); // idle replies after the end belong to no test
        rig.panel.click(Ctl::Command_OK3);
        QTRY_COMPARE_WITH_TIMEOUT(stored.size(), 1, kWaitMs);

        rig.type("cellName", QStringLiteral("A18"));
        rig.chartWindow.redrawNow();
        QStringList shown;
        for (const char* name : kFigureLabels)
            shown << rig.shown(name);
        const QString health = rig.shown("health");
        QVERIFY(rig.widget<QLabel>("health")->isVisible());
        QVERIFY(rig.writer.stop());

        const auto all = records(db);
        QCOMPARE(all.size(), std::size_t(1));
        const library::TestRecord& r = all.front();
        QVERIFY(r.finished);
        QCOMPARE(r.summary.end, discharge::EndReason::Uvlo);
        QCOMPARE(figureTexts(chart::summaryTexts(r.summary, false)), shown);
        QCOMPARE(r.summary.samples, acceptedAtEnd);
        QCOMPARE(rig.discharges.size(), std::size_t(1));
        QCOMPARE(rig.discharges.front().size(), std::size_t(acceptedAtEnd));
        testing::compareSamples(curveOf(db, r.id), rig.discharges.front());

        QCOMPARE(r.header.cell.name, QStringLiteral("A18"));
        QCOMPARE(r.header.cell.type, QStringLiteral("18650"));
        QCOMPARE(r.header.cell.ratedAh, std::optional(0.06));
        QVERIFY(r.stateOfHealth);
        QCOMPARE(QStringLiteral("%1%").arg(*r.stateOfHealth * 100, 0, 'f', 1), health);
        QCOMPARE(r.header.station, QSysInfo::machineHostName());
        QCOMPARE(r.header.port, rig.line);
        QCOMPARE(r.header.address, std::optional(1));
        QCOMPARE(r.header.presets.currentA, std::optional(rig.module.reg(13) / 100.0));
        QCOMPARE(r.header.presets.cutoffV, std::optional(rig.module.reg(14) / 100.0));
        QCOMPARE(r.header.presets.powerW, std::optional(rig.module.reg(15) / 100.0));
    }

    // The load off and on again: two tests. The name given after the first
    // ended is that test's and the next one's; the type and rated capacity
    // carry over unchanged.
    void cellCarriesOver()
    {
        const QString db = path(QStringLiteral("two.sqlite"));
        sim::Options options;
        options.speed = 120;
        Rig rig(options, db, path(QStringLiteral("two-spool")));
        rig.type("cellName", QStringLiteral("B1"));
        rig.type("cellType", QStringLiteral("LiFePO4"));
        rig.typeRated(QStringLiteral("2.2"));
        rig.module.setReg(17, 1);
        rig.panel.openAndAcquire();
        QVERIFY(rig.replies(6));
        rig.module.setReg(17, 0);
        QTRY_VERIFY_WITH_TIMEOUT(!rig.feed().running(), kWaitMs);
        rig.type("cellName", QStringLiteral("B2"));
        rig.module.setReg(17, 1);
        QVERIFY(rig.replies(6));
        QVERIFY(rig.feed().running());
        rig.panel.click(Ctl::Command_OK3);
        QVERIFY(rig.writer.stop());

        const auto all = records(db);
        QCOMPARE(all.size(), std::size_t(2));
        QCOMPARE(rig.discharges.size(), std::size_t(2));
        for (std::size_t i = 0; i < all.size(); ++i) {
            QCOMPARE(all[i].header.cell.name, QStringLiteral("B2"));
            QCOMPARE(all[i].header.cell.type, QStringLiteral("LiFePO4"));
            QCOMPARE(all[i].header.cell.ratedAh, std::optional(2.2));
            testing::compareSamples(curveOf(db, all[i].id), rig.discharges[i]);
        }
        QVERIFY(all[0].finished);
        QCOMPARE(all[0].summary.end, discharge::EndReason::LoadOff);
        QVERIFY(!all[1].finished); // still running when the writer stopped
    }

    // A library that cannot be written: the discharge and the chart go on,
    // a line says where the data waits, no box opens; once it can be
    // written, the line says so and the record is whole.
    void unwritableLibrary()
    {
        const QString blocker = path(QStringLiteral("blocker"));
        const QString db = blockedPath(blocker);
        const QString spool = path(QStringLiteral("blocked-spool"));
        sim::Options options;
        options.speed = 120;
        Rig rig(options, db, spool);
        rig.chartWindow.show();
        rig.module.setReg(17, 1);
        rig.panel.openAndAcquire();
        auto* line = rig.widget<QLabel>("library");
        QTRY_VERIFY_WITH_TIMEOUT(line->isVisible(), kWaitMs);
        QVERIFY2(line->text().startsWith(QStringLiteral("电池库暂不可写，数据暂存于 ")),
                 qPrintable(line->text()));
        QVERIFY(line->text().contains(spool));
        const std::size_t before = rig.feed().samples().rows().size();
        QVERIFY(rig.replies(6));
        QVERIFY(rig.feed().running());
        QVERIFY(rig.feed().samples().rows().size() >= before + 6);
        QVERIFY(rig.panel.boxes.texts.isEmpty());

        QVERIFY(QFile::remove(blocker));
        QTRY_COMPARE_WITH_TIMEOUT(line->text(), QStringLiteral("电池库已恢复写入"), kWaitMs);
        rig.module.setReg(17, 0);
        QTRY_VERIFY_WITH_TIMEOUT(!rig.feed().running(), kWaitMs);
        rig.panel.click(Ctl::Command_OK3);
        QVERIFY(rig.writer.stop());
        QVERIFY(rig.panel.boxes.texts.isEmpty());

        const auto all = records(db);
        QCOMPARE(all.size(), std::size_t(1));
        QVERIFY(all.front().finished);
        QCOMPARE(rig.discharges.size(), std::size_t(1));
        testing::compareSamples(curveOf(db, all.front().id), rig.discharges.front());
    }

    // Every discharge the model finds is told once, with each of its replies
    // and its end, however it ends; idle replies are no one's.
    void feedTellsDischarges_data()
    {
        using Feed = chart::DischargeFeed;
        QTest::addColumn<Play>("play");
        QTest::addColumn<QString>("told");
        QTest::newRow("load off, then idle") << Play([](Feed& f) {
            for (int i = 0; i < 3; ++i)
                f.takeReading(second(i));
            for (int i = 3; i < 8; ++i)
                f.takeReading(second(i, 0, false));
        }) << QStringLiteral("B %1 E:load-off:6").arg(repliesTold(6));
        QTest::newRow("counts fall: the next begins at once") << Play([](Feed& f) {
            for (int i = 0; i < 4; ++i)
                f.takeReading(second(i, 500));
            for (int i = 4; i < 6; ++i)
                f.takeReading(second(i, -4));
        }) << QStringLiteral("B %1 E::4 B %2").arg(repliesTold(4), repliesTold(2));
        QTest::newRow("line ended") << Play([](Feed& f) {
            for (int i = 0; i < 3; ++i)
                f.takeReading(second(i));
            f.lineEnded();
            f.lineEnded();
        }) << QStringLiteral("B %1 E:line-lost:3").arg(repliesTold(3));
        QTest::newRow("silence") << Play([](Feed& f) {
            for (int i = 0; i < 3; ++i)
                f.takeReading(second(i));
            for (int i = 0; i < 8; ++i)
                f.replyMissed(4000 + i * 500);
        }) << QStringLiteral("B %1 E:line-lost:3").arg(repliesTold(3));
    }
    void feedTellsDischarges()
    {
        QFETCH(Play, play);
        QFETCH(QString, told);
        chart::DischargeFeed feed;
        Told t(feed);
        play(feed);
        QCOMPARE(t.events.join(u' '), told);
    }

    // The address box as the operator may leave it.
    void addressOf_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<int>("address"); // -1: none
        QTest::newRow("listed") << QStringLiteral("17") << 17;
        QTest::newRow("blanks") << QStringLiteral(" 3 ") << 3;
        QTest::newRow("empty") << QString() << -1;
        QTest::newRow("letters") << QStringLiteral("1a") << -1;
        QTest::newRow("beyond a byte") << QStringLiteral("256") << -1;
        QTest::newRow("negative") << QStringLiteral("-1") << -1;
    }
    void addressOf()
    {
        QFETCH(QString, text);
        QFETCH(int, address);
        QCOMPARE(chart::addressOf(text).value_or(-1), address);
    }
};

QTEST_MAIN(ChartRecordTest)
#include "test_chart_record.moc"
