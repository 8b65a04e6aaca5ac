#pragma once
// Initial state of the controls the handlers use, as the window is created
// (before start-up fills the lists). The window and the in-memory test panel
// are both built from this one table.

#include "core/Panel.h"

#include <QStringList>
#include <optional>
#include <vector>

namespace eload {

struct ControlDef {
    Ctl id;
    QString text;      // caption or initial text
    QStringList items; // list entries of a combo box
    bool enabled = true;
    std::optional<Rgb> backColor = std::nullopt; // labels and Shape1
};

const std::vector<ControlDef>& formDefinition();
const ControlDef& definitionOf(Ctl c);

inline const QStringList kBaudRates = {QStringLiteral("4800"),  QStringLiteral("9600"),
                                       QStringLiteral("19200"), QStringLiteral("38400"),
                                       QStringLiteral("57600"), QStringLiteral("115200")};

inline constexpr int kTimer1Ms = 160;  // reply check
inline constexpr int kTimer2Ms = 500;  // polling
inline constexpr int kTimer3Ms = 1000; // refresh after clear data
int timerInterval(Timer t);

} // namespace eload
