#include "ui/ScreenFit.h"

#include <algorithm>

namespace eload {

QSize windowSizeFor(QSize page, QSize room, int bar)
{
    // A bar in one direction takes room from the other; twice settles it.
    bool across = false;
    bool down = false;
    for (int pass = 0; pass < 2; ++pass) {
        across = page.width() + (down ? bar : 0) > room.width();
        down = page.height() + (across ? bar : 0) > room.height();
    }
    return {std::min(page.width() + (down ? bar : 0), room.width()),
            std::min(page.height() + (across ? bar : 0), room.height())};
}

} // namespace eload
