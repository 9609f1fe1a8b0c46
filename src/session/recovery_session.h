// A recovery session: the one way both front ends drive the core. It opens a source (a disk, a
// partition, a sector range or an image), settles its file system, runs Basic Search, lists the
// folders of the results, opens and saves what the user chose.
//
// Threads. The owner (the GUI thread, or the CLI's one thread) selects the source, adopts the
// results of a scan and applies what listings learn. Scanning, listing, expanding, opening and
// saving are blocking calls that may run on workers, several at once (but one scan at a time):
// each reads the results under a lease, and the owner's changes to the results wait while any
// lease is held, so a worker never sees them change under it.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "export/save_run.h"
#include "export/temp_copies.h"
#include "recovery/basic_scan.h"
#include "recovery/deep_ntfs.h"
#include "recovery/deep_tables.h"
#include "recovery/folder_listing.h"
#include "recoverylog/log_format.h"
#include "session/log_session.h"
#include "storage/result.h"
#include "storage/sector_read_ahead.h"
#include "storage/sector_source.h"
#include "volumes/partition_table.h"
#include "volumes/volume_parameters.h"

namespace kfr::session {

// What to read, as the user names it.
struct SourceRequest {
    std::string path;                          // disk, partition, volume device or image file
    std::uint32_t partition = 0;               // 1..: a partition as the kernel numbers it (sdb2: 2); 0: none
    std::optional<std::uint64_t> firstSector;  // default 0
    std::optional<std::uint64_t> lastSector;   // default: the source's last sector
    std::string fileSystem;                    // "" or "auto": from the boot sector; else FAT16, FAT32, NTFS
    bool guessBySize = false;                  // no boot sector: take the file system from the size rule
};

// Opens a path read-only. Tests put fault-injecting or in-memory sources behind it.
using SourceOpener = std::function<Result<std::shared_ptr<const storage::SectorSource>>(const std::string& path)>;
SourceOpener fileSourceOpener();

// The sectors a request names.
struct SourceRange {
    std::uint64_t firstSector = 0;
    std::uint64_t lastSector = 0;  // inclusive
    bool clipped = false;          // the table or the request reached past the medium's end
    std::optional<volumes::PartitionSlot> partition;  // the partition the range came from
};

// Settles the range of a request on an open source, always within the medium: a partition
// number takes the range of that slot of the partition table, cut at the medium's last sector
// (a table may claim more than the disk holds); an explicit last sector past the end is cut the
// same way. A source that cannot tell its size is not cut.
Result<SourceRange> settleRange(const storage::SectorSource& source, const SourceRequest& request);

// Settles the range and the file system of a request on an open source. "auto" reads the boot
// sector (FAT32 also from its backup copy six sectors in); a volume of a file system this tool
// does not read is named as such, and a whole disk that carries partitions is refused with their
// numbers. A file system that is named but contradicts a valid boot sector is refused too.
Result<volumes::VolumeSelection> settleSelection(const storage::SectorSource& source, const SourceRequest& request);

// Where a volume's parameters came from.
enum class ParamsOrigin { None, BootSector, Inferred };

struct VolumeInfo {
    volumes::VolumeSelection selection;
    volumes::VolumeParameters params;
    ParamsOrigin origin = ParamsOrigin::None;
};

enum class ScanMode { Basic, Deep };

// What Deep Search gathered and inferred besides the folders (kept for the recovery log).
struct DeepTables {
    recovery::LostDirectoryTable lostDirectories;
    recovery::BootCandidateTable bootCandidates;
    recovery::DeepPartitionTable partitions;  // FAT volumes, then NTFS volumes: as `volumes` orders them
    std::vector<recovery::NtfsVolumeGuess> ntfsVolumes;
    std::uint64_t ntfsRecordsFound = 0;
    bool decodedFromRoot = false;
};

// What a Basic or Deep Search leaves: read-only to listing, opening and saving.
struct ScanResults {
    ScanMode mode = ScanMode::Basic;
    volumes::VolumeSelection selection;  // Deep Search: the range swept
    recovery::BasicScanResult scan;      // folders, NTFS file rows, counts; Basic: the parameters
    // Every volume's parameters by the index folders and rows carry: Basic Search's one volume,
    // or each volume Deep Search inferred.
    std::vector<volumes::VolumeParameters> volumes;
    DeepTables deep;
    recovery::MftFileIndex mftIndex;  // NTFS file rows by parent record
    recoverylog::LogCarry log;        // what a recovery log carries that no scan makes
    // The first sector past the volume, for the writers; 0 (the medium's end) after a Deep
    // Search, whose volumes may reach past the range swept.
    std::uint64_t volumeEndSector() const { return mode == ScanMode::Deep ? 0 : selection.lastSector + 1; }
    ParamsOrigin origin() const;
    // The parameters of the volume that holds a folder, or nothing for a folder of no volume.
    const volumes::VolumeParameters* paramsOf(recovery::ItemId folder) const;

private:
    friend class RecoverySession;
    mutable int m_readers = 0;  // workers reading these results now (guarded by the session)
};

struct ScanControl {
    const std::atomic<bool>* stopRequested = nullptr;
    ScanObserver* observer = nullptr;  // a recovery::BasicScanObserver also gets the tree events
};

// A Deep Search of a sector range of the selected source.
struct DeepRequest {
    std::uint64_t startSector = 0;
    std::uint64_t endSector = 0;  // blocks are swept while they begin below it
    // "FAT16", "FAT32", "NTFS", or recovery::kDeepAnyFat / kDeepEveryFileSystem
    std::string fileSystem;
};

// Why a Deep Search cannot start.
enum class DeepCheck {
    Ready,
    EndNotAfterStart,    // the end sector is not beyond the start sector
    NoFileSystemChosen,  // no file system Deep Search reads is chosen
};
DeepCheck checkDeepRequest(const DeepRequest& request);

// The medium held open, and the FAT sectors read, across many listings of one results: a listing
// of every folder would otherwise open the medium and read its FAT sectors again for each folder.
// Used by one thread at a time; made by RecoverySession::holdMedium.
struct HeldMedium {
    std::shared_ptr<const storage::SectorSource> source;
    std::optional<volumes::FatReader> fat;  // the results' own FAT volume
    std::optional<storage::SectorReadAhead> sectors;  // the FAT volume's directory sectors
};

struct ListingControl {
    const std::atomic<bool>* stopRequested = nullptr;
    HeldMedium* held = nullptr;                        // null: the medium is opened for this listing
    recovery::RowSink* sink = nullptr;                // rows in batches as they are read
    const recovery::FolderOverlay* overlay = nullptr;  // changes the caller holds but has not applied
};

// A save of the ticked folders and selected rows.
struct SaveRequest {
    std::string destination;
    recovery::TreeChecks checks;                      // a copy: ticking on goes on while saving
    std::vector<exporting::SelectedRow> selectedRows;
    bool deletedOnly = false;
    bool includeSystemFiles = false;                  // NTFS: see exporting::SaveRunContext
    bool includeStreams = false;
    exporting::SaveRunState* state = nullptr;         // required: the front end's flags and counters
    exporting::CollisionState* collisions = nullptr;  // required
    exporting::CollisionAnswer startAnswer = exporting::CollisionAnswer::Overwrite;
    exporting::CollisionPrompt* prompt = nullptr;
    exporting::SaveObserver* observer = nullptr;
    exporting::OutputFiles* files = nullptr;          // nullptr: the real file system
};

class RecoverySession {
public:
    explicit RecoverySession(SourceOpener opener = fileSourceOpener());
    RecoverySession(const RecoverySession&) = delete;
    RecoverySession& operator=(const RecoverySession&) = delete;

    // --- Owner thread ---

    // Opens the source named by request (read-only, closed again), settles range and file system.
    Status selectSource(const SourceRequest& request);
    // Opens the source for Deep Search, which needs no file system: only the range is settled
    // (a whole disk, a partition of it, or sectors), within the medium.
    Status selectRange(const SourceRequest& request);
    bool hasSource() const { return m_selection.has_value(); }
    const volumes::VolumeSelection& selection() const { return *m_selection; }

    // The results in effect (null before a scan), with every change applied that can be.
    std::shared_ptr<const ScanResults> results();
    // Makes a scan's results the session's own.
    void adoptResults(std::shared_ptr<ScanResults> results);
    void clearResults();
    // Applies what a listing, an expansion or a save learned about the folders of `from`; ignored
    // when other results were adopted since. Applied at once when no worker reads the results,
    // otherwise as soon as the last one is done (at the next owner call).
    void applyChanges(const ScanResults* from, const recovery::FolderChanges& changes);

    // --- Any thread, blocking ---

    // The volume's parameters: from its boot sector, or (FAT) inferred from directory positions.
    Result<VolumeInfo> volumeInfo(const ScanControl& control) const;
    // Basic Search of the selected source. One scan at a time per session (the "DIR_n" counter
    // lives as long as the session).
    Result<std::shared_ptr<ScanResults>> scan(const ScanControl& control);
    // Deep Search of a range of the selected source (its file system is the request's).
    Result<std::shared_ptr<ScanResults>> deepScan(const DeepRequest& request, const ScanControl& control);
    // The calls below read the results they are given (which the caller keeps alive, normally
    // from results()); what they learn comes back for applyChanges.

    // Opens the results' medium to be held across many listings (ListingControl::held).
    Result<HeldMedium> holdMedium(const ScanResults& results) const;
    // Lists a folder.
    Result<recovery::FolderListing> listFolder(const ScanResults& results, recovery::ItemId folder,
                                               const ListingControl& control = {}) const;
    // Names a folder's children when it is first expanded (empty changes when nothing was read).
    Result<recovery::FolderChanges> expandFolder(const ScanResults& results, recovery::ItemId folder,
                                                 const std::atomic<bool>* stopRequested = nullptr) const;
    // Saves the ticked folders and selected rows.
    exporting::SaveRunReport save(const ScanResults& results, const SaveRequest& request) const;
    // Opens a file row through a temporary copy.
    exporting::OpenResult openFile(const ScanResults& results, const recovery::ItemRow& row,
                                   exporting::TemporaryCopies& copies, const exporting::Opener& opener,
                                   exporting::SaveRunState& state) const;
    // Writes the results as a recovery log, identifying the medium they were read from.
    LogSaveOutcome saveLog(const ScanResults& results, const LogSaveRequest& request) const;
    // Reads a recovery log and checks its medium; the results it gives are for adoptResults. The
    // medium itself is not read.
    LogLoadOutcome loadLog(const LogLoadRequest& request) const;

private:
    class Lease;
    Result<std::shared_ptr<const storage::SectorSource>> openPath(const std::string& path) const;
    void applyPendingLocked();

    SourceOpener m_opener;
    std::optional<volumes::VolumeSelection> m_selection;
    recovery::DirNamer m_namer;

    mutable std::mutex m_mutex;  // guards the members below and every ScanResults::m_readers
    std::shared_ptr<ScanResults> m_results;
    recovery::FolderChanges m_pending;
};

// Finds a folder by a path of names under "Root" ("/", "Documents/Work", "Lumo_Miscellaneous/DIR5").
recovery::ItemId findFolder(const recovery::FolderResults& results, const std::string& path);

// "/Documents/Work" for an item; "/" for the top item.
std::string slashPath(const recovery::FolderResults& results, recovery::ItemId item);

}  // namespace kfr::session
