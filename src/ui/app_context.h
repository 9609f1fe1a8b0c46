// What the main window keeps for every screen it opens: how the drive lists are made (and the
// image files the user added, which every later screen lists too), the dialogs, the pending
// recovery log, the partition search mode, and how the program restarts with privileges.
#pragma once

#include <QStringList>
#include <functional>
#include <string>

#include "session/recovery_session.h"
#include "ui/dialogs.h"
#include "ui/drive_tree.h"

namespace kfr::ui {

struct AppContext {
    DriveListRequest listing;  // the mode name is set by each screen
    // How the drive lists are made; tests stand in disks the user cannot read.
    std::function<DriveSnapshot(const DriveListRequest&)> listDrives = ui::listDrives;
    Dialogs* dialogs = nullptr;
    // A recovery log named on the command line; emptied when a mode is launched from the main
    // window and when the log turns out invalid.
    std::string commandLineLogPath;
    // The mode of Search More Partitions (5 Standard, 10 Advanced), kept until the next choice.
    int partitionSearchMode = 5;
    // Restarting with administrator rights is offered once per run.
    bool privilegeOffered = false;
    // Empty when this user cannot be offered a restart (already root, or no pkexec): the screen
    // then only says which disks need the rights. Otherwise starts the program again with
    // privileges and says whether it started (with the reason).
    std::function<bool(QString* error)> restartWithPrivileges;
    // How the screens' sessions open what they read; empty: the files and devices themselves.
    // Tests put slow or failing sources behind it.
    session::SourceOpener sourceOpener;
    // The notice that a scan recovered nothing is shown once per scan, on either screen.
    bool emptyNoticeShown = false;
    // A screen that hands a recovery log to the other mode's screen names that mode here
    // (1 Basic, 2 Deep) and ends; the log's path waits in commandLineLogPath.
    int switchToMode = 0;
};

}  // namespace kfr::ui
