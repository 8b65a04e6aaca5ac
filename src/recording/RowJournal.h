#pragma once
// The rows of an open recording, kept on disk as they come: a hidden text file
// beside the workbook-to-be, one checked line per row, appended at once. It is
// what a spreadsheet application would hold in memory, except that it outlives
// a crash; the workbook is made from it when saved and it is removed after.
//
// The open journal is locked, so that a second instance starting in the same
// folder does not take a live recording for an unfinished one.

#include "recording/RecordLayout.h"

#include <QByteArray>
#include <QString>
#include <functional>
#include <optional>

namespace eload {

class RowJournal {
public:
    RowJournal() = default;
    ~RowJournal();
    RowJournal(const RowJournal&) = delete;
    RowJournal& operator=(const RowJournal&) = delete;

    static QString fileNameFor(const QString& stem); // ".<stem>.rows"
    static QString stemOf(const QString& fileName);
    static QString filePattern();

    // Errors are the system's cause of the failing step.
    // A new journal; refused when the file exists already.
    std::optional<QString> create(const QString& path);
    // A journal left behind by an earlier run; refused while another holds it.
    std::optional<QString> adopt(const QString& path);

    bool isOpen() const { return fd_ >= 0; }
    QString path() const { return path_; }

    // The row goes to the system at once. What it refuses (a full disk) is
    // held and written ahead of the next row or sync.
    std::optional<QString> append(const RecordRow& row);
    bool hasUnsynced() const { return unsynced_ || !held_.isEmpty(); }
    // Writes what is held, then forces it to the disk.
    std::optional<QString> sync();

    // Complete rows from the start; a torn or damaged line ends the rows, as
    // it can only be the last one a crash cut short. `take` may stop the
    // reading by returning an error, which is passed on.
    std::optional<QString>
    readRows(const std::function<std::optional<QString>(const RecordRow&)>& take);

    // The file stays, for a later start to recover.
    void close();
    // After a successful save.
    void remove();

private:
    std::optional<QString> openLocked(const QString& path, int flags);
    std::optional<QString> writeHeld();

    int fd_ = -1;
    QString path_;
    QByteArray held_;
    bool unsynced_ = false;
};

// One row as one journal line and back; exposed for the tests.
QByteArray journalLine(const RecordRow& row);
std::optional<RecordRow> parseJournalLine(QByteArray line);

} // namespace eload
