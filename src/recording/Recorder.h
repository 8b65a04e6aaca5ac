#pragma once
// The record / save button and the row writer: the recording of polled rows
// into workbooks beside the program.
//
// An open recording is two things: the workbook being filled row by row (a
// Spreadsheet in constant-memory mode, so that the save only has to pack it),
// and a row journal on disk (see RowJournal.h) that holds the same rows and
// outlives a crash. A save that fails keeps the journal, so the recording
// stays open and the next save makes the workbook from it; a journal left
// behind by a crash becomes its workbook at the next start (recoverUnfinished).

#include "modbus/RowWriter.h"
#include "recording/RowJournal.h"
#include "recording/Spreadsheet.h"

#include <QString>
#include <QTimer>
#include <optional>

namespace eload {

struct Context;

struct RecorderOptions {
    QString appFolder;                  // the executable's folder, until start-up sets AppFolder
    QString documentsFolder;            // recordings go here when that folder is not writable
    SpreadsheetFactory makeSpreadsheet; // empty: libxlsxwriter
};

// The box's detail: the file concerned and the system's cause, one per line.
struct RecordFailure {
    QString detail;
};

class Recorder final : public RowWriter {
public:
    Recorder(Context& ctx, RecorderOptions options);
    ~Recorder() override;

    void Command6_Click();

    // Starts a workbook: NextRow "2", Command6 disabled, BookName from the clock,
    // the journal created (in the documents folder when AppFolder refuses it),
    // a new book with the header row.
    std::optional<RecordFailure> StartRecordBook();
    // Saves the open workbook under its folder and name and closes it. On
    // failure nothing is lost: the recording stays open with every row.
    std::optional<RecordFailure> SaveRecordBook();
    // One row from the window while Command6 reads "记录中"; rolls over after
    // a full workbook.
    void WriteRow() override;

    // Shutdown: saves an open recording (RecordFlag "1").
    void saveAtShutdown();
    // Start-up, after Form_Load: saves the recordings a crash left unfinished.
    void recoverUnfinished();

    // Full name, without extension, of the open workbook; empty when none is open.
    QString openBookName() const;
    // Every row recorded so far has been forced to the disk (within a second of each row).
    bool rowsSynced() const;

private:
    QString recordingFolder() const;
    QStringList candidateFolders() const;
    std::optional<QString> openJournalIn(const QString& folder);
    std::optional<RecordFailure> openJournal();
    void startRecording();
    bool saveOrHold();
    void endRecording();
    void rollOver();
    void startBook();
    void dropBook();
    void appendRow(int r, const RecordRow& row);
    void syncJournal();
    void noteJournalResult(const std::optional<QString>& failure);
    std::optional<RecordFailure> saveBook(Spreadsheet& book, const QString& fullName) const;
    std::optional<RecordFailure> writeWorkbook(RowJournal& journal, const QString& folder,
                                               const QString& fullName) const;
    void recoverFolder(const QString& folder, QStringList& recovered, QStringList& failures);

    Context& ctx_;
    RecorderOptions options_;
    RowJournal journal_;
    // RecordApp, RecordBook and RecordSheet in one; dropped when a step fails,
    // as the journal still has every row.
    std::unique_ptr<Spreadsheet> book_;
    QString folder_;   // where the open workbook goes
    QString fileStem_; // BookName, or BookName_2 ... when that name is taken
    QTimer syncTimer_;
    bool writeFailureShown_ = false;
};

} // namespace eload
