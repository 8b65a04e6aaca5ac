#pragma once
// The tests as table rows. Each column shows its text and sorts by its value
// (kSortRole): a capacity as a number, a date as a time, "—" last.

#include "libraryview/Health.h"

#include "library/Grading.h"
#include "library/TestRecord.h"

#include <QAbstractTableModel>
#include <vector>

namespace eload::libraryview {

class TestTableModel : public QAbstractTableModel {
    Q_OBJECT
public:
    enum Column {
        CellColumn,
        TypeColumn,
        DateColumn,
        StationColumn,
        CapacityColumn,
        EnergyColumn,
        DurationColumn,
        SohColumn,
        GradeColumn,
        EndColumn,
        FlagsColumn,
        ColumnCount
    };
    static constexpr int kSortRole = Qt::UserRole;
    static constexpr int kHealthRole = Qt::UserRole + 1; // Health as int

    using QAbstractTableModel::QAbstractTableModel;

    void setTests(std::vector<library::TestRecord> tests, library::GradeRules rules,
                  qint64 nowMsecs);
    const std::vector<library::TestRecord>& tests() const { return tests_; }
    const library::TestRecord& test(int row) const { return tests_[std::size_t(row)]; }
    const library::GradeRules& rules() const { return rules_; }
    Health health(const library::TestRecord& t) const;

    int rowCount(const QModelIndex& parent = {}) const override;
    int columnCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role) const override;

private:
    QString text(const library::TestRecord& t, int column) const;
    QVariant sortValue(const library::TestRecord& t, int column) const;

    std::vector<library::TestRecord> tests_;
    library::GradeRules rules_;
    qint64 nowMsecs_ = 0;
};

} // namespace eload::libraryview
