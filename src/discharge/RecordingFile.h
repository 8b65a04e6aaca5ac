#pragma once
// Recordings read back as samples: the .xlsx workbooks the panel records
// (and the same layout written by another program), and the CSV log that the
// chart exports and eload-cli writes. Errors name the file and what was wrong.

#include "discharge/Sample.h"

#include <QString>
#include <variant>
#include <vector>

namespace eload::discharge {

struct RecordedCurve {
    QString name; // the file's stem
    std::vector<Sample> samples;
};

struct ReadError {
    QString message; // "<path>: <what was wrong>", in the program's language
};

using ReadResult = std::variant<RecordedCurve, ReadError>;

// The panel's workbook layout: header row 序号 时间 电流 电压 功率 温度 内阻 容量 能量 放电时间,
// values as the window shows them ("1.25A", "65.536AH", " 01:02:03").
ReadResult readWorkbook(const QString& path);
// The CSV log below.
ReadResult readCsv(const QString& path);
// By the file's extension (.xlsx or .csv).
ReadResult readRecording(const QString& path);

// The CSV log: UTF-8, one header row, one row per reply, numbers as numbers
// in SI units with the unit in the column name:
// time,voltage_V,current_A,power_W,capacity_Ah,energy_Wh,temperature_C,
// resistance_mOhm,protection,load_on,discharge_s
// (time: ISO 8601 local time with offset and milliseconds).
QString csvHeader();
QString csvRow(const Sample& s);

} // namespace eload::discharge
