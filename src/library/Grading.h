#pragma once
// Grades of tests by rules per cell type, from a small JSON file
// (~/.config/eload-panel/grades.json):
//
//     {
//       "18650 Li-ion": [
//         {"grade": "A", "min_soh_percent": 90, "max_resistance_mohm": 45},
//         {"grade": "B", "min_soh_percent": 80, "max_resistance_mohm": 60},
//         {"grade": "C", "min_soh_percent": 60}
//       ]
//     }
//
// A test gets the first grade of its type whose every bound it meets, and
// "reject" when it meets none. State of health is the test's capacity
// against the cell's rated capacity; resistance is the module's last
// reading under load. Types compare without regard to case.
//
// Not graded, with the reason: a type without rules, a test not finished or
// ended by OPP, OTP or a lost line (its capacity is not the cell's), no rated
// capacity where a rule needs the state of health, no resistance reported
// where a rule needs one.

#include "library/Failure.h"
#include "library/TestRecord.h"

#include <QHash>
#include <QList>

namespace eload::library {

struct GradeRule {
    QString grade;
    std::optional<double> minSohPercent;
    std::optional<double> maxResistanceMilliohm;
};

struct GradeRules {
    QString path;
    QHash<QString, QList<GradeRule>> byType; // keys case-folded
};

inline const QString kRejectGrade = QStringLiteral("reject");

QString defaultGradeRulesPath();
Result<GradeRules> loadGradeRules(const QString& path);

struct Grading {
    QString grade;  // empty: not graded
    QString reason; // why not, or which bounds a reject missed
};

Grading gradeOf(const TestRecord& test, const GradeRules& rules);

} // namespace eload::library
