#pragma once
// What a recording row holds and how a workbook is laid out and named.

#include <QDateTime>
#include <QStringList>

namespace eload {

namespace modbus {
struct Reading;
}

inline constexpr int kColumns = 10;
inline constexpr int kFirstDataRow = 2;    // under the header row
inline constexpr int kRowsPerBook = 65533; // data rows 2 to 65534
inline constexpr int kRollOverRow = kFirstDataRow + kRowsPerBook;

// One data row: column 1 is the number, `texts` are columns 2 to 10.
struct RecordRow {
    int number = 0;
    QStringList texts;
    friend bool operator==(const RecordRow&, const RecordRow&) = default;
};

// File name stem of a workbook started at `t`, e.g. 2026-03-05_14时07分09秒.
// Date and time come from one reading, so a start at midnight cannot mix days.
QString bookNameAt(const QDateTime& t);

// Column 2, e.g. 2026-03-05 14时:05分:09秒.
QString rowTimeText(const QDateTime& t);

// The row of one reading taken at `t`, with the texts the window shows for
// the same registers ("1.25A", "65.536AH", " 01:02:03").
RecordRow rowFromReading(const modbus::Reading& reading, const QDateTime& t, int number = 0);

} // namespace eload
