// The NTFS half of Basic Search: every file record of the master file table, read in order
// through the table's own run list (all of its extents), offered to the tree builder.
#include <algorithm>

#include "recovery/basic_scan.h"
#include "recovery/mft_reader.h"
#include "recovery/ntfs_tree_build.h"
#include "recovery/placement_events.h"
#include "storage/sector_sweep.h"
#include "volumes/boot_parameters.h"

namespace kfr::recovery {

namespace {
constexpr std::uint32_t kSectorsPerRecordSlot = 2;  // records are visited 1,024 bytes at a time
constexpr std::uint32_t kRecordsPerRead = 256;
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
    NtfsTreeBuilder builder(r, result.mftFiles, root, 0, events);

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
            if (const auto facts = recordFacts(record, recordNumber, sector, &locator); facts && facts->named) builder.offer(*facts);
        }
        return true;
    });
    result.directoriesFound = builder.directoriesFound();
    result.unreadableSectors += swept.unreadableSectors;
    if (swept.end == storage::SweepEnd::Stopped) result.end = ScanEnd::Stopped;
    if (swept.end == storage::SweepEnd::MediumGone) noteMediumGone(result, *ctx.source);

    if (locator.runs().empty() && r.tree.children(root).empty())
        insertFolderNode(r, root, kOrphanName, kOrphanCluster, 0, 0, 0, false);
    builder.finish(*ctx.namer, report);
    r.tree.item(root).expanded = true;
    r.tree.item(root).name = kRootName;
    r.tree.item(root).image = 0;
}

}  // namespace kfr::recovery
