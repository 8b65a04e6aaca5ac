// `eload-cli tests pack`: the cells of the library matched into a pack by
// their most recent finished test each, through pack::matchPack.

#include "cli/Console.h"
#include "cli/TestsCommands.h"
#include "cli/TestsOutput.h"
#include "library/Grading.h"
#include "pack/Pack.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QMap>

namespace eload::cli {

namespace {

using library::TestRecord;

// A cell as it goes into the pack: its test, and why it stays out if it does.
struct Candidate {
    TestRecord test;
    QString leftOutBecause; // empty: it goes in
};

// Each cell's most recent finished test among `records` (oldest first).
QList<Candidate> latestOfEachCell(const std::vector<TestRecord>& records)
{
    QMap<QString, qsizetype> index; // cell name -> place in `latest`
    QList<Candidate> latest;
    for (const TestRecord& r : records) {
        if (!r.finished) continue;
        const auto it = index.constFind(r.header.cell.name);
        if (it == index.constEnd()) {
            index.insert(r.header.cell.name, latest.size());
            latest << Candidate{r, {}};
        } else if (r.startMsecs() >= latest[*it].test.startMsecs()) {
            latest[*it].test = r;
        }
    }
    return latest;
}

// What keeps a cell's test out of a pack: a capacity that is not the cell's,
// or (with --graded) no grade to go by.
QString reasonToLeaveOut(const TestRecord& r, bool graded)
{
    using discharge::EndReason;
    const EndReason end = r.summary.end;
    if (end == EndReason::Opp || end == EndReason::Otp || end == EndReason::LineLost)
        return QStringLiteral("its latest test ended by %1: the capacity is not the cell's")
            .arg(discharge::endReasonKey(end));
    if (r.summary.capacityAh <= 0) return QStringLiteral("its latest test has no capacity");
    if (graded && r.grade.isEmpty()) return QStringLiteral("its latest test is not graded");
    if (graded && r.grade == library::kRejectGrade)
        return QStringLiteral("its latest test is graded reject");
    return {};
}

std::vector<pack::Cell> packCellsOf(const QList<const TestRecord*>& tests)
{
    std::vector<pack::Cell> cells;
    for (const TestRecord* t : tests) {
        pack::Cell c{t->header.cell.name.toStdString(), t->summary.capacityAh, {}};
        if (t->summary.resistanceMilliohm > 0) c.resistanceMilliohm = t->summary.resistanceMilliohm;
        cells.push_back(std::move(c));
    }
    return cells;
}

int exitOf(const pack::PackError& e)
{
    using Kind = pack::PackError::Kind;
    return e.kind == Kind::BadCapacity || e.kind == Kind::BadResistance ? kFailed : kBadUsage;
}

QString proofKey(pack::Proof p)
{
    switch (p) {
    case pack::Proof::LowerBound: return QStringLiteral("lower-bound");
    case pack::Proof::Exhaustive: return QStringLiteral("exhaustive");
    case pack::Proof::None: break;
    }
    return QStringLiteral("none");
}

QString proofText(const pack::Pack& p)
{
    switch (p.proof) {
    case pack::Proof::LowerBound:
        return QStringLiteral("optimal: it equals the lower bound, no arrangement does better");
    case pack::Proof::Exhaustive: return QStringLiteral("optimal: every arrangement was searched");
    case pack::Proof::None: break;
    }
    return QStringLiteral("the best possible spread lies between the lower bound %1 and this")
        .arg(ampHours(p.spreadLowerBoundAh));
}

QString milliohms(const std::optional<double>& v)
{
    return v ? QStringLiteral("%1MR").arg(*v, 0, 'f', 1) : QStringLiteral("-");
}

QJsonValue numberOrNull(const std::optional<double>& v)
{
    return v ? QJsonValue(*v) : QJsonValue(QJsonValue::Null);
}

// What a pack's answer refers to: the tests in the order matchPack had them.
struct Chosen {
    const QList<const TestRecord*>& tests;
    const QList<Candidate>& leftOut;
};

QString cellText(const TestRecord& t)
{
    return QStringLiteral("%1 (%2, %3, test %4)")
        .arg(t.header.cell.name, ampHours(t.summary.capacityAh),
             milliohms(t.summary.resistanceMilliohm > 0
                           ? std::optional<double>(t.summary.resistanceMilliohm)
                           : std::nullopt))
        .arg(t.id);
}

QString packText(const pack::Pack& p, const TestsInvocation& inv, const Chosen& c)
{
    QString text = QStringLiteral("%1S%2P from %3 cells, each by its most recent finished test\n")
                       .arg(inv.series)
                       .arg(inv.parallel)
                       .arg(c.tests.size());
    for (std::size_t g = 0; g < p.groups.size(); ++g) {
        QStringList cells;
        for (int i : p.groups[g].cells)
            cells << cellText(*c.tests[i]);
        text += QStringLiteral("group %1  %2  %3  %4\n")
                    .arg(g + 1, 3)
                    .arg(ampHours(p.groups[g].capacityAh), 9)
                    .arg(milliohms(p.groups[g].resistanceMilliohm), 7)
                    .arg(cells.join(QStringLiteral(", ")));
    }
    text += QStringLiteral("capacity spread %1 (%2 % of the mean group); lower bound %3; %4\n")
                .arg(ampHours(p.spreadAh))
                .arg(p.spreadPercent, 0, 'f', 2)
                .arg(ampHours(p.spreadLowerBoundAh), proofText(p));
    if (p.resistanceSpreadMilliohm)
        text += QStringLiteral("resistance spread %1 (%2 % of the groups' mean)%3\n")
                    .arg(milliohms(p.resistanceSpreadMilliohm))
                    .arg(*p.resistanceSpreadPercent, 0, 'f', 2)
                    .arg(p.resistanceRuleMet ? QString()
                                             : QStringLiteral("; no arrangement found keeps "
                                                              "--max-resistance-spread"));
    QStringList left;
    for (int i : p.leftOver)
        left << cellText(*c.tests[i]);
    text += QStringLiteral("left over: %1\n")
                .arg(left.isEmpty() ? QStringLiteral("none") : left.join(QStringLiteral(", ")));
    for (const Candidate& out : c.leftOut)
        text += QStringLiteral("not considered: %1 (test %2): %3\n")
                    .arg(out.test.header.cell.name)
                    .arg(out.test.id)
                    .arg(out.leftOutBecause);
    return text;
}

QJsonObject cellJson(const TestRecord& t)
{
    return {{QStringLiteral("cell"), t.header.cell.name},
            {QStringLiteral("test"), t.id},
            {QStringLiteral("capacity_Ah"), t.summary.capacityAh},
            {QStringLiteral("resistance_mOhm"), t.summary.resistanceMilliohm > 0
                                                    ? QJsonValue(t.summary.resistanceMilliohm)
                                                    : QJsonValue(QJsonValue::Null)}};
}

QJsonObject packJson(const pack::Pack& p, const TestsInvocation& inv, const Chosen& c)
{
    QJsonArray groups, left, out;
    for (const pack::Group& g : p.groups) {
        QJsonArray cells;
        for (int i : g.cells)
            cells.append(cellJson(*c.tests[i]));
        groups.append(
            QJsonObject{{QStringLiteral("capacity_Ah"), g.capacityAh},
                        {QStringLiteral("resistance_mOhm"), numberOrNull(g.resistanceMilliohm)},
                        {QStringLiteral("cells"), cells}});
    }
    for (int i : p.leftOver)
        left.append(cellJson(*c.tests[i]));
    for (const Candidate& o : c.leftOut) {
        QJsonObject cell = cellJson(o.test);
        cell.insert(QStringLiteral("reason"), o.leftOutBecause);
        out.append(cell);
    }
    return {{QStringLiteral("series"), inv.series},
            {QStringLiteral("parallel"), inv.parallel},
            {QStringLiteral("groups"), groups},
            {QStringLiteral("spread_Ah"), p.spreadAh},
            {QStringLiteral("spread_percent"), p.spreadPercent},
            {QStringLiteral("spread_lower_bound_Ah"), p.spreadLowerBoundAh},
            {QStringLiteral("proof"), proofKey(p.proof)},
            {QStringLiteral("optimal"), p.optimal},
            {QStringLiteral("resistance_spread_mOhm"), numberOrNull(p.resistanceSpreadMilliohm)},
            {QStringLiteral("resistance_spread_percent"), numberOrNull(p.resistanceSpreadPercent)},
            {QStringLiteral("resistance_rule_met"), p.resistanceRuleMet},
            {QStringLiteral("left_over"), left},
            {QStringLiteral("not_considered"), out}};
}

// One row per cell: its group (1 to S), "left-over" or "not-considered".
QString packCsv(const pack::Pack& p, const Chosen& c)
{
    QString text = QStringLiteral("group,cell,test,capacity_Ah,resistance_mOhm,note\n");
    const auto row = [&](const QString& group, const TestRecord& t, const QString& note) {
        text += QStringList{group,
                            csvField(t.header.cell.name),
                            QString::number(t.id),
                            QString::number(t.summary.capacityAh),
                            t.summary.resistanceMilliohm > 0
                                ? QString::number(t.summary.resistanceMilliohm)
                                : QString(),
                            csvField(note)}
                    .join(u',') +
                u'\n';
    };
    for (std::size_t g = 0; g < p.groups.size(); ++g)
        for (int i : p.groups[g].cells)
            row(QString::number(g + 1), *c.tests[i], {});
    for (int i : p.leftOver)
        row(QStringLiteral("left-over"), *c.tests[i], {});
    for (const Candidate& o : c.leftOut)
        row(QStringLiteral("not-considered"), o.test, o.leftOutBecause);
    return text;
}

pack::Options optionsOf(const TestsInvocation& inv)
{
    pack::Options o;
    o.series = inv.series;
    o.parallel = inv.parallel;
    o.balanceResistance = inv.balanceResistance;
    o.maxResistanceSpreadPercent = inv.maxResistanceSpreadPercent;
    return o;
}

} // namespace

int packCells(library::Store& store, const TestsInvocation& inv)
{
    auto records = store.list(inv.filter);
    if (auto* f = library::failureOf(records)) {
        printError(f->message);
        return kFailed;
    }
    QList<Candidate> candidates = latestOfEachCell(std::get<std::vector<TestRecord>>(records));
    QList<Candidate> leftOut;
    QList<const TestRecord*> tests;
    for (Candidate& c : candidates) {
        c.leftOutBecause = reasonToLeaveOut(c.test, inv.graded);
        if (c.leftOutBecause.isEmpty()) tests << &c.test;
    }
    for (const Candidate& c : candidates)
        if (!c.leftOutBecause.isEmpty()) leftOut << c;
    const pack::PackResult result = pack::matchPack(packCellsOf(tests), optionsOf(inv));
    if (auto* e = std::get_if<pack::PackError>(&result)) {
        printError(QStringLiteral("%1 (%2 cells with a usable finished test, %3 left out)")
                       .arg(QString::fromStdString(e->message))
                       .arg(tests.size())
                       .arg(leftOut.size()));
        return exitOf(*e);
    }
    const pack::Pack& p = std::get<pack::Pack>(result);
    const Chosen chosen{tests, leftOut};
    switch (inv.output) {
    case TestsOutput::Json:
        printOut(QJsonDocument(packJson(p, inv, chosen)).toJson(QJsonDocument::Compact) + '\n');
        break;
    case TestsOutput::Csv: printOut(packCsv(p, chosen)); break;
    case TestsOutput::People: printOut(packText(p, inv, chosen)); break;
    }
    return kDone;
}

} // namespace eload::cli
