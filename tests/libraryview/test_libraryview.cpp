// The library window over a SQLite library of a few tests: the table shows
// what the Store holds, filters and sort, health colours that follow the
// grading rules, the curves overlaid, the one-page PDF, the pack tab against
// matchPack, and a database that cannot be opened.

#include "DemoLibrary.h"

#include "discharge/TestModel.h"
#include "libraryview/CapacityView.h"
#include "libraryview/CurveData.h"
#include "libraryview/Health.h"
#include "libraryview/LibraryWindow.h"
#include "libraryview/PackCells.h"
#include "libraryview/PackPanel.h"
#include "libraryview/Report.h"
#include "libraryview/TestTableModel.h"
#include "libraryview/TestTexts.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDateEdit>
#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QLineEdit>
#include <QProcess>
#include <QSignalSpy>
#include <QSortFilterProxyModel>
#include <QStandardPaths>
#include <QTableView>
#include <QTableWidget>
#include <QTemporaryDir>
#include <QtTest>

using namespace eload;
using namespace eload::libraryview;
using library::GradeRule;
using library::GradeRules;
using library::TestRecord;

Q_DECLARE_METATYPE(std::optional<double>)

namespace {

constexpr int kWaitMsecs = 20'000;
constexpr qint64 kDay = 86'400'000;
// 2026-03-02 12:00 UTC: noon, so that a local date is the UTC one in any zone of the tests.
constexpr qint64 kT0 = 1'772'452'800'000;

struct Planned {
    QString name, type;
    double capacityAh, ratedAh;
    int day;
    QString grade;
};

// Four cells of two types on four days; capacities (and so states of health) differ.
const std::vector<Planned> kPlanned = {
    {QStringLiteral("A01"), QStringLiteral("18650 Li-ion"), 2.45, 2.6, 0, QStringLiteral("A")},
    {QStringLiteral("A02"), QStringLiteral("18650 Li-ion"), 1.30, 2.6, 1, QStringLiteral("reject")},
    {QStringLiteral("B01"), QStringLiteral("LiFePO4"), 1.00, 1.5, 2, QStringLiteral("B")},
    {QStringLiteral("a03"), QStringLiteral("18650 Li-ion"), 2.10, 2.6, 3, QString()},
};

testing::DemoCell demoOf(const Planned& p, int i)
{
    testing::DemoCell c;
    c.name = p.name;
    c.type = p.type;
    c.ratedAh = p.ratedAh;
    c.capacityAh = p.capacityAh;
    c.startMsecs = kT0 + p.day * kDay;
    c.resistanceMilliohm = 40 + 5 * i;
    c.periodMs = 5000;
    c.seed = unsigned(i + 1);
    return c;
}

QStringList names(const std::vector<TestRecord>& tests)
{
    QStringList n;
    for (const TestRecord& t : tests)
        n << t.header.cell.name;
    n.sort();
    return n;
}

QStringList shownNames(const LibraryWindow& w) { return names(w.model()->tests()); }

bool waitFor(QSignalSpy& spy) { return spy.count() > 0 || spy.wait(kWaitMsecs); }

// The window shown on `path`, its first listing in.
std::unique_ptr<LibraryWindow> shownWindow(const QString& path)
{
    auto w = std::make_unique<LibraryWindow>(path);
    QSignalSpy listed(w.get(), &LibraryWindow::listShown);
    w->show();
    if (!waitFor(listed)) qFatal("no listing: %s", qPrintable(w->statusText()));
    return w;
}

void selectRows(LibraryWindow& w, const QStringList& cells)
{
    QItemSelection selection;
    for (int row = 0; row < w.proxy()->rowCount(); ++row) {
        const QModelIndex at = w.proxy()->index(row, TestTableModel::CellColumn);
        if (cells.contains(at.data().toString())) selection.select(at, at);
    }
    w.table()->selectionModel()->select(selection, QItemSelectionModel::ClearAndSelect |
                                                       QItemSelectionModel::Rows);
}

void refreshAndWait(LibraryWindow& w)
{
    QSignalSpy listed(&w, &LibraryWindow::listShown);
    w.refresh();
    QVERIFY2(listed.wait(kWaitMsecs), qPrintable(w.statusText()));
}

QString runTool(const QString& program, const QStringList& args)
{
    QProcess p;
    p.start(program, args);
    if (!p.waitForFinished(30'000) || p.exitCode() != 0) return {};
    return QString::fromUtf8(p.readAllStandardOutput());
}

} // namespace

class TestLibraryView : public QObject {
    Q_OBJECT

    QTemporaryDir dir_;
    QString path_;

private Q_SLOTS:
    void initTestCase()
    {
        // The grading rules come from the temporary folder, never the user's.
        qputenv("XDG_CONFIG_HOME", dir_.filePath(QStringLiteral("config")).toUtf8());
        QDir().mkpath(dir_.filePath(QStringLiteral("config/eload-panel")));
        QFile rules(dir_.filePath(QStringLiteral("config/eload-panel/grades.json")));
        QVERIFY(rules.open(QIODevice::WriteOnly));
        rules.write(R"({"18650 Li-ion": [{"grade": "A", "min_soh_percent": 90},
                                         {"grade": "B", "min_soh_percent": 70}]})");
        rules.close();
        path_ = dir_.filePath(QStringLiteral("lab.sqlite"));
        auto opened = library::Store::open(
            std::get<library::DatabaseLocation>(library::parseLocation(path_)));
        QVERIFY(!library::failureOf(opened));
        auto& store = *std::get<std::unique_ptr<library::Store>>(opened);
        for (std::size_t i = 0; i < kPlanned.size(); ++i)
            testing::storeDemoTest(store, demoOf(kPlanned[i], int(i)), kPlanned[i].grade);
    }

    // Every test the Store holds, with its figures as the Store has them.
    void tableShowsTheStore()
    {
        auto w = shownWindow(path_);
        auto opened = library::Store::open(
            std::get<library::DatabaseLocation>(library::parseLocation(path_)));
        auto stored = std::get<std::vector<TestRecord>>(
            std::get<std::unique_ptr<library::Store>>(opened)->list({}));
        QCOMPARE(w->model()->rowCount(), int(stored.size()));
        QCOMPARE(shownNames(*w), names(stored));
        for (int row = 0; row < w->model()->rowCount(); ++row) {
            const TestRecord& shown = w->model()->test(row);
            auto same = std::find_if(stored.begin(), stored.end(),
                                     [&](const TestRecord& t) { return t.id == shown.id; });
            QVERIFY(same != stored.end());
            QCOMPARE(shown.summary.capacityAh, same->summary.capacityAh);
            QCOMPARE(w->model()->index(row, TestTableModel::CapacityColumn).data().toString(),
                     capacityText(same->summary.capacityAh));
            QCOMPARE(w->model()->index(row, TestTableModel::EndColumn).data().toString(),
                     QStringLiteral("UVLO"));
            QVERIFY(w->model()
                        ->index(row, TestTableModel::StationColumn)
                        .data()
                        .toString()
                        .contains(QStringLiteral("/dev/ttyUSB0")));
        }
        QVERIFY(w->statusText().contains(QStringLiteral("4 个测试")));
    }

    void filters_data()
    {
        QTest::addColumn<QString>("cell");
        QTest::addColumn<QString>("type");
        QTest::addColumn<QString>("grade");
        QTest::addColumn<int>("fromDay"); // -1: no dates
        QTest::addColumn<int>("toDay");
        QTest::addColumn<QStringList>("expected");
        const QStringList all = {"A01", "A02", "B01", "a03"};
        QTest::newRow("none") << ""
                              << "全部"
                              << "" << -1 << -1 << all;
        QTest::newRow("cell pattern, any case")
            << "a0*"
            << "全部"
            << "" << -1 << -1 << QStringList{"A01", "A02", "a03"};
        QTest::newRow("one cell") << "B01"
                                  << "全部"
                                  << "" << -1 << -1 << QStringList{"B01"};
        QTest::newRow("type") << ""
                              << "LiFePO4"
                              << "" << -1 << -1 << QStringList{"B01"};
        QTest::newRow("grade") << ""
                               << "全部"
                               << "A" << -1 << -1 << QStringList{"A01"};
        QTest::newRow("grade reject") << ""
                                      << "全部"
                                      << "reject" << -1 << -1 << QStringList{"A02"};
        QTest::newRow("dates, both days whole") << ""
                                                << "全部"
                                                << "" << 1 << 2 << QStringList{"A02", "B01"};
        QTest::newRow("type and dates") << ""
                                        << "18650 Li-ion"
                                        << "" << 1 << 3 << QStringList{"A02", "a03"};
        QTest::newRow("nothing matches") << "Z*"
                                         << "全部"
                                         << "" << -1 << -1 << QStringList{};
    }

    void filters()
    {
        QFETCH(QString, cell);
        QFETCH(QString, type);
        QFETCH(QString, grade);
        QFETCH(int, fromDay);
        QFETCH(int, toDay);
        QFETCH(QStringList, expected);
        auto w = shownWindow(path_);
        w->cellFilter()->setText(cell);
        w->typeFilter()->setCurrentText(type);
        const int g = grade.isEmpty() ? 0 : w->gradeFilter()->findData(grade);
        QVERIFY(g >= 0);
        w->gradeFilter()->setCurrentIndex(g);
        w->dateFilter()->setChecked(fromDay >= 0);
        if (fromDay >= 0) {
            const QDate first = QDateTime::fromMSecsSinceEpoch(kT0).toLocalTime().date();
            w->fromDate()->setDate(first.addDays(fromDay));
            w->toDate()->setDate(first.addDays(toDay));
        }
        refreshAndWait(*w);
        QCOMPARE(shownNames(*w), expected);
    }

    void dateRangeBackwardsIsSaidAndNotRead()
    {
        auto w = shownWindow(path_);
        w->dateFilter()->setChecked(true);
        w->fromDate()->setDate(QDate(2026, 3, 5));
        w->toDate()->setDate(QDate(2026, 3, 1));
        QSignalSpy listed(w.get(), &LibraryWindow::listShown);
        w->refresh();
        QVERIFY(w->statusText().contains(QStringLiteral("起始日期晚于截止日期")));
        QTest::qWait(300);
        QCOMPARE(listed.count(), 0);
        QCOMPARE(w->model()->rowCount(), 4); // what was shown stays
    }

    void sortsByValue_data()
    {
        QTest::addColumn<int>("column");
        QTest::addColumn<QStringList>("ascending");
        QTest::newRow("capacity") << int(TestTableModel::CapacityColumn)
                                  << QStringList{"B01", "A02", "a03", "A01"};
        QTest::newRow("date") << int(TestTableModel::DateColumn)
                              << QStringList{"A01", "A02", "B01", "a03"};
        QTest::newRow("cell, any case")
            << int(TestTableModel::CellColumn) << QStringList{"A01", "A02", "a03", "B01"};
        // 1.00/1.5 = 66.7 %, 1.30/2.6 = 50 %, 2.10/2.6 = 80.8 %, 2.45/2.6 = 94.2 %
        QTest::newRow("state of health")
            << int(TestTableModel::SohColumn) << QStringList{"A02", "B01", "a03", "A01"};
    }

    void sortsByValue()
    {
        QFETCH(int, column);
        QFETCH(QStringList, ascending);
        auto w = shownWindow(path_);
        for (Qt::SortOrder order : {Qt::AscendingOrder, Qt::DescendingOrder}) {
            w->table()->sortByColumn(column, order);
            QStringList shown;
            for (int row = 0; row < w->proxy()->rowCount(); ++row)
                shown << w->proxy()->index(row, TestTableModel::CellColumn).data().toString();
            QStringList want = ascending;
            if (order == Qt::DescendingOrder) std::reverse(want.begin(), want.end());
            QCOMPARE(shown, want);
        }
    }

    void healthBands_data()
    {
        QTest::addColumn<QString>("type");
        QTest::addColumn<std::optional<double>>("soh");
        QTest::addColumn<int>("health");
        const auto good = int(Health::Good), fair = int(Health::Fair), poor = int(Health::Poor);
        // The rules' bounds: 90 % for A, 65 % for C; B's resistance-only rule adds none.
        QTest::newRow("rules: top grade") << "18650 Li-ion" << std::optional(0.90) << good;
        QTest::newRow("rules: below top") << "18650 li-ion" << std::optional(0.899) << fair;
        QTest::newRow("rules: lowest bound") << "18650 Li-ion" << std::optional(0.65) << fair;
        QTest::newRow("rules: below every bound") << "18650 Li-ion" << std::optional(0.64) << poor;
        QTest::newRow("default: 80 %") << "NiMH" << std::optional(0.80) << good;
        QTest::newRow("default: shown as 80.0 %") << "NiMH" << std::optional(0.79951) << good;
        QTest::newRow("default: 79.9 %") << "NiMH" << std::optional(0.799) << fair;
        QTest::newRow("default: 60 %") << "NiMH" << std::optional(0.60) << fair;
        QTest::newRow("default: 59 %") << "NiMH" << std::optional(0.59) << poor;
        QTest::newRow("no rated capacity")
            << "NiMH" << std::optional<double>() << int(Health::Unknown);
        QTest::newRow("resistance rules only: default bands")
            << "LiFePO4" << std::optional(0.79) << fair;
    }

    void healthBands()
    {
        QFETCH(QString, type);
        QFETCH(std::optional<double>, soh);
        QFETCH(int, health);
        GradeRules rules;
        rules.byType.insert(QStringLiteral("18650 li-ion"),
                            {GradeRule{QStringLiteral("A"), 90.0, {}},
                             GradeRule{QStringLiteral("B"), {}, 60.0},
                             GradeRule{QStringLiteral("C"), 65.0, {}}});
        rules.byType.insert(QStringLiteral("lifepo4"), {GradeRule{QStringLiteral("A"), {}, 20.0}});
        QCOMPARE(int(healthOf(soh, bandsFor(type, rules))), health);
    }

    // In the table: the band's colour behind the percentage, which stays as text.
    void tableColoursHealth()
    {
        auto w = shownWindow(path_);
        // A01 about 94 %, a03 about 80 %, A02 about 50 % (rules: 90 % and 70 %);
        // B01 about 66 % (no rules: 80 % and 60 %).
        const QHash<QString, Health> expected = {{QStringLiteral("A01"), Health::Good},
                                                 {QStringLiteral("a03"), Health::Fair},
                                                 {QStringLiteral("A02"), Health::Poor},
                                                 {QStringLiteral("B01"), Health::Fair}};
        for (int row = 0; row < w->model()->rowCount(); ++row) {
            const TestRecord& t = w->model()->test(row);
            const Health want = expected.value(t.header.cell.name);
            const QModelIndex soh = w->model()->index(row, TestTableModel::SohColumn);
            QVERIFY(soh.data().toString().endsWith(QLatin1Char('%')));
            QCOMPARE(soh.data().toString(), sohText(t.stateOfHealth));
            QCOMPARE(soh.data(Qt::BackgroundRole).value<QBrush>().color(), colourOf(want));
            QVERIFY(soh.data(Qt::ToolTipRole).toString().startsWith(healthName(want)));
        }
    }

    void curveOverlays_data()
    {
        QTest::addColumn<QStringList>("cells");
        QTest::newRow("three") << QStringList{"A01", "A02", "B01"};
        QTest::newRow("one, with its figures") << QStringList{"a03"};
        QTest::newRow("none") << QStringList{};
    }

    void curveOverlays()
    {
        QFETCH(QStringList, cells);
        auto w = shownWindow(path_);
        QSignalSpy shown(w.get(), &LibraryWindow::curvesShown);
        selectRows(*w, cells);
        QVERIFY(shown.wait(kWaitMsecs));
        QCOMPARE(w->capacityView()->curveCount(), cells.size());
        QStringList legend = w->capacityView()->legendNames();
        legend.sort();
        QStringList want = cells;
        want.sort();
        QCOMPARE(legend, want);
        const bool one = cells.size() == 1;
        QCOMPARE(w->figuresText().contains(QStringLiteral("容量")), one);
        if (one)
            QVERIFY(w->figuresText().contains(
                capacityText(w->selectedTests().front().summary.capacityAh)));
    }

    // Over the discharge's own capacity: from 0 to the test's capacity.
    void curveStartsAtTheTestsOwnCapacity()
    {
        testing::DemoCell cell = demoOf(kPlanned[0], 0);
        auto samples = testing::demoDischarge(cell);
        for (auto& s : samples)
            s.capacityAh += 7.5; // the module's count went on from an earlier test
        TestRecord test;
        test.summary = discharge::summarize(samples);
        const TestCurve curve = curveOf(test, samples, 200);
        QVERIFY(!curve.byCapacity.empty());
        QVERIFY(curve.byCapacity.size() <= 2 * 200 + 2);
        // From zero, give or take the first column's width.
        QVERIFY(curve.byCapacity.front().x() >= 0);
        QVERIFY(curve.byCapacity.front().x() <= test.summary.capacityAh / 200);
        QVERIFY(qAbs(curve.byCapacity.back().x() - test.summary.capacityAh) < 0.002);
        QVERIFY(curve.byTime.back().x() > 0);
    }

    void pdfReportIsOneA4Page()
    {
        auto w = shownWindow(path_);
        QSignalSpy shown(w.get(), &LibraryWindow::curvesShown);
        selectRows(*w, {"A01"});
        QVERIFY(shown.wait(kWaitMsecs));
        const QString pdf = dir_.filePath(QStringLiteral("A01 报告.pdf"));
        const auto error = w->saveReport(pdf);
        QVERIFY2(!error, qPrintable(error.value_or(QString())));
        QFile file(pdf);
        QVERIFY(file.open(QIODevice::ReadOnly));
        QVERIFY(file.read(5) == "%PDF-");
        const QString info = runTool(QStringLiteral("pdfinfo"), {pdf});
        if (info.isEmpty()) QSKIP("pdfinfo (poppler-utils) is not installed");
        QVERIFY2(info.contains(QRegularExpression(QStringLiteral("Pages:\\s+1\\n"))),
                 qPrintable(info));
        QVERIFY2(info.contains(QStringLiteral("(A4)")), qPrintable(info));
        // The Chinese texts are there as text, in an embedded font.
        const QString text = runTool(QStringLiteral("pdftotext"), {pdf, QStringLiteral("-")});
        QVERIFY2(text.contains(QStringLiteral("电池放电测试报告")), qPrintable(text));
        QVERIFY(text.contains(QStringLiteral("UVLO")));
        QVERIFY(text.contains(capacityText(w->selectedTests().front().summary.capacityAh)));
    }

    void pdfReportFailureLeavesNoFile()
    {
        const QString blocked = dir_.filePath(QStringLiteral("no-such-folder/report.pdf"));
        TestRecord t;
        t.header.cell.name = QStringLiteral("X");
        const auto error = writeReport(blocked, t, {}, {});
        QVERIFY(error);
        QVERIFY(error->contains(blocked));
        QVERIFY(!QFile::exists(blocked));
        // Nothing selected: said, nothing written.
        auto w = shownWindow(path_);
        const QString none = dir_.filePath(QStringLiteral("none.pdf"));
        QVERIFY(w->saveReport(none));
        QVERIFY(!QFile::exists(none));
    }

    void packEqualsMatchPack_data()
    {
        QTest::addColumn<int>("series");
        QTest::addColumn<int>("parallel");
        QTest::addColumn<bool>("balance");
        QTest::newRow("2S2P") << 2 << 2 << false;
        QTest::newRow("3S1P, resistance balanced") << 3 << 1 << true;
        QTest::newRow("1S4P") << 1 << 4 << false;
    }

    void packEqualsMatchPack()
    {
        QFETCH(int, series);
        QFETCH(int, parallel);
        QFETCH(bool, balance);
        auto w = shownWindow(path_);
        selectRows(*w, {"A01", "A02", "B01", "a03"});
        PackPanel& panel = *w->packPanel();
        panel.setShape(series, parallel);
        panel.setBalanceResistance(balance);
        panel.setSource(PackSource::Selected);
        QSignalSpy matched(&panel, &PackPanel::matched);
        panel.match();
        QVERIFY(matched.wait(kWaitMsecs));
        QVERIFY2(panel.result(), qPrintable(panel.statusText()));

        pack::Options options;
        options.series = series;
        options.parallel = parallel;
        options.balanceResistance = balance;
        const PackInput input = packInputOf(w->selectedTests(), PackSource::Selected);
        const auto direct = std::get<pack::Pack>(pack::matchPack(input.cells, options));
        const pack::Pack& shown = *panel.result();
        QCOMPARE(shown.spreadAh, direct.spreadAh);
        QCOMPARE(shown.leftOver, direct.leftOver);
        QCOMPARE(int(shown.groups.size()), series);
        QCOMPARE(panel.table()->rowCount(), series);
        for (int g = 0; g < series; ++g) {
            QCOMPARE(shown.groups[g].cells, direct.groups[g].cells);
            QStringList cells;
            for (int i : direct.groups[g].cells)
                cells << QString::fromStdString(input.cells[std::size_t(i)].id);
            QCOMPARE(panel.table()->item(g, 1)->text(), cells.join(QStringLiteral("、")));
            QCOMPARE(panel.table()->item(g, 2)->text(), capacityText(direct.groups[g].capacityAh));
        }
        const QString csvPath = dir_.filePath(QStringLiteral("pack.csv"));
        QVERIFY(!panel.exportCsv(csvPath));
        QFile csv(csvPath);
        QVERIFY(csv.open(QIODevice::ReadOnly));
        QCOMPARE(QString::fromUtf8(csv.readAll()), packCsv(direct, input));
    }

    void packSourcesAndShortfall()
    {
        auto w = shownWindow(path_);
        PackPanel& panel = *w->packPanel();
        // Graded and not rejected: A01 (A) and B01 (B).
        const PackInput graded = packInputOf(w->model()->tests(), PackSource::Graded);
        QCOMPARE(int(graded.cells.size()), 2);
        panel.setSource(PackSource::Graded);
        panel.setShape(3, 1);
        panel.match();
        QVERIFY(!panel.busy());
        QVERIFY(!panel.result());
        QVERIFY2(panel.statusText().contains(QStringLiteral("只有 2 节")),
                 qPrintable(panel.statusText()));
        QVERIFY(panel.exportCsv(dir_.filePath(QStringLiteral("none.csv"))));
    }

    // A cell tested twice counts once, with its latest test.
    void packTakesEachCellsLatestTest()
    {
        std::vector<TestRecord> tests(3);
        tests[0].id = 1;
        tests[0].header.cell.name = QStringLiteral("C1");
        tests[0].header.startMsecs = 1000;
        tests[0].summary.capacityAh = 2.0;
        tests[1] = tests[0];
        tests[1].id = 2;
        tests[1].header.startMsecs = 5000;
        tests[1].summary.capacityAh = 1.8;
        tests[2] = tests[0];
        tests[2].id = 3;
        tests[2].header.cell.name = QStringLiteral("=cmd");
        const PackInput input = packInputOf(tests, PackSource::Selected);
        QCOMPARE(int(input.cells.size()), 2);
        QCOMPARE(input.testIds, (std::vector<qint64>{2, 3}));
        QCOMPARE(input.cells[0].capacityAh, 1.8);
        pack::Pack p;
        p.groups = {{{0}, 1.8, {}}};
        p.leftOver = {1};
        // A name that a spreadsheet would run as a formula stays text.
        QVERIFY(packCsv(p, input).contains(QStringLiteral("\"left over\",\"'=cmd\"")));
    }

    // A cell without a resistance reading cannot be balanced: said in Chinese, naming it.
    void packWithoutResistanceIsSaid()
    {
        std::vector<TestRecord> tests(2);
        for (int i = 0; i < 2; ++i) {
            tests[i].id = i + 1;
            tests[i].header.cell.name = QStringLiteral("N%1").arg(i);
            tests[i].summary.capacityAh = 2.0 + i * 0.1;
            tests[i].summary.resistanceMilliohm = i == 0 ? 40 : 0;
        }
        const PackInput input = packInputOf(tests, PackSource::Selected);
        pack::Options options;
        options.series = 2;
        options.parallel = 1;
        options.balanceResistance = true;
        const auto result = pack::matchPack(input.cells, options);
        QVERIFY(std::holds_alternative<pack::PackError>(result));
        const QString text = packErrorText(std::get<pack::PackError>(result));
        QVERIFY2(text.contains(QStringLiteral("没有内阻读数")), qPrintable(text));
        QVERIFY2(text.contains(QStringLiteral("N1")), qPrintable(text));
    }

    void unopenableDatabaseIsAMessage_data()
    {
        QTest::addColumn<QString>("database");
        QTest::addColumn<QByteArray>("content"); // written to the file first, when not empty
        QTest::newRow("not a database") << QStringLiteral("garbage.sqlite")
                                        << QByteArray("this is not an SQLite file\n").repeated(200);
        QTest::newRow("a folder") << QStringLiteral(".") << QByteArray();
        QTest::newRow("a server that is not there")
            << QStringLiteral("postgresql://127.0.0.1:1/lab?connect_timeout=2") << QByteArray();
    }

    void unopenableDatabaseIsAMessage()
    {
        QFETCH(QString, database);
        QFETCH(QByteArray, content);
        QString where =
            database.startsWith(QStringLiteral("postgresql:")) ? database : dir_.filePath(database);
        if (!content.isEmpty()) {
            QFile f(where);
            QVERIFY(f.open(QIODevice::WriteOnly));
            f.write(content);
        }
        LibraryWindow w(where);
        QSignalSpy failed(&w, &LibraryWindow::failureShown);
        w.show();
        QVERIFY(waitFor(failed));
        QVERIFY(w.failed());
        QVERIFY2(w.statusText().startsWith(QStringLiteral("无法打开测试库")),
                 qPrintable(w.statusText()));
        QCOMPARE(w.model()->rowCount(), 0);
        // 刷新 tries again and says so again; the window stays usable.
        failed.clear();
        w.refresh();
        QVERIFY(waitFor(failed));
    }
};

QTEST_MAIN(TestLibraryView)
#include "test_libraryview.moc"
