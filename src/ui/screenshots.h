// Pictures of the real windows for the documentation: the mode launcher, the drive stage of the
// Basic and Deep Search screens with the first partition chosen, and a Basic Search of the last
// image listed with its results and a save in progress. Run under a virtual X server by
// scripts/screenshots.sh.
#pragma once

#include <QString>

namespace kfr::ui {

class CMainWindow;
struct AppContext;

// Writes PREFIX + "launcher.png", "basic-drive-stage.png", "deep-drive-stage.png",
// "basic-results.png" and "basic-saving.png"; returns the program's exit code (0 when every
// picture was written).
int takeScreenshots(CMainWindow& window, AppContext& context, const QString& prefix);

}  // namespace kfr::ui
