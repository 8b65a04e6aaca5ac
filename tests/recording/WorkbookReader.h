#pragma once
// Workbooks read back by openpyxl (Debian's python3): the file, not our idea of it.

#include <QList>
#include <QStringList>
#include <QVariant>
#include <optional>

namespace eload::test {

// A cell as read: a double for numbers, a QString for text, null when empty.
using SheetRow = QList<QVariant>;

struct ReadWorkbook {
    int count = 0;        // rows in the first sheet
    QList<SheetRow> head; // all rows, or the first `edge`
    QList<SheetRow> tail; // the last `edge` rows when `edge` was given
};

// nullopt (with a test warning) when the reader fails.
std::optional<ReadWorkbook> readWorkbook(const QString& path, int edge = 0);

} // namespace eload::test
