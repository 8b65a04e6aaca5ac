#pragma once
// The record / save button and the row writer: the window's side of a
// recording of polled rows into workbooks (see WorkbookRecording.h for the
// recording itself). Here: the captions, the message boxes, RecordFlag,
// NextRow and BookName, and the choice of folder: beside the program when its
// folder is the user's own, else the documents folder.

#include "modbus/RowWriter.h"
#include "recording/WorkbookRecording.h"

#include <QString>
#include <optional>

namespace eload {

struct Context;
class Panel;

struct RecorderOptions {
    QString appFolder;                  // the executable's folder, until start-up sets AppFolder
    QString documentsFolder;            // recordings go here when that folder is not writable
    SpreadsheetFactory makeSpreadsheet; // empty: libxlsxwriter
};

// The box's detail: the file concerned and the system's cause, one per line.
using RecordFailure = RecordingError;

// The row as the window shows it now.
RecordRow rowFromPanel(const Panel& panel, int number, const QDateTime& t);

// The folders a recording may go to, in the order tried: the program's folder
// when it may hold the user's files (see ProgramFolder.h), then the documents.
QStringList recordingFolders(const QString& appFolder, const QString& documentsFolder);
// Why a workbook is not beside the program, as the boxes say it.
QString whyNotBesideProgram(const QString& appFolder);

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

    // Shutdown: saves an open recording (RecordFlag "1"); a workbook that went
    // to the documents folder is named in a box (on stderr when no one is left
    // to answer it).
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
    void clickCommand6();
    void startRecording();
    bool saveOrHold();
    void holdForSave(const RecordFailure& failure);
    void endRecording(const RecordFailure& failure);
    void bookStarted(const QString& path);
    void bookSaved(const QString& path);
    void writeFailed(const RecordingError& error);
    void tellSavedOutside(const QString& text);
    bool besideProgram(const QString& path) const;

    Context& ctx_;
    RecorderOptions options_;
    WorkbookRecording recording_;
    QStringList savedOutside_; // saved by the step under way, told at its end
};

} // namespace eload
