#pragma once
// The state of health as a colour band. Where the cell's type has grading
// rules, the bands follow them: good from the state of health of the best
// grade's bound, poor below the lowest bound any grade accepts (the cell is
// rejected on that count alone), fair between. A type without such rules
// gets 80 % and 60 %. The colour is never the only sign: the percentage
// stays as text, and the band's name is the cell's tooltip.

#include "library/Grading.h"

#include <QColor>
#include <QString>
#include <optional>

namespace eload::libraryview {

enum class Health { Unknown, Good, Fair, Poor };

struct HealthBands {
    double goodPercent = 80; // at or above: good
    double fairPercent = 60; // at or above (and below good): fair; below: poor
    bool fromRules = false;
};

HealthBands bandsFor(const QString& type, const library::GradeRules& rules);
Health healthOf(const std::optional<double>& soh, const HealthBands& bands);
QColor colourOf(Health health);    // a light background, black text stays readable
QString healthName(Health health); // "良好", "一般", "较差", ""
// "良好（≥ 90%，按等级规则）" ...
QString bandsText(Health health, const HealthBands& bands);

} // namespace eload::libraryview
