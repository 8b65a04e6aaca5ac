#include "app/TestActivity.h"

#include "core/Panel.h"
#include "core/Texts.h"

namespace eload {

bool testRunning(const Panel& panel)
{
    const bool loadPolled =
        panel.text(Ctl::Command_OK3) == texts::kStop && panel.text(Ctl::Command5) == texts::kOn;
    return loadPolled || panel.text(Ctl::Command6) == texts::kRecording;
}

} // namespace eload
