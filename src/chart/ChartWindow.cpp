#include "chart/ChartWindow.h"

#include "chart/ChartView.h"
#include "chart/ExportErrors.h"
#include "chart/Placement.h"
#include "chart/SummaryTexts.h"
#include "chart/SvgExport.h"
#include "ui/Fonts.h"

#include <QBuffer>
#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QDoubleSpinBox>
#include <QFileDialog>
#include <QFileInfo>
#include <QFormLayout>
#include <QFutureWatcher>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPainter>
#include <QPushButton>
#include <QRegularExpression>
#include <QSaveFile>
#include <QScreen>
#include <QScrollArea>
#include <QScrollBar>
#include <QSplitter>
#include <QSvgGenerator>
#include <QTabWidget>
#include <QTableWidget>
#include <QToolButton>
#include <QUnhandledException>
#include <QVBoxLayout>
#include <QWindow>
#include <QtConcurrent/QtConcurrentRun>
#include <algorithm>
#include <exception>
#include <new>

namespace eload::chart {

namespace {

const QString kTitle = QStringLiteral("放电曲线");
constexpr int kRedrawMs = 250; // at most four redraws a second, however fast readings come

const QColor kVoltageColour(0, 80, 200);
const QColor kCurrentColour(210, 40, 40);
const QColor kPowerColour(0, 140, 60);
const QColor kTemperatureColour(200, 110, 0);
const QColor kResistanceColour(120, 60, 170);
const std::array<QColor, 8> kReferenceColours = {
    QColor(230, 130, 0),  QColor(40, 160, 60), QColor(150, 60, 190),  QColor(140, 90, 40),
    QColor(210, 60, 160), QColor(0, 150, 150), QColor(110, 110, 110), QColor(150, 150, 0)};

QColor referenceColour(int index)
{
    return kReferenceColours[std::size_t(index) % kReferenceColours.size()];
}

struct Figure {
    const char* name; // the label's object name
    QString title;
    QString SummaryTexts::*text;
};

const std::array<Figure, 9>& figures()
{
    static const std::array<Figure, 9> list{{
        {"duration", QStringLiteral("放电时长"), &SummaryTexts::duration},
        {"capacity", QStringLiteral("容量"), &SummaryTexts::capacity},
        {"energy", QStringLiteral("能量"), &SummaryTexts::energy},
        {"averageVoltage", QStringLiteral("平均电压"), &SummaryTexts::averageVoltage},
        {"lowestVoltage", QStringLiteral("最低电压"), &SummaryTexts::lowestVoltage},
        {"averageCurrent", QStringLiteral("平均电流"), &SummaryTexts::averageCurrent},
        {"averagePower", QStringLiteral("平均功率"), &SummaryTexts::averagePower},
        {"end", QStringLiteral("结束原因"), &SummaryTexts::end},
        {"notes", QStringLiteral("备注"), &SummaryTexts::notes},
    }};
    return list;
}

// The time axis in seconds, minutes or hours, by how long the discharge has run.
struct TimeUnit {
    double seconds;
    QString name;
};

TimeUnit timeUnitFor(double spanSeconds)
{
    if (spanSeconds <= 600) return {1, QStringLiteral("秒")};
    if (spanSeconds <= 36000) return {60, QStringLiteral("分钟")};
    return {3600, QStringLiteral("小时")};
}

QString clockName(TimeClock clock)
{
    return clock == TimeClock::Pc ? QStringLiteral("电脑时钟") : QStringLiteral("模块计时");
}

const QSize kPreferredSize(1060, 700);
constexpr int kSideWidth = 200;
// A zoom of x stops at two seconds, or two thousandths of an AH.
constexpr double kMinSeconds = 2;
constexpr double kMinAh = 0.002;

const QString kHint =
    QStringLiteral("滚轮缩放，Ctrl+滚轮缩放数值轴，右键拖动，单击放光标，双击复位");
const QString kHelp = QStringLiteral(
    "滚轮缩放时间或容量，按住 Ctrl 时缩放数值轴；左键拖出矩形放大；右键或中键拖动平移；"
    "单击放置光标 A、B，左键拖动光标线移动它；双击回到整条曲线并跟随最新数据。");

DischargeFeed::Axis axisOf(ChartWindow::View view)
{
    return view == ChartWindow::View::Time ? DischargeFeed::Axis::Time
                                           : DischargeFeed::Axis::Capacity;
}

constexpr std::array<ChartWindow::View, 2> kViews{ChartWindow::View::Time,
                                                  ChartWindow::View::Capacity};

// The optional curves of the time view, with their boxes.
struct OptionalCurve {
    ChartWindow::TimeTrace trace;
    QString name;
};

const std::array<OptionalCurve, 3>& optionalCurves()
{
    using T = ChartWindow::TimeTrace;
    static const std::array<OptionalCurve, 3> list{{{T::Power, QStringLiteral("功率")},
                                                    {T::Temperature, QStringLiteral("温度")},
                                                    {T::Resistance, QStringLiteral("内阻")}}};
    return list;
}

// The columns of the cursors' table: a reply's time, voltage, capacity and
// energy, each as wide as its widest usual text.
struct CursorColumn {
    QString title;
    QString widest;
    double (*value)(const DischargeFeed& feed, const discharge::Sample& s);
    QString (*text)(double);
};

const std::array<CursorColumn, 4>& cursorColumns()
{
    using S = discharge::Sample;
    using F = DischargeFeed;
    static const std::array<CursorColumn, 4> list{{
        {QStringLiteral("时间"), QStringLiteral("-00:00:00"),
         [](const F& f, const S& s) { return f.xOf(F::Axis::Time, s); }, durationOf},
        {QStringLiteral("电压"), QStringLiteral("-00.00V"),
         [](const F&, const S& s) { return double(s.voltage); }, voltageOf},
        {QStringLiteral("容量"), QStringLiteral("-0.000AH"),
         [](const F& f, const S& s) { return f.own(s).capacityAh; }, capacityOf},
        {QStringLiteral("能量"), QStringLiteral("-00.000WH"),
         [](const F& f, const S& s) { return f.own(s).energyWh; }, energyOf},
    }};
    return list;
}

// Runs `then` once, after the first exposure of the window it filters.
class OnExposure final : public QObject {
public:
    OnExposure(QObject* owner, std::function<void()> then) : QObject(owner), then_(std::move(then))
    {
    }
    bool eventFilter(QObject* watched, QEvent* event) override
    {
        if (event->type() == QEvent::Expose && !done_) {
            done_ = true;
            watched->removeEventFilter(this);
            // After the exposure's own handling: the frame is then known.
            QTimer::singleShot(0, parent(), then_);
            deleteLater();
        }
        return false;
    }

private:
    std::function<void()> then_;
    bool done_ = false;
};

QString writeFile(const QString& path, const QByteArray& bytes)
{
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write(bytes) != bytes.size() || !file.commit())
        return writeErrorText(path, file.error());
    return {};
}

QString writeCsv(const QString& path, const std::vector<discharge::Sample>& rows)
{
    QSaveFile file(path);
    if (file.open(QIODevice::WriteOnly)) {
        file.write(reader::csvHeader().toUtf8() + '\n');
        for (const discharge::Sample& s : rows)
            file.write(reader::csvRow(s).toUtf8() + '\n');
        if (file.commit()) return {};
    }
    return writeErrorText(path, file.error());
}

using ReadOutcome = std::variant<ReferenceCurve, reader::ReadError>;

// The words of what was thrown, for a message.
QString thrownText(const std::exception_ptr& thrown)
{
    try {
        std::rethrow_exception(thrown);
    } catch (const std::bad_alloc&) {
        return QStringLiteral("内存不足");
    } catch (const std::exception& x) {
        return QString::fromLocal8Bit(x.what());
    } catch (...) {
        return QStringLiteral("未知错误");
    }
}

// What was thrown, as a failure to read `path`.
reader::ReadError thrownWhileReading(const QString& path, const std::exception_ptr& thrown)
{
    reader::ReadError e;
    e.file = path;
    e.reason = thrownText(thrown);
    try {
        std::rethrow_exception(thrown);
    } catch (const std::bad_alloc&) {
        e.problem = reader::ReadProblem::OutOfMemory;
    } catch (...) {
        e.problem = reader::ReadProblem::Unexpected;
    }
    return e;
}

// One file watch wrote on its standard output holds several modules: each is
// a curve of its own, named for its address.
QString referenceName(const reader::RecordedCurve& curve)
{
    return curve.address > 0 ? QStringLiteral("%1（地址 %2）").arg(curve.name).arg(curve.address)
                             : curve.name;
}

void readReference(const QString& path, std::vector<ReadOutcome>& read)
{
    try {
        reader::ReadResult r = reader::readRecording(path);
        if (auto* e = std::get_if<reader::ReadError>(&r)) {
            read.emplace_back(std::move(*e));
            return;
        }
        for (const reader::RecordedCurve& curve : std::get<reader::Recording>(r).curves) {
            ReferenceCurve reference = referenceOf(curve);
            reference.name = referenceName(curve);
            read.emplace_back(std::move(reference));
        }
    } catch (...) { // the curve's memory, say, after the reader's
        read.emplace_back(thrownWhileReading(path, std::current_exception()));
    }
}

std::vector<ReadOutcome> readReferences(const QStringList& paths)
{
    std::vector<ReadOutcome> read;
    for (const QString& path : paths)
        readReference(path, read);
    return read;
}

// Runs `work` off the event thread and hands its result to `done` on it.
// Nothing thrown on the way reaches the event loop, which would end the
// program: `failed` makes a result of it instead.
template <typename Work, typename Done, typename Failed>
void runAside(QObject* owner, Work work, Done done, Failed failed)
{
    using Result = decltype(work());
    auto guarded = [work = std::move(work), failed]() mutable -> Result {
        try {
            return work();
        } catch (...) {
            return failed(std::current_exception());
        }
    };
    auto* watcher = new QFutureWatcher<Result>(owner);
    QObject::connect(watcher, &QFutureWatcher<Result>::finished, owner, [watcher, done, failed] {
        watcher->deleteLater();
        // What `failed` itself threw in the worker comes back here.
        const auto take = [&]() -> Result {
            try {
                return watcher->future().takeResult(); // curves are moved, never copied
            } catch (const QUnhandledException& e) {
                return failed(e.exception() ? e.exception() : std::current_exception());
            } catch (...) {
                return failed(std::current_exception());
            }
        };
        done(take());
    });
    watcher->setFuture(QtConcurrent::run(std::move(guarded)));
}

} // namespace

ChartWindow::ChartWindow(QWidget* parent)
    : QWidget(parent, Qt::Window),
      timePlot_(songFont(9), QStringLiteral("时间"), QStringLiteral("秒"), durationOf, kMinSeconds),
      capacityPlot_(songFont(9), QStringLiteral("容量"), QStringLiteral("AH"), capacityOf, kMinAh)
{
    setWindowTitle(kTitle);
    setFont(songFont(10.5));
    // The panel's window alone decides when the program ends.
    setAttribute(Qt::WA_QuitOnClose, false);
    buildTimePlot();
    buildCapacityPlot();

    auto* upper = new QWidget;
    auto* upperLayout = new QHBoxLayout(upper);
    upperLayout->setContentsMargins(0, 0, 0, 0);
    upperLayout->addWidget(buildCharts(), 1);
    upperLayout->addWidget(buildSide());

    auto* splitter = new QSplitter(Qt::Vertical);
    splitter->addWidget(upper);
    splitter->addWidget(buildReferences());
    splitter->setStretchFactor(0, 4);
    splitter->setStretchFactor(1, 1);
    splitter->setChildrenCollapsible(false);
    nameForReaders(splitter->handle(1));

    status_ = new QLabel(kHint);
    status_->setObjectName(QStringLiteral("status"));
    status_->setToolTip(kHelp);
    // A long path in a message is cut, not a reason for a wider window.
    status_->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(buildToolbar());
    layout->addWidget(splitter, 1);
    layout->addWidget(status_);
    resize(kPreferredSize);

    redrawTimer_.setSingleShot(true);
    redrawTimer_.setInterval(kRedrawMs);
    connect(&redrawTimer_, &QTimer::timeout, this, &ChartWindow::redrawNow);
    connect(&feed_, &DischargeFeed::changed, this, &ChartWindow::scheduleRedraw);
    connect(&feed_, &DischargeFeed::started, this, &ChartWindow::restartViews);
    connect(&feed_, &DischargeFeed::referencesChanged, this, &ChartWindow::showReferences);
    connect(tabs_, &QTabWidget::currentChanged, this, &ChartWindow::redrawNow);
    showSummary();
    showCursors();
    showFollowing();
}

ChartWindow::~ChartWindow() = default;

void ChartWindow::buildTimePlot()
{
    Plot& p = timePlot_;
    QValueAxis* v = p.addYAxis(QStringLiteral("电压 (V)"), Qt::AlignLeft, kVoltageColour);
    QValueAxis* a = p.addYAxis(QStringLiteral("电流 (A)"), Qt::AlignRight, kCurrentColour, true);
    QValueAxis* w = p.addYAxis(QStringLiteral("功率 (W)"), Qt::AlignRight, kPowerColour, true);
    QValueAxis* t = p.addYAxis(QStringLiteral("温度 (℃)"), Qt::AlignRight, kTemperatureColour);
    QValueAxis* r = p.addYAxis(QStringLiteral("内阻 (mΩ)"), Qt::AlignRight, kResistanceColour);
    const DischargeCurves& c = feed_.curves();
    p.addTrace(QStringLiteral("电压"), kVoltageColour, &c.voltage, v, voltageOf);
    p.addTrace(QStringLiteral("电流"), kCurrentColour, &c.current, a, currentOf);
    p.addTrace(QStringLiteral("功率"), kPowerColour, &c.power, w, powerOf);
    p.addTrace(QStringLiteral("温度"), kTemperatureColour, &c.temperature, t, temperatureOf);
    p.addTrace(QStringLiteral("内阻"), kResistanceColour, &c.resistance, r, resistanceOf);
    for (const OptionalCurve& o : optionalCurves())
        p.setTraceVisible(std::size_t(o.trace), false);
}

void ChartWindow::buildCapacityPlot()
{
    capacityVoltage_ =
        capacityPlot_.addYAxis(QStringLiteral("电压 (V)"), Qt::AlignLeft, kVoltageColour);
    capacityPlot_.addTrace(QStringLiteral("本次放电"), kVoltageColour,
                           &feed_.curves().voltageOverCapacity, capacityVoltage_, voltageOf);
}

QWidget* ChartWindow::buildCharts()
{
    tabs_ = new QTabWidget;
    views_[0] = addView(timePlot_, View::Time, QStringLiteral("电压、电流—时间"));
    views_[1] = addView(capacityPlot_, View::Capacity, QStringLiteral("电压—容量 (放电曲线)"));
    // Qt names the tab bar's scroll buttons in English.
    for (QToolButton* b : tabs_->tabBar()->findChildren<QToolButton*>())
        b->setAccessibleName(b->arrowType() == Qt::LeftArrow ? QStringLiteral("向左滚动标签")
                                                             : QStringLiteral("向右滚动标签"));
    auto* charts = new QWidget;
    auto* layout = new QVBoxLayout(charts);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(tabs_, 1);
    layout->addWidget(buildReadouts());
    return charts;
}

ChartView* ChartWindow::addView(Plot& plot, View which, const QString& title)
{
    auto* view = new ChartView(plot);
    view->setAccessibleName(title + QStringLiteral("曲线图"));
    view->setAccessibleDescription(kHelp);
    view->setMinimumSize(320, 150);
    tabs_->addTab(view, title);
    connect(view, &ChartView::viewMoved, this, &ChartWindow::redrawNow);
    connect(view, &ChartView::resetAsked, this, &ChartWindow::resetView);
    connect(view, &ChartView::hovered, this, &ChartWindow::hover);
    connect(view, &ChartView::hoverLeft, this, [this] {
        hoverAt_.reset();
        shownPlot().hideHover();
        readout_->setText(QStringLiteral(" "));
    });
    connect(view, &ChartView::clicked, this,
            [this, which](QPointF scenePos) { clickedAt(which, scenePos); });
    connect(view, &ChartView::cursorDragged, this, [this, which](std::size_t k, QPointF scenePos) {
        cursorDraggedTo(which, k, scenePos);
    });
    connect(plot.chart(), &QChart::plotAreaChanged, this, &ChartWindow::scheduleRedraw);
    return view;
}

// Under the chart: the values at the pointer, whether the view follows the
// data, the cursors and the figures down to the cut-off voltage.
QWidget* ChartWindow::buildReadouts()
{
    auto* box = new QWidget;
    auto* layout = new QVBoxLayout(box);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(2);

    readout_ = new QLabel(QStringLiteral(" "));
    readout_->setObjectName(QStringLiteral("readout"));
    readout_->setWordWrap(true);
    readout_->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
    stopped_ = new QLabel(QStringLiteral("未跟随最新数据"));
    stopped_->setObjectName(QStringLiteral("stopped"));
    stopped_->setStyleSheet(QStringLiteral("color: rgb(180, 60, 0)"));
    follow_ = new QPushButton(QStringLiteral("回到最新"));
    follow_->setObjectName(QStringLiteral("follow"));
    connect(follow_, &QPushButton::clicked, this, &ChartWindow::resetView);
    for (QWidget* w : {static_cast<QWidget*>(stopped_), static_cast<QWidget*>(follow_)}) {
        QSizePolicy keep = w->sizePolicy();
        keep.setRetainSizeWhenHidden(true); // no jump of the chart when it shows
        w->setSizePolicy(keep);
    }
    auto* top = new QHBoxLayout;
    top->addWidget(readout_, 1);
    top->addWidget(stopped_);
    top->addWidget(follow_);
    layout->addLayout(top);

    // The cursors: a row each and their difference, by column.
    auto* grid = new QGridLayout;
    grid->setVerticalSpacing(0);
    grid->setHorizontalSpacing(8);
    grid->addWidget(new QLabel(QStringLiteral("光标")), 0, 0);
    for (std::size_t c = 0; c < cursorColumns().size(); ++c)
        grid->addWidget(new QLabel(cursorColumns()[c].title), 0, int(c) + 1);
    const QString rows[] = {QStringLiteral("A"), QStringLiteral("B"), QStringLiteral("B − A")};
    const char* names[] = {"cursorA", "cursorB", "cursorDelta"};
    for (std::size_t r = 0; r < cursorCells_.size(); ++r) {
        grid->addWidget(new QLabel(rows[r]), int(r) + 1, 0);
        for (std::size_t c = 0; c < cursorColumns().size(); ++c) {
            QLabel*& cell = cursorCells_[r][c];
            cell = new QLabel;
            cell->setObjectName(QString::fromLatin1(names[r]) + QString::number(c));
            cell->setTextInteractionFlags(Qt::TextSelectableByMouse);
            grid->addWidget(cell, int(r) + 1, int(c) + 1);
        }
    }
    for (std::size_t c = 0; c < cursorColumns().size(); ++c)
        grid->setColumnMinimumWidth(int(c) + 1,
                                    fontMetrics().horizontalAdvance(cursorColumns()[c].widest));
    grid->setColumnStretch(int(cursorColumns().size()) + 1, 1);
    auto* clear = new QToolButton;
    clear->setText(QStringLiteral("清除"));
    clear->setAccessibleName(QStringLiteral("清除光标"));
    clear->setToolTip(QStringLiteral("清除光标"));
    connect(clear, &QToolButton::clicked, this, &ChartWindow::clearCursors);
    clearCursors_ = clear;
    grid->addWidget(clear, 0, int(cursorColumns().size()) + 2);
    layout->addLayout(grid);

    auto* cutoff = new QHBoxLayout;
    auto* cutoffLabel = new QLabel(QStringLiteral("截止电压"));
    cutoffBox_ = new QDoubleSpinBox;
    cutoffBox_->setObjectName(QStringLiteral("cutoff"));
    cutoffBox_->setRange(0, 99.99);
    cutoffBox_->setDecimals(2);
    cutoffBox_->setSingleStep(0.1);
    cutoffBox_->setSuffix(QStringLiteral("V"));
    cutoffBox_->setSpecialValueText(QStringLiteral("未设"));
    cutoffBox_->setKeyboardTracking(false);
    cutoffLabel->setBuddy(cutoffBox_);
    connect(cutoffBox_, &QDoubleSpinBox::valueChanged, this, [this](double v) {
        feed_.setCutoff(v > 0 ? std::optional<double>(v) : std::nullopt);
        showCutoffs();
    });
    cutoffText_ = new QLabel;
    cutoffText_->setObjectName(QStringLiteral("cutoffFigures"));
    cutoffText_->setTextInteractionFlags(Qt::TextSelectableByMouse);
    cutoff->addWidget(cutoffLabel);
    cutoff->addWidget(cutoffBox_);
    cutoff->addWidget(cutoffText_, 1);
    layout->addLayout(cutoff);
    return box;
}

// Scrolled where the window is too low for it (1366 x 768 at 150 %), so
// that the summary's rows never make the window taller than the screen.
QWidget* ChartWindow::buildSide()
{
    auto* side = new QWidget;
    auto* layout = new QVBoxLayout(side);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(buildSummary());
    layout->addWidget(buildCurveChoice());
    layout->addStretch(1);
    auto* scroll = new QScrollArea;
    scroll->setObjectName(QStringLiteral("side"));
    scroll->setWidget(side);
    scroll->setWidgetResizable(true);
    scroll->setFrameShape(QFrame::NoFrame);
    scroll->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    scroll->setFixedWidth(kSideWidth + scroll->verticalScrollBar()->sizeHint().width());
    return scroll;
}

QWidget* ChartWindow::buildToolbar()
{
    auto* bar = new QWidget;
    auto* row = new QHBoxLayout(bar);
    row->setContentsMargins(0, 0, 0, 0);
    const auto button = [&](const QString& text, void (ChartWindow::*slot)()) {
        auto* b = new QPushButton(text);
        connect(b, &QPushButton::clicked, this, slot);
        row->addWidget(b);
    };
    button(QStringLiteral("打开参考曲线…"), &ChartWindow::askReferences);
    button(QStringLiteral("导出图片…"), &ChartWindow::askImage);
    button(QStringLiteral("导出数据…"), &ChartWindow::askCsv);
    button(QStringLiteral("复位视图"), &ChartWindow::resetView);
    row->addStretch(1);
    auto* library = new QPushButton(QStringLiteral("电池库"));
    library->setObjectName(QStringLiteral("libraryButton"));
    connect(library, &QPushButton::clicked, this, &ChartWindow::libraryRequested);
    row->addWidget(library);
    return bar;
}

QWidget* ChartWindow::buildSummary()
{
    auto* box = new QGroupBox(QStringLiteral("本次放电"));
    auto* form = new QFormLayout(box);
    form->setVerticalSpacing(2);
    summaryForm_ = form;
    addCellFields(form);
    for (std::size_t i = 0; i < figures().size(); ++i) {
        figures_[i] = new QLabel;
        figures_[i]->setObjectName(QString::fromLatin1(figures()[i].name));
        figures_[i]->setTextInteractionFlags(Qt::TextSelectableByMouse);
        form->addRow(figures()[i].title + QStringLiteral("："), figures_[i]);
    }
    figures_.back()->setWordWrap(true);
    omitted_ = new QLabel;
    omitted_->setObjectName(QStringLiteral("omitted"));
    omitted_->setWordWrap(true);
    form->addRow(QStringLiteral("未绘制点："), omitted_);
    library_ = new QLabel;
    library_->setObjectName(QStringLiteral("library"));
    library_->setWordWrap(true);
    library_->setTextInteractionFlags(Qt::TextSelectableByMouse);
    library_->hide();
    form->addRow(library_);
    box->setFixedWidth(kSideWidth);
    return box;
}

// The cell under test: typed by the operator, kept for the next discharge.
void ChartWindow::addCellFields(QFormLayout* form)
{
    const auto line = [](const char* name, const QString& hint) {
        auto* edit = new QLineEdit;
        edit->setObjectName(QString::fromLatin1(name));
        edit->setPlaceholderText(hint);
        edit->setMaxLength(100);
        return edit;
    };
    cellName_ = line("cellName", QStringLiteral("如 A17"));
    cellType_ = line("cellType", QStringLiteral("如 18650"));
    ratedAh_ = new QDoubleSpinBox;
    ratedAh_->setObjectName(QStringLiteral("ratedAh"));
    ratedAh_->setRange(0, 9999.999);
    ratedAh_->setDecimals(3);
    ratedAh_->setSingleStep(0.1);
    ratedAh_->setSuffix(QStringLiteral("AH"));
    ratedAh_->setSpecialValueText(QStringLiteral("未填")); // 0: not given
    ratedAh_->setKeyboardTracking(false);
    health_ = new QLabel;
    health_->setObjectName(QStringLiteral("health"));
    form->addRow(QStringLiteral("名称："), cellName_);
    form->addRow(QStringLiteral("类型："), cellType_);
    form->addRow(QStringLiteral("额定容量："), ratedAh_);
    form->addRow(QStringLiteral("健康度："), health_);
    form->setRowVisible(health_, false);
    connect(cellName_, &QLineEdit::textChanged, this, &ChartWindow::takeCellFields);
    connect(cellType_, &QLineEdit::textChanged, this, &ChartWindow::takeCellFields);
    connect(ratedAh_, &QDoubleSpinBox::valueChanged, this, &ChartWindow::takeCellFields);
}

void ChartWindow::takeCellFields()
{
    cell_.name = cellName_->text().trimmed();
    cell_.type = cellType_->text().trimmed();
    cell_.ratedAh = ratedAh_->value() > 0 ? std::optional<double>(ratedAh_->value()) : std::nullopt;
    if (recorder_) recorder_->setCell(cell_);
    showHealth();
}

// Capacity over the rated capacity, once one is given.
void ChartWindow::showHealth()
{
    const discharge::Summary s = feed_.summary();
    const std::optional<double> soh = library::stateOfHealth(s, cell_);
    summaryForm_->setRowVisible(health_, soh.has_value());
    health_->setText(!soh || s.samples == 0 ? QStringLiteral("—")
                                            : QStringLiteral("%1%").arg(*soh * 100, 0, 'f', 1));
}

void ChartWindow::recordInto(library::TestWriter& writer, TestRecorder::LineOf line)
{
    recorder_ = std::make_unique<TestRecorder>(feed_, writer, std::move(line));
    recorder_->setCell(cell_);
    connect(&writer, &library::TestWriter::problem, this, &ChartWindow::showLibraryProblem);
    connect(&writer, &library::TestWriter::recovered, this, &ChartWindow::showLibraryRecovered);
}

void ChartWindow::showLibraryProblem(const QString& detail)
{
    showLibraryLine(QStringLiteral("电池库暂不可写，数据暂存于 %1，恢复后自动写入")
                        .arg(QDir::toNativeSeparators(recorder_->writer().spoolFolder())),
                    detail, true);
}

void ChartWindow::showLibraryUnusable(const QString& why)
{
    showLibraryLine(QStringLiteral("电池库无法使用，放电不会记录"), why, true);
}

void ChartWindow::showLibraryRecovered(const QString& detail)
{
    showLibraryLine(QStringLiteral("电池库已恢复写入"), detail, false);
}

// A line, not a box: the test goes on whatever the library does. The
// writer's own words (which database, which error) are its tooltip.
void ChartWindow::showLibraryLine(const QString& text, const QString& detail, bool trouble)
{
    library_->setText(text);
    library_->setToolTip(detail);
    library_->setStyleSheet(trouble ? QStringLiteral("color: rgb(180, 60, 0)") : QString());
    library_->show();
}

// The time view's optional curves and its clock.
QWidget* ChartWindow::buildCurveChoice()
{
    auto* box = new QGroupBox(QStringLiteral("时间图"));
    auto* grid = new QGridLayout(box);
    grid->setVerticalSpacing(3);
    for (std::size_t i = 0; i < optionalCurves().size(); ++i) {
        const OptionalCurve& o = optionalCurves()[i];
        optionalBoxes_[i] = new QCheckBox(o.name);
        connect(optionalBoxes_[i], &QCheckBox::toggled, this,
                [this, trace = o.trace](bool on) { showTimeTrace(trace, on); });
        grid->addWidget(optionalBoxes_[i], 0, int(i));
    }
    auto* clockLabel = new QLabel(QStringLiteral("时间轴"));
    clockBox_ = new QComboBox;
    clockBox_->setObjectName(QStringLiteral("clock"));
    clockBox_->addItem(clockName(TimeClock::Pc));
    clockBox_->addItem(clockName(TimeClock::Module));
    clockBox_->setToolTip(
        QStringLiteral("电脑时钟：每个回复到达的时刻；模块计时：模块自己的放电时间"
                       "（整秒，负载关闭时不走）"));
    clockLabel->setBuddy(clockBox_);
    connect(clockBox_, &QComboBox::currentIndexChanged, this, [this] {
        keepTimeCurves();
        timePlot_.follow();
        redrawNow();
    });
    grid->addWidget(clockLabel, 1, 0);
    grid->addWidget(clockBox_, 1, 1, 1, 2);
    box->setFixedWidth(kSideWidth);
    return box;
}

QWidget* ChartWindow::buildReferences()
{
    // Its title beside the table, not above it: a small window keeps the height for the chart.
    auto* box = new QWidget;
    auto* layout = new QHBoxLayout(box);
    layout->setContentsMargins(0, 0, 0, 0);
    referenceTable_ = new QTableWidget(0, int(figures().size()) + 3);
    referenceTable_->setAccessibleName(QStringLiteral("参考曲线列表"));
    QStringList headers{QStringLiteral("名称")};
    for (const Figure& f : figures())
        headers << f.title;
    headers << QStringLiteral("至截止容量") << QStringLiteral("至截止能量");
    referenceTable_->setHorizontalHeaderLabels(headers);
    referenceTable_->setEditTriggers(QAbstractItemView::NoEditTriggers);
    referenceTable_->setSelectionBehavior(QAbstractItemView::SelectRows);
    referenceTable_->verticalHeader()->hide();
    referenceTable_->horizontalHeader()->setStretchLastSection(true);
    referenceTable_->setMinimumHeight(48);
    auto* title = new QLabel(QStringLiteral("参考曲线\n(电压—容量图)"));
    title->setBuddy(referenceTable_);
    auto* remove = new QPushButton(QStringLiteral("移除所选"));
    connect(remove, &QPushButton::clicked, this, &ChartWindow::removeSelectedReferences);
    auto* side = new QVBoxLayout;
    side->addWidget(title);
    side->addWidget(remove);
    side->addStretch(1);
    layout->addWidget(referenceTable_, 1);
    layout->addLayout(side);
    return box;
}

void ChartWindow::nameForReaders(QWidget* splitterHandle)
{
    splitterHandle->setAccessibleName(QStringLiteral("曲线与参考曲线列表的分隔条"));
    splitterHandle->setAccessibleDescription(QStringLiteral("上下拖动以调整两部分的高度"));
}

// The panel's frame is only known once its window is on the screen (a
// window manager places it and adds its title bar after show()): placed at
// once, the chart is placed again then.
void ChartWindow::showBeside(const QWidget& mainWindow)
{
    place(mainWindow);
    show();
    QWindow* handle = mainWindow.windowHandle();
    if (handle != nullptr && !handle->isExposed())
        handle->installEventFilter(
            new OnExposure(this, [this, &mainWindow] { place(mainWindow); }));
}

// The window's controls: its children, or those of the page its scroll area
// holds (the panel on a screen too small for it).
std::vector<QRect> controlFrames(const QWidget& window)
{
    const QWidget* holder = &window;
    if (const auto* scroller =
            window.findChild<QScrollArea*>(QString(), Qt::FindDirectChildrenOnly);
        scroller != nullptr && scroller->widget() != nullptr)
        holder = scroller->widget();
    std::vector<QRect> frames;
    for (const QWidget* w : holder->findChildren<QWidget*>(Qt::FindDirectChildrenOnly))
        if (w->isVisibleTo(&window)) frames.emplace_back(w->mapToGlobal(QPoint(0, 0)), w->size());
    return frames;
}

void ChartWindow::place(const QWidget& mainWindow)
{
    const QRect panel = mainWindow.frameGeometry();
    const QScreen* screen = mainWindow.screen();
    if (screen == nullptr) return;
    const QRect available = screen->availableGeometry();
    // Before its first show this window's decoration is unknown: the panel's stands for it.
    const QMargins decoration(mainWindow.geometry().left() - panel.left(),
                              mainWindow.geometry().top() - panel.top(),
                              panel.right() - mainWindow.geometry().right(),
                              panel.bottom() - mainWindow.geometry().bottom());
    const QSize extra(decoration.left() + decoration.right(),
                      decoration.top() + decoration.bottom());
    const QSize least = minimumSizeHint().expandedTo(minimumSize());
    const Placement p = placeChart(panel, controlFrames(mainWindow), available, least + extra,
                                   kPreferredSize + extra);
    const QRect inside = p.frame.marginsRemoved(decoration);
    // On a screen smaller than the window's minimum, the screen wins; else
    // the layout keeps deciding the minimum (it grows with wrapped notes).
    if (least.width() > inside.width() || least.height() > inside.height())
        setMinimumSize(least.boundedTo(inside.size()));
    setGeometry(inside);
}

void ChartWindow::scheduleRedraw()
{
    if (!redrawTimer_.isActive()) redrawTimer_.start();
}

void ChartWindow::redrawNow()
{
    redrawTimer_.stop();
    showSummary();
    followTimeUnit();
    showCursors();
    shownPlot().redraw();
    showFollowing();
    if (hoverAt_) hover(*hoverAt_);
}

void ChartWindow::showSummary()
{
    const SummaryTexts t = summaryTexts(feed_.summary(), feed_.running());
    for (std::size_t i = 0; i < figures().size(); ++i)
        figures_[i]->setText(t.*figures()[i].text);
    omitted_->setText(omittedText());
    showHealth();
    // Its width is fixed: the lines its wrapped texts take decide its height.
    QWidget* box = omitted_->parentWidget();
    box->setMinimumHeight(box->heightForWidth(box->width()));
    const std::optional<AtCutoff>& at = feed_.atCutoff();
    cutoffText_->setText(!feed_.cutoff() ? QStringLiteral("至截止：—")
                         : at            ? QStringLiteral("至截止：%1，%2")
                                    .arg(capacityOf(at->capacityAh), energyOf(at->energyWh))
                              : QStringLiteral("至截止：未低于此电压"));
}

// Every reply that is no point of a curve, counted with its reason.
QString ChartWindow::omittedText() const
{
    const Omitted& o = feed_.omitted();
    const DischargeCurves& c = feed_.curves();
    QStringList parts;
    if (o.loadOff > 0) parts << QStringLiteral("负载关闭 %1（仅在时间图）").arg(o.loadOff);
    if (o.idle > 0) parts << QStringLiteral("结束后空闲 %1").arg(o.idle);
    const std::size_t merged = c.voltage.mergedAway() + c.voltageOverCapacity.mergedAway();
    if (merged > 0) parts << QStringLiteral("长时间合并 %1（保留极值）").arg(merged);
    if (c.voltage.refused() > 0)
        parts << QStringLiteral("模块计时倒退 %1（时间图）").arg(c.voltage.refused());
    if (feed_.samples().dropped() > 0)
        parts << QStringLiteral("导出数据稀疏化 %1").arg(feed_.samples().dropped());
    return parts.isEmpty() ? QStringLiteral("无") : parts.join(QStringLiteral("，"));
}

void ChartWindow::followTimeUnit()
{
    const auto x = feed_.curves().voltage.xRange();
    const TimeUnit unit = timeUnitFor(x ? x->max - x->min : 0);
    timePlot_.setXUnit(unit.seconds,
                       unit.name + QStringLiteral("，") + clockName(feed_.curves().kept.clock));
}

void ChartWindow::showFollowing()
{
    const bool stopped = !shownPlot().following();
    stopped_->setVisible(stopped);
    follow_->setVisible(stopped);
}

void ChartWindow::showReferences()
{
    capacityPlot_.removeTraces(1);
    const auto& refs = feed_.references();
    referenceTable_->setRowCount(int(refs.size()));
    for (std::size_t row = 0; row < refs.size(); ++row) {
        const ReferenceCurve& r = refs[row];
        const QColor colour = referenceColour(r.colour);
        capacityPlot_.addTrace(r.name, colour, &r.voltageOverCapacity, capacityVoltage_, voltageOf);
        QPixmap swatch(12, 12);
        swatch.fill(colour);
        referenceTable_->setItem(int(row), 0, new QTableWidgetItem(QIcon(swatch), r.name));
        const SummaryTexts t = summaryTexts(r.summary, false);
        for (std::size_t i = 0; i < figures().size(); ++i)
            referenceTable_->setItem(int(row), int(i) + 1,
                                     new QTableWidgetItem(t.*figures()[i].text));
    }
    // The running discharge over its references, not under them.
    capacityPlot_.drawOnTop(0);
    showCutoffs();
    scheduleRedraw();
}

// Each reference's capacity and energy down to the cut-off voltage.
void ChartWindow::showCutoffs()
{
    const int column = int(figures().size()) + 1;
    const auto& refs = feed_.references();
    for (std::size_t row = 0; row < refs.size(); ++row) {
        const std::optional<AtCutoff> at =
            feed_.cutoff() ? atCutoff(refs[row], *feed_.cutoff()) : std::nullopt;
        const QString none = feed_.cutoff() ? QStringLiteral("未低于") : QStringLiteral("—");
        referenceTable_->setItem(int(row), column,
                                 new QTableWidgetItem(at ? capacityOf(at->capacityAh) : none));
        referenceTable_->setItem(int(row), column + 1,
                                 new QTableWidgetItem(at ? energyOf(at->energyWh) : none));
    }
    referenceTable_->resizeColumnsToContents();
    showSummary();
}

void ChartWindow::restartViews()
{
    timePlot_.follow();
    capacityPlot_.follow();
    cursors_ = {};
}

void ChartWindow::resetView()
{
    shownPlot().follow();
    redrawNow();
}

void ChartWindow::showTimeTrace(TimeTrace trace, bool shown)
{
    const auto box = std::find_if(optionalCurves().begin(), optionalCurves().end(),
                                  [trace](const OptionalCurve& o) { return o.trace == trace; });
    if (box != optionalCurves().end()) {
        QCheckBox* b = optionalBoxes_[std::size_t(box - optionalCurves().begin())];
        if (b->isChecked() != shown) return b->setChecked(shown); // comes back here
    }
    keepTimeCurves(); // the curve's points first, then the axes fit them
    timePlot_.setTraceVisible(std::size_t(trace), shown);
    redrawNow();
}

void ChartWindow::setTimeClock(TimeClock clock) { clockBox_->setCurrentIndex(int(clock)); }

void ChartWindow::setCutoff(double volts) { cutoffBox_->setValue(volts); }

// The feed keeps the optional curves only while they are shown.
void ChartWindow::keepTimeCurves()
{
    TimeCurves wanted;
    wanted.clock = clockBox_->currentIndex() == 1 ? TimeClock::Module : TimeClock::Pc;
    wanted.temperature = optionalBoxes_[1]->isChecked();
    wanted.resistance = optionalBoxes_[2]->isChecked();
    feed_.setTimeCurves(wanted);
}

void ChartWindow::removeSelectedReferences()
{
    std::vector<int> rows;
    for (const QModelIndex& i : referenceTable_->selectionModel()->selectedRows())
        rows.push_back(i.row());
    std::sort(rows.rbegin(), rows.rend());
    for (int row : rows)
        feed_.removeReference(std::size_t(row));
}

void ChartWindow::showView(View view) { tabs_->setCurrentIndex(view == View::Time ? 0 : 1); }

Plot& ChartWindow::shownPlot() { return tabs_->currentIndex() == 0 ? timePlot_ : capacityPlot_; }
ChartView* ChartWindow::shownView() { return views_[std::size_t(tabs_->currentIndex() == 1)]; }

void ChartWindow::hover(QPointF scenePos)
{
    hoverAt_ = scenePos;
    const QString text = shownPlot().hover(scenePos);
    readout_->setText(text.isEmpty() ? QStringLiteral(" ") : text);
}

// ---------------------------------------------------------------- cursors

void ChartWindow::clickedAt(View view, QPointF scenePos)
{
    if (const std::optional<double> x = plot(view).xAt(scenePos)) placeCursor(view, *x);
}

// The first click places A, the second B; later ones move the nearer of them.
void ChartWindow::placeCursor(View view, double x)
{
    std::size_t which = cursors_[0] ? 1 : 0;
    if (cursors_[0] && cursors_[1]) {
        const auto distance = [&](std::size_t k) {
            return std::abs(feed_.xOf(axisOf(view), *cursors_[k]) - x);
        };
        which = distance(1) < distance(0) ? 1 : 0;
    }
    setCursorSample(which, view, x);
}

void ChartWindow::cursorDraggedTo(View view, std::size_t which, QPointF scenePos)
{
    // Held at the plot's edge while the pointer is beyond it.
    if (const std::optional<double> x = plot(view).xAt(scenePos, true))
        setCursorSample(which, view, *x);
}

// A cursor stands on a reply: the figures between the two are the module's.
void ChartWindow::setCursorSample(std::size_t which, View view, double x)
{
    const std::optional<discharge::Sample> s = feed_.sampleNear(axisOf(view), x);
    if (!s) return;
    cursors_[which] = *s;
    showCursors();
    plot(view).redraw();
}

void ChartWindow::clearCursors()
{
    cursors_ = {};
    showCursors();
}

void ChartWindow::showCursors()
{
    for (std::size_t k = 0; k < cursors_.size(); ++k)
        for (View v : kViews)
            plot(v).setCursor(k, cursors_[k]
                                     ? std::optional<double>(feed_.xOf(axisOf(v), *cursors_[k]))
                                     : std::nullopt);
    const QString none = QStringLiteral("—");
    for (std::size_t c = 0; c < cursorColumns().size(); ++c) {
        const CursorColumn& column = cursorColumns()[c];
        std::array<std::optional<double>, 2> values;
        for (std::size_t k = 0; k < cursors_.size(); ++k) {
            if (cursors_[k]) values[k] = column.value(feed_, *cursors_[k]);
            cursorCells_[k][c]->setText(values[k] ? column.text(*values[k]) : none);
        }
        cursorCells_[2][c]->setText(
            values[0] && values[1] ? differenceOf(*values[1] - *values[0], column.text) : none);
    }
    clearCursors_->setEnabled(cursors_[0] || cursors_[1]);
}

// ---------------------------------------------------------------- files

void ChartWindow::askReferences()
{
    auto* dialog = new QFileDialog(this, QStringLiteral("打开参考曲线"), QString(),
                                   QStringLiteral("放电记录 (*.xlsx *.csv);;所有文件 (*)"));
    dialog->setAttribute(Qt::WA_DeleteOnClose);
    dialog->setFileMode(QFileDialog::ExistingFiles);
    connect(dialog, &QFileDialog::filesSelected, this, &ChartWindow::openReferences);
    dialog->open(); // window-modal, no nested loop: readings keep coming in
}

void ChartWindow::askImage()
{
    askSavePath(QStringLiteral("导出图片"), QStringLiteral("PNG 图片 (*.png);;SVG 矢量图 (*.svg)"),
                QStringLiteral("放电曲线.png"), &ChartWindow::exportImage);
}

void ChartWindow::askCsv()
{
    askSavePath(QStringLiteral("导出数据"), QStringLiteral("CSV 数据 (*.csv)"),
                QStringLiteral("放电数据.csv"), &ChartWindow::exportCsv);
}

void ChartWindow::askSavePath(const QString& caption, const QString& filters,
                              const QString& fileName, void (ChartWindow::*save)(const QString&))
{
    auto* dialog = new QFileDialog(this, caption, fileName, filters);
    dialog->setAttribute(Qt::WA_DeleteOnClose);
    dialog->setAcceptMode(QFileDialog::AcceptSave);
    dialog->setDefaultSuffix(QFileInfo(fileName).suffix());
    // A name typed without a suffix takes the chosen type's.
    connect(dialog, &QFileDialog::filterSelected, dialog, [dialog](const QString& filter) {
        const auto m = QRegularExpression(QStringLiteral("\\*\\.(\\w+)")).match(filter);
        if (m.hasMatch()) dialog->setDefaultSuffix(m.captured(1));
    });
    connect(dialog, &QFileDialog::fileSelected, this, save);
    dialog->open();
}

void ChartWindow::openReferences(const QStringList& paths)
{
    status_->setText(QStringLiteral("正在读取 %1 个文件…").arg(paths.size()));
    runAside(
        this, [paths] { return readReferences(paths); },
        [this](std::vector<ReadOutcome> read) { addReadReferences(std::move(read)); },
        [paths](const std::exception_ptr& thrown) {
            std::vector<ReadOutcome> read;
            for (const QString& path : paths)
                read.emplace_back(thrownWhileReading(path, thrown));
            return read;
        });
}

// The files that read well are laid over the chart; each one that did not is named.
void ChartWindow::addReadReferences(std::vector<ReadOutcome> read)
{
    QStringList errors;
    int added = 0;
    for (ReadOutcome& r : read) {
        if (auto* curve = std::get_if<ReferenceCurve>(&r)) {
            feed_.addReference(std::move(*curve));
            ++added;
        } else {
            errors << std::get<reader::ReadError>(r).message();
        }
    }
    status_->setText(QStringLiteral("已加入 %1 条参考曲线").arg(added));
    if (!errors.isEmpty()) tell(QStringLiteral("无法读取参考曲线：\n") + errors.join(u'\n'));
    Q_EMIT referencesOpened();
}

void ChartWindow::exportImage(const QString& path)
{
    ChartView* view = shownView();
    shownPlot().hideHover();
    QByteArray bytes;
    if (QFileInfo(path).suffix().compare(QLatin1String("svg"), Qt::CaseInsensitive) == 0) {
        // The texts as outlines: the chart's Chinese face need not be where the file is viewed.
        const QRect area = view->viewport()->rect();
        bytes = svgWithOutlinedText(area.size(), view->logicalDpiY(), kTitle, [&](QPainter& p) {
            view->scene()->render(&p, area, view->mapToScene(area).boundingRect());
        });
    } else {
        QBuffer buffer(&bytes);
        buffer.open(QIODevice::WriteOnly);
        view->grab().save(&buffer, "PNG");
    }
    finishExport(path, writeFile(path, bytes));
}

void ChartWindow::exportCsv(const QString& path)
{
    status_->setText(QStringLiteral("正在导出 %1 …").arg(path));
    runAside(
        this, [path, rows = feed_.samples().rows()] { return writeCsv(path, rows); },
        [this, path](const QString& error) { finishExport(path, error); },
        [path](const std::exception_ptr& thrown) {
            return QStringLiteral("%1: %2").arg(path, thrownText(thrown));
        });
}

void ChartWindow::finishExport(const QString& path, const QString& error)
{
    status_->setText(error.isEmpty() ? QStringLiteral("已导出 %1").arg(path)
                                     : QStringLiteral("导出失败"));
    if (!error.isEmpty()) tell(QStringLiteral("导出失败：\n") + error);
    Q_EMIT exported(path, error);
}

// A box that does not wait: the feed goes on while it is open.
void ChartWindow::tell(const QString& text)
{
    auto* box = new QMessageBox(QMessageBox::Warning, kTitle, text, QMessageBox::Ok, this);
    box->setAttribute(Qt::WA_DeleteOnClose);
    box->open();
}

} // namespace eload::chart
