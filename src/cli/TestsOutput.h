#pragma once
// What `eload-cli tests` prints of records: for people a table row or a
// page with the panel's patterns and units and local times; for programs
// JSON (SI units, UTC times, every figure) or CSV (one row per test).

#include "library/Grading.h"
#include "library/Import.h"
#include "library/TestRecord.h"

#include <QJsonObject>

namespace eload::cli {

QString recordTableHeader();
QString recordTableRow(const library::TestRecord& r, qint64 nowMsecs);
// `show`: the record on several lines; `curveBytes` < 0 when not known.
QString recordPage(const library::TestRecord& r, qint64 nowMsecs, qint64 curveBytes);

QJsonObject recordJson(const library::TestRecord& r, qint64 nowMsecs);
QString recordCsvHeader();
QString recordCsvRow(const library::TestRecord& r, qint64 nowMsecs);

QString importText(const library::ImportOutcome& o);
QJsonObject importJson(const library::ImportOutcome& o);

QString gradingText(const library::TestRecord& r, const library::Grading& g);
QJsonObject gradingJson(const library::TestRecord& r, const library::Grading& g);

// "2.500AH": the panel's pattern.
QString ampHours(double v);

// RFC 4180: quoted when it holds a comma, a quote or a line break.
QString csvField(const QString& text);

} // namespace eload::cli
