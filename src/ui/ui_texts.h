// Words of the desktop program that the command-line program never says: the image files the
// user adds, restarting with administrator rights, and the parts of the screens that later work
// fills in. The system's own messages are in src/texts.
#pragma once

namespace kfr::ui {

inline constexpr const char* kAddImageButton = "Add Image File...";
inline constexpr const char* kAddImageTooltip =
    "List a disk or volume image file as a disk of its own (no administrator rights needed)";
inline constexpr const char* kAddImageCaption = "Add a disk or volume image";
inline constexpr const char* kImageFilter = "Disk and volume images (*.img *.dd *.raw *.bin *.ima *.dsk);;All files (*)";
inline constexpr const char* kImageUnreadablePrefix = "The image file could not be listed: ";

inline constexpr const char* kPrivilegeQuestionFormat =
    "These disks cannot be read without administrator rights:\n\n%1\n\nRestart Kestravon FAT Recovery with "
    "administrator rights? You will be asked for an administrator password. Image files can be recovered without "
    "them.";
inline constexpr const char* kUnreadableDisksFormat =
    "These disks cannot be read without administrator rights:\n\n%1\n\nStart Kestravon FAT Recovery as an "
    "administrator, or add your user to the \"disk\" group and log in again. Image files can be recovered without "
    "them.";
inline constexpr const char* kPrivilegeRestartFailed =
    "Kestravon FAT Recovery could not be restarted with administrator rights: ";

inline constexpr const char* kLogLoadingUnavailable =
    "Loading a recovery log is not available in this version of Kestravon FAT Recovery.";
inline constexpr const char* kScanUnavailable =
    "Scanning from this screen is not available in this version of Kestravon FAT Recovery.";

inline constexpr const char* kHelpCaption = "Need Help";
inline constexpr const char* kAboutText =
    "Kestravon FAT Recovery finds and saves lost folders and files on FAT16, FAT32 and NTFS media, and carves "
    "files out of raw sectors by their signatures. The medium being recovered is only ever read.";

// The Deep screen counts the boot sectors its sweep meets.
inline constexpr const char* kBootSectorsFoundPrefix = "Boot sectors found: ";

// The saving window: files written short or not at all are not counted as saved.
inline constexpr const char* kNotSavedWholeFormat = "( %1 Files could not be saved whole: see the list below )";

}  // namespace kfr::ui
