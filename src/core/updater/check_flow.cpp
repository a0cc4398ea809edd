#include "core/app/delegate.h"

namespace corvidale {

// The update feed and installation pipeline are not built yet. These keep the
// startup order and the menu wiring in place; they check nothing.
void Delegate::checkForUpdates() { checkInteractively(); }

void Delegate::checkInteractively() {}

void Delegate::scheduleAutoUpdate() {
    if (autoUpdateTimer) autoUpdateTimer->invalidate();
    autoUpdateTimer.reset();
}

}  // namespace corvidale
