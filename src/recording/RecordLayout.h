#pragma once
// What a recording row holds and how a workbook is laid out and named.

#include <QDateTime>
#include <QStringList>

namespace eload {

class Panel;

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

// The row as the window shows it now.
RecordRow rowFromPanel(const Panel& panel, int number, const QDateTime& t);

} // namespace eload
