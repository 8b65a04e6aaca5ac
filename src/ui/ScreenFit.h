#pragma once
// The window on screens smaller than its fixed layout (a laptop at 150 % or
// 200 % scaling): the layout keeps its size inside a scroll area, and the
// window takes what the screen has room for.

#include <QSize>

namespace eload {

// The window's size for a layout of `page` in `room` (the screen's available
// area less the window frame), with scroll bars `bar` wide where the layout
// does not fit: `page` itself when it fits.
QSize windowSizeFor(QSize page, QSize room, int bar);

} // namespace eload
