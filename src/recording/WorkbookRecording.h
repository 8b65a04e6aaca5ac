#pragma once
// A recording of rows into workbooks of the panel's layout, with no window:
// what the panel's record button and `eload-cli watch --xlsx` share.
//
// An open recording is two things: the workbook being filled row by row (a
// Spreadsheet in constant-memory mode, so that the save only has to pack it),
// and a row journal on disk (see RowJournal.h) that holds the same rows and
// outlives a crash; each row is forced to the disk within a second. A save
// that fails keeps the journal, so the recording stays open and the next save
// makes the workbook from it; a journal left behind by a crash becomes its
// workbook with recoverFolder.
//
// A book holds kRowsPerBook rows: the append that fills it saves it and starts
// the next one at once (roll-over), named by the book's place.

#include "recording/RecordLayout.h"
#include "recording/RowJournal.h"
#include "recording/Spreadsheet.h"

#include <QObject>
#include <QString>
#include <QStringList>
#include <QTimer>
#include <functional>
#include <memory>
#include <optional>

namespace eload {

// The file concerned and the system's cause, one per line.
struct RecordingError {
    QString message;
};

// Where the books of a recording go and what they are called. Made by one of
// the two functions below.
struct BookPlace {
    // Tried in order at each book's start; the first that takes the journal
    // holds the book.
    QStringList folders;
    // One of `folders` that is made when missing (the user's documents).
    QString madeFolder;
    // The first book's stem; empty: named by `now` at each book's start.
    QString fileStem;
    std::function<QDateTime()> now;
};

// The panel's books: each named by the clock when it starts
// (2026-03-05_14时07分09秒.xlsx; _2 ... _100 added when that name is taken).
// `now` empty: the system's clock.
BookPlace clockNamedBooks(const QStringList& folders, const QString& madeFolder,
                          std::function<QDateTime()> now = {});
// A caller's file (eload-cli's --xlsx FILE): the first book is `path` (".xlsx"
// added when it has no such extension) and is refused when it or its journal
// exists already; the books after a roll-over are FILE_2.xlsx, FILE_3.xlsx ...
// beside it, a taken name skipped. Its folder must exist. A path that names
// a folder: clock-named books in it, as the panel's.
BookPlace fileBooks(const QString& path);

// What recoverFolder did.
struct Recovery {
    QStringList books;    // full paths of the workbooks made from leftover journals
    QStringList failures; // one RecordingError message per journal left for a later try
};

class WorkbookRecording : public QObject {
    Q_OBJECT
public:
    // `makeSpreadsheet` empty: libxlsxwriter.
    explicit WorkbookRecording(SpreadsheetFactory makeSpreadsheet = {});
    // An open journal is closed, not removed: recoverFolder makes its book later.
    ~WorkbookRecording() override;

    // Starts the first book in `place`: the journal created, a book with the
    // header row. Refused while a recording is open.
    std::optional<RecordingError> start(BookPlace place);
    // Takes one row into the open book. The number is the recording's own
    // (1 ... kRowsPerBook in each book): the one in `row` is replaced. The row
    // that fills a book saves it and starts the next. An error here is the
    // roll-over's: either the full book could not be saved (isHeld(): its rows
    // are kept; save() or the next append tries again, and until then rows are
    // refused), or it was saved but the next book could not start (!isOpen():
    // the recording has ended). Journal trouble is no error here: the row is
    // held in memory and writeFailed tells.
    std::optional<RecordingError> append(RecordRow row);
    // Saves the open book under its name (temporary name, then rename) and
    // ends the recording. On failure nothing is lost: the recording stays open
    // with every row, and the next save makes the book from the journal.
    // Nothing to do (no recording): no error.
    std::optional<RecordingError> save();
    // Ends the recording unsaved; its journal stays on disk for recoverFolder.
    void close();

    bool isOpen() const { return journal_.isOpen(); }
    // A full book waits to be saved; no row is taken until it is.
    bool isHeld() const { return held_; }
    // Worksheet row of the next append: 2 after a start, up to 65534.
    int nextRow() const { return nextRow_; }
    // Full path, with extension, of the open book; empty when none is open.
    QString bookPath() const;
    // Every row taken so far has been forced to the disk.
    bool rowsSynced() const { return !journal_.hasUnsynced(); }

    // Makes the workbooks of the journals a crash left in `folder` (their live
    // ones, locked by a running recording, are left alone) and removes the
    // part files of interrupted saves.
    static Recovery recoverFolder(const QString& folder, SpreadsheetFactory makeSpreadsheet = {});

    // Signals come synchronously, inside the step that caused them. bookStarted
    // and bookSaved may come in the middle of an append's roll-over: their
    // listeners must not run an event loop (defer a message box); writeFailed
    // comes last in its step.
Q_SIGNALS:
    // A book's journal is open in `path`'s folder (at start and at each roll-over).
    void bookStarted(const QString& path);
    // A book was saved complete as `path`.
    void bookSaved(const QString& path);
    // The journal refused a write or sync: rows are held in memory. Once per
    // spell of failures, which ends at the next write that succeeds.
    void writeFailed(const RecordingError& error);

private:
    std::optional<RecordingError> startBook(int firstNumber);
    std::optional<QString> openJournalIn(const QString& folder, const QString& base,
                                         int firstNumber);
    QString stemFor(const QString& base, int number) const;
    void startSpreadsheet();
    void dropSpreadsheet();
    std::optional<RecordingError> rollOver();
    void syncJournal();
    void noteJournalResult(const std::optional<QString>& failure);

    SpreadsheetFactory makeSpreadsheet_;
    BookPlace place_;
    RowJournal journal_;
    // Dropped when a step fails, as the journal still has every row.
    std::unique_ptr<Spreadsheet> book_;
    QString folder_;   // where the open book goes
    QString fileStem_; // its name without extension
    QString extension_;
    int bookNumber_ = 0; // 1 for a recording's first book, then its _N
    int nextRow_ = kFirstDataRow;
    bool held_ = false;
    bool writeFailureTold_ = false;
    QTimer syncTimer_;
};

} // namespace eload
