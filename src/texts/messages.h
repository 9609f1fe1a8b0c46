// The system's own messages, captions and labels, word for word, for every front end. The core
// reports stages, verdicts and counts as enums and numbers; the desktop program and the
// command-line program turn them into these texts, so both say the same thing the same way.
#pragma once

namespace kfr::texts {

inline constexpr const char* kProductName = "Kestravon FAT Recovery";
inline constexpr const char* kMessageCaption = "Message";

// Basic Search: status line, stage lines and the failure of parameter inference.
inline constexpr const char* kValidatingPartitionText = "Validating Partition ...";
inline constexpr const char* kSectorsScannedFormat = "sectors scanned of total %llu";
inline constexpr const char* kCalculatingParamsText = "Calculating Partition Params: ";
inline constexpr const char* kSearchingLostDirectoriesText = "Searching Lost Directories. Please wait...";
inline constexpr const char* kStoringDirectoryInfoText = "Storing Directory Information. Please wait...";
inline constexpr const char* kUnableToCalculateText =
    "Unable to calculate partition parameters.\n\nPlease select the partition from the list of Logical Drive or "
    "click on \xE2\x80\x98Search more Partitions\xE2\x80\x99 in case of deleted or missing Drives.";
inline constexpr const char* kEmptyResultBasicText =
    "Recovery is not possible in Basic Search Mode, use other search mode to recover your data.";

// Saving: the destination notice and dialog.
inline constexpr const char* kNoticeHeading =
    "Please read this information carefully before selecting the Destination path to save the recovered data.";
inline constexpr const char* kNoticePoint1 =
    "1. Please select only different drive to save the recovered data. Saving data in same drive/volume (from "
    "which you are trying to recover data) may cause overwriting and your data may be lost forever. ";
inline constexpr const char* kNoticePoint2 =
    "2. You should have sufficient admin user access privileges of your Computer to run Software on it. (Only "
    "applicable, in case of such users who have multiple Windows user accounts in same Computer).";
inline constexpr const char* kNoticePoint3 =
    "3. You should have sufficient free disk space in Destination Drive that you select to save the recovered data. ";
inline constexpr const char* kNoticeContinue = "Continue...";
inline constexpr const char* kSaveAsCaption = "Save As";
inline constexpr const char* kBrowseLabel = "Browse the Destination path where the recovered data will be saved :";
inline constexpr const char* kInvalidDestinationText =
    "Invalid destination path. Please provide a valid location path to save the recovered data.";
inline constexpr const char* kSameDriveText =
    "Please select only different drive to save the recovered data. Saving data in same drive/volume (from which "
    "you are trying to recover data) may cause overwriting and your data may be lost forever.";

// Saving: messages, the counting window and the progress window.
inline constexpr const char* kDiskFullText =
    "Unable to continue saving recovered data.\n\nEither Destination Drive is inaccessible or there is no free "
    "space available in drive to save recovered data.";
inline constexpr const char* kNothingSelectedText =
    "No item has been selected. Please select the item you want to save from left panel.";
inline constexpr const char* kCountingText = "Calculating Total Number of Files, Please Wait ...";
inline constexpr const char* kGatheringClustersText =
    "Gathering Clusters Linking Information. This may take a while, Please wait...";
inline constexpr const char* kTotalFilesLabel = "Total Files :";
inline constexpr const char* kTotalFoldersLabel = "Total Folders :";
inline constexpr const char* kSavingCaption = "Saving Files...";
inline constexpr const char* kFileNameLabel = "File Name :";
inline constexpr const char* kFilePathLabel = "File Path  :";
inline constexpr const char* kCurrentFileLabel = " Recovered Current File :";
inline constexpr const char* kFilesRecoveredLabel = "Total Files Recovered :";
inline constexpr const char* kFoldersRecoveredLabel = "Total Folders Recovered :";

// The Replace dialog.
inline constexpr const char* kReplaceCaption = "Information";
inline constexpr const char* kReplaceFileNameLabel = "File Name            :";
inline constexpr const char* kReplaceNewFileNameLabel = "New File Name    :";
inline constexpr const char* kReplaceApplyToAllText = "Apply the answer to all the files";

// Opening a recovered file through a temporary copy.
inline constexpr const char* kDoesNotExistText = "Does not exist.";
inline constexpr const char* kOpeningFilePrefix = "Opening File : ";
inline constexpr const char* kPleaseWaitText = "This may take a while, Please wait...";

// Deep Search's inputs.
inline constexpr const char* kSelectDriveMessage =
    "First you need to select Physical or Logical Drive from the Tree, which you want to recover.";
inline constexpr const char* kSelectFileSystemMessage = "Select file system type for recovery of selected drive.";

// Signature Search (and Deep Search's range).
inline constexpr const char* kEndSectorMessage =
    "The value of \xE2\x80\x98" "End Sector\xE2\x80\x99 cannot be less than or equal to the \xE2\x80\x98" "Start "
    "Sector\xE2\x80\x99 of the Drive.";
inline constexpr const char* kSelectExtensionMessage =
    "Please select at least one Extension type to continue recovery process?";
inline constexpr const char* kMediaRemovedText = "The selected storage device is no longer available.";
inline constexpr const char* kCancelSearchingButton = "Cancel Searching";
inline constexpr const char* kRetryButton = "Retry and Continue...";
inline constexpr const char* kApplyUntilDoneBox = "Apply this action until the searching completes";
inline constexpr const char* kClearingTitle = "Clearing recovered file window...";
inline constexpr const char* kClearingNote =
    "To maintain the speed of recovery, recovered file window is cleared after every 2000 files.";

}  // namespace kfr::texts
