// The desktop program's own words: the mode launcher, the recovery screens' drive stage and its
// dialogs, the refusals of the screens' commands and the sector range controls. Word for word as
// the system says them; the desktop program shows nothing else of its own making.
#pragma once

namespace kfr::texts {

// Start-up.
inline constexpr const char* kCouldNotOpenSourcePrefix = "Couldn't open source file: ";
inline constexpr const char* kRegistryKeyFailedText = "Could not create or open a registrty key.";
inline constexpr const char* kInvalidLogText =
    "The selected recovery Log (index of recovered files and folders) file is invalid or corrupted. Recovery "
    "cannot continue with this log file.\n\nPlease browse the valid Log file or Scan the disk again.";
inline constexpr const char* kLogFileTypeName = "Log File";
inline constexpr const char* kSettingsKey = "Local AppWizard-Generated Applications";
inline constexpr const char* kVersionPrefix = "Version - ";
inline constexpr const char* kSplashLoadingText = "Loading required information.\nPlease wait...";
inline constexpr const char* kLaunchLoadingText = "Loading required information. Please wait...";

// The main window: the three modes, their descriptions and the tooltips of their "Go" buttons.
inline constexpr const char* kStandardSearchesGroup = "Standard Recovery Searches";
inline constexpr const char* kFileSpecificSearchesGroup = "File Specific Searches";
inline constexpr const char* kBasicSearchDescription =
    "Basic Search is quick and recovers data in most common data loss cases on the basis of fundamental partition "
    "parameters.";
inline constexpr const char* kDeepSearchDescription =
    "Deep Search thoroughly scans the storage media to recover data even in complicated data loss cases. Deep "
    "Search may be slower than Basic Search.";
inline constexpr const char* kSignatureSearchDescription =
    "This mode uses signature search algorithm to find different file types regardless of file system structure "
    "of storage media.";
inline constexpr const char* kGoButton = "Go";
inline constexpr const char* kBasicGoTooltip = "Start with 'Basic Search' mode";
inline constexpr const char* kDeepGoTooltip = "Start with 'Deep Search' mode";
inline constexpr const char* kSignatureGoTooltip = "Start with 'Signature Search' mode";
inline constexpr const char* kAboutUsButton = "About Us";
inline constexpr const char* kAboutMenuEntry = "&About Kestravon FAT Recovery";
inline constexpr const char* kNeedHelpButton = "Need Help";
inline constexpr const char* kExitButton = "Exit";
inline constexpr const char* kLaunchHelpFileButton = "Launch Software Help File";
inline constexpr const char* kExitQuestion = "Do you want to exit from Kestravon FAT Recovery?";
inline constexpr const char* kProductTitleSeparator = " - ";

// Step help texts shown in a screen's status line.
inline constexpr const char* kStepHelpDriveSelection =
    "Select the Drive (from which you want to recover data) from the List of available Physical or Logical Drives "
    "in the left Panel. In case of Deleted or missing Partitions, click on 'Search More Partitions' button to find "
    "lost drives. Select the Drive and click 'Next' Button to continue...";
inline constexpr const char* kStepHelpBrowsing =
    "Select Files and Folders from left Panel Directories Tree and Click on 'Save' button to save recovered Files "
    "and Folders.";
inline constexpr const char* kStepHelpCarvedResults =
    "To view the recovered Data, please click on 'Open Containing Folder' button. Or Click on \xE2\x80\x98"
    "Back\xE2\x80\x99 Button to select another disk for recovery.";
inline constexpr const char* kStepHelpScanRunning =
    "To Stop recovery, click on 'Stop' Button or please wait for the process to be completed.";
inline constexpr const char* kStepHelpFileSearchRunning =
    "You can stop searching Files and Folders by clicking on 'Stop' button. However, it is strongly recommended "
    "that you should allow the software to complete the searching Process.";
inline constexpr const char* kStepHelpSavingRunning =
    "To stop saving Data press 'Stop' button or Please wait for the process to be completed. It is strongly "
    "recommended that you should allow the software to complete the saving of Data.";

// The drive tree and the screen's controls.
inline constexpr const char* kMyComputerItem = "My Computer";
inline constexpr const char* kPhysicalDrivesItem = "Physical Drives";
inline constexpr const char* kLogicalDrivesItem = "Logical Drives";
inline constexpr const char* kBackButton = "Back";
inline constexpr const char* kNextButton = "Next";
inline constexpr const char* kStopButton = "Stop";
inline constexpr const char* kRefreshTreeButton = "Refresh Tree";
inline constexpr const char* kSearchMorePartitionsButton = "Search More Partitions";
inline constexpr const char* kStopSearchingPartitionsButton = "Stop Searching Partitions";
inline constexpr const char* kSaveButton = "Save";
inline constexpr const char* kLoadLogButton = "Load Log";
inline constexpr const char* kSaveLogButton = "Save Log";
inline constexpr const char* kSelectDriveHint = "Select drive to start recovery...";
inline constexpr const char* kSearchingFromSectorsLabel = "Searching from sectors";
inline constexpr const char* kRangeJoiner = " to ";
inline constexpr const char* kSearchingPartitionsText = "Searching Partitions...";
inline constexpr const char* kPropertyNameColumn = "Name";
inline constexpr const char* kPropertyValueColumn = "Value";

// Refusals of the screen's commands (M1 to M12).
inline constexpr const char* kScanRunningBackMessage =  // M1
    "Disk scanning process is still going on.\n\nPlease allow the scanning process to be completed or you can also "
    "cancel the scanning by clicking on \xE2\x80\x98Stop\xE2\x80\x99 button.";
inline constexpr const char* kRefreshRefusedMessage =  // M2
    "Disk scanning process is in progress.\n\nYou can refresh the list of Drives only before starting the scanning "
    "process.";
inline constexpr const char* kSaveNotAvailableMessage =  // M3
    "Saving function is not available at this step.\n\nTo save recovered data, first you need to scan the drive and "
    "recover the lost data.\n\nSelect the Drive from tree and click next to continue.";
inline constexpr const char* kSaveWhileScanningMessage =  // M4
    "Disk scanning process is still going on.\n\nTo save recovered data, please allow the scanning process to be "
    "completed.";
inline constexpr const char* kSaveLogBeforeScanMessage =  // M5
    "To save the Log (index of recovered files and folders) of recovery, first you need to scan the drive and "
    "recover the lost data.";
inline constexpr const char* kSaveLogWhileScanningMessage =  // M6
    "Disk scanning process is still going on.\n\nTo save the Log (index of recovered files and folders) of "
    "recovery, please allow the scanning process to be completed.";
inline constexpr const char* kLoadLogWhileScanningMessage =  // M7
    "Disk scanning process is still going on.\n\nIf you have previously saved Log (index of recovered files and "
    "folders) file of Kestravon Recovery and want to load the recovery results from Log instead of scanning the "
    "drive, you can cancel the scanning by clicking on \xE2\x80\x98Stop\xE2\x80\x99 button.";
inline constexpr const char* kLoadLogAfterScanMessage =  // M8
    "Recovery log cannot be loaded at this stage.\n\nIf you have previously saved Log (index of recovered files and "
    "folders) file of Kestravon Recovery and want to load the recovery results from Log instead , click on "
    "\xE2\x80\x98" "Back\xE2\x80\x99 button and load Log from previous screen.";
// M9 and M10 are kSelectDriveMessage and kEndSectorMessage (messages.h), shared with the other screens.
inline constexpr const char* kSelectDiskForSearchMessage =  // M11
    "Select the Physical Disk (in which you want to search Partitions) from the list of available Physical Drives "
    "in left Panel in order to search deleted or missing Partitions.";
inline constexpr const char* kNoStorageAreaFormat =  // M12, with the disk number
    "No physical storage area found in Disk(Disk - %d).\n\nIf you have connected your storage using any usb hub or "
    "extension, check storage connections or connect the storage media directly to your computer.";
inline constexpr const char* kEnterStartSectorMessage =
    "Please enter the \xE2\x80\x98Start Sector\xE2\x80\x99 of the Drive.";

// The box shown before a whole disk is scanned.
inline constexpr const char* kWholeDiskText =
    "Please select the Partition to start searching for lost data or use search more partitions option to find the "
    "missing or deleted partitions.\n\nBesides this, you can also use the advanced search mode of Kestravon - "
    "Recovery to select Entire Drive or Custom Disk Range or even cross File System selection to search the "
    "missing data.";
inline constexpr const char* kSearchEntireDriveButton = "Search Entire Drive as a single Partition";
inline constexpr const char* kOkGoBackButton = "OK, Go Back";

// The choice offered for a logical drive.
inline constexpr const char* kLogicalChoicePrefix = "You have selected a Logical Partition ( ";
inline constexpr const char* kLogicalChoiceSuffix = " ) to recover data.";
inline constexpr const char* kLogicalChoiceExplanation =
    "When a disk partition is scanned for data recovery on the basis of logical drive, few additional drive "
    "parameters are also required to scan. This may take some additional time to complete the scanning. Scanning "
    "the Logical Drive of a disk or Partition is best when you need to recover data from dynamic Partition volumes "
    "(such as spanned, striped, mirrored, and RAID-5 volumes etc.). However, Dynamic Drives are Rarely used in "
    "General purpose Computers.\n\nIf your disk is not partitioned for Dynamic Drives, you can save scanning time by "
    "selecting the Same Drive as Physical Partition under Physical Drives list.\n\nTo continue scanning the selected "
    "Logical Drive click \xE2\x80\x98Perform Logical Scan\xE2\x80\x99 or to scan the Physical Partition area of the "
    "selected logical Drive, click on \xE2\x80\x98Perform Physical Scan\xE2\x80\x99.";
inline constexpr const char* kPerformLogicalScanButton = "Perform Logical Scan";
inline constexpr const char* kPerformPhysicalScanButton = "Perform Physical Scan";
inline constexpr const char* kCancelButton = "Cancel";

// Closing a screen.
inline constexpr const char* kSaveLogOnCloseQuestion =
    "Do you want to save the Recovery scanning Log (index of recovered files and folders) file?\n\nIf you have "
    "previously saved Log file of Kestravon Recovery, you can directly load the recovery results from Log instead of "
    "scanning the drive again.";

// The no-device dialog.
inline constexpr const char* kNoDeviceHeading =
    "Kestravon FAT Recovery could not find any Disk Drive or other USB mass storage connected to your Computer.";
inline constexpr const char* kNoDevicePoint1 =
    "1. Make sure that your storage media is connected to your computer properly and you have sufficient user access "
    "privileges of your computer to run software on it.";
inline constexpr const char* kNoDevicePoint2 =
    "2. If you are using USB hub to connect multiple USB devices to your PC, Please remove USB hub from your PC and "
    "try connecting your storage media directly to the USB Port of your Computer.";
inline constexpr const char* kNoDeviceAssistance = "For any further assistance in recovering your data,";
inline constexpr const char* kRetryButtonText = "Retry";

// The mode dialog of Search More Partitions.
inline constexpr const char* kSearchModeHeading = "Select mode for Search More Partitions of selected drive.";
inline constexpr const char* kSearchModePrompt = "Please select the Search Mode to find lost partitions.";
inline constexpr const char* kStandardModeOption = "Standard Mode";
inline constexpr const char* kAdvancedModeOption = "Advanced Mode";
inline constexpr const char* kContinueButton = "Continue";
inline constexpr const char* kStopPartitionSearchQuestion = "Do you want to stop searching partition?";

// The sector range controls of the Deep Search and Signature Search screens.
inline constexpr const char* kSignatureRangeIntro =
    "You can change the range of sectors for recovery by moving the edges of slider given below :";
inline constexpr const char* kDeepRangeIntro = "You can change the range of sectors by moving the edges of slider:";
inline constexpr const char* kSliderMinLabel = "Min";
inline constexpr const char* kSliderMaxLabel = "Max";
inline constexpr const char* kStartSectorLabel = "Start Sector";
inline constexpr const char* kEndSectorLabel = "End Sector";
inline constexpr const char* kSectorRangeHelpText =
    "\xE2\x80\x98Sector Range\xE2\x80\x99 option provides facility to specify the range of start and end sectors of "
    "storage media within which you want to perform searching for lost data. Please drag Left and Right edges of "
    "Slider to enter sector range or you can also enter these values in \xE2\x80\x98Start Sector\xE2\x80\x99 and "
    "\xE2\x80\x98" "End Sector\xE2\x80\x99 fields manually.";
inline constexpr const char* kSectorRangeHelpTooltip = "Help for 'Sector Range'";

// The results stage of the Basic and Deep screens.
inline constexpr const char* kCurrentFolderLabel = "Current Folder";
inline constexpr const char* kRootFolderText = "Root";
inline constexpr const char* kItMayTakeAWhileText = "It may take a while, Please wait...";
inline constexpr const char* kPopulatingText = "Populating List Items, Please wait....";
inline constexpr const char* kOpenMenuEntry = "Open";
inline constexpr const char* kSaveMenuEntry = "Save";
inline constexpr const char* kSaveAllMenuEntry = "Save All";
inline constexpr const char* kSearchRangePrefix = "Search Range : ";
inline constexpr const char* kDeepFileSystemLabel = "Search selected Drive's file system as:";
inline constexpr const char* kUnknownFileSystem = "Unknown";
inline constexpr const char* kEmptyResultDeepText =
    "Recovery is not possible in Deep Search Mode, use other search mode to recover your data.";
inline constexpr const char* kEmptyResultImportant = "Important:";
inline constexpr const char* kEmptyResultPoint1 =
    "1. When you need to recover data from Dynamic volumes (such as spanned, striped, mirrored, and RAID-5 volumes "
    "etc), you Must perform 'Logical Scanning' of drive by selecting the logical drive (e.g. Drive letter C:, D: or "
    "E: etc) from the Drives list tree.";
inline constexpr const char* kEmptyResultPoint2 =
    "2. All Recovery Modes are recover data using different Data Recovery Techniques in different cases of Data "
    "Loss. In most of the cases, at least one recovery mode may work for you, even if another fails to recover your "
    "data.";
inline constexpr const char* kEmptyResultPoint3 =
    "3. It is strongly recommended that you should allow every process to be completed 100%.";
inline constexpr const char* kEmptyResultAssistance = "For further technical assistance in recovering your data,";
inline constexpr const char* kOkButton = "OK";

// The buttons of the save windows.
inline constexpr const char* kBrowseButton = "Browse";
inline constexpr const char* kOverwriteButton = "Overwrite";
inline constexpr const char* kRenameButton = "Rename";
inline constexpr const char* kSkipButton = "Skip";

}  // namespace kfr::texts
