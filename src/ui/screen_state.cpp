#include "ui/screen_state.h"

#include "storage/media_record.h"
#include "texts/screen_texts.h"

namespace kfr::ui {

const char* modeName(ScreenMode mode)
{
    switch (mode) {
    case ScreenMode::Basic: return storage::kBasicSearchName;
    case ScreenMode::Deep: return storage::kDeepSearchName;
    case ScreenMode::Signature: return storage::kSignatureSearchName;
    }
    return storage::kBasicSearchName;
}

namespace {

CommandAnswer run() { return {Verdict::Run, nullptr}; }
CommandAnswer ignore() { return {Verdict::Ignore, nullptr}; }
CommandAnswer refuse(const char* message) { return {Verdict::Refuse, message}; }

}  // namespace

CommandAnswer ScreenState::answer(Command command) const
{
    // A partition search or the filling of the drive lists holds the drive stage: its buttons
    // are disabled, and whatever reaches the screen anyway does nothing.
    const bool driveStageHeld = partitionSearchRunning || drivesListing;
    switch (command) {
    case Command::Next:
        return onDriveStage() && !busy() && !driveStageHeld && !logLoading ? run() : ignore();
    case Command::Back:
        if (busy()) return refuse(texts::kScanRunningBackMessage);
        if (driveStageHeld || logLoading) return ignore();
        return run();  // closes the screen on the drive stage, clears the results after a scan
    case Command::Stop:
        return scanRunning ? run() : ignore();
    case Command::RefreshTree:
        if (!onDriveStage() || busy() || logLoading) return refuse(texts::kRefreshRefusedMessage);
        return driveStageHeld ? ignore() : run();
    case Command::Save:
        if (busy()) return refuse(texts::kSaveWhileScanningMessage);
        if (onDriveStage()) return refuse(texts::kSaveNotAvailableMessage);
        return run();
    case Command::SaveLog:
        if (busy()) return refuse(texts::kSaveLogWhileScanningMessage);
        if (onDriveStage()) return refuse(texts::kSaveLogBeforeScanMessage);
        return saveLogRunning ? ignore() : run();
    case Command::LoadLog:
        if (busy()) return refuse(texts::kLoadLogWhileScanningMessage);
        if (!onDriveStage()) return refuse(texts::kLoadLogAfterScanMessage);
        return logLoading || driveStageHeld ? ignore() : run();
    case Command::SearchMorePartitions:
        return onDriveStage() && !busy() && !partitionSearchRunning && !logLoading && !drivesListing ? run() : ignore();
    }
    return ignore();
}

}  // namespace kfr::ui
