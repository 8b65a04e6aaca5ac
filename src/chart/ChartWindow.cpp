#include "chart/ChartWindow.h"

#include "chart/ChartView.h"
#include "chart/SummaryTexts.h"
#include "ui/Fonts.h"

#include <QBuffer>
#include <QCheckBox>
#include <QFileDialog>
#include <QFileInfo>
#include <QFormLayout>
#include <QFutureWatcher>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QMessageBox>
#include <QPainter>
#include <QPushButton>
#include <QRegularExpression>
#include <QSaveFile>
#include <QScreen>
#include <QSplitter>
#include <QSvgGenerator>
#include <QTabWidget>
#include <QTableWidget>
#include <QUnhandledException>
#include <QVBoxLayout>
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

QString writeFile(const QString& path, const QByteArray& bytes)
{
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write(bytes) != bytes.size() || !file.commit())
        return QStringLiteral("%1: %2").arg(path, file.errorString());
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
    return QStringLiteral("%1: %2").arg(path, file.errorString());
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
      timePlot_(songFont(9), QStringLiteral("时间"), QStringLiteral("秒"), durationOf),
      capacityPlot_(songFont(9), QStringLiteral("容量"), QStringLiteral("AH"), capacityOf)
{
    setWindowTitle(kTitle);
    setFont(songFont(10.5));
    // The panel's window alone decides when the program ends.
    setAttribute(Qt::WA_QuitOnClose, false);
    buildTimePlot();
    buildCapacityPlot();

    tabs_ = new QTabWidget;
    views_[0] = addView(timePlot_, QStringLiteral("电压、电流—时间"));
    views_[1] = addView(capacityPlot_, QStringLiteral("电压—容量 (放电曲线)"));
    readout_ = new QLabel(QStringLiteral(" "));
    readout_->setObjectName(QStringLiteral("readout"));
    auto* charts = new QWidget;
    auto* chartsLayout = new QVBoxLayout(charts);
    chartsLayout->setContentsMargins(0, 0, 0, 0);
    chartsLayout->addWidget(tabs_, 1);
    chartsLayout->addWidget(readout_);

    auto* upper = new QWidget;
    auto* upperLayout = new QHBoxLayout(upper);
    upperLayout->setContentsMargins(0, 0, 0, 0);
    upperLayout->addWidget(charts, 1);
    upperLayout->addWidget(buildSummary());

    auto* splitter = new QSplitter(Qt::Vertical);
    splitter->addWidget(upper);
    splitter->addWidget(buildReferences());
    splitter->setStretchFactor(0, 4);
    splitter->setStretchFactor(1, 1);

    status_ = new QLabel(QStringLiteral("滚轮缩放，左键拖出矩形放大，右键拖动平移，双击复位"));
    status_->setObjectName(QStringLiteral("status"));
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(buildToolbar());
    layout->addWidget(splitter, 1);
    layout->addWidget(status_);
    resize(1060, 700);

    redrawTimer_.setSingleShot(true);
    redrawTimer_.setInterval(kRedrawMs);
    connect(&redrawTimer_, &QTimer::timeout, this, &ChartWindow::redrawNow);
    connect(&feed_, &DischargeFeed::changed, this, &ChartWindow::scheduleRedraw);
    connect(&feed_, &DischargeFeed::started, this, &ChartWindow::restartViews);
    connect(&feed_, &DischargeFeed::referencesChanged, this, &ChartWindow::showReferences);
    connect(tabs_, &QTabWidget::currentChanged, this, &ChartWindow::redrawNow);
    showSummary();
}

ChartWindow::~ChartWindow() = default;

void ChartWindow::buildTimePlot()
{
    Plot& p = timePlot_;
    QValueAxis* v = p.addYAxis(QStringLiteral("电压 (V)"), Qt::AlignLeft, kVoltageColour);
    QValueAxis* a = p.addYAxis(QStringLiteral("电流 (A)"), Qt::AlignRight, kCurrentColour, true);
    QValueAxis* w = p.addYAxis(QStringLiteral("功率 (W)"), Qt::AlignRight, kPowerColour, true);
    const DischargeCurves& c = feed_.curves();
    p.addTrace(QStringLiteral("电压"), kVoltageColour, &c.voltage, v, voltageOf);
    p.addTrace(QStringLiteral("电流"), kCurrentColour, &c.current, a, currentOf);
    p.addTrace(QStringLiteral("功率"), kPowerColour, &c.power, w, powerOf);
    p.setTraceVisible(2, false);
}

void ChartWindow::buildCapacityPlot()
{
    capacityVoltage_ =
        capacityPlot_.addYAxis(QStringLiteral("电压 (V)"), Qt::AlignLeft, kVoltageColour);
    capacityPlot_.addTrace(QStringLiteral("本次放电"), kVoltageColour,
                           &feed_.curves().voltageOverCapacity, capacityVoltage_, voltageOf);
}

ChartView* ChartWindow::addView(Plot& plot, const QString& title)
{
    auto* view = new ChartView(plot.chart());
    tabs_->addTab(view, title);
    connect(view, &ChartView::viewMoved, this, [this, &plot] {
        plot.stopFollowing();
        redrawNow();
    });
    connect(view, &ChartView::resetAsked, this, &ChartWindow::resetView);
    connect(view, &ChartView::hovered, this, &ChartWindow::hover);
    connect(view, &ChartView::hoverLeft, this, [this] {
        hoverAt_.reset();
        shownPlot().hideHover();
        readout_->setText(QStringLiteral(" "));
    });
    connect(plot.chart(), &QChart::plotAreaChanged, this, &ChartWindow::scheduleRedraw);
    return view;
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
    powerBox_ = new QCheckBox(QStringLiteral("显示功率"));
    connect(powerBox_, &QCheckBox::toggled, this, &ChartWindow::showPower);
    row->addWidget(powerBox_);
    row->addStretch(1);
    return bar;
}

QWidget* ChartWindow::buildSummary()
{
    auto* box = new QGroupBox(QStringLiteral("本次放电"));
    auto* form = new QFormLayout(box);
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
    box->setMinimumWidth(200);
    return box;
}

QWidget* ChartWindow::buildReferences()
{
    auto* box = new QGroupBox(QStringLiteral("参考曲线 (叠加在电压—容量图上)"));
    auto* layout = new QHBoxLayout(box);
    referenceTable_ = new QTableWidget(0, int(figures().size()) + 1);
    QStringList headers{QStringLiteral("名称")};
    for (const Figure& f : figures())
        headers << f.title;
    referenceTable_->setHorizontalHeaderLabels(headers);
    referenceTable_->setEditTriggers(QAbstractItemView::NoEditTriggers);
    referenceTable_->setSelectionBehavior(QAbstractItemView::SelectRows);
    referenceTable_->verticalHeader()->hide();
    referenceTable_->horizontalHeader()->setStretchLastSection(true);
    layout->addWidget(referenceTable_, 1);
    auto* remove = new QPushButton(QStringLiteral("移除所选"));
    connect(remove, &QPushButton::clicked, this, &ChartWindow::removeSelectedReferences);
    layout->addWidget(remove, 0, Qt::AlignTop);
    return box;
}

void ChartWindow::showBeside(const QWidget& mainWindow)
{
    const QRect beside = mainWindow.frameGeometry();
    QPoint at(beside.right() + 1, beside.top());
    if (const QScreen* screen = mainWindow.screen()) {
        const QRect room = screen->availableGeometry();
        at.setX(std::max(room.left(), std::min(at.x(), room.right() + 1 - width())));
        at.setY(std::max(room.top(), std::min(at.y(), room.bottom() + 1 - height())));
    }
    move(at);
    show();
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
    shownPlot().redraw();
    if (hoverAt_) hover(*hoverAt_);
}

void ChartWindow::showSummary()
{
    const SummaryTexts t = summaryTexts(feed_.summary(), feed_.running());
    for (std::size_t i = 0; i < figures().size(); ++i)
        figures_[i]->setText(t.*figures()[i].text);
    omitted_->setText(omittedText());
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
    if (feed_.samples().dropped() > 0)
        parts << QStringLiteral("导出数据稀疏化 %1").arg(feed_.samples().dropped());
    return parts.isEmpty() ? QStringLiteral("无") : parts.join(QStringLiteral("，"));
}

void ChartWindow::followTimeUnit()
{
    const auto x = feed_.curves().voltage.xRange();
    const TimeUnit unit = timeUnitFor(x ? x->max - x->min : 0);
    timePlot_.setXUnit(unit.seconds, unit.name);
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
    referenceTable_->resizeColumnsToContents();
    scheduleRedraw();
}

void ChartWindow::restartViews()
{
    timePlot_.follow();
    capacityPlot_.follow();
}

void ChartWindow::resetView()
{
    shownPlot().follow();
    redrawNow();
}

void ChartWindow::showPower(bool shown)
{
    timePlot_.setTraceVisible(2, shown);
    redrawNow();
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
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    if (QFileInfo(path).suffix().compare(QLatin1String("svg"), Qt::CaseInsensitive) == 0) {
        const QRect area = view->viewport()->rect();
        QSvgGenerator svg;
        svg.setOutputDevice(&buffer);
        svg.setSize(area.size());
        svg.setViewBox(area);
        svg.setTitle(kTitle);
        QPainter painter(&svg);
        view->scene()->render(&painter, area, view->mapToScene(area).boundingRect());
    } else {
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
