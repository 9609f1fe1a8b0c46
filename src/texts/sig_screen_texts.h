// The Signature Search screen's own words after its drive step: the extension step, the list of
// carved files and the per-type table, the media prompt, the clearing window and the folder
// picker. Word for word as the system says them.
#pragma once

namespace kfr::texts {

// The extension step.
inline constexpr const char* kExtensionColumn = "Extension";
inline constexpr const char* kDescriptionColumn = "Description";
inline constexpr const char* kCheckAllButton = "Check All";
inline constexpr const char* kUncheckAllButton = "Uncheck All";
inline constexpr const char* kThoroughOption = "Also perform Thorough Scanning Algorithm Search";
// The folder picker behind "Browse" (the trailing space is the system's own).
inline constexpr const char* kCarveFolderPickerTitle =
    "Browse the Destination path where the recovered data will be saved : ";

// The scanning step: the per-type table, in column order.
inline constexpr const char* kFileTypesColumn = "File Types";
inline constexpr const char* kFilesFoundColumn = "No. of files found";
inline constexpr const char* kNameOfFileColumn = "Name of file";
inline constexpr const char* kPathOfFileSavedColumn = "Path of file saved";
inline constexpr const char* kLastFileNoColumn = "LastfileNo";
inline constexpr const char* kCountColumn = "Count";
inline constexpr const char* kFolderNameColumn = "FolderName";
inline constexpr const char* kIconIndexColumn = "ICON_INDX";
inline constexpr const char* kOpenContainingFolderButton = "Open Containing Folder";

}  // namespace kfr::texts
