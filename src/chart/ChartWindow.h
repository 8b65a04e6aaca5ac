#pragma once
// The discharge curve window ("放电曲线"), opened beside the panel with
// --chart: the running discharge over time and over capacity, its summary,
// reference curves from earlier discharges and recordings, two cursors with
// the differences between them, the figures down to a cut-off voltage, and
// export of the chart (PNG, SVG) and of the points (CSV). It only draws what
// DischargeFeed holds; redraws are coalesced to a few a second. Dialogs
// never block: files are read and written off the event thread, so readings
// keep coming in.

#include "chart/DischargeFeed.h"
#include "chart/Plot.h"
#include "chart/TestRecorder.h"

#include <QTimer>
#include <QWidget>
#include <array>
#include <memory>
#include <optional>
#include <variant>
#include <vector>

class QAbstractButton;
class QCheckBox;
class QComboBox;
class QDoubleSpinBox;
class QFormLayout;
class QLabel;
class QLineEdit;
class QPushButton;
class QTabWidget;
class QTableWidget;

namespace eload::chart {

class ChartView;

// The frames of a window's controls (its direct children), on the screen.
std::vector<QRect> controlFrames(const QWidget& window);

class ChartWindow final : public QWidget {
    Q_OBJECT
public:
    enum class View { Time, Capacity };
    // The time view's curves, in the order of its traces.
    enum class TimeTrace { Voltage, Current, Power, Temperature, Resistance };

    explicit ChartWindow(QWidget* parent = nullptr);
    ~ChartWindow() override;

    DischargeFeed& feed() { return feed_; }

    // Records each discharge through `writer` (which must outlive the
    // window), with the cell named in the summary; the writer's trouble and
    // recovery show in a line of the summary, never in a box.
    void recordInto(library::TestWriter& writer, TestRecorder::LineOf line);
    TestRecorder* recorder() { return recorder_.get(); }
    // No library to record into (a --db that cannot be used), and why.
    void showLibraryUnusable(const QString& why);

    // The cell under test as the summary's fields hold it.
    const library::Cell& cell() const { return cell_; }

    // Shown beside `mainWindow` where its screen has room, else where it
    // covers the least of its controls; never larger than the screen's
    // available area. Closing it leaves the program running.
    void showBeside(const QWidget& mainWindow);

    // What the buttons do once the dialog has its files.
    void openReferences(const QStringList& paths);
    void exportImage(const QString& path); // PNG, or SVG for a .svg name
    void exportCsv(const QString& path);

    void showView(View view);
    Plot& plot(View view) { return view == View::Time ? timePlot_ : capacityPlot_; }
    ChartView* view(View view) { return views_[std::size_t(view == View::Capacity)]; }
    void showTimeTrace(TimeTrace trace, bool shown);
    void setTimeClock(TimeClock clock);
    void setCutoff(double volts); // 0: none
    // A cursor at the reply nearest to `x` of the view, as a click there puts it.
    void placeCursor(View view, double x);
    void clearCursors();
    void redrawNow();

Q_SIGNALS:
    void referencesOpened(); // every file of an openReferences is read or refused
    void exported(const QString& path, const QString& error); // error empty when written
    void libraryRequested();                                  // the "电池库" button

private:
    void buildTimePlot();
    void buildCapacityPlot();
    QWidget* buildToolbar();
    QWidget* buildCharts();
    QWidget* buildReadouts();
    QWidget* buildSide();
    QWidget* buildSummary();
    void addCellFields(QFormLayout* form);
    void takeCellFields();
    void showHealth();
    void showLibraryProblem(const QString& detail);
    void showLibraryRecovered(const QString& detail);
    void showLibraryLine(const QString& text, const QString& detail, bool trouble);
    QWidget* buildCurveChoice();
    QWidget* buildReferences();
    ChartView* addView(Plot& plot, View which, const QString& title);
    void nameForReaders(QWidget* splitterHandle);
    void place(const QWidget& mainWindow);

    void scheduleRedraw();
    void showSummary();
    QString omittedText() const;
    void showReferences();
    void showCutoffs();
    void followTimeUnit();
    void showFollowing();
    void restartViews();
    void resetView();
    void keepTimeCurves();
    void removeSelectedReferences();

    void clickedAt(View view, QPointF scenePos);
    void cursorDraggedTo(View view, std::size_t which, QPointF scenePos);
    void setCursorSample(std::size_t which, View view, double x);
    void showCursors();

    void askReferences();
    void askImage();
    void askCsv();
    void askSavePath(const QString& caption, const QString& filters, const QString& fileName,
                     void (ChartWindow::*save)(const QString&));
    void hover(QPointF scenePos);
    void addReadReferences(std::vector<std::variant<ReferenceCurve, reader::ReadError>> read);
    void finishExport(const QString& path, const QString& error);
    void tell(const QString& text);

    Plot& shownPlot();
    ChartView* shownView();

    DischargeFeed feed_;
    Plot timePlot_;
    Plot capacityPlot_;
    QValueAxis* capacityVoltage_ = nullptr;
    std::optional<QPointF> hoverAt_;
    QTabWidget* tabs_ = nullptr;
    std::array<ChartView*, 2> views_{};
    std::array<QCheckBox*, 3> optionalBoxes_{}; // power, temperature, resistance
    QComboBox* clockBox_ = nullptr;
    std::array<QLabel*, 9> figures_{};
    QLabel* omitted_ = nullptr;
    QLineEdit* cellName_ = nullptr;
    QLineEdit* cellType_ = nullptr;
    QDoubleSpinBox* ratedAh_ = nullptr;
    QLabel* health_ = nullptr;
    QFormLayout* summaryForm_ = nullptr;
    QLabel* library_ = nullptr;
    library::Cell cell_;
    std::unique_ptr<TestRecorder> recorder_;
    QTableWidget* referenceTable_ = nullptr;
    QLabel* readout_ = nullptr;
    QLabel* stopped_ = nullptr;
    QPushButton* follow_ = nullptr;
    std::array<std::array<QLabel*, 4>, 3> cursorCells_{}; // A, B, B − A by column
    QAbstractButton* clearCursors_ = nullptr;
    QDoubleSpinBox* cutoffBox_ = nullptr;
    QLabel* cutoffText_ = nullptr;
    QLabel* status_ = nullptr;
    std::array<std::optional<discharge::Sample>, 2> cursors_;
    QTimer redrawTimer_;
};

} // namespace eload::chart
