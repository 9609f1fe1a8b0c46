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
    const auto& p = result.params;
    const auto& source = *ctx.source;

    PlacementEvents events(ctx.observer, r);
    const MftReader locator(source, p);
    const std::uint64_t total = locator.totalSectors();
    report.status(StatusLine::SectorsScannedOfTotal, total);
    report.begin(0, total);

    bool orphanMade = false;
    std::uint64_t recordNumber = 0;
    std::uint64_t visitedSectors = 0;
    std::vector<std::uint8_t> block(static_cast<std::size_t>(kRecordsPerRead) * kMftRecordBytes);
    MftRecordBytes record{};
    bool stop = false;
    for (const auto& run : locator.runs()) {
        for (std::uint64_t off = 0; off + kSectorsPerRecordSlot <= run.sectorCount && !stop;) {
            const std::uint64_t slotsLeft = (run.sectorCount - off) / kSectorsPerRecordSlot;
            const auto slots = static_cast<std::uint32_t>(std::min<std::uint64_t>(kRecordsPerRead, slotsLeft));
            std::fill(block.begin(), block.end(), 0);
            const std::uint64_t blockSector = run.firstSector + off;
            const bool blockRead = source.read(blockSector, slots * kSectorsPerRecordSlot, block);
            for (std::uint32_t i = 0; i < slots; ++i, ++recordNumber) {
                if (ctx.stopRequested && ctx.stopRequested->load()) {
                    stop = true;
                    break;
                }
                const std::uint64_t sector = blockSector + static_cast<std::uint64_t>(i) * kSectorsPerRecordSlot;
                visitedSectors += kSectorsPerRecordSlot;
                report.update(visitedSectors);
                if (blockRead) {
                    std::copy_n(block.begin() + static_cast<std::ptrdiff_t>(i) * kMftRecordBytes, kMftRecordBytes,
                                record.begin());
                } else if (!source.read(sector, kSectorsPerRecordSlot, record)) {
                    ++result.unreadableSectors;
                    report.problem(Error{ErrorKind::ReadFailed, sector, source.path(), "unreadable file record"});
                    continue;
                }
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
            off += static_cast<std::uint64_t>(slots) * kSectorsPerRecordSlot;
        }
        if (stop) break;
    }
    report.finish();
    events.placed(true);
    if (stop) result.end = ScanEnd::Stopped;

    if (locator.runs().empty() && r.tree.children(root).empty())
        insertFolderNode(r, root, kOrphanName, kOrphanCluster, 0, 0, 0, false);
    placeLeftoverDirectories(ctx, result, root, report);
    events.placed(true);
}

}  // namespace kfr::recovery
