#pragma once
// The panel's face, asked by name with what Linux systems carry in its
// place; the chart window uses it too, so both windows read alike.

#include <QFont>

namespace eload {

QFont songFont(qreal points, bool bold = false);

} // namespace eload
