// The mode launcher's state, apart from the main window: the recovery mode number and the marker
// that a launch is in progress, so a second "Go" while one screen is being opened is ignored.
#pragma once

#include "ui/screen_state.h"

namespace kfr::ui {

class Launcher {
public:
    // 0 before any launch, else the mode of the screen opened last (1, 2 or 5).
    int mode() const { return m_mode; }
    bool launching() const { return m_launching; }

    // A "Go" press. False (ignored) while a launch is in progress or a Basic or Deep scan runs;
    // otherwise the mode is set and the launch marker raised until screenClosed.
    bool request(ScreenMode mode, bool scanRunning);
    void screenClosed() { m_launching = false; }

private:
    int m_mode = 0;
    bool m_launching = false;
};

}  // namespace kfr::ui
