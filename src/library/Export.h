#pragma once
// A test's curve out of the library again: as the CSV log (the columns of
// reader::csvHeader, what eload-cli watch --csv writes and import reads
// back) or as workbooks of the panel's layout (the panel's own recording,
// 65,533 rows a book: FILE.xlsx, then FILE_2.xlsx ...). An existing file is
// never overwritten.

#include "library/Failure.h"

#include "discharge/Sample.h"

#include <QIODevice>
#include <QStringList>
#include <span>

namespace eload::library {

std::optional<Failure> writeCsv(std::span<const discharge::Sample> samples, QIODevice& out);
std::optional<Failure> exportCsv(std::span<const discharge::Sample> samples, const QString& path);
// The books written, full paths.
Result<QStringList> exportWorkbook(std::span<const discharge::Sample> samples, const QString& path);

} // namespace eload::library
