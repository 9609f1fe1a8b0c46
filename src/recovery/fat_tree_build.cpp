// Building one FAT volume's folder tree.
#include "recovery/fat_tree_build.h"

#include <algorithm>
#include <thread>
#include <unordered_map>
#include <vector>

#include "recovery/directory_listing.h"
#include "recovery/placement_events.h"
#include "storage/two_halves.h"

namespace kfr::recovery {

namespace {

// Gives rows whose parent is the root the names their root entries carry.
void nameFromRoot(const FatTreeBuild& b, FolderResults& results)
{
    const volumes::VolumeParameters& p = *b.params;
    FolderTable& table = results.table;
    // Rows with parent 0 open the table sorted by parent; the first row per cluster takes the name.
    std::unordered_map<std::uint32_t, std::size_t> rootRows;
    for (std::size_t i = 0; i < table.slotCount() && table.at(i).parent == 0; ++i) rootRows.emplace(table.at(i).self, i);
    if (rootRows.empty()) return;

    std::size_t rowsToName = 0;  // all but the orphan row
    for (std::size_t i = 0; i < table.slotCount(); ++i)
        if (table.isLive(i) && table.at(i).self != kOrphanCluster) ++rowsToName;
    std::size_t named = 0;
    // The tree is built from what was found even after Stop, so naming ignores the stop request.
    DirectoryContext dctx{b.source, &p, nullptr, b.observer, {}, nullptr};
    listDirectory(dctx, DirectoryRef{true, 0}, EndMarkRule::EndsSector, [&](const DirItem& item) {
        const auto it = rootRows.find(item.firstCluster);
        if (it != rootRows.end()) {
            table.setName(it->second, item.name);
            if (item.deleted) table.at(it->second).deleted = true;
            ++named;
        }
        // On FAT32 the root is a chain that may be long; stop once every row could have a name.
        return !(p.isFat32() && named >= rowsToName);
    });
}

}  // namespace

void buildFatTree(const FatTreeBuild& b, FolderResults& r)
{
    const volumes::VolumeParameters& p = *b.params;
    DirNamer& namer = *b.namer;
    PlacementEvents events(b.observer, r);
    ProgressReporter report(b.observer);

    if (b.firstVolume) {
        r.tree.clear();
        r.nodes.clear();
        r.clusterIndex.clear();
        r.folderCount = 0;
        r.tree.add(kNoItem, kRootName, 0);
    }
    // This volume's folders are the nodes placed from here on: folders of earlier volumes have
    // cluster numbers of their own volume and must not take this volume's rows as children.
    const std::size_t firstNode = r.nodes.size();
    const ItemId root = r.tree.firstTopLevel();
    {
        // The room for the tree is made ready on a second thread while this one orders the rows
        // (the tree and the table are apart).
        std::jthread reserving([&r, rows = r.table.size()] { r.reserveFolders(rows); });

        report.stage(WorkStage::SearchingLostDirectories);
        r.table.sortBySelf();
        reparentOrphans(r.table, 0);
        r.table.sortByParent();
        report.stage(WorkStage::StoringDirectoryInformation);
        nameFromRoot(b, r);
    }
    // Top level: every row whose parent is the root directory, the orphan folder among them.
    for (std::size_t i = 0; i < r.table.slotCount() && r.table.at(i).parent == 0; ++i) {
        if (!r.table.isLive(i)) continue;
        const FolderRecord& row = r.table.at(i);
        insertFolderNode(r, root, r.table.name(i), row.self, row.parent, row.date, row.time, row.deleted,
                         row.cluster0Start, b.volume);
        r.table.remove(i);
    }
    r.tree.item(root).expanded = true;
    r.tree.item(root).name = kRootName;
    r.tree.item(root).image = 0;

    // A later volume's folders with lost parents join the orphan folder the first volume made.
    if (!b.firstVolume)
        if (const FolderNode* orphan = r.orphanNode())
            placeChildFolders(r, namer, kOrphanCluster, orphan->item, true, b.volume);

    // Breadth of the node list: nodes appended here are visited by this same loop.
    report.begin(0, r.table.size() + r.folderCount);
    for (std::size_t n = firstNode; n < r.nodes.size() && !r.table.empty(); ++n) {
        if (r.nodes[n].self == kOrphanCluster && !b.firstVolume) continue;
        placeChildFolders(r, namer, r.nodes[n].self, r.nodes[n].item, true, b.volume);
        report.update(r.folderCount);
        events.placed(false);
    }
    placeRemainingFolders(r, b.volume);
    r.table.clear();
    events.placed(true);
    report.finish();

    // Name subfolders from their parents' own directories. Each folder's directory is read and
    // decoded on its own, so the folders are named on two threads, a slice of them at a time,
    // each thread walking chains through its own FAT reader and reading directory sectors through
    // its own reader; the results are read-only while they do. The renames are then applied in
    // folder order, as one thread would have applied them.
    std::vector<std::size_t> toName;
    for (std::size_t n = firstNode; n < r.nodes.size(); ++n) {
        FolderNode& node = r.nodes[n];
        // The orphan folder has no directory; a folder without subfolders has nothing to name.
        if (node.self == kOrphanCluster || r.tree.children(node.item).empty()) node.visited = true;
        else toName.push_back(n);
    }
    constexpr std::size_t kSlice = 4096;
    std::vector<FolderChanges> named(std::min(kSlice, toName.size()));
    volumes::FatReader fats[2] = {volumes::directoryFatReader(*b.source, p), volumes::directoryFatReader(*b.source, p)};
    storage::SectorReadAhead sectors[2] = {directoryReadAhead(*b.source), directoryReadAhead(*b.source)};
    report.begin(firstNode, r.nodes.size());
    for (std::size_t from = 0; from < toName.size(); from += kSlice) {
        const std::size_t count = std::min(kSlice, toName.size() - from);
        storage::runInTwoHalves(count, [&](std::size_t begin, std::size_t end, int half) {
            for (std::size_t i = begin; i < end; ++i)
                named[i] = nameChildFolders(*b.source, p, r, r.nodes[toName[from + i]].item, nullptr, &fats[half],
                                             &sectors[half]);
        });
        for (std::size_t i = 0; i < count; ++i) {
            // A folder already marked deleted stays so (its rename was made before earlier renames
            // were applied).
            for (FolderRename& rename : named[i].renames)
                if (const FolderNode* child = r.nodeOf(rename.item); child && child->deleted) rename.deleted = true;
            applyFolderChanges(r, named[i]);
            events.renamed(named[i].renames);
            named[i] = {};
        }
        report.update(toName[from + count - 1]);
    }
    events.renamed({}, true);
    report.finish();
}

}  // namespace kfr::recovery
