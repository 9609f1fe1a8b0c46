// The drive stage of a recovery screen, apart from its widgets: the drive tree of the last
// listing, the property rows and sector range of the chosen item, and the checks of Next and of
// "Search More Partitions" with what they lead to (a message, a box to ask, or the scan's target).
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "session/partition_search_session.h"
#include "session/recovery_session.h"
#include "storage/media_properties.h"
#include "ui/drive_tree.h"
#include "ui/screen_state.h"

namespace kfr::ui {

// The sector range controls' four values for a chosen item (smallest and largest sector of the
// scale, start and end of the range), all inclusive sector numbers.
struct SectorChoice {
    std::uint64_t lowest = 0;
    std::uint64_t highest = 0;
    std::uint64_t start = 0;
    std::uint64_t end = 0;
};

// What selecting a tree item shows.
struct SelectionView {
    std::vector<storage::PropertyRow> rows;  // empty for the category items
    std::optional<SectorChoice> range;       // for disks, partitions and volumes
};

// The kind of the chosen item, as the recovery log records it.
enum class SelectionKind { HardDisk, RemovableMedia, Partition, Logical };
const char* selectionKindText(SelectionKind kind);  // "Hard Disk", "Removable Media", "part", "Logical"

// How the user settled a whole disk or a mounted volume.
enum class DriveChoice { None, WholeDisk, LogicalScan, PhysicalScan };

// What Next reads: the device, the inclusive sector range and the file system.
struct ScanTarget {
    ScreenMode mode = ScreenMode::Basic;
    SelectionKind kind = SelectionKind::Partition;
    DriveChoice choice = DriveChoice::None;
    std::uint32_t diskNumber = 0;
    std::string devicePath;
    std::uint64_t firstSector = 0;
    std::uint64_t lastSector = 0;  // inclusive
    std::string partType;          // "FAT16", "FAT32", "NTFS" or "Unknown"
    bool partTypeBySize = false;   // PartType came from the size rule: no partition named it
    bool clipped = false;          // the range reached past the medium and was cut at its end

    // The request the session takes: the named file system, or "auto" (with the size rule as
    // the fallback when the size rule gave PartType).
    session::SourceRequest request() const;
    // "%llu to %llu", shown beside "Searching from sectors".
    std::string rangeText() const;
};

// The first answer of Next.
enum class NextStep {
    Refuse,          // show message
    AskWholeDisk,    // the whole-disk box: "Search Entire Drive as a single Partition" or "OK, Go Back"
    AskLogicalScan,  // the logical-drive choice: logical scan, physical scan or Cancel
    Resolve,         // go on to resolveNext with DriveChoice::None
};
struct NextCheck {
    NextStep step = NextStep::Refuse;
    const char* message = nullptr;
    std::string driveDesignator;  // AskLogicalScan: the volume as the box names it
};

// The sector fields of the Deep Search and Signature Search screens, as the user left them
// (nullopt: the field is empty or not a number).
struct RangeFields {
    std::optional<std::uint64_t> start;
    std::optional<std::uint64_t> end;
};

struct NextResolution {
    std::optional<ScanTarget> target;  // set when the scan may start
    const char* message = nullptr;     // otherwise why not
};

// The answer of "Search More Partitions" on the drive stage.
enum class SearchMoreStep { Refuse, AskMode };
struct SearchMoreCheck {
    SearchMoreStep step = SearchMoreStep::Refuse;
    std::string message;           // Refuse
    bool selectPhysicalDrives = false;  // the refusal also selects "Physical Drives"
};

// A disk that is listed but cannot be read by this user.
struct UnreadableDisk {
    std::string devicePath;
    std::string itemText;
};

class DriveStage {
public:
    explicit DriveStage(ScreenMode mode);

    ScreenMode mode() const { return m_mode; }
    void setSnapshot(DriveSnapshot snapshot);
    const DriveSnapshot& snapshot() const { return m_snapshot; }
    const DriveTree& tree() const { return m_tree; }

    // Chooses an item; holdsResults says whether the screen shows scan results (the Basic and
    // Deep screens then show no properties for a mounted volume).
    SelectionView select(int item, bool holdsResults);
    int selected() const { return m_selected; }
    // The current-disk values of the last disk chosen.
    const storage::DiskSelection& currentDisk() const { return m_currentDisk; }

    NextCheck checkNext() const;
    // Settles the target of the chosen item. fields are read by the screens with a sector range
    // (Deep Search and Signature Search); the Basic screen passes nothing.
    NextResolution resolveNext(DriveChoice choice, const std::optional<RangeFields>& fields = std::nullopt) const;

    SearchMoreCheck checkSearchMore() const;

    // The disk item's entry (nullptr for other items).
    const volumes::DiskEntry* diskEntryOf(int item) const;
    // Appends what a partition search found under the disk item (numbered after its partitions;
    // the whole-disk partition when there is one) and rebuilds the tree. Gives the disk item's
    // first child afterwards, or -1 when it has none. Items live until the next listing.
    int addFoundPartitions(int diskItem, const session::PartitionSearchOutcome& outcome);

    // Disks the user cannot read (no permission): the screen offers to restart with privileges.
    std::vector<UnreadableDisk> unreadableDisks() const;
    // The first disk item whose text says "Removable Media" and that has no partition items: the
    // removable-media search runs on it when the screen opens. -1 when there is none.
    int firstBareRemovableMedium() const;

private:
    const volumes::DiskEntry* diskOf(const DriveItem& item) const;
    ScanTarget wholeDiskTarget(const volumes::DiskEntry& entry, bool removable) const;

    ScreenMode m_mode;
    DriveSnapshot m_snapshot;
    DriveTree m_tree;
    int m_selected = DriveTree::kMyComputer;
    storage::DiskSelection m_currentDisk;
};

}  // namespace kfr::ui
