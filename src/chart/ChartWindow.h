#pragma once
// The discharge curve window ("放电曲线"), opened beside the panel with
// --chart: the running discharge over time and over capacity, its summary,
// reference curves from earlier discharges and recordings, and export of the
// chart (PNG, SVG) and of the points (CSV). It only draws what DischargeFeed
// holds; redraws are coalesced to a few a second. Dialogs never block: files
// are read and written off the event thread, so readings keep coming in.

#include "chart/DischargeFeed.h"
#include "chart/Plot.h"

#include <QTimer>
#include <QWidget>
#include <array>
#include <optional>
#include <variant>
#include <vector>

class QCheckBox;
class QLabel;
class QTabWidget;
class QTableWidget;

namespace eload::chart {

class ChartView;

class ChartWindow final : public QWidget {
    Q_OBJECT
public:
    enum class View { Time, Capacity };

    explicit ChartWindow(QWidget* parent = nullptr);
    ~ChartWindow() override;

    DischargeFeed& feed() { return feed_; }

    // Shown to the right of `mainWindow`, within its screen; closing it leaves the program running.
    void showBeside(const QWidget& mainWindow);

    // What the buttons do once the dialog has its files.
    void openReferences(const QStringList& paths);
    void exportImage(const QString& path); // PNG, or SVG for a .svg name
    void exportCsv(const QString& path);

    void showView(View view);
    Plot& plot(View view) { return view == View::Time ? timePlot_ : capacityPlot_; }
    void redrawNow();

Q_SIGNALS:
    void referencesOpened(); // every file of an openReferences is read or refused
    void exported(const QString& path, const QString& error); // error empty when written

private:
    void buildTimePlot();
    void buildCapacityPlot();
    QWidget* buildToolbar();
    QWidget* buildSummary();
    QWidget* buildReferences();
    ChartView* addView(Plot& plot, const QString& title);

    void scheduleRedraw();
    void showSummary();
    QString omittedText() const;
    void showReferences();
    void followTimeUnit();
    void restartViews();
    void resetView();
    void showPower(bool shown);
    void removeSelectedReferences();

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
    QCheckBox* powerBox_ = nullptr;
    std::array<QLabel*, 9> figures_{};
    QLabel* omitted_ = nullptr;
    QTableWidget* referenceTable_ = nullptr;
    QLabel* readout_ = nullptr;
    QLabel* status_ = nullptr;
    QTimer redrawTimer_;
};

} // namespace eload::chart
