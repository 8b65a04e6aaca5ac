#pragma once
// The messages of the recording readers (internal): each names the file, and
// for a row the row number and column as a spreadsheet shows them.

#include "reader/RecordingFile.h"

namespace eload::reader {

ReadError readError(const QString& path, const QString& what);
// "第 12 行 D 列（电压）的值“abc”无法识别"
QString badCellText(qint64 row, const QString& column, const QString& name, const QString& text);
// "记录超过 4000000 行的上限"
QString tooManyRowsText();

} // namespace eload::reader
