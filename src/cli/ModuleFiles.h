#pragma once
// The files one module's readings go to during a watch: the CSV log of the
// discharge (the columns the chart exports and `report` reads) and workbooks
// in the panel's layout, written by the panel's own recording (journal on
// disk, roll-over, save at the end).

#include "recording/WorkbookRecording.h"

#include <QFile>
#include <QString>
#include <QStringList>
#include <memory>
#include <optional>

namespace eload::modbus {
struct Reading;
}

namespace eload::cli {

// FILE for one module; FILE-ADDRESS.ext when several share the watch.
QString fileForModule(const QString& file, std::uint8_t address, bool several);

class ModuleFiles {
public:
    ~ModuleFiles();
    // Either path may be empty. An existing file is refused, not overwritten;
    // when one of the two fails, the other is not left behind.
    std::optional<QString> open(const QString& csvPath, const QString& xlsxPath);
    // Closes and removes what open() made: a run that never started leaves
    // no stub to refuse the next.
    void discard();
    // Problems are reported once per spell, not per row. `afterGap`: the line
    // was silent before this reading; the CSV log shows it as an empty line.
    void append(const modbus::Reading& r, QStringList& errors, bool afterGap = false);
    // Flushed to the disk, saved, closed: the files that are complete.
    QStringList close(QStringList& errors);

private:
    void writeCsv(const QByteArray& bytes, QStringList& errors);

    QFile csv_;
    bool csvFailing_ = false;
    std::unique_ptr<WorkbookRecording> book_;
    QStringList books_; // saved, in order
    QStringList bookErrors_;
};

} // namespace eload::cli
