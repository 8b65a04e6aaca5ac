#pragma once
// Earlier recordings into the library: a workbook of the panel's layout or a
// CSV log, read by src/reader, cut into discharges by the test model
// (discharge::dischargesOf), each discharge in which the load was on stored
// as a finished test with its curve. The file's content is hashed (SHA-256):
// a file imported before, under any name, is recognised and not stored again.
// The CSV of several modules (`watch --csv` on standard output) gives one
// cell per address, named after the file and the address unless one is given.

#include "library/Store.h"

namespace eload::library {

struct ImportOptions {
    Cell cell;       // an empty name: the file's name without its extension
    QString station; // where the file was recorded, when known
};

struct ImportOutcome {
    QString path;
    QList<qint64> ids;        // the tests stored
    QList<qint64> earlierIds; // the tests an earlier import of the same content stored
    bool alreadyImported = false;
    int idleStretches = 0; // stretches without load, not stored
    QStringList warnings;  // what the reader skipped (a torn last row)
};

Result<ImportOutcome> importRecording(Store& store, const QString& path,
                                      const ImportOptions& options);

// The SHA-256 of a file's content.
Result<QByteArray> contentHash(const QString& path);

} // namespace eload::library
