#pragma once
// "电池库": the tests of the test library in a table that sorts by any
// column and filters by cell, type, dates and grade; the selected tests'
// curves overlaid over capacity, one test's figures beside its curve; its
// one-page PDF report; cells matched into a pack. The library is read on a
// thread of its own, when the window is shown and on 刷新; a database that
// cannot be opened is a message in the window.

#include "libraryview/PackCells.h"
#include "libraryview/StoreWorker.h"

#include <QWidget>

class QCheckBox;
class QComboBox;
class QDateEdit;
class QLabel;
class QLineEdit;
class QPushButton;
class QSortFilterProxyModel;
class QTableView;
class QTabWidget;
class QTimer;

namespace eload::libraryview {

class CapacityView;
class PackPanel;
class TestTableModel;

// At most this many curves are overlaid; more selected tests are named in the status.
inline constexpr int kMaxOverlay = 12;

class LibraryWindow : public QWidget {
    Q_OBJECT
public:
    // `database`: a path or a PostgreSQL URL; empty: ELOAD_DB or the default file.
    explicit LibraryWindow(const QString& database, QWidget* parent = nullptr);
    ~LibraryWindow() override;

    void refresh();
    // Writes the report of the one selected test; nothing on success, else the message.
    std::optional<QString> saveReport(const QString& path) const;

    // For tests and the lead's wiring.
    TestTableModel* model() const { return model_; }
    QSortFilterProxyModel* proxy() const { return proxy_; }
    QTableView* table() const { return table_; }
    CapacityView* capacityView() const { return capacity_; }
    PackPanel* packPanel() const { return pack_; }
    QTabWidget* tabs() const { return tabs_; }
    QLineEdit* cellFilter() const { return cell_; }
    QComboBox* typeFilter() const { return type_; }
    QCheckBox* dateFilter() const { return dated_; }
    QDateEdit* fromDate() const { return from_; }
    QDateEdit* toDate() const { return to_; }
    QComboBox* gradeFilter() const { return grade_; }
    QString statusText() const;
    QString figuresText() const;
    bool failed() const { return failed_; }
    std::vector<library::TestRecord> selectedTests() const;

Q_SIGNALS:
    void listShown(); // a listing is in the table
    void curvesShown();
    void failureShown(const QString& message);

protected:
    void showEvent(QShowEvent* event) override;

private:
    QWidget* makeFilters();
    QWidget* makeTestsTab();
    library::TestFilter filter() const;
    void showListing(const Listing& listing);
    void rememberChoices(const std::vector<library::TestRecord>& tests);
    void reselect(const QList<qint64>& ids);
    QList<qint64> selectedIds() const;
    void readSelectedCurves();
    void showCurves(const CurveBatch& batch);
    void showFigures();
    void showFailure(const QString& message);
    void showStatus(const QString& text, bool problem);
    void chooseReportPath();
    std::vector<library::TestRecord> testsFor(PackSource source) const;

    StoreThread store_;
    QString location_;
    bool failed_ = false;
    int listGeneration_ = 0;
    int curveGeneration_ = 0;
    std::vector<TestCurve> curves_;

    TestTableModel* model_;
    QSortFilterProxyModel* proxy_;
    QLineEdit* cell_;
    QComboBox* type_;
    QCheckBox* dated_;
    QDateEdit* from_;
    QDateEdit* to_;
    QComboBox* grade_;
    QPushButton* refresh_;
    QTabWidget* tabs_;
    QTableView* table_;
    CapacityView* capacity_;
    QWidget* side_ = nullptr; // the figures and the report's button: one test selected
    QLabel* figures_;
    QPushButton* report_;
    PackPanel* pack_;
    QLabel* status_;
    QTimer* filterDelay_;
    QTimer* selectionDelay_;
};

// Opens a library window beside `near` (when given), deleted when closed.
LibraryWindow* openLibraryWindow(const QString& database, QWidget* near = nullptr);

} // namespace eload::libraryview
