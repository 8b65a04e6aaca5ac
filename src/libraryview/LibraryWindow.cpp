#include "libraryview/LibraryWindow.h"

#include "libraryview/CapacityView.h"
#include "libraryview/PackPanel.h"
#include "libraryview/Report.h"
#include "libraryview/TestTableModel.h"
#include "libraryview/TestTexts.h"

#include "ui/Fonts.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDateEdit>
#include <QDateTime>
#include <QDir>
#include <QFileDialog>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QItemSelectionModel>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRegularExpression>
#include <QScreen>
#include <QSet>
#include <QSortFilterProxyModel>
#include <QSplitter>
#include <QTabWidget>
#include <QTableView>
#include <QTextDocument>
#include <QTimer>
#include <QVBoxLayout>

namespace eload::libraryview {

using namespace library;

namespace {

constexpr int kFilterDelayMsecs = 300;
constexpr int kSelectionDelayMsecs = 120;
constexpr int kWidthSampleRows = 200;

QString allChoice() { return QStringLiteral("全部"); }

qint64 localMidnight(QDate date) { return QDateTime(date, QTime(0, 0)).toMSecsSinceEpoch(); }

// A file name from a cell's name: no folder separators, nothing a shell minds.
QString reportFileName(const TestRecord& t)
{
    QString name = t.header.cell.name;
    name.replace(QRegularExpression(QStringLiteral(R"([\\/:*?"<>|\s])")), QStringLiteral("_"));
    return QStringLiteral("%1-%2.pdf")
        .arg(name, QDateTime::fromMSecsSinceEpoch(t.startMsecs())
                       .toLocalTime()
                       .toString(QStringLiteral("yyyyMMdd-HHmm")));
}

QString figureRow(const QString& label, const QString& value)
{
    return QStringLiteral("<tr><td style='color:#555;padding-right:8px'>%1</td><td>%2</td></tr>")
        .arg(label.toHtmlEscaped(), value.toHtmlEscaped());
}

} // namespace

LibraryWindow::LibraryWindow(const QString& database, QWidget* parent)
    : QWidget(parent), model_(new TestTableModel(this)), proxy_(new QSortFilterProxyModel(this)),
      cell_(new QLineEdit), type_(new QComboBox), dated_(new QCheckBox(QStringLiteral("日期"))),
      from_(new QDateEdit), to_(new QDateEdit), grade_(new QComboBox),
      refresh_(new QPushButton(QStringLiteral("刷 新"))), tabs_(new QTabWidget),
      table_(new QTableView), capacity_(new CapacityView), figures_(new QLabel),
      report_(new QPushButton(QStringLiteral("导出 PDF 报告…"))),
      pack_(new PackPanel([this](PackSource s) { return testsFor(s); })), status_(new QLabel),
      filterDelay_(new QTimer(this)), selectionDelay_(new QTimer(this))
{
    setWindowTitle(QStringLiteral("电池库"));
    setFont(songFont(10));
    proxy_->setSourceModel(model_);
    proxy_->setSortRole(TestTableModel::kSortRole);
    tabs_->addTab(makeTestsTab(), QStringLiteral("测试"));
    tabs_->addTab(pack_, QStringLiteral("配组"));
    status_->setWordWrap(true);
    status_->setTextInteractionFlags(Qt::TextSelectableByMouse);
    status_->setAccessibleName(QStringLiteral("状态"));
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(makeFilters());
    layout->addWidget(tabs_, 1);
    layout->addWidget(status_);
    resize(1180, 760);

    filterDelay_->setSingleShot(true);
    filterDelay_->setInterval(kFilterDelayMsecs);
    selectionDelay_->setSingleShot(true);
    selectionDelay_->setInterval(kSelectionDelayMsecs);
    connect(filterDelay_, &QTimer::timeout, this, &LibraryWindow::refresh);
    connect(selectionDelay_, &QTimer::timeout, this, &LibraryWindow::readSelectedCurves);
    auto later = [this] { filterDelay_->start(); };
    connect(cell_, &QLineEdit::textChanged, this, later);
    connect(type_, &QComboBox::currentTextChanged, this, later);
    connect(grade_, &QComboBox::currentTextChanged, this, later);
    connect(dated_, &QCheckBox::toggled, this, later);
    connect(from_, &QDateEdit::dateChanged, this, later);
    connect(to_, &QDateEdit::dateChanged, this, later);
    connect(refresh_, &QPushButton::clicked, this, &LibraryWindow::refresh);
    connect(report_, &QPushButton::clicked, this, &LibraryWindow::chooseReportPath);
    connect(table_->selectionModel(), &QItemSelectionModel::selectionChanged, this,
            [this] { selectionDelay_->start(); });

    StoreWorker* worker = store_.worker();
    connect(worker, &StoreWorker::listed, this, &LibraryWindow::showListing);
    connect(worker, &StoreWorker::curvesRead, this, &LibraryWindow::showCurves);
    connect(worker, &StoreWorker::failed, this, &LibraryWindow::showFailure);
    connect(worker, &StoreWorker::opened, this, [this](const QString& text) { location_ = text; });

    auto location = parseLocation(database);
    if (auto* f = failureOf(location)) {
        showFailure(QStringLiteral("无法打开测试库：%1").arg(f->message));
        return;
    }
    location_ = std::get<DatabaseLocation>(location).displayText();
    showStatus(QStringLiteral("正在打开测试库 %1……").arg(location_), false);
    store_.open(std::get<DatabaseLocation>(location));
}

LibraryWindow::~LibraryWindow() = default;

QWidget* LibraryWindow::makeFilters()
{
    cell_->setPlaceholderText(QStringLiteral("电池名，可用 * 和 ?"));
    cell_->setClearButtonEnabled(true);
    cell_->setAccessibleName(QStringLiteral("按电池筛选"));
    type_->setEditable(true);
    type_->setInsertPolicy(QComboBox::NoInsert); // a typed type filters, it is no new entry
    type_->addItem(allChoice());
    type_->setMinimumContentsLength(12);
    type_->setAccessibleName(QStringLiteral("按类型筛选"));
    grade_->addItem(allChoice());
    grade_->setAccessibleName(QStringLiteral("按等级筛选"));
    const QDate today = QDate::currentDate();
    for (QDateEdit* d : {from_, to_}) {
        d->setCalendarPopup(true);
        d->setDisplayFormat(QStringLiteral("yyyy-MM-dd"));
        d->setEnabled(false);
    }
    from_->setDate(today.addMonths(-1));
    to_->setDate(today);
    from_->setAccessibleName(QStringLiteral("起始日期"));
    to_->setAccessibleName(QStringLiteral("截止日期"));
    connect(dated_, &QCheckBox::toggled, from_, &QWidget::setEnabled);
    connect(dated_, &QCheckBox::toggled, to_, &QWidget::setEnabled);

    auto* row = new QWidget;
    auto* l = new QHBoxLayout(row);
    l->setContentsMargins(0, 0, 0, 0);
    l->addWidget(new QLabel(QStringLiteral("电池")));
    l->addWidget(cell_, 1);
    l->addWidget(new QLabel(QStringLiteral("类型")));
    l->addWidget(type_);
    l->addWidget(dated_);
    l->addWidget(from_);
    l->addWidget(new QLabel(QStringLiteral("至")));
    l->addWidget(to_);
    l->addWidget(new QLabel(QStringLiteral("等级")));
    l->addWidget(grade_);
    l->addWidget(refresh_);
    return row;
}

QWidget* LibraryWindow::makeTestsTab()
{
    table_->setModel(proxy_);
    table_->setSortingEnabled(true);
    table_->sortByColumn(TestTableModel::DateColumn, Qt::DescendingOrder);
    table_->setSelectionBehavior(QAbstractItemView::SelectRows);
    table_->setSelectionMode(QAbstractItemView::ExtendedSelection);
    table_->setAlternatingRowColors(true);
    table_->verticalHeader()->hide();
    table_->horizontalHeader()->setStretchLastSection(true);
    // Column widths from the first rows, not from all of 10,000.
    table_->horizontalHeader()->setResizeContentsPrecision(kWidthSampleRows);
    table_->setWordWrap(false);
    table_->setAccessibleName(QStringLiteral("测试列表"));

    figures_->setTextFormat(Qt::RichText);
    figures_->setAlignment(Qt::AlignTop | Qt::AlignLeft);
    figures_->setTextInteractionFlags(Qt::TextSelectableByMouse);
    figures_->setAccessibleName(QStringLiteral("测试数据"));
    figures_->setMinimumWidth(260);
    report_->setEnabled(false);

    side_ = new QWidget;
    side_->hide();
    auto* sideLayout = new QVBoxLayout(side_);
    sideLayout->setContentsMargins(0, 0, 0, 0);
    sideLayout->addWidget(figures_, 1);
    sideLayout->addWidget(report_);
    auto* lower = new QSplitter(Qt::Horizontal);
    lower->addWidget(capacity_);
    lower->addWidget(side_);
    lower->setStretchFactor(0, 1);
    auto* split = new QSplitter(Qt::Vertical);
    split->addWidget(table_);
    split->addWidget(lower);
    split->setSizes({420, 300}); // the chart's own size hint would take most of it
    lower->setSizes({800, 280});
    return split;
}

TestFilter LibraryWindow::filter() const
{
    TestFilter f;
    f.cell = cell_->text().trimmed();
    const QString type = type_->currentText().trimmed();
    if (type != allChoice()) f.type = type;
    if (grade_->currentIndex() > 0) f.grade = grade_->currentData().toString();
    if (dated_->isChecked()) {
        f.sinceMsecs = localMidnight(from_->date());
        f.untilMsecs = localMidnight(to_->date().addDays(1)); // the whole last day
    }
    return f;
}

void LibraryWindow::refresh()
{
    filterDelay_->stop();
    if (failed_ && location_.isEmpty()) return; // no location to read from
    if (dated_->isChecked() && from_->date() > to_->date()) {
        showStatus(QStringLiteral("起始日期晚于截止日期。"), true);
        return;
    }
    showStatus(QStringLiteral("正在读取……"), false);
    store_.list(filter(), ++listGeneration_);
}

void LibraryWindow::showEvent(QShowEvent* event)
{
    QWidget::showEvent(event);
    refresh();
}

void LibraryWindow::showListing(const Listing& listing)
{
    if (listing.generation != listGeneration_) return; // a newer one is on its way
    failed_ = false;
    const QList<qint64> selected = selectedIds();
    rememberChoices(*listing.tests);
    const qint64 count = qint64(listing.tests->size());
    model_->setTests(std::move(*listing.tests), listing.rules, QDateTime::currentMSecsSinceEpoch());
    table_->resizeColumnsToContents();
    reselect(selected);
    QString text = QStringLiteral("测试库 %1：%2 个测试").arg(location_).arg(count);
    if (!listing.rulesProblem.isEmpty())
        text += QStringLiteral("。等级规则无法读取，健康度按 80% / 60% 着色：%1")
                    .arg(listing.rulesProblem);
    showStatus(text, !listing.rulesProblem.isEmpty());
    Q_EMIT listShown();
}

// Types and grades seen so far stay choosable, whatever the filter shows now.
void LibraryWindow::rememberChoices(const std::vector<TestRecord>& tests)
{
    QSet<QString> types, grades;
    for (int i = 1; i < type_->count(); ++i)
        types.insert(type_->itemText(i));
    for (int i = 1; i < grade_->count(); ++i)
        grades.insert(grade_->itemData(i).toString());
    const QSignalBlocker typeQuiet(type_), gradeQuiet(grade_);
    for (const TestRecord& t : tests) {
        const QString& type = t.header.cell.type;
        if (!type.isEmpty() && !types.contains(type)) {
            types.insert(type);
            type_->addItem(type);
        }
        if (!t.grade.isEmpty() && !grades.contains(t.grade)) {
            grades.insert(t.grade);
            grade_->addItem(gradeText(t.grade), t.grade);
        }
    }
}

QList<qint64> LibraryWindow::selectedIds() const
{
    QList<qint64> ids;
    for (const QModelIndex& row : table_->selectionModel()->selectedRows())
        ids << model_->test(proxy_->mapToSource(row).row()).id;
    return ids;
}

std::vector<TestRecord> LibraryWindow::selectedTests() const
{
    std::vector<TestRecord> tests;
    for (const QModelIndex& row : table_->selectionModel()->selectedRows())
        tests.push_back(model_->test(proxy_->mapToSource(row).row()));
    return tests;
}

void LibraryWindow::reselect(const QList<qint64>& ids)
{
    const QSet<qint64> wanted(ids.begin(), ids.end());
    QItemSelection selection;
    for (int row = 0; row < model_->rowCount(); ++row)
        if (wanted.contains(model_->test(row).id)) {
            const QModelIndex at = proxy_->mapFromSource(model_->index(row, 0));
            selection.select(at, at);
        }
    table_->selectionModel()->select(selection, QItemSelectionModel::ClearAndSelect |
                                                    QItemSelectionModel::Rows);
    selectionDelay_->start();
}

void LibraryWindow::readSelectedCurves()
{
    QList<qint64> ids = selectedIds();
    if (ids.size() > kMaxOverlay) {
        showStatus(
            QStringLiteral("选中 %1 个测试，曲线只叠加前 %2 个。").arg(ids.size()).arg(kMaxOverlay),
            false);
        ids = ids.mid(0, kMaxOverlay);
    }
    ++curveGeneration_;
    if (ids.isEmpty()) {
        showCurves({curveGeneration_, {}});
        return;
    }
    store_.readCurves(ids, curveGeneration_);
}

void LibraryWindow::showCurves(const CurveBatch& batch)
{
    if (batch.generation != curveGeneration_) return;
    curves_ = batch.curves;
    // A cell tested twice is told apart by the tests' dates.
    QHash<QString, int> uses;
    for (const TestCurve& c : curves_)
        ++uses[c.cell];
    QStringList names;
    for (const TestCurve& c : curves_) {
        QString name = c.cell;
        if (uses.value(c.cell) > 1)
            for (const TestRecord& t : model_->tests())
                if (t.id == c.id) name += QStringLiteral(" (%1)").arg(dateText(t.startMsecs()));
        names << name;
    }
    capacity_->setCurves(curves_, names);
    showFigures();
    Q_EMIT curvesShown();
}

void LibraryWindow::showFigures()
{
    const std::vector<TestRecord> selected = selectedTests();
    const bool one =
        selected.size() == 1 && curves_.size() == 1 && curves_.front().id == selected.front().id;
    side_->setVisible(one);
    report_->setEnabled(one);
    if (!one) {
        figures_->clear();
        return;
    }
    const TestRecord& t = selected.front();
    const discharge::Summary& s = t.summary;
    const qint64 now = QDateTime::currentMSecsSinceEpoch();
    QString rows;
    rows += figureRow(QStringLiteral("电池"), t.header.cell.name);
    rows += figureRow(QStringLiteral("类型"), t.header.cell.type);
    rows += figureRow(QStringLiteral("额定容量"), ratedText(t.header.cell));
    rows += figureRow(QStringLiteral("容量"), capacityText(s.capacityAh));
    rows += figureRow(QStringLiteral("能量"), energyText(s.energyWh));
    rows += figureRow(QStringLiteral("时长"), durationText(s.durationSeconds));
    rows += figureRow(QStringLiteral("平均电压"), voltageText(s.averageVoltage));
    rows += figureRow(QStringLiteral("最低电压"), voltageText(s.lowestVoltage));
    rows += figureRow(QStringLiteral("内阻"), resistanceText(s));
    rows += figureRow(QStringLiteral("健康度"), sohText(t.stateOfHealth));
    rows += figureRow(QStringLiteral("等级"), gradeText(t.grade));
    rows += figureRow(QStringLiteral("开始"), dateText(t.startMsecs()));
    rows += figureRow(QStringLiteral("结束原因"), endText(t, now));
    rows += figureRow(QStringLiteral("工位"), stationText(t.header));
    rows += figureRow(QStringLiteral("预设"), presetsText(t.header.presets));
    rows += figureRow(QStringLiteral("标记"), flagsText(t, now));
    figures_->setText(QStringLiteral("<table>%1</table>").arg(rows));
}

QString LibraryWindow::figuresText() const
{
    QTextDocument doc;
    doc.setHtml(figures_->text());
    return doc.toPlainText();
}

void LibraryWindow::showFailure(const QString& message)
{
    failed_ = true;
    showStatus(message, true);
    Q_EMIT failureShown(message);
}

void LibraryWindow::showStatus(const QString& text, bool problem)
{
    status_->setText(text);
    status_->setStyleSheet(problem ? QStringLiteral("color: #b00000;") : QString());
}

QString LibraryWindow::statusText() const { return status_->text(); }

std::optional<QString> LibraryWindow::saveReport(const QString& path) const
{
    const std::vector<TestRecord> selected = selectedTests();
    if (selected.size() != 1 || curves_.size() != 1 || curves_.front().id != selected.front().id)
        return QStringLiteral("请先选中一个测试。");
    return writeReport(path, selected.front(), curves_.front(), model_->rules());
}

void LibraryWindow::chooseReportPath()
{
    const std::vector<TestRecord> selected = selectedTests();
    if (selected.size() != 1) return;
    const QString path = QFileDialog::getSaveFileName(
        this, QStringLiteral("导出 PDF 报告"), QDir::home().filePath(reportFileName(selected[0])),
        QStringLiteral("PDF (*.pdf)"));
    if (path.isEmpty()) return;
    if (auto error = saveReport(path))
        showStatus(*error, true);
    else
        showStatus(QStringLiteral("报告已保存：%1").arg(path), false);
}

std::vector<TestRecord> LibraryWindow::testsFor(PackSource source) const
{
    return source == PackSource::Selected ? selectedTests() : model_->tests();
}

LibraryWindow* openLibraryWindow(const QString& database, QWidget* near)
{
    auto* window = new LibraryWindow(database);
    window->setAttribute(Qt::WA_DeleteOnClose);
    window->setAttribute(Qt::WA_QuitOnClose, false); // the panel's window decides that
    if (near) {
        // Beside the window it was opened from, inside that window's screen.
        const QRect screen = near->screen()->availableGeometry();
        QPoint at = near->frameGeometry().topRight() + QPoint(8, 0);
        at.setX(std::min(at.x(), screen.right() - window->width()));
        at.setY(std::min(at.y(), screen.bottom() - window->height()));
        window->move(std::max(at.x(), screen.left()), std::max(at.y(), screen.top()));
    }
    window->show();
    window->raise();
    window->activateWindow();
    return window;
}

} // namespace eload::libraryview
