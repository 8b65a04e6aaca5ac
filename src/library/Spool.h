#pragma once
// The writer's spool: what did not reach the database, kept on the local
// disk until it does. A writer appends records to a file of its own
// (<folder>/<session>.spool), each framed with its length and a CRC and
// forced to the disk, and holds a lock on it while it lives. An append that
// fails (a full disk) is cut off again, so a file holds only whole records
// but for a crash in the middle of one, which ends the file where it began.
//
// Replay stores a file's records in one transaction. It is safe to repeat:
// a test is found by its UUID, samples already stored are skipped, and
// figures never replace those of more samples or of a finished test. A file
// that no living writer holds (its writer crashed or could not reach the
// database before it ended) is replayed by the next writer for the same
// database, or by `eload-cli tests sync`, and then removed.

#include "library/Store.h"

#include <QUuid>
#include <vector>

namespace eload::library {

struct SpoolRecord {
    enum class Kind : quint8 { Header = 1, Samples = 2, Figures = 3, Cell = 4 };
    Kind kind = Kind::Header;
    QUuid test;
    TestHeader header;           // Header
    qint64 firstIndex = 0;       // Samples: the index of the first one in the test
    std::vector<Sample> samples; // Samples
    discharge::Summary summary;  // Figures
    bool finished = false;       // Figures
    Cell cell;                   // Cell: the test's cell changed after it began
};

class SpoolFile {
public:
    SpoolFile() = default;
    ~SpoolFile();
    SpoolFile(const SpoolFile&) = delete;
    SpoolFile& operator=(const SpoolFile&) = delete;

    // The file is made at the first append, in `folder` (made too).
    void setFolder(const QString& folder) { folder_ = folder; }
    const QString& folder() const { return folder_; }
    // Appends all of `records` and forces them to the disk, or none of them.
    std::optional<Failure> append(const std::vector<SpoolRecord>& records);
    bool isEmpty() const { return size_ == 0; }
    QString path() const { return path_; }
    // Empties the file once the database holds its records.
    std::optional<Failure> clear();
    // Closes the file; an empty one is removed, one with records stays for a later replay.
    void close();

private:
    std::optional<Failure> create();

    QString folder_, path_;
    int fd_ = -1;
    qint64 size_ = 0;
};

struct SpoolContents {
    std::vector<SpoolRecord> records;
    bool tornTail = false; // a record cut off by a crash ends the file
};

Result<SpoolContents> readSpoolFile(const QString& path);

// What a replay stored.
struct Replayed {
    qint64 samples = 0;
    QList<QUuid> finished; // tests whose end is now in the database
};

// Stores `records` in one transaction of `store`.
Result<Replayed> replayRecords(Store& store, const std::vector<SpoolRecord>& records,
                               qint64 nowMsecs);

// Replays each spool file in `folder` that no living writer holds, oldest
// first, and removes it once stored. Stops at the first failure.
Result<Replayed> replayLeftovers(Store& store, const QString& folder, qint64 nowMsecs);

} // namespace eload::library
