// The recovery log's messages, questions and dialog texts, word for word, and the message that
// answers each outcome of saving or loading a log.
#pragma once

#include <cstdint>
#include <string>

#include "recoverylog/log_stream.h"
#include "session/recovery_session.h"

namespace kfr::texts {

// The save and open dialogs.
inline constexpr const char* kLogExtension = "MFT";
inline constexpr const char* kSaveLogFilter = "MFT Files (*.MFT)|*.MFT||";
inline constexpr const char* kLoadLogFilter = "MFT Files (*.MFT)|*.MFT|";

// Saving.
inline constexpr const char* kLogSavedText =
    "The Recovery scanning Log (index of recovered files and folders) has been saved successfully.";
inline constexpr const char* kSaveLogQuestion =
    "Do you want to save the Recovery scanning Log (index of recovered files and folders) file?\n\nIf you have "
    "previously saved Log file of Kestravon Recovery, you can directly load the recovery results from Log instead "
    "of scanning the drive again.";
inline constexpr const char* kSaveLogBeforeScanText =
    "To save the Log (index of recovered files and folders) of recovery, first you need to scan the drive and "
    "recover the lost data.";
inline constexpr const char* kSaveLogWhileScanningText =
    "Disk scanning process is still going on.\n\nTo save the Log (index of recovered files and folders) of "
    "recovery, please allow the scanning process to be completed.";

// Loading.
inline constexpr const char* kLoadLogWhileScanningText =
    "Disk scanning process is still going on.\n\nIf you have previously saved Log (index of recovered files and "
    "folders) file of Kestravon Recovery and want to load the recovery results from Log instead of scanning the "
    "drive, you can cancel the scanning by clicking on \xE2\x80\x98Stop\xE2\x80\x99 button.";
inline constexpr const char* kLoadLogAtThisStageText =
    "Recovery log cannot be loaded at this stage.\n\nIf you have previously saved Log (index of recovered files and "
    "folders) file of Kestravon Recovery and want to load the recovery results from Log instead , click on "
    "\xE2\x80\x98" "Back\xE2\x80\x99 button and load Log from previous screen.";
inline constexpr const char* kLoadingTreeText = "Please wait, It may take some time to load the tree...";
inline constexpr const char* kLogLoadedText =
    "The Recovery scanning Log (index of recovered files and folders) has been loaded successfully.";
inline constexpr const char* kCompletedStatusText = "Completed ";
inline constexpr const char* kNotALogText =
    "The selected recovery Log (index of recovered files and folders) file is invalid or corrupted. Recovery cannot "
    "continue with this log file. Please select the correct drive from tree and continue with recovery.";
inline constexpr const char* kSwitchToBasicQuestion =
    "The Log that you have selected was saved in basic Recovery mode. Do you want to switch to Basic mode of "
    "Kestravon \xE2\x80\x93 Recovery?";
inline constexpr const char* kSwitchToDeepQuestion =
    "The Log that you have selected was saved in deep Recovery mode. Do you want to switch to Deep mode of "
    "Kestravon \xE2\x80\x93 Recovery?";
inline constexpr const char* kMediaMovedOrRemovedText =
    "Original Media has been moved or removed.\n\nThe drive from which selected recovery Log (index of recovered "
    "files and folders) file was saved, seems to be moved or disconnected. Recovery for selected drive cannot "
    "continue with this log file. Please select the correct drive from tree and continue with recovery.";
inline constexpr const char* kCorruptLogText =
    "The selected recovery Log (index of recovered files and folders) file is invalid or corrupted. Recovery cannot "
    "continue with this log file.\n\nPlease browse the valid Log file or Scan the disk again.";

// The question asked when a log of the other mode was chosen: logMode is the log's own mode.
const char* switchModeQuestion(session::ScanMode logMode);

// "Original Media connection order on Disk number '1' has been replaced with media of disk
// number '2' since you saved the selected recovery Log.\n\nDo you want to continue?"
std::string diskMovedQuestion(std::uint32_t savedNumber, std::uint32_t foundNumber);
// The same for a volume: designators are the volumes' device paths on this system.
std::string volumeMovedQuestion(const std::string& savedVolume, const std::string& foundVolume);

// Why reading a log stopped, as the system says a read error ("The file ends in the middle of an
// item (at byte 1234).\n").
std::string readFaultText(const recoverylog::ReadFault& fault);

// The message box that ends a load: for Corrupt the read error's own text directly followed by
// the corrupt-log message. "" for OtherMode (a question instead: see switchModeQuestion),
// Declined and CannotOpen (nothing is said).
std::string loadOutcomeMessage(const session::LogLoadOutcome& outcome);

}  // namespace kfr::texts
