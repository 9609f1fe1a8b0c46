// The NTFS half of Basic Search: every file record of the master file table, read in order
// through the table's own run list (all of its extents); directories go into the tree, files into
// the MftFileTable. A parent reference counts only while the parent record still holds the folder
// it named (its sequence number says so): folders and files whose parent is gone, reused or no
// folder go to the orphan folder.
#include <algorithm>
#include <array>
#include <optional>
#include <unordered_map>

#include "recovery/basic_scan.h"
#include "recovery/mft_reader.h"
#include "recovery/placement_events.h"
#include "recovery/run_list.h"
#include "storage/bytes.h"
#include "storage/sector_sweep.h"
#include "volumes/boot_parameters.h"

namespace kfr::recovery {

namespace {

constexpr std::uint32_t kSectorsPerRecordSlot = 2;  // records are visited 1,024 bytes at a time
constexpr std::uint32_t kRecordsPerRead = 256;

// A directory record met by the scan, for judging the references that name it.
struct DirectoryState {
    std::uint16_t sequence = 0;
    bool inUse = false;
};
using DirectoryStates = std::unordered_map<std::uint64_t, DirectoryState>;

bool parentStillThere(const DirectoryStates& dirs, const FileReference& parent)
{
    const auto it = dirs.find(parent.record);
    // The root is never freed: a root record the scan could not read still holds the root.
    if (it == dirs.end()) return parent.record == kRootRecord;
    return referenceStillValid(parent.sequence, it->second.sequence, it->second.inUse);
}

void placeLeftoverDirectories(BasicScanContext const& ctx, BasicScanResult& result, ItemId root,
                              ProgressReporter& report)
{
    FolderResults& r = result.folders;
    DirNamer& namer = *ctx.namer;
    report.stage(WorkStage::SearchingLostDirectories);
    r.table.sortBySelf();
    // A parent placed during the scan counts as found too: records are read in number order and a
    // child's record may come before its parent's.
    for (std::size_t i = 0; i < r.table.slotCount(); ++i) {
        FolderRecord& row = r.table.at(i);
        if (row.parent == kRootRecord) continue;
        if (!r.table.containsSelf(row.parent) && !r.clusterIndex.contains(row.parent)) row.parent = kOrphanCluster;
    }
    report.stage(WorkStage::StoringDirectoryInformation);
    r.table.sortByParent();
    for (std::size_t i = 0; i < r.table.slotCount(); ++i) {
        const FolderRecord& row = r.table.at(i);
        if (!r.table.isLive(i) || row.parent != kRootRecord || row.self == kRootRecord) continue;
        insertFolderNode(r, root, row.name, row.self, row.parent, row.date, row.time, row.deleted);
        r.table.remove(i);
    }
    r.tree.item(root).expanded = true;
    r.tree.item(root).name = kRootName;
    r.tree.item(root).image = 0;
    std::optional<std::uint32_t> previousSelf;
    for (std::size_t n = 0; n < r.nodes.size() && !r.table.empty(); ++n) {
        if (previousSelf && *previousSelf == r.nodes[n].self) continue;
        previousSelf = r.nodes[n].self;
        placeChildFolders(r, namer, r.nodes[n].self, r.nodes[n].item);
    }
    placeRemainingFolders(r);
    r.table.clear();
}

}  // namespace

void runNtfsRecordScan(const BasicScanContext& ctx, BasicScanResult& result)
{
    ProgressReporter report(ctx.observer);
    FolderResults& r = result.folders;
    clearResults(r);
    const ItemId root = r.tree.add(kNoItem, kRootName, 0);
    r.tree.item(root).expanded = true;

    auto boot = volumes::readBootParameters(*ctx.source, ctx.selection);
    if (!boot) {
        // As with an unreadable file table: "Root" with the orphan folder and nothing else.
        result.paramsFailed = true;
        result.paramsFailure = ParamsFailure::NtfsBootSector;
        insertFolderNode(r, root, kOrphanName, kOrphanCluster, 0, 0, 0, false);
        return;
    }
    result.params = *boot;
    result.paramsFromBootSector = true;
    PlacementEvents events(ctx.observer, r);
    const MftReader locator(*ctx.source, result.params, ctx.selection.lastSector + 1);
    report.status(StatusLine::SectorsScannedOfTotal, locator.totalSectors());

    bool orphanMade = false;
    std::uint64_t recordNumber = 0;
    MftRecordBytes record{};
    DirectoryStates dirs;
    // Parent references waiting for the scan's end: folders whose parent record comes later, and
    // every file (in mftFiles order).
    std::unordered_map<std::uint32_t, FileReference> laterParents;
    std::vector<FileReference> fileParents;
    // The table's runs in order, 1,024-byte record slots; progress counts the sectors visited.
    storage::SweepContext sweep;
    sweep.source = ctx.source;
    for (const auto& run : locator.runs()) sweep.ranges.push_back({run.firstSector, run.sectorCount});
    sweep.blockSectors = kRecordsPerRead * kSectorsPerRecordSlot;
    sweep.stopRequested = ctx.stopRequested;
    sweep.progress = &report;
    sweep.progressPosition = storage::ProgressPosition::SectorsDone;
    const auto swept = storage::sweepSectors(sweep, [&](const storage::SweepBlock& block) {
        const std::uint32_t slots = block.sectorCount / kSectorsPerRecordSlot;  // an odd last sector holds no record
        for (std::uint32_t i = 0; i < slots; ++i, ++recordNumber) {
            const std::uint64_t sector = block.firstSector + static_cast<std::uint64_t>(i) * kSectorsPerRecordSlot;
            if (!block.readable(sector, kSectorsPerRecordSlot)) continue;
            std::copy_n(block.bytes.begin() + static_cast<std::ptrdiff_t>(i) * kMftRecordBytes, kMftRecordBytes,
                        record.begin());
            if (applyFixup(record) != RecordVerdict::Usable) continue;
            // An extension record holds attributes of its base record's file, found through the base.
            if (baseReference(record) != 0) continue;

            const NameMatch match = locator.findName(record, recordNumber);
            if (!match.found) continue;
            const std::uint8_t flags = recordFlags(record);
            const bool directory = flags == 2 || flags == 3;
            const FileReference parentRef = match.value.parent;
            const auto parent = static_cast<std::uint32_t>(std::min<std::uint64_t>(parentRef.record, kOrphanCluster));
            if (!directory) {
                result.mftFiles.push_back(MftFileRow{parent, sector, {}, 0, recordNumber, false});
                fileParents.push_back(parentRef);
                continue;
            }
            dirs[recordNumber] = {recordSequence(record), (flags & 0x01) != 0};
            if (!orphanMade) {
                insertFolderNode(r, root, kOrphanName, kOrphanCluster, 0, 0, 0, false);
                r.tree.item(root).expanded = true;
                orphanMade = true;
            }
            if (match.value.name == "." || recordNumber >= kOrphanCluster) continue;
            const auto self = static_cast<std::uint32_t>(recordNumber);
            const bool deleted = flags == 2;
            // What file managers show for a folder: its last modification.
            const std::uint64_t stamp = modificationTime(record).value_or(match.value.modificationTime);
            ++result.directoriesFound;
            // A parent met before this record is judged now; a later one when the scan ends.
            const bool parentMet = parentRef.record < recordNumber;
            const bool parentGone = parentMet && !parentStillThere(dirs, parentRef);
            ItemId parentItem = kNoItem;
            if (!parentGone) parentItem = parent == kRootRecord ? root : r.clusterIndex.find(parent);
            if (parentItem != kNoItem) {
                insertFolderNode(r, parentItem, match.value.name, self, parent, stamp, 0, deleted);
                events.placed(false);
            } else {
                FolderRecord row;
                row.name = match.value.name;
                row.self = self;
                row.parent = parentGone ? kOrphanCluster : parent;
                row.date = stamp;
                row.deleted = deleted;
                r.table.append(std::move(row));
                if (!parentMet) laterParents[self] = parentRef;
            }
        }
        return true;
    });
    // Parents named before they were met, now that every record has been.
    for (std::size_t i = 0; i < r.table.slotCount(); ++i) {
        FolderRecord& row = r.table.at(i);
        const auto it = laterParents.find(row.self);
        if (r.table.isLive(i) && it != laterParents.end() && !parentStillThere(dirs, it->second))
            row.parent = kOrphanCluster;
    }
    for (std::size_t i = 0; i < result.mftFiles.size(); ++i)
        result.mftFiles[i].parentLost = !parentStillThere(dirs, fileParents[i]);
    result.unreadableSectors += swept.unreadableSectors;
    if (swept.end == storage::SweepEnd::Stopped) result.end = ScanEnd::Stopped;
    if (swept.end == storage::SweepEnd::MediumGone) noteMediumGone(result, *ctx.source);
    events.placed(true);

    if (locator.runs().empty() && r.tree.children(root).empty())
        insertFolderNode(r, root, kOrphanName, kOrphanCluster, 0, 0, 0, false);
    placeLeftoverDirectories(ctx, result, root, report);
    events.placed(true);
}

}  // namespace kfr::recovery
