// NTFS records into folders and file rows.
#include "recovery/ntfs_tree_build.h"

#include <algorithm>
#include <optional>


namespace kfr::recovery {

std::optional<NtfsRecordFacts> recordFacts(const MftRecordBytes& record, std::uint64_t recordNumber,
                                           std::uint64_t sector, const MftReader* reader)
{
    if (baseReference(record) != 0) return std::nullopt;
    NameMatch match;
    if (reader) {
        match = reader->findName(record, recordNumber);
    } else {
        FileRecords one;
        one.numbers.push_back(recordNumber);
        one.records.push_back(record);
        match = findFileName(one);
    }
    NtfsRecordFacts f;
    f.recordNumber = recordNumber;
    f.sector = sector;
    f.flags = recordFlags(record);
    f.sequence = recordSequence(record);
    f.named = match.found;
    if (match.found) {
        f.parent = match.value.parent;
        f.name = match.value.name;
    }
    f.stamp = modificationTime(record).value_or(match.value.modificationTime);
    return f;
}

NtfsTreeBuilder::NtfsTreeBuilder(FolderResults& results, MftFileTable& files, ItemId root, std::uint32_t volume,
                                 PlacementEvents& events)
    : m_r(results), m_files(files), m_root(root), m_volume(volume), m_events(events), m_firstFile(files.size()),
      m_orphanMade(results.orphanNode() != nullptr)
{
}

bool NtfsTreeBuilder::parentStillThere(const FileReference& parent) const
{
    const auto it = m_dirs.find(parent.record);
    // The root is never freed: a root record that could not be read still holds the root.
    if (it == m_dirs.end()) return parent.record == kRootRecord;
    return referenceStillValid(parent.sequence, it->second.sequence, it->second.inUse);
}

void NtfsTreeBuilder::offer(const NtfsRecordFacts& f)
{
    if (!f.named) return;
    FolderResults& r = m_r;
    const FileReference parentRef = f.parent;
    const auto parent = static_cast<std::uint32_t>(std::min<std::uint64_t>(parentRef.record, kOrphanCluster));
    if (!f.directory()) {
        MftFileRow row{parent, f.sector, {}, 0, f.recordNumber, false};
        row.volume = m_volume;
        m_files.push_back(std::move(row));
        m_fileParents.push_back(parentRef);
        return;
    }
    // A parent is met before its child when its record was offered earlier.
    const bool parentMet = m_dirs.count(parentRef.record) != 0 || parentRef.record == f.recordNumber;
    m_dirs[f.recordNumber] = {f.sequence, (f.flags & 0x01) != 0};
    if (!m_orphanMade) {
        insertFolderNode(r, m_root, kOrphanName, kOrphanCluster, 0, 0, 0, false);
        r.tree.item(m_root).expanded = true;
        m_orphanMade = true;
    }
    if (f.name == "." || f.recordNumber >= kOrphanCluster) return;
    const auto self = static_cast<std::uint32_t>(f.recordNumber);
    const bool deleted = f.flags == 2;
    ++m_directories;
    const bool parentGone = parentMet && !parentStillThere(parentRef);
    ItemId parentItem = kNoItem;
    if (!parentGone) parentItem = parent == kRootRecord ? m_root : r.clusterIndex.find(folderKey(m_volume, parent));
    if (parentItem != kNoItem) {
        insertFolderNode(r, parentItem, f.name, self, parent, f.stamp, 0, deleted, 0, m_volume);
        m_events.placed(false);
        return;
    }
    FolderRecord row;
    row.self = self;
    row.parent = parentGone ? kOrphanCluster : parent;
    row.date = f.stamp;
    row.deleted = deleted;
    r.table.append(row, f.name);
    if (!parentMet) m_laterParents[self] = parentRef;
}

void NtfsTreeBuilder::finish(DirNamer& namer, ProgressReporter& report)
{
    FolderResults& r = m_r;
    // Parents named before they were met, now that every record has been.
    for (std::size_t i = 0; i < r.table.slotCount(); ++i) {
        FolderRecord& row = r.table.at(i);
        const auto it = m_laterParents.find(row.self);
        if (r.table.isLive(i) && it != m_laterParents.end() && !parentStillThere(it->second))
            row.parent = kOrphanCluster;
    }
    for (std::size_t i = 0; i < m_fileParents.size(); ++i)
        m_files[m_firstFile + i].parentLost = !parentStillThere(m_fileParents[i]);
    m_events.placed(true);

    report.stage(WorkStage::SearchingLostDirectories);
    r.table.sortBySelf();
    // A parent placed while records were offered counts as found too.
    for (std::size_t i = 0; i < r.table.slotCount(); ++i) {
        FolderRecord& row = r.table.at(i);
        if (row.parent == kRootRecord) continue;
        if (!r.table.containsSelf(row.parent) && !r.clusterIndex.contains(folderKey(m_volume, row.parent)))
            row.parent = kOrphanCluster;
    }
    report.stage(WorkStage::StoringDirectoryInformation);
    r.table.sortByParent();
    for (std::size_t i = 0; i < r.table.slotCount(); ++i) {
        const FolderRecord& row = r.table.at(i);
        if (!r.table.isLive(i) || row.parent != kRootRecord || row.self == kRootRecord) continue;
        insertFolderNode(r, m_root, r.table.name(i), row.self, row.parent, row.date, row.time, row.deleted, 0, m_volume);
        r.table.remove(i);
    }
    std::optional<std::uint32_t> previousSelf;
    for (std::size_t n = 0; n < r.nodes.size() && !r.table.empty(); ++n) {
        const FolderNode& node = r.nodes[n];
        // This volume's folders, and the orphan folder the volumes share.
        if (node.volume != m_volume && node.self != kOrphanCluster) continue;
        if (previousSelf && *previousSelf == node.self) continue;
        previousSelf = node.self;
        placeChildFolders(r, namer, node.self, node.item, false, m_volume);
    }
    placeRemainingFolders(r, m_volume);
    r.table.clear();
    m_events.placed(true);
}

}  // namespace kfr::recovery
