// Pictures of the real windows for the documentation: the mode launcher, then the drive stage of
// the Basic and Deep Search screens with the first partition chosen. Run under a virtual X
// server by scripts/screenshots.sh.
#pragma once

#include <QString>

namespace kfr::ui {

class CMainWindow;

// Writes PREFIX + "launcher.png", "basic-drive-stage.png" and "deep-drive-stage.png"; returns
// the program's exit code (0 when every picture was written).
int takeScreenshots(CMainWindow& window, const QString& prefix);

}  // namespace kfr::ui
