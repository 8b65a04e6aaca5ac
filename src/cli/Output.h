#pragma once
// What eload-cli prints of a reading and of a discharge: for people with the
// panel's patterns and units, for programs as JSON (numbers in SI units and
// the raw registers) or CSV (the discharge log's columns behind the address).

#include "discharge/TestModel.h"
#include "modbus/Reading.h"

#include <QJsonObject>
#include <QSet>
#include <QString>
#include <QStringList>
#include <QUuid>
#include <cstdint>
#include <optional>
#include <vector>

namespace eload::cli {

struct Tally;

// One module's values on one line, fixed columns:
// "  1  12.10V   1.25A  15.12W    0.025AH    0.030WH   45MR  36℃ UVLO 01:05:09 on"
QString valuesLine(std::uint8_t address, const modbus::Reading& r);
QString valuesLineHeader();

// `read` for people: one row per quantity, one column per module; a module
// without a reading shows `failure` instead.
struct ModuleColumn {
    std::uint8_t address = 0;
    std::optional<modbus::Reading> reading;
    QString failure;
};
QString valuesTable(const std::vector<ModuleColumn>& columns);

QJsonObject readingJson(std::uint8_t address, const modbus::Reading& r);
// A poll or command that brought no reading: {"address", "time", "error", "message"}.
QJsonObject failureJson(std::uint8_t address, const QDateTime& time, const QString& error,
                        const QString& message);
QString csvHeaderWithAddress();
QString csvRowWithAddress(std::uint8_t address, const modbus::Reading& r);

// How a module's test ended: the module's own reason, or ours.
struct TestEnd {
    discharge::EndReason moduleReason = discharge::EndReason::None;
    QString key;  // "stop-below", "stop-at-ah", "stop-at-wh", "stop-after", "signal", or the
                  // module's endReasonKey
    QString text; // for people: "voltage 2.99V below 3.00V", "UVLO" ...
};

struct ModuleEnd {
    std::uint8_t address = 0;
    TestEnd end;
    discharge::Summary summary;
    std::optional<bool> loadOnAtEnd; // as read back; nothing when it could not be
    QStringList files;               // complete files written
    QList<QUuid> records;            // its tests in the test library, oldest first
};

// Where a watch's records went, once the library's writer has stopped.
struct RecordsPlace {
    QString library;     // the database, as shown
    QString spool;       // the spool's folder
    QSet<QUuid> stored;  // finished and complete in the database
    bool settled = true; // the writer ended in time with everything in the database or spool
};

// `place`: where its records went; none without the library.
QString summaryText(const ModuleEnd& m, const Tally& tally, const RecordsPlace* place = nullptr);
QJsonObject summaryJson(const ModuleEnd& m, const Tally& tally,
                        const RecordsPlace* place = nullptr);
// `report`: a summary of a recording, for people and as JSON ("address" null
// when the file names none); `address` is the module's in a CSV of `watch
// --csv` on standard output, else 0.
QString recordingSummaryText(const QString& file, int address, const discharge::Summary& s);
QJsonObject recordingSummaryJson(const QString& file, int address, const discharge::Summary& s);

// A discharge's figures as every JSON of eload-cli gives them (watch's
// summary, report, tests show): the model's figures, where they are counted
// from, the line's gaps, the flags and the model's end.
QJsonObject figuresJson(const discharge::Summary& s);

QByteArray jsonLine(const QJsonObject& o); // compact, newline-terminated

} // namespace eload::cli
