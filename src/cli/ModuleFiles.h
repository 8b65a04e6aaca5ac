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
    // Either path may be empty. An existing file is refused, not overwritten.
    std::optional<QString> open(const QString& csvPath, const QString& xlsxPath);
    // Problems are reported once per spell, not per row.
    void append(const modbus::Reading& r, QStringList& errors);
    // Flushed to the disk, saved, closed: the files that are complete.
    QStringList close(QStringList& errors);

private:
    QFile csv_;
    bool csvFailing_ = false;
    std::unique_ptr<WorkbookRecording> book_;
    QStringList books_; // saved, in order
    QStringList bookErrors_;
};

} // namespace eload::cli
