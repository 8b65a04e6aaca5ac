#include "libraryview/TestTableModel.h"

#include "libraryview/TestTexts.h"

#include <QBrush>
#include <limits>

namespace eload::libraryview {

using library::TestRecord;

namespace {

const QStringList kHeaders = {
    QStringLiteral("电池"),        QStringLiteral("类型"),   QStringLiteral("开始时间"),
    QStringLiteral("工位 / 地址"), QStringLiteral("容量"),   QStringLiteral("能量"),
    QStringLiteral("时长"),        QStringLiteral("健康度"), QStringLiteral("等级"),
    QStringLiteral("结束原因"),    QStringLiteral("标记")};

// Unknown values sort after every known one, whichever the order.
QVariant orUnknown(const std::optional<double>& v)
{
    return v ? QVariant(*v) : QVariant(std::numeric_limits<double>::lowest());
}

} // namespace

void TestTableModel::setTests(std::vector<TestRecord> tests, library::GradeRules rules,
                              qint64 nowMsecs)
{
    beginResetModel();
    tests_ = std::move(tests);
    rules_ = std::move(rules);
    nowMsecs_ = nowMsecs;
    endResetModel();
}

Health TestTableModel::health(const TestRecord& t) const
{
    return healthOf(t.stateOfHealth, bandsFor(t.header.cell.type, rules_));
}

int TestTableModel::rowCount(const QModelIndex& parent) const
{
    return parent.isValid() ? 0 : int(tests_.size());
}

int TestTableModel::columnCount(const QModelIndex& parent) const
{
    return parent.isValid() ? 0 : ColumnCount;
}

QString TestTableModel::text(const TestRecord& t, int column) const
{
    const discharge::Summary& s = t.summary;
    switch (column) {
    case CellColumn: return t.header.cell.name;
    case TypeColumn: return t.header.cell.type.isEmpty() ? kNone : t.header.cell.type;
    case DateColumn: return dateText(t.startMsecs());
    case StationColumn: return stationText(t.header);
    case CapacityColumn: return capacityText(s.capacityAh);
    case EnergyColumn: return energyText(s.energyWh);
    case DurationColumn: return durationText(s.durationSeconds);
    case SohColumn: return sohText(t.stateOfHealth);
    case GradeColumn: return gradeText(t.grade);
    case EndColumn: return endText(t, nowMsecs_);
    case FlagsColumn: return flagsText(t, nowMsecs_);
    }
    return {};
}

QVariant TestTableModel::sortValue(const TestRecord& t, int column) const
{
    const discharge::Summary& s = t.summary;
    switch (column) {
    case DateColumn: return t.startMsecs();
    case CapacityColumn: return s.capacityAh;
    case EnergyColumn: return s.energyWh;
    case DurationColumn: return s.durationSeconds;
    case SohColumn: return orUnknown(t.stateOfHealth);
    case CellColumn: return t.header.cell.name.toCaseFolded();
    }
    return text(t, column);
}

QVariant TestTableModel::data(const QModelIndex& index, int role) const
{
    if (!index.isValid() || index.row() >= rowCount()) return {};
    const TestRecord& t = test(index.row());
    const bool soh = index.column() == SohColumn;
    switch (role) {
    case Qt::DisplayRole: return text(t, index.column());
    case kSortRole: return sortValue(t, index.column());
    case kHealthRole: return int(health(t));
    case Qt::BackgroundRole:
        if (soh && health(t) != Health::Unknown) return QBrush(colourOf(health(t)));
        return {};
    case Qt::ForegroundRole:
        // Dark text on the light band, whatever the desktop's theme.
        if (soh && health(t) != Health::Unknown) return QBrush(Qt::black);
        return {};
    case Qt::ToolTipRole:
        if (soh) return bandsText(health(t), bandsFor(t.header.cell.type, rules_));
        if (index.column() == CapacityColumn && t.header.cell.ratedAh)
            return QStringLiteral("额定容量 %1").arg(ratedText(t.header.cell));
        return {};
    case Qt::TextAlignmentRole:
        if (index.column() >= CapacityColumn && index.column() <= SohColumn)
            return int(Qt::AlignRight | Qt::AlignVCenter);
        return {};
    }
    return {};
}

QVariant TestTableModel::headerData(int section, Qt::Orientation orientation, int role) const
{
    if (orientation != Qt::Horizontal || role != Qt::DisplayRole || section < 0 ||
        section >= kHeaders.size())
        return {};
    return kHeaders[section];
}

} // namespace eload::libraryview
