// What a save run shares between the thread that writes and the front end that shows it: the
// request flags and counters, the observer that carries the progress window's texts, and the
// texts of the counting and progress windows.
#pragma once

#include <atomic>
#include <cstdint>
#include <string>

#include "storage/progress.h"

namespace kfr::exporting {

inline constexpr const char* kDiskFullText =
    "Unable to continue saving recovered data.\n\nEither Destination Drive is inaccessible or there is no free "
    "space available in drive to save recovered data.";
inline constexpr const char* kNothingSelectedText =
    "No item has been selected. Please select the item you want to save from left panel.";

// Counting window.
inline constexpr const char* kCountingText = "Calculating Total Number of Files, Please Wait ...";
inline constexpr const char* kGatheringClustersText =
    "Gathering Clusters Linking Information. This may take a while, Please wait...";
inline constexpr const char* kTotalFilesLabel = "Total Files :";
inline constexpr const char* kTotalFoldersLabel = "Total Folders :";

// Progress window.
inline constexpr const char* kSavingCaption = "Saving Files...";
inline constexpr const char* kFileNameLabel = "File Name :";
inline constexpr const char* kFilePathLabel = "File Path  :";
inline constexpr const char* kCurrentFileLabel = " Recovered Current File :";
inline constexpr const char* kFilesRecoveredLabel = "Total Files Recovered :";
inline constexpr const char* kFoldersRecoveredLabel = "Total Folders Recovered :";

// The state of one save run (and of the temporary copies made for opening). The front end sets
// the two request flags from its own thread; the writer polls them before every chunk.
struct SaveRunState {
    // Abandon the current file and go on with the next. Cleared by the writer when a file starts
    // and after it abandoned one.
    std::atomic<bool> skipRequested{false};
    // Abandon the current file and every later one. Cleared when a run starts, never by a writer;
    // set by a writer itself when the destination is full.
    std::atomic<bool> cancelRequested{false};
    // A temporary copy for opening is being written: no progress, no disk-full message.
    std::atomic<bool> openingMode{false};
    // Files that passed the collision step (temporary copies included), for the life of the owner.
    std::atomic<std::uint64_t> filesWritten{0};
    // Files of the running run, from its counting step.
    std::atomic<std::uint64_t> totalFilesToSave{0};
};

// How one offered file ended.
enum class FileOutcome {
    Written,    // every byte the medium holds for it was written
    Skipped,    // skipRequested: what was written so far stays
    Cancelled,  // cancelRequested: what was written so far stays
    Declined,   // the collision step abandoned it: nothing written, nothing counted
    NotCreated, // the target could not be created (bad name, no access, ...): skipped silently
    NoData,     // the medium holds no data for it (unreadable file record, resident value past the record)
    WriteFailed,// a write failed for a reason other than a full disk: what was written stays
    DiskFull,   // the destination is full: the run stops
};

const char* fileOutcomeName(FileOutcome outcome);

// One file as the progress window shows it.
struct SaveFileInfo {
    std::string displayName;         // "File Name :"
    std::string targetPath;          // "File Path  :"
    std::uint64_t size = 0;          // bytes the writer aims at (after the size-0 rule)
    std::uint64_t fileNumber = 0;    // filesWritten after this file passed the collision step
    std::uint64_t totalFiles = 0;    // totalFilesToSave
    std::uint32_t barStep = 512;     // the current-file bar's step: 4096 with clusters of 8 sectors or more
};

// Receives a save run's progress on the writing thread. Outside openingMode only.
class SaveObserver : public ScanObserver {
public:
    // The counting step found so many files and folders so far ("Total Files :", "Total Folders :").
    virtual void onCounting(std::uint64_t /*files*/, std::uint64_t /*folders*/) {}
    // A summary line under the bars (selectedSummaryText before writing, savedSummaryText after).
    virtual void onSummary(const std::string& /*line*/) {}
    // A file passed the collision step and its bytes follow.
    virtual void onFileStarted(const SaveFileInfo& /*file*/) {}
    // Bytes of the current file written so far; coalesced, and always sent at the file's end.
    virtual void onFileBytes(std::uint64_t /*written*/, std::uint64_t /*size*/) {}
    virtual void onFileFinished(const SaveFileInfo& /*file*/, FileOutcome /*outcome*/, std::uint64_t /*bytesWritten*/) {}
    // Every file of one ticked folder was offered.
    virtual void onFolderFinished(std::uint64_t /*done*/, std::uint64_t /*total*/) {}
    // A name from the medium could not be used as it stands and was replaced.
    virtual void onNameReplaced(const std::string& /*original*/, const std::string& /*replacement*/) {}
    // The destination is full (kDiskFullText); the run stops after this.
    virtual void onDiskFull(const std::string& /*message*/) {}
};

// "%llu / %llu Bytes" under the count-text rule.
std::string byteCountText(std::uint64_t done, std::uint64_t total);
// "( Total selected recovered data to be saved : %llu Files, %llu Folders )".
std::string selectedSummaryText(std::uint64_t files, std::uint64_t folders);
// "( recovered saved data : %llu Files, %llu Folders )".
std::string savedSummaryText(std::uint64_t files, std::uint64_t folders);
// The "File Path  :" label text: a path longer than 70 characters gets a space before every "/"
// so that the label can wrap.
std::string wrappedPathText(const std::string& path);

}  // namespace kfr::exporting
