#include "libraryview/PackCells.h"

#include "libraryview/TestTexts.h"

#include "library/Grading.h"

#include <QHash>
#include <QStringList>

namespace eload::libraryview {

using library::TestRecord;

namespace {

bool taken(const TestRecord& r, PackSource source)
{
    return source == PackSource::Selected ||
           (!r.grade.isEmpty() && r.grade != library::kRejectGrade);
}

pack::Cell cellOf(const TestRecord& r)
{
    pack::Cell c;
    c.id = r.header.cell.name.toStdString();
    c.capacityAh = r.summary.capacityAh;
    if (r.summary.resistanceMilliohm > 0) c.resistanceMilliohm = r.summary.resistanceMilliohm;
    return c;
}

// A field a spreadsheet takes as text: quoted, quotes doubled, and a leading
// sign that would start a formula neutralised.
QString field(const QString& text)
{
    QString t = text;
    if (!t.isEmpty() && QStringLiteral("=+-@").contains(t.front())) t.prepend(QLatin1Char('\''));
    t.replace(QLatin1Char('"'), QStringLiteral("\"\""));
    return QLatin1Char('"') + t + QLatin1Char('"');
}

QString number(double v, int decimals) { return QString::number(v, 'f', decimals); }

} // namespace

PackInput packInputOf(const std::vector<TestRecord>& tests, PackSource source)
{
    // The latest test of each cell decides whether the cell is taken.
    QHash<QString, const TestRecord*> latest;
    QStringList order;
    for (const TestRecord& r : tests) {
        const QString& name = r.header.cell.name;
        auto it = latest.find(name);
        if (it == latest.end()) {
            latest.insert(name, &r);
            order << name;
        } else if (r.startMsecs() > (*it)->startMsecs()) {
            *it = &r;
        }
    }
    PackInput input;
    for (const QString& name : order) {
        const TestRecord& r = *latest.value(name);
        if (!taken(r, source)) continue;
        input.cells.push_back(cellOf(r));
        input.testIds.push_back(r.id);
    }
    return input;
}

QString packCsv(const pack::Pack& pack, const PackInput& input)
{
    QStringList lines{QStringLiteral("group,cell,capacity_ah,resistance_mohm,test")};
    auto row = [&](const QString& group, int index) {
        const pack::Cell& c = input.cells[std::size_t(index)];
        lines << QStringList{field(group), field(QString::fromStdString(c.id)),
                             number(c.capacityAh, 3),
                             c.resistanceMilliohm ? number(*c.resistanceMilliohm, 0) : QString(),
                             QString::number(input.testIds[std::size_t(index)])}
                     .join(QLatin1Char(','));
    };
    for (std::size_t g = 0; g < pack.groups.size(); ++g)
        for (int i : pack.groups[g].cells)
            row(QString::number(g + 1), i);
    for (int i : pack.leftOver)
        row(QStringLiteral("left over"), i);
    lines << QStringLiteral("spread_ah,%1").arg(number(pack.spreadAh, 3))
          << QStringLiteral("spread_lower_bound_ah,%1").arg(number(pack.spreadLowerBoundAh, 3))
          << QStringLiteral("optimal,%1").arg(pack.optimal ? "yes" : "no");
    return lines.join(QLatin1Char('\n')) + QLatin1Char('\n');
}

QString packErrorText(const pack::PackError& error)
{
    using Kind = pack::PackError::Kind;
    QString why;
    switch (error.kind) {
    case Kind::BadShape: why = QStringLiteral("串联数和并联数至少为 1"); break;
    case Kind::TooFewCells: why = QStringLiteral("电池数量不足"); break;
    case Kind::BadCapacity: why = QStringLiteral("有电池的容量无效"); break;
    case Kind::BadResistance: why = QStringLiteral("有电池的内阻读数无效"); break;
    case Kind::MissingResistance:
        why = QStringLiteral("有电池没有内阻读数，无法均衡内阻（可取消“同时均衡内阻”）");
        break;
    case Kind::BadRule: why = QStringLiteral("内阻规则无效"); break;
    }
    return QStringLiteral("无法配组：%1。（%2）").arg(why, QString::fromStdString(error.message));
}

QString proofText(const pack::Pack& pack)
{
    switch (pack.proof) {
    case pack::Proof::LowerBound: return QStringLiteral("最优：极差等于理论下界");
    case pack::Proof::Exhaustive: return QStringLiteral("最优：已穷举全部配组");
    case pack::Proof::None: break;
    }
    return QStringLiteral("最优极差介于下界 %1 与本结果之间")
        .arg(capacityText(pack.spreadLowerBoundAh));
}

} // namespace eload::libraryview
