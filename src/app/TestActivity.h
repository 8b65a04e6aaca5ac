#pragma once
// When the panel runs a test that a suspended computer would spoil: the
// module polled with its load on (a battery drains while no one watches its
// cut-off), or rows being recorded. The captions say it: "停 止" with "ON",
// or "记录中".

#include <QObject>

namespace eload {

class Panel;

bool testRunning(const Panel& panel);

// Holds `inhibitor` (a desktop::SleepInhibitor) while a test runs in `window`
// (frmmain), looked at whenever a caption changes. A template, so that the
// form's library links neither widgets nor D-Bus.
template <class Window, class Inhibitor> void holdWhileTesting(Window& window, Inhibitor& inhibitor)
{
    QObject::connect(&window, &Window::captionChanged, &inhibitor,
                     [&window, &inhibitor] { inhibitor.setHeld(testRunning(window)); });
}

} // namespace eload
