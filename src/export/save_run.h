// A save run: the ticked folders of the results tree and the selected rows of the item list are
// counted first, then written under the destination with the folder structure of the results
// tree reproduced (Root's own files land in the destination itself; Documents/Work in
// <destination>/Documents/Work).
#pragma once

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "export/collision.h"
#include "export/destination.h"
#include "export/output_file.h"
#include "export/save_state.h"
#include "recovery/basic_scan.h"
#include "recovery/folder_listing.h"

namespace kfr::exporting {

// A row of the item list that was selected when "Save" was chosen. A folder row stands for the
// whole folder, as if it were ticked.
struct SelectedRow {
    recovery::ItemId folder = recovery::kNoItem;  // the folder whose listing holds the row
    recovery::ItemRow row;
};

struct SaveRunContext {
    const storage::SectorSource* source = nullptr;  // read-only, held for the run
    const volumes::VolumeParameters* params = nullptr;
    // Every volume's parameters by the volume index folders and rows carry (Deep Search); null
    // when params serves every file.
    const std::vector<volumes::VolumeParameters>* volumes = nullptr;
    const recovery::MftFileTable* mftFiles = nullptr;  // NTFS
    const recovery::MftFileIndex* mftIndex = nullptr;  // optional index of mftFiles (built when missing)
    const recovery::FolderResults* results = nullptr;  // read only; names learned are reported back
    const recovery::TreeChecks* checks = nullptr;      // the ticked folders (none when null)
    std::uint64_t volumeEndSector = 0;              // first sector past the volume; 0: the source's end
    std::string destination;
    std::vector<SelectedRow> selectedRows;
    bool deletedOnly = false;                       // only files marked deleted
    // NTFS: what a ticked folder leaves out unless asked for. Selected rows are always saved, and so
    // is a system folder ticked on its own (not only as part of a folder above it).
    bool includeSystemFiles = false;                // the volume's own files and $Extend
    bool includeStreams = false;                    // named data streams, saved as "name:stream" beside the file
    SaveRunState* state = nullptr;                  // required
    CollisionState* collisions = nullptr;           // required
    // The answer a run starts with: Overwrite (0) asks at the first collision; OverwriteAll,
    // SkipAll and RenameAll answer every collision of the run without asking.
    CollisionAnswer startAnswer = CollisionAnswer::Overwrite;
    CollisionPrompt* prompt = nullptr;
    SaveObserver* observer = nullptr;
    OutputFiles* files = nullptr;                   // nullptr: the real file system
};

// One file the run will offer to a writer.
struct PlannedFile {
    std::size_t folder = 0;  // index into SavePlan::folders
    std::string name;        // safe for the destination
    recovery::RowKind kind = recovery::RowKind::FatFile;
    std::uint64_t size = 0;
    std::uint32_t firstCluster = 0;
    std::uint64_t recordSector = 0;
    std::uint64_t recordNumber = 0;  // NTFS
    std::string streamName;          // NTFS: a named data stream of the file
    bool deleted = false;
    std::uint16_t date = 0;  // FAT: the entry's date and time words
    std::uint16_t time = 0;
    std::uint32_t volume = 0;  // which volume holds it
};

struct PlannedFolder {
    recovery::ItemId item = recovery::kNoItem;
    std::string relativePath;  // "" for the top item, "Documents/Work" below it
    bool ticked = false;       // saved as a whole: counts for "Total Folders"
    bool tooDeep = false;      // its path would be longer than the system can name: nothing is made
};

// The longest path the system names (PATH_MAX, with its closing zero).
inline constexpr std::size_t kMaxPathBytes = 4096;

struct SavePlan {
    std::vector<PlannedFolder> folders;
    std::vector<PlannedFile> files;
    std::uint64_t folderCount = 0;  // ticked folders below the top item
    bool stopped = false;           // cancelRequested during counting
    std::vector<std::pair<std::string, std::string>> replacedNames;  // (original, used instead)
    recovery::FolderChanges folderChanges;  // what listing the folders taught about them
};

// The counting step: lists every ticked folder (and the folders of selected rows) and collects
// their files, reporting the counts as they grow. Stops early when cancelRequested is set.
SavePlan countSelection(const SaveRunContext& context);

enum class SaveEnd {
    Finished,
    Stopped,    // cancelRequested (Stop, Ctrl+C) or Cancel in the Replace dialog
    DiskFull,   // the destination filled up
    Refused,    // the destination cannot be used (`verdict` says why)
    Nothing,    // nothing ticked or selected
    Failed,     // the medium could not be opened or was removed, or the destination was (`error` says why)
};

struct SaveRunReport {
    SaveEnd end = SaveEnd::Finished;
    DestinationVerdict verdict = DestinationVerdict::Usable;  // for Refused
    Error error;                      // for Refused: the destination
    std::uint64_t filesTotal = 0;
    std::uint64_t foldersTotal = 0;
    std::uint64_t filesWritten = 0;   // every byte written (some may stand for unreadable stretches)
    std::uint64_t filesWithUnreadable = 0;  // written, with stretches the medium could not give
    std::uint64_t filesIncomplete = 0;      // written short: FileResult says how short and why
    std::uint64_t filesSkipped = 0;   // Skip or Stop while being written (what was written stays)
    std::uint64_t filesDeclined = 0;  // abandoned by the collision step
    std::uint64_t filesFailed = 0;    // not created, no data on the medium, write failure
    std::uint64_t foldersDone = 0;
    std::uint64_t foldersTooDeep = 0;  // folders (and all below them) whose path the system cannot name
    std::vector<std::pair<std::string, std::string>> replacedNames;  // (original, used instead)
    std::vector<Error> problems;      // the first problems met (bounded)
    std::vector<FileResult> files;    // every offered file, in the order it was offered
    // Names and deleted marks of folders learned while listing them, for the results' owner.
    recovery::FolderChanges folderChanges;
};

const char* saveEndName(SaveEnd end);

// Runs a whole save: checks the destination, counts, writes every planned file with the collision
// rules on, and reports the summary lines. Blocking; the caller picks the thread.
SaveRunReport runSave(const SaveRunContext& context);

}  // namespace kfr::exporting
