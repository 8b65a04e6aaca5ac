#pragma once
// A one-page A4 PDF report of one test: the cell, the figures, the presets,
// where and when it was tested, how it ended, and its curve over capacity
// and over time. Written whole or not at all (a failed write leaves no
// file, and never a part of one, at `path`).

#include "libraryview/CurveData.h"

#include "library/Grading.h"

#include <QString>
#include <optional>

class QPainter;

namespace eload::libraryview {

// Nothing on success, else the message.
std::optional<QString> writeReport(const QString& path, const library::TestRecord& test,
                                   const TestCurve& curve, const library::GradeRules& rules);

// The report drawn with `painter` on a page of `pageSize` points (1/72 in).
void drawReport(QPainter& painter, QSizeF pageSize, const library::TestRecord& test,
                const TestCurve& curve, const library::GradeRules& rules);

} // namespace eload::libraryview
