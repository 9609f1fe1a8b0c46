// What a save run shares between the thread that writes and the front end that shows it: the
// request flags and counters, and the observer that carries what the progress window shows.
#pragma once

#include <atomic>
#include <cstdint>
#include <string>
#include <vector>

#include "storage/progress.h"

namespace kfr::exporting {

// The state of one save run (and of the temporary copies made for opening). The front end owns
// the request flags and sets them from its own thread; the writers only read them, before every
// chunk. What ends a run by itself (a full disk, Cancel in the Replace dialog) is reported as the
// run's outcome instead.
struct SaveRunState {
    // Abandon the file being written and go on with the next: every Skip press adds one. A writer
    // abandons its file when the count has grown since the file started, so a press between two
    // files, or one the writer has already acted on, never skips another file.
    std::atomic<std::uint64_t> skipRequested{0};
    // Abandon the current file and every later one.
    std::atomic<bool> cancelRequested{false};
    // Files that passed the collision step (temporary copies included), for the life of the owner.
    std::atomic<std::uint64_t> filesWritten{0};
    // Files of the running run, from its counting step.
    std::atomic<std::uint64_t> totalFilesToSave{0};
    // The destination of this run refused to take bytes straight from the image file inside the
    // kernel (another kind of file system): later files are read and written without asking again.
    std::atomic<bool> kernelCopyRefused{false};
};

// How one offered file ended.
enum class FileOutcome {
    Written,    // every byte was written (unreadable stretches as zeros: see FileResult)
    Incomplete, // fewer bytes than its size could be written (FileResult says how many, and why)
    Skipped,    // skipRequested: what was written so far stays
    Cancelled,  // cancelRequested: what was written so far stays
    Declined,   // the collision step abandoned it: nothing written, nothing counted
    NotCreated, // the target could not be created (bad name, no access, ...): skipped silently
    NoData,     // the medium holds no data for it (unreadable file record, resident value past the record)
    WriteFailed,// a write failed for a reason other than a full disk: what was written stays
    DiskFull,   // the destination is full: the run stops
    PathTooLong,// its folder path would be longer than the system can name: not made
};

const char* fileOutcomeName(FileOutcome outcome);

// Why a file was written short.
enum class ShortReason {
    None,
    PastMediumEnd,  // its data runs past the end of the medium (a cut-off image, a failing disk)
    PastVolumeEnd,  // its data runs past the end of the volume
    ChainEnded,     // its cluster chain or run list ends before its size
    NoDataCluster,  // the entry names cluster 0 or 1, where no data lies, with a size above 0
    MediumRemoved,  // the medium went away while the file was being read
};

const char* shortReasonName(ShortReason reason);

// A stretch of bytes in an output file.
struct ByteRange {
    std::uint64_t offset = 0;
    std::uint64_t length = 0;
};

// One file as the progress window shows it.
struct SaveFileInfo {
    std::string displayName;         // "File Name :"
    std::string targetPath;          // "File Path  :"
    std::uint64_t size = 0;          // bytes the writer aims at (after the size-0 rule)
    std::uint64_t fileNumber = 0;    // filesWritten after this file passed the collision step
    std::uint64_t totalFiles = 0;    // totalFilesToSave
    std::uint32_t barStep = 512;     // the current-file bar's step: 4096 with clusters of 8 sectors or more
};

// How one offered file ended, in full.
struct FileResult {
    SaveFileInfo info;
    FileOutcome outcome = FileOutcome::Written;
    std::uint64_t bytesWritten = 0;
    ShortReason reason = ShortReason::None;      // for Incomplete
    std::vector<ByteRange> unreadable;           // stretches written as zeros because the medium could not be read
    std::uint64_t firstSector = 0;               // where its data begins on the medium (0: unknown or none)
    bool encrypted = false;                      // NTFS: written as stored, unreadable without its owner's key
};

// Receives a save run's progress on the writing thread (never for temporary copies).
class SaveObserver : public ScanObserver {
public:
    // The counting step found so many files and folders so far ("Total Files :", "Total Folders :").
    virtual void onCounting(std::uint64_t /*files*/, std::uint64_t /*folders*/) {}
    // What the run is about to write, once counted.
    virtual void onSelectedTotals(std::uint64_t /*files*/, std::uint64_t /*folders*/) {}
    // What the run wrote, at its end.
    virtual void onSavedTotals(std::uint64_t /*files*/, std::uint64_t /*folders*/) {}
    // A file passed the collision step and its bytes follow.
    virtual void onFileStarted(const SaveFileInfo& /*file*/) {}
    // Bytes of the current file written so far; coalesced, and always sent at the file's end.
    virtual void onFileBytes(std::uint64_t /*written*/, std::uint64_t /*size*/) {}
    virtual void onFileFinished(const FileResult& /*result*/) {}
    // Every file of one ticked folder was offered.
    virtual void onFolderFinished(std::uint64_t /*done*/, std::uint64_t /*total*/) {}
    // A name from the medium could not be used as it stands and was replaced.
    virtual void onNameReplaced(const std::string& /*original*/, const std::string& /*replacement*/) {}
    // The destination is full; the run stops after this.
    virtual void onDiskFull() {}
};

}  // namespace kfr::exporting
