#include "ui/launcher.h"

namespace kfr::ui {

bool Launcher::request(ScreenMode mode, bool scanRunning)
{
    if (m_launching || scanRunning) return false;
    m_mode = static_cast<int>(mode);
    m_launching = true;
    return true;
}

}  // namespace kfr::ui
