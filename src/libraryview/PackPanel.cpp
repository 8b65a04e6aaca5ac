#include "libraryview/PackPanel.h"

#include "libraryview/TestTexts.h"

#include <QButtonGroup>
#include <QCheckBox>
#include <QFileDialog>
#include <QFormLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QPushButton>
#include <QRadioButton>
#include <QSaveFile>
#include <QSpinBox>
#include <QTableWidget>
#include <QVBoxLayout>
#include <QtConcurrent>

namespace eload::libraryview {

namespace {

constexpr int kMaxShape = 200;

QSpinBox* shapeBox(const QString& name, int value)
{
    auto* box = new QSpinBox;
    box->setRange(1, kMaxShape);
    box->setValue(value);
    box->setAccessibleName(name);
    return box;
}

QString resistanceOf(const std::optional<double>& milliohm)
{
    return milliohm ? QString::number(*milliohm, 'f', 1) + QStringLiteral("mΩ") : kNone;
}

} // namespace

PackPanel::PackPanel(Tests tests, QWidget* parent)
    : QWidget(parent), tests_(std::move(tests)), series_(shapeBox(QStringLiteral("串联数"), 4)),
      parallel_(shapeBox(QStringLiteral("并联数"), 2)),
      fromSelected_(new QRadioButton(QStringLiteral("选中的测试"))),
      fromGraded_(new QRadioButton(QStringLiteral("已分级的测试（不含不合格）"))),
      balance_(new QCheckBox(QStringLiteral("同时均衡内阻"))),
      matchButton_(new QPushButton(QStringLiteral("配 组"))),
      exportButton_(new QPushButton(QStringLiteral("导出 CSV"))), status_(new QLabel),
      spread_(new QLabel), leftOver_(new QLabel), table_(new QTableWidget(0, 4))
{
    fromSelected_->setChecked(true);
    auto* sources = new QButtonGroup(this);
    sources->addButton(fromSelected_);
    sources->addButton(fromGraded_);
    auto* form = new QFormLayout;
    form->addRow(QStringLiteral("串联 S"), series_);
    form->addRow(QStringLiteral("并联 P"), parallel_);
    auto* sourceBox = new QGroupBox(QStringLiteral("电池来自"));
    auto* sourceLayout = new QVBoxLayout(sourceBox);
    sourceLayout->addWidget(fromSelected_);
    sourceLayout->addWidget(fromGraded_);
    auto* controls = new QHBoxLayout;
    controls->addLayout(form);
    controls->addWidget(sourceBox);
    controls->addWidget(balance_);
    controls->addStretch();
    controls->addWidget(matchButton_);
    controls->addWidget(exportButton_);
    exportButton_->setEnabled(false);

    table_->setHorizontalHeaderLabels({QStringLiteral("组"), QStringLiteral("电池"),
                                       QStringLiteral("组容量"), QStringLiteral("组内阻")});
    table_->horizontalHeader()->setSectionResizeMode(1, QHeaderView::Stretch);
    table_->verticalHeader()->hide();
    table_->setEditTriggers(QAbstractItemView::NoEditTriggers);
    table_->setAccessibleName(QStringLiteral("配组结果"));
    for (QLabel* l : {status_, spread_, leftOver_}) {
        l->setWordWrap(true);
        l->setTextInteractionFlags(Qt::TextSelectableByMouse);
    }
    auto* layout = new QVBoxLayout(this);
    layout->addLayout(controls);
    layout->addWidget(status_);
    layout->addWidget(table_, 1);
    layout->addWidget(spread_);
    layout->addWidget(leftOver_);

    connect(matchButton_, &QPushButton::clicked, this, &PackPanel::match);
    connect(exportButton_, &QPushButton::clicked, this, &PackPanel::chooseCsvPath);
    connect(&watcher_, &QFutureWatcher<pack::PackResult>::finished, this, &PackPanel::showResult);
}

PackPanel::~PackPanel()
{
    // The search is bounded by counts: waiting for it ends.
    watcher_.waitForFinished();
}

void PackPanel::setShape(int series, int parallel)
{
    series_->setValue(series);
    parallel_->setValue(parallel);
}

void PackPanel::setSource(PackSource source)
{
    (source == PackSource::Selected ? fromSelected_ : fromGraded_)->setChecked(true);
}

void PackPanel::setBalanceResistance(bool balance) { balance_->setChecked(balance); }

bool PackPanel::busy() const { return watcher_.isRunning(); }

QString PackPanel::statusText() const { return status_->text(); }

void PackPanel::match()
{
    if (busy()) return;
    const PackSource source =
        fromSelected_->isChecked() ? PackSource::Selected : PackSource::Graded;
    input_ = packInputOf(tests_(source), source);
    pack_.reset();
    table_->setRowCount(0);
    spread_->clear();
    leftOver_->clear();
    exportButton_->setEnabled(false);
    pack::Options& options = options_;
    options = {};
    options.series = series_->value();
    options.parallel = parallel_->value();
    options.balanceResistance = balance_->isChecked();
    const int needed = options.series * options.parallel;
    if (int(input_.cells.size()) < needed) {
        showError(QStringLiteral("需要 %1 节电池（%2S%3P），%4只有 %5 节。")
                      .arg(needed)
                      .arg(options.series)
                      .arg(options.parallel)
                      .arg(source == PackSource::Selected ? QStringLiteral("选中的测试")
                                                          : QStringLiteral("已分级的测试"))
                      .arg(input_.cells.size()));
        return;
    }
    status_->setText(QStringLiteral("正在配组 %1 节电池……").arg(input_.cells.size()));
    matchButton_->setEnabled(false);
    watcher_.setFuture(QtConcurrent::run(
        [cells = input_.cells, options] { return pack::matchPack(cells, options); }));
}

void PackPanel::showError(const QString& message)
{
    status_->setText(message);
    status_->setStyleSheet(QStringLiteral("color: #b00000;"));
}

void PackPanel::showResult()
{
    matchButton_->setEnabled(true);
    const pack::PackResult result = watcher_.result();
    if (auto* error = std::get_if<pack::PackError>(&result)) {
        showError(packErrorText(*error));
        Q_EMIT matched();
        return;
    }
    pack_ = std::get<pack::Pack>(result);
    status_->setStyleSheet({});
    status_->setText(QStringLiteral("%1S%2P，共 %3 节电池参与配组。")
                         .arg(options_.series)
                         .arg(options_.parallel)
                         .arg(input_.cells.size()));
    showGroups(*pack_);
    QString spread = QStringLiteral("组容量极差 %1（%2%）；%3。")
                         .arg(capacityText(pack_->spreadAh))
                         .arg(QString::number(pack_->spreadPercent, 'f', 2))
                         .arg(proofText(*pack_));
    if (pack_->resistanceSpreadMilliohm)
        spread += QStringLiteral("组内阻极差 %1（%2%）。")
                      .arg(resistanceOf(pack_->resistanceSpreadMilliohm))
                      .arg(QString::number(pack_->resistanceSpreadPercent.value_or(0), 'f', 1));
    spread_->setText(spread);
    QStringList left;
    for (int i : pack_->leftOver)
        left << QString::fromStdString(input_.cells[std::size_t(i)].id);
    leftOver_->setText(left.isEmpty() ? QStringLiteral("没有剩余电池。")
                                      : QStringLiteral("剩余 %1 节：%2")
                                            .arg(left.size())
                                            .arg(left.join(QStringLiteral("、"))));
    exportButton_->setEnabled(true);
    Q_EMIT matched();
}

void PackPanel::showGroups(const pack::Pack& pack)
{
    table_->setRowCount(int(pack.groups.size()));
    for (std::size_t g = 0; g < pack.groups.size(); ++g) {
        const pack::Group& group = pack.groups[g];
        QStringList cells;
        for (int i : group.cells)
            cells << QString::fromStdString(input_.cells[std::size_t(i)].id);
        const QStringList row = {QString::number(g + 1), cells.join(QStringLiteral("、")),
                                 capacityText(group.capacityAh),
                                 resistanceOf(group.resistanceMilliohm)};
        for (int c = 0; c < row.size(); ++c)
            table_->setItem(int(g), c, new QTableWidgetItem(row[c]));
    }
    table_->resizeColumnToContents(0);
}

std::optional<QString> PackPanel::exportCsv(const QString& path) const
{
    if (!pack_) return QStringLiteral("还没有配组结果。");
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write(packCsv(*pack_, input_).toUtf8()) < 0 ||
        !file.commit())
        return QStringLiteral("无法保存 %1：%2").arg(path, file.errorString());
    return std::nullopt;
}

void PackPanel::chooseCsvPath()
{
    const QString path = QFileDialog::getSaveFileName(
        this, QStringLiteral("导出配组 CSV"),
        QStringLiteral("pack-%1S%2P.csv").arg(options_.series).arg(options_.parallel),
        QStringLiteral("CSV (*.csv)"));
    if (path.isEmpty()) return;
    if (auto error = exportCsv(path))
        showError(*error);
    else
        status_->setText(QStringLiteral("已导出 %1").arg(path));
}

} // namespace eload::libraryview
