#pragma once
// The pack tab: S groups in series of P cells in parallel from the selected
// tests' cells or the graded ones, matched by pack::matchPack off the event
// thread; the groups as a table, the spread and what is proven of it, the
// cells left over; 导出 CSV.

#include "libraryview/PackCells.h"

#include <QFutureWatcher>
#include <QWidget>
#include <functional>
#include <optional>

class QCheckBox;
class QLabel;
class QPushButton;
class QRadioButton;
class QSpinBox;
class QTableWidget;

namespace eload::libraryview {

class PackPanel : public QWidget {
    Q_OBJECT
public:
    using Tests = std::function<std::vector<library::TestRecord>(PackSource)>;

    // `tests` gives the tests a source stands for when 配组 is pressed.
    explicit PackPanel(Tests tests, QWidget* parent = nullptr);
    ~PackPanel() override;

    void setShape(int series, int parallel);
    void setSource(PackSource source);
    void setBalanceResistance(bool balance);
    void match();
    bool busy() const;
    // The last answer and its cells; nothing before one or after an error.
    const std::optional<pack::Pack>& result() const { return pack_; }
    const PackInput& input() const { return input_; }
    QString statusText() const;
    QTableWidget* table() const { return table_; }
    // The CSV of the last answer to `path`; nothing on success, else the message.
    std::optional<QString> exportCsv(const QString& path) const;

Q_SIGNALS:
    void matched(); // an answer or its error is shown

private:
    void chooseCsvPath();
    void showResult();
    void showGroups(const pack::Pack& pack);
    void showError(const QString& message);

    Tests tests_;
    QSpinBox* series_;
    QSpinBox* parallel_;
    QRadioButton* fromSelected_;
    QRadioButton* fromGraded_;
    QCheckBox* balance_;
    QPushButton* matchButton_;
    QPushButton* exportButton_;
    QLabel* status_;
    QLabel* spread_;
    QLabel* leftOver_;
    QTableWidget* table_;
    QFutureWatcher<pack::PackResult> watcher_;
    pack::Options options_; // of the last match
    PackInput input_;
    std::optional<pack::Pack> pack_;
};

} // namespace eload::libraryview
