#pragma once
// Recordings read back as samples: the .xlsx workbooks the panel and
// `eload-cli watch --xlsx` record (and the same layout written by another
// program), the CSV log of `watch --csv FILE` and of the chart's export, and
// the CSV of `watch --csv` on standard output (an address column first).
//
// No input takes the reader down: what a read keeps is bounded (rows, shared
// strings), and so is what it may cost on the way (nesting, the length of one
// text, the XML parser's memory, a zip entry's size and compression ratio).
// A failure is a value naming the file, the row and column and what was found
// there, told in Chinese for the windows and in English for eload-cli.

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
    // The module's address: the CSV of `watch --csv` on standard output holds
    // several modules' rows interleaved, one curve each. 0: the file names none.
    int address = 0;
    std::vector<Sample> samples;
    // The file holds the protection code and the load state (CSV). A workbook
    // does not: there the load counts as on while the current is above zero,
    // the protection code is 0, and the end reason cannot be told.
    bool hasStatus = true;
};

enum class ReadProblem {
    // the file
    NoSuchFile,
    CannotOpen, // reason: the system's
    EmptyFile,
    UnsupportedType, // neither .xlsx nor .csv
    FileTooLarge,    // a CSV beyond kMaxCsvBytes
    ReadFailed,      // reason: the system's
    // the zip
    NotZip,
    Damaged,     // part: the entry that did not inflate or check; none: no zip directory
    MissingPart, // part
    PartTooLarge,
    ZipBomb, // part: compressed more than kMaxCompressionRatio to 1
    // the XML of a part
    BadXml,          // part, row: the XML's line, reason: the parser's
    TooDeep,         // part: nesting beyond kMaxDepth
    TextTooLong,     // part, row, column (0 outside the sheet): beyond kMaxTextChars
    ElementTooLarge, // part: one tag beyond what the parser may hold
    // the workbook's layout
    NoSheet,              // part: the workbook part
    SheetNotFound,        // part: the relationships; found: the sheet's id
    TooManySharedStrings, // beyond kMaxSharedStrings or kMaxSharedBytes
    BadSharedString,      // row, found: the index
    BadRowNumber,         // found
    BadCellReference,     // found
    EmptySheet,
    NotOurHeader, // row, found: the row's texts
    // the CSV's layout
    NotOurCsv,   // found: line 1
    LineTooLong, // row
    FieldCount,  // row, found: the count, expected: the header's
    // a value
    BadCell,     // row, column, found; field: the CSV's column name (empty: a workbook's)
    TooManyRows, // beyond kMaxRows
    // a warning, not a failure: a CSV's last line ends without its line end
    // (a full disk, a killed writer) and is skipped
    TornLastRow, // row
    // the read itself
    OutOfMemory,
    Unexpected, // reason: what was thrown
};

struct ReadError {
    ReadProblem problem = ReadProblem::Unexpected;
    QString file;
    QString part;   // the zip entry concerned
    qint64 row = 0; // from 1, as a spreadsheet or an editor shows it; 0: none
    int column = 0; // from 1 (A); 0: none
    QString field;  // a CSV's column name
    QString found;  // what was there
    QString expected;
    QString reason; // the system's or the XML parser's own words

    // "<file>: <what was wrong>" for the windows, as the panel speaks.
    QString message() const;
    // The same for eload-cli.
    QString englishMessage() const;
};

// What one file holds: one curve, or one per module address; and what was
// skipped on the way (warnings, told as ReadError's texts are).
struct Recording {
    std::vector<RecordedCurve> curves;
    std::vector<ReadError> warnings;
};

using ReadResult = std::variant<Recording, ReadError>;

// Bounds on what is kept: the rows of a recording (a worksheet holds at most
// 1,048,576 anyway), the shared strings of a workbook (UTF-8 bytes, count).
inline constexpr int kMaxRows = 4'000'000;
inline constexpr qsizetype kMaxSharedStrings = 8 << 20;
inline constexpr qint64 kMaxSharedBytes = 128ll << 20;
// Bounds on the way there. A zip entry: its uncompressed size (1,048,576
// rows of 2 KiB) and, past its first kRatioFloorBytes, its compression
// ratio: honest XML packs about 10 to 1, a zip bomb 1000 to 1.
inline constexpr qint64 kMaxEntryBytes = 2048ll << 20;
inline constexpr qint64 kMaxCompressionRatio = 200;
inline constexpr qint64 kRatioFloorBytes = 16ll << 20;
// The XML: nesting (a sheet needs 7 levels), one text (a spreadsheet cell
// holds at most 32,767 characters), the parser's own memory.
inline constexpr int kMaxDepth = 64;
inline constexpr qint64 kMaxTextChars = 32'767;
inline constexpr qint64 kMaxParserBytes = 16ll << 20;
// A CSV log: 4,000,000 rows of about 120 bytes.
inline constexpr qint64 kMaxCsvBytes = 512ll << 20;

// The panel's workbook layout: header row 序号 时间 电流 电压 功率 温度 内阻 容量 能量 放电时间,
// values as the window shows them ("1.25A", "65.536AH", " 01:02:03"); plain
// numbers in the value columns are taken too. Shared and inline strings,
// cells by their reference; rows with no values are skipped. One curve.
ReadResult readWorkbook(const QString& path);
// The CSV log below, with or without the address column; CR LF line ends and
// a UTF-8 byte-order mark are taken too. A last line cut short is skipped
// with a warning; anywhere else it is a failure.
ReadResult readCsv(const QString& path);
// By the file's extension (.xlsx or .csv, in any case). Running out of
// memory is a ReadError too.
ReadResult readRecording(const QString& path);

// The summary of a recording read back (see summarize()).
Summary summarize(const RecordedCurve& curve);

// The CSV log: UTF-8, one header row, one row per reply, numbers as numbers
// in SI units with the unit in the column name, '.' as decimal point, every
// register unsigned as the module counts it:
// time,voltage_V,current_A,power_W,capacity_Ah,energy_Wh,temperature_C,
// resistance_mOhm,protection,load_on,discharge_s
// (time: ISO 8601 local time with offset and milliseconds; load_on 0 or 1).
// `watch --csv` on standard output puts "address," before each line.
// Neither ends with a line break; the writer ends each line with "\n".
QString csvHeader();
QString csvRow(const Sample& s);

} // namespace eload::reader
