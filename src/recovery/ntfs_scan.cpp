// The NTFS half of Basic Search: every file record of the master file table, read in order
// through the table's own run list; directories go into the tree, files into the MftFileTable.
#include <algorithm>
#include <array>
#include <optional>
#include <unordered_set>

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
    const MftReader locator(*ctx.source, result.params);
    report.status(StatusLine::SectorsScannedOfTotal, locator.totalSectors());

    bool orphanMade = false;
    std::uint64_t recordNumber = 0;
    MftRecordBytes record{};
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

            const NameMatch match = locator.findName(record, recordNumber);
            if (!match.found) continue;
            const std::uint8_t flags = recordFlags(record);
            const bool directory = flags == 2 || flags == 3;
            const auto parent = static_cast<std::uint32_t>(match.value.parentRecord);
            if (!directory) {
                result.mftFiles.push_back(MftFileRow{parent, sector, {}, 0});
                continue;
            }
            if (!orphanMade) {
                insertFolderNode(r, root, kOrphanName, kOrphanCluster, 0, 0, 0, false);
                r.tree.item(root).expanded = true;
                orphanMade = true;
            }
            if (match.value.name == ".") continue;
            const auto self = static_cast<std::uint32_t>(recordNumber);
            const bool deleted = flags == 2;
            ++result.directoriesFound;
            ItemId parentItem = kNoItem;
            if (parent == kRootRecord) parentItem = root;
            else parentItem = r.clusterIndex.find(parent);
            if (parentItem != kNoItem) {
                insertFolderNode(r, parentItem, match.value.name, self, parent, match.value.creationTime, 0, deleted);
                events.placed(false);
            } else {
                FolderRecord row;
                row.name = match.value.name;
                row.self = self;
                row.parent = parent;
                row.date = match.value.creationTime;
                row.deleted = deleted;
                r.table.append(std::move(row));
            }
        }
        return true;
    });
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
