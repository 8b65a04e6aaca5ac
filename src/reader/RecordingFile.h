#pragma once
// Recordings read back as samples: the .xlsx workbooks the panel records
// (and the same layout written by another program), and the CSV log that the
// chart exports and eload-cli writes. Errors name the file and what was wrong;
// no input crashes the reader, and what it reads is bounded.

#include "discharge/Sample.h"
#include "discharge/Summary.h"

#include <QString>
#include <variant>
#include <vector>

namespace eload::reader {

using discharge::Sample;
using discharge::Summary;

struct RecordedCurve {
    QString name; // the file's stem
    std::vector<Sample> samples;
    // The file holds the protection code and the load state (CSV). A workbook
    // does not: there the load counts as on while the current is above zero,
    // the protection code is 0, and the end reason cannot be told.
    bool hasStatus = true;
};

struct ReadError {
    QString message; // "<path>: <what was wrong>", in the program's language
};

using ReadResult = std::variant<RecordedCurve, ReadError>;

// Bounds on what is read: each zip entry's uncompressed size, the rows of a
// recording (a workbook sheet holds at most 1,048,576 rows anyway).
inline constexpr qint64 kMaxEntryBytes = 512ll << 20;
inline constexpr qint64 kMaxCsvBytes = 512ll << 20;
inline constexpr int kMaxRows = 4'000'000;

// The panel's workbook layout: header row 序号 时间 电流 电压 功率 温度 内阻 容量 能量 放电时间,
// values as the window shows them ("1.25A", "65.536AH", " 01:02:03"); plain
// numbers in the value columns are taken too. Shared and inline strings,
// cells by their reference; rows with no values are skipped.
ReadResult readWorkbook(const QString& path);
// The CSV log below; CR LF line ends and a UTF-8 byte-order mark are taken too.
ReadResult readCsv(const QString& path);
// By the file's extension (.xlsx or .csv, in any case).
ReadResult readRecording(const QString& path);

// The summary of a recording read back (see summarize()).
Summary summarize(const RecordedCurve& curve);

// The CSV log: UTF-8, one header row, one row per reply, numbers as numbers
// in SI units with the unit in the column name, '.' as decimal point:
// time,voltage_V,current_A,power_W,capacity_Ah,energy_Wh,temperature_C,
// resistance_mOhm,protection,load_on,discharge_s
// (time: ISO 8601 local time with offset and milliseconds; load_on 0 or 1).
// Neither ends with a line break; the writer ends each line with "\n".
QString csvHeader();
QString csvRow(const Sample& s);

} // namespace eload::reader
