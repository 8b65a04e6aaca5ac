#include "recording/Recorder.h"

#include "app/Clock.h"
#include "app/Context.h"
#include "recording/XlsxSpreadsheet.h"
#include "ui/FormState.h"
#include "ui/Panel.h"
#include "ui/Texts.h"

#include <QDateTime>
#include <QDir>
#include <QFileInfo>

namespace eload {

namespace {

const QString kFlagOn = QStringLiteral("1");
const QString kFlagOff = QStringLiteral("0");
constexpr int kSyncMs = 1000;       // rows reach the disk within this
constexpr int kMaxNameTries = 100;  // BookName_2 ... BookName_100
constexpr int kStalePartSecs = 600; // a save takes about a second

QString failureAt(const QString& path, const QString& cause)
{
    return QDir::toNativeSeparators(path) + QLatin1Char('\n') + cause;
}

QString withRemedy(const RecordFailure& f, const QString& remedy)
{
    return f.detail + QLatin1Char('\n') + remedy;
}

std::optional<SheetError> writeHeader(Spreadsheet& sheet)
{
    for (int c = 1; c <= kColumns; ++c)
        if (auto e = sheet.setText(1, c, texts::kRecordHeader[c - 1])) return e;
    return std::nullopt;
}

std::optional<SheetError> writeRowCells(Spreadsheet& sheet, int r, const RecordRow& row)
{
    if (auto e = sheet.setNumber(r, 1, row.number)) return e;
    for (int i = 0; i < row.texts.size(); ++i)
        if (auto e = sheet.setText(r, i + 2, row.texts[i])) return e;
    return std::nullopt;
}

void clearStaleParts(const QString& folder)
{
    const QDateTime limit = QDateTime::currentDateTimeUtc().addSecs(-kStalePartSecs);
    const QFileInfoList parts = QDir(folder).entryInfoList({XlsxSpreadsheet::partFilePattern()},
                                                           QDir::Files | QDir::Hidden);
    for (const QFileInfo& part : parts)
        if (part.lastModified().toUTC() < limit) QFile::remove(part.filePath());
}

} // namespace

Recorder::Recorder(Context& ctx, RecorderOptions options) : ctx_(ctx), options_(std::move(options))
{
    if (!options_.makeSpreadsheet)
        options_.makeSpreadsheet = [](const QString& folder) {
            return std::make_unique<XlsxSpreadsheet>(folder);
        };
    syncTimer_.setSingleShot(true);
    syncTimer_.setInterval(kSyncMs);
    QObject::connect(&syncTimer_, &QTimer::timeout, &syncTimer_, [this] { syncJournal(); });
}

// An open journal is closed, not removed: the next start recovers it.
Recorder::~Recorder() = default;

QString Recorder::openBookName() const
{
    return journal_.isOpen() ? QDir(folder_).filePath(fileStem_) : QString();
}

bool Recorder::rowsSynced() const { return !journal_.hasUnsynced(); }

QString Recorder::recordingFolder() const
{
    return ctx_.state.AppFolder.isEmpty() ? options_.appFolder : ctx_.state.AppFolder;
}

QStringList Recorder::candidateFolders() const
{
    QStringList folders;
    for (const QString& f : {recordingFolder(), options_.documentsFolder})
        if (!f.isEmpty() && !folders.contains(QDir::cleanPath(f)))
            folders.append(QDir::cleanPath(f));
    return folders;
}

void Recorder::Command6_Click()
{
    Panel& panel = ctx_.panel;
    if (panel.text(Ctl::Command1) != texts::kClosePort) {
        panel.setText(Ctl::Command6, texts::kRecord);
        panel.showMessage(texts::kOpenPortFirst);
        return;
    }
    if (panel.text(Ctl::Command6) == texts::kRecord) {
        startRecording();
        return;
    }
    if (ctx_.state.RecordFlag == kFlagOn && saveOrHold()) {
        panel.setText(Ctl::Command6, texts::kRecord);
        ctx_.state.RecordFlag = kFlagOff;
    }
}

void Recorder::startRecording()
{
    // A recording whose save was put off (a click while the port was closed
    // reset the caption) is saved before its journal would be replaced.
    if (ctx_.state.RecordFlag == kFlagOn) {
        if (!saveOrHold()) return;
        ctx_.state.RecordFlag = kFlagOff;
    }
    ctx_.panel.setText(Ctl::Command6, texts::kRecording);
    if (const auto failure = StartRecordBook()) {
        endRecording();
        ctx_.panel.showMessage(texts::kRecordStartFailed, failure->detail);
        return;
    }
    ctx_.state.RecordFlag = kFlagOn;
}

// Saves; a failure leaves the recording waiting for "保 存" with every row.
bool Recorder::saveOrHold()
{
    const auto failure = SaveRecordBook();
    if (!failure) return true;
    ctx_.panel.setText(Ctl::Command6, texts::kSave);
    ctx_.panel.setEnabled(Ctl::Command6, true);
    ctx_.panel.showMessage(texts::kRecordSaveFailed, withRemedy(*failure, texts::kRecordRowsKept));
    return false;
}

void Recorder::endRecording()
{
    ctx_.panel.setText(Ctl::Command6, texts::kRecord);
    ctx_.panel.setEnabled(Ctl::Command6, true);
    ctx_.state.RecordFlag = kFlagOff;
}

std::optional<RecordFailure> Recorder::StartRecordBook()
{
    ctx_.state.NextRow = QString::number(kFirstDataRow);
    ctx_.panel.setEnabled(Ctl::Command6, false);
    ctx_.state.BookName = bookNameAt(ctx_.clock.now());
    // The journal's folder and name decide where the book is assembled.
    if (auto failure = openJournal()) return failure;
    startBook();
    return std::nullopt;
}

// Without a book the recording goes on: the save makes one from the journal.
void Recorder::startBook()
{
    book_ = options_.makeSpreadsheet(folder_);
    if (book_->newBook() || writeHeader(*book_)) dropBook();
}

void Recorder::dropBook()
{
    if (book_) book_->close();
    book_.reset();
}

std::optional<RecordFailure> Recorder::openJournal()
{
    QStringList failures;
    const QStringList folders = candidateFolders();
    for (const QString& folder : folders) {
        const auto cause = openJournalIn(folder);
        if (!cause) {
            if (folder != folders.first())
                ctx_.panel.setText(Ctl::Message_Show,
                                   texts::kRecordingInFolder.arg(QDir::toNativeSeparators(folder)));
            return std::nullopt;
        }
        failures.append(failureAt(folder, *cause));
    }
    if (failures.isEmpty()) failures.append(QStringLiteral("no folder for recordings"));
    return RecordFailure{failures.join(QLatin1Char('\n'))};
}

std::optional<QString> Recorder::openJournalIn(const QString& folder)
{
    const QDir dir(folder);
    if (folder == QDir::cleanPath(options_.documentsFolder) && !dir.exists())
        dir.mkpath(QStringLiteral("."));
    if (!dir.exists()) return QStringLiteral("folder does not exist");
    const QString extension = options_.makeSpreadsheet(folder)->extension();
    // Two recordings started within one second would share the name.
    for (int n = 1; n <= kMaxNameTries; ++n) {
        const QString stem =
            n == 1 ? ctx_.state.BookName : ctx_.state.BookName + QStringLiteral("_%1").arg(n);
        const QString journalPath = dir.filePath(RowJournal::fileNameFor(stem));
        if (QFileInfo::exists(dir.filePath(stem + extension)) || QFileInfo::exists(journalPath))
            continue;
        if (auto cause = journal_.create(journalPath)) return cause;
        folder_ = dir.path();
        fileStem_ = stem;
        return std::nullopt;
    }
    return QStringLiteral("every name for %1 is taken").arg(ctx_.state.BookName);
}

void Recorder::WriteRow()
{
    if (ctx_.panel.text(Ctl::Command6) != texts::kRecording || !journal_.isOpen()) return;
    const int r = ctx_.state.NextRow.toInt();
    appendRow(r, rowFromPanel(ctx_.panel, r - 1, ctx_.clock.now()));
    ctx_.state.NextRow = QString::number(r + 1);
    if (r + 1 == kRollOverRow) rollOver();
}

void Recorder::rollOver()
{
    if (!saveOrHold()) return;
    ctx_.panel.setText(Ctl::Command6, texts::kRecording);
    if (const auto failure = StartRecordBook()) {
        endRecording();
        ctx_.panel.showMessage(texts::kRecordStartFailed, failure->detail);
    }
}

void Recorder::appendRow(int r, const RecordRow& row)
{
    if (book_ && writeRowCells(*book_, r, row)) dropBook();
    noteJournalResult(journal_.append(row));
    if (!syncTimer_.isActive()) syncTimer_.start();
}

void Recorder::syncJournal()
{
    if (!journal_.isOpen()) return;
    noteJournalResult(journal_.sync());
    if (journal_.hasUnsynced()) syncTimer_.start();
}

// One box per spell of failures: at two rows a second it would never end.
void Recorder::noteJournalResult(const std::optional<QString>& failure)
{
    if (!failure) {
        writeFailureShown_ = false;
        return;
    }
    if (writeFailureShown_) return;
    writeFailureShown_ = true;
    ctx_.panel.showMessage(texts::kRecordWriteFailed, failureAt(journal_.path(), *failure) +
                                                          QLatin1Char('\n') +
                                                          texts::kRecordRowsHeld);
}

std::optional<RecordFailure> Recorder::SaveRecordBook()
{
    if (!journal_.isOpen()) return std::nullopt;
    syncTimer_.stop();
    const QString fullName = QDir(folder_).filePath(fileStem_);
    // A failed save uses up the book; the next one starts again from the journal.
    auto failure = book_ ? saveBook(*book_, fullName) : writeWorkbook(journal_, folder_, fullName);
    dropBook();
    if (failure) {
        syncTimer_.start();
        return failure;
    }
    journal_.remove();
    writeFailureShown_ = false;
    return std::nullopt;
}

std::optional<RecordFailure> Recorder::writeWorkbook(RowJournal& journal, const QString& folder,
                                                     const QString& fullName) const
{
    const std::unique_ptr<Spreadsheet> sheet = options_.makeSpreadsheet(folder);
    const QString target = fullName + sheet->extension();
    auto failed = [&](const QString& cause) {
        sheet->close();
        return RecordFailure{failureAt(target, cause)};
    };
    if (auto e = sheet->newBook()) return failed(e->message);
    if (auto e = writeHeader(*sheet)) return failed(e->message);
    int r = kFirstDataRow;
    const auto readFailure = journal.readRows([&](const RecordRow& row) -> std::optional<QString> {
        if (auto e = writeRowCells(*sheet, r++, row)) return e->message;
        return std::nullopt;
    });
    if (readFailure) return failed(*readFailure);
    return saveBook(*sheet, fullName);
}

std::optional<RecordFailure> Recorder::saveBook(Spreadsheet& book, const QString& fullName) const
{
    const auto e = book.saveAs(fullName);
    book.close();
    if (e) return RecordFailure{failureAt(fullName + book.extension(), e->message)};
    return std::nullopt;
}

void Recorder::saveAtShutdown()
{
    if (ctx_.state.RecordFlag != kFlagOn) return;
    if (const auto failure = SaveRecordBook()) {
        journal_.close(); // stays on disk for the next start
        ctx_.panel.showMessage(texts::kRecordSaveFailed,
                               withRemedy(*failure, texts::kRecordRowsKeptForStart));
    }
}

void Recorder::recoverUnfinished()
{
    QStringList recovered;
    QStringList failures;
    for (const QString& folder : candidateFolders())
        recoverFolder(folder, recovered, failures);
    if (!recovered.isEmpty())
        ctx_.panel.setText(Ctl::Message_Show,
                           texts::kRecordsRecovered.arg(recovered.join(QStringLiteral("、"))));
    if (!failures.isEmpty())
        ctx_.panel.showMessage(texts::kRecordSaveFailed, failures.join(QLatin1Char('\n')) +
                                                             QLatin1Char('\n') +
                                                             texts::kRecordRowsKeptForStart);
}

void Recorder::recoverFolder(const QString& folder, QStringList& recovered, QStringList& failures)
{
    const QDir dir(folder);
    clearStaleParts(folder);
    const QStringList names =
        dir.entryList({RowJournal::filePattern()}, QDir::Files | QDir::Hidden);
    for (const QString& name : names) {
        RowJournal journal;
        if (journal.adopt(dir.filePath(name))) continue; // a live recording of another instance
        const QString stem = RowJournal::stemOf(name);
        if (auto failure = writeWorkbook(journal, folder, dir.filePath(stem))) {
            failures.append(failure->detail);
            continue;
        }
        journal.remove();
        recovered.append(stem);
    }
}

} // namespace eload
