#include "recording/WorkbookRecording.h"

#include "core/Texts.h"
#include "recording/XlsxSpreadsheet.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <filesystem>
#include <system_error>

namespace eload {

namespace {

constexpr int kSyncMs = 1000;       // rows reach the disk within this
constexpr int kMaxNameTries = 100;  // BookName_2 ... BookName_100
constexpr int kStalePartSecs = 600; // a save takes about a second
const QString kXlsx = QStringLiteral(".xlsx");

QString failureAt(const QString& path, const QString& cause)
{
    return QDir::toNativeSeparators(path) + QLatin1Char('\n') + cause;
}

SpreadsheetFactory orXlsx(SpreadsheetFactory make)
{
    if (make) return make;
    return [](const QString& folder) { return std::make_unique<XlsxSpreadsheet>(folder); };
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

std::optional<RecordingError> saveBook(Spreadsheet& book, const QString& fullName)
{
    const auto e = book.saveAs(fullName);
    book.close();
    if (e) return RecordingError{failureAt(fullName + book.extension(), e->message)};
    return std::nullopt;
}

// A book made from the rows of a journal, as a failed save or a crash left them.
std::optional<RecordingError> writeWorkbook(const SpreadsheetFactory& make, RowJournal& journal,
                                            const QString& folder, const QString& fullName)
{
    const std::unique_ptr<Spreadsheet> sheet = make(folder);
    const QString target = fullName + sheet->extension();
    auto failed = [&](const QString& cause) {
        sheet->close();
        return RecordingError{failureAt(target, cause)};
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

// The system's cause when the folder cannot be made (a file in the way, no
// rights), not the "does not exist" that would follow it.
std::optional<QString> makeFolder(const QString& folder)
{
    std::error_code error;
    std::filesystem::create_directories(QFile::encodeName(folder).toStdString(), error);
    if (error) return QString::fromLocal8Bit(error.message());
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

QStringList cleanFolders(const QStringList& folders)
{
    QStringList clean;
    for (const QString& f : folders)
        if (!f.isEmpty() && !clean.contains(QDir::cleanPath(f))) clean.append(QDir::cleanPath(f));
    return clean;
}

} // namespace

BookPlace clockNamedBooks(const QStringList& folders, const QString& madeFolder,
                          std::function<QDateTime()> now)
{
    return {cleanFolders(folders),
            madeFolder.isEmpty() ? QString() : QDir::cleanPath(madeFolder),
            {},
            std::move(now)};
}

BookPlace fileBooks(const QString& path)
{
    const QFileInfo file(path);
    if (file.isDir() || file.fileName().isEmpty()) return clockNamedBooks({path}, {});
    QString stem = file.fileName();
    if (stem.endsWith(kXlsx, Qt::CaseInsensitive)) stem.chop(kXlsx.size());
    return {{QDir::cleanPath(file.absolutePath())}, {}, stem, {}};
}

WorkbookRecording::WorkbookRecording(SpreadsheetFactory makeSpreadsheet)
    : makeSpreadsheet_(orXlsx(std::move(makeSpreadsheet)))
{
    syncTimer_.setSingleShot(true);
    syncTimer_.setInterval(kSyncMs);
    connect(&syncTimer_, &QTimer::timeout, this, &WorkbookRecording::syncJournal);
}

WorkbookRecording::~WorkbookRecording() { dropSpreadsheet(); }

QString WorkbookRecording::bookPath() const
{
    return isOpen() ? QDir(folder_).filePath(fileStem_ + extension_) : QString();
}

std::optional<RecordingError> WorkbookRecording::start(BookPlace place)
{
    if (isOpen()) return RecordingError{failureAt(bookPath(), QStringLiteral("still recording"))};
    place_ = std::move(place);
    held_ = false;
    return startBook(1);
}

// The journal's folder and name decide where the book is assembled. Without a
// spreadsheet the recording goes on: the save makes the book from the journal.
std::optional<RecordingError> WorkbookRecording::startBook(int firstNumber)
{
    nextRow_ = kFirstDataRow;
    const bool clockNamed = place_.fileStem.isEmpty();
    const QDateTime now = place_.now ? place_.now() : QDateTime::currentDateTime();
    const QString base = clockNamed ? bookNameAt(now) : place_.fileStem;
    QStringList failures;
    for (const QString& folder : place_.folders) {
        const auto cause = openJournalIn(folder, base, clockNamed ? 1 : firstNumber);
        if (!cause) {
            startSpreadsheet();
            Q_EMIT bookStarted(bookPath());
            return std::nullopt;
        }
        failures.append(failureAt(folder, *cause));
    }
    if (failures.isEmpty()) failures.append(QStringLiteral("no folder for recordings"));
    return RecordingError{failures.join(QLatin1Char('\n'))};
}

QString WorkbookRecording::stemFor(const QString& base, int number) const
{
    return number == 1 ? base : base + QStringLiteral("_%1").arg(number);
}

// Clock names: two recordings started within one second would share the name,
// so _2 ... are tried. A caller's file: its own name only, or after a
// roll-over the numbers following the last book's.
std::optional<QString> WorkbookRecording::openJournalIn(const QString& folder, const QString& base,
                                                        int firstNumber)
{
    const QDir dir(folder);
    if (folder == place_.madeFolder && !dir.exists())
        if (auto cause = makeFolder(folder)) return cause;
    if (!dir.exists()) return QStringLiteral("folder does not exist");
    const bool clockNamed = place_.fileStem.isEmpty();
    const int last = clockNamed || firstNumber > 1 ? firstNumber + kMaxNameTries - 1 : 1;
    const QString extension = makeSpreadsheet_(folder)->extension();
    QString taken;
    for (int n = firstNumber; n <= last; ++n) {
        const QString stem = stemFor(base, n);
        const QString journalName = RowJournal::fileNameFor(stem);
        taken = QFileInfo::exists(dir.filePath(stem + extension)) ? stem + extension
                : QFileInfo::exists(dir.filePath(journalName))    ? journalName
                                                                  : QString();
        if (!taken.isEmpty()) continue;
        if (auto cause = journal_.create(dir.filePath(journalName))) return cause;
        folder_ = dir.path();
        fileStem_ = stem;
        extension_ = extension;
        bookNumber_ = n;
        return std::nullopt;
    }
    if (last == firstNumber) return QStringLiteral("%1 exists already").arg(taken);
    return QStringLiteral("every name for %1 is taken").arg(stemFor(base, firstNumber));
}

void WorkbookRecording::startSpreadsheet()
{
    book_ = makeSpreadsheet_(folder_);
    if (book_->newBook() || writeHeader(*book_)) dropSpreadsheet();
}

void WorkbookRecording::dropSpreadsheet()
{
    if (book_) book_->close();
    book_.reset();
}

std::optional<RecordingError> WorkbookRecording::append(RecordRow row)
{
    if (held_)
        if (auto e = rollOver()) return e;
    if (!isOpen()) return RecordingError{QStringLiteral("no recording open")};
    row.number = nextRow_ - 1;
    if (book_ && writeRowCells(*book_, nextRow_, row)) dropSpreadsheet();
    const QString journalPath = journal_.path();
    const auto journalFailure = journal_.append(row);
    if (!syncTimer_.isActive()) syncTimer_.start();
    std::optional<RecordingError> rolled;
    if (++nextRow_ == kRollOverRow) rolled = rollOver();
    // Last, and only while the row is not saved: a listener's box may run an
    // event loop that appends the next rows.
    if (journal_.path() == journalPath) noteJournalResult(journalFailure);
    return rolled;
}

// The full book saved, the next one started at once.
std::optional<RecordingError> WorkbookRecording::rollOver()
{
    const int lastNumber = bookNumber_;
    if (auto e = save()) {
        held_ = true;
        return e;
    }
    return startBook(lastNumber + 1);
}

std::optional<RecordingError> WorkbookRecording::save()
{
    if (!isOpen()) return std::nullopt;
    syncTimer_.stop();
    const QString fullName = QDir(folder_).filePath(fileStem_);
    const QString path = bookPath();
    // A failed save uses up the book; the next one starts again from the journal.
    auto failure = book_ ? saveBook(*book_, fullName)
                         : writeWorkbook(makeSpreadsheet_, journal_, folder_, fullName);
    dropSpreadsheet();
    if (failure) {
        syncTimer_.start();
        return failure;
    }
    journal_.remove();
    held_ = false;
    writeFailureTold_ = false;
    Q_EMIT bookSaved(path);
    return std::nullopt;
}

void WorkbookRecording::close()
{
    syncTimer_.stop();
    dropSpreadsheet();
    journal_.close();
    held_ = false;
}

void WorkbookRecording::syncJournal()
{
    if (!isOpen()) return;
    noteJournalResult(journal_.sync());
    if (journal_.hasUnsynced()) syncTimer_.start();
}

// At two rows a second a report per row would never end.
void WorkbookRecording::noteJournalResult(const std::optional<QString>& failure)
{
    if (!failure) {
        writeFailureTold_ = false;
        return;
    }
    if (writeFailureTold_) return;
    writeFailureTold_ = true;
    Q_EMIT writeFailed(RecordingError{failureAt(journal_.path(), *failure)});
}

Recovery WorkbookRecording::recoverFolder(const QString& folder, SpreadsheetFactory makeSpreadsheet)
{
    const SpreadsheetFactory make = orXlsx(std::move(makeSpreadsheet));
    Recovery done;
    const QDir dir(folder);
    clearStaleParts(folder);
    const QStringList names =
        dir.entryList({RowJournal::filePattern()}, QDir::Files | QDir::Hidden);
    for (const QString& name : names) {
        RowJournal journal;
        if (journal.adopt(dir.filePath(name))) continue; // a live recording of another instance
        const QString fullName = dir.filePath(RowJournal::stemOf(name));
        if (auto failure = writeWorkbook(make, journal, folder, fullName)) {
            done.failures.append(failure->message);
            continue;
        }
        journal.remove();
        done.books.append(fullName + make(folder)->extension());
    }
    return done;
}

} // namespace eload
