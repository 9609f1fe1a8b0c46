// Placing found folders into the results tree.
#include "recovery/folder_tree.h"

namespace kfr::recovery {

ItemId ClusterIndex::find(std::uint64_t self) const
{
    const auto it = m_map.find(self);
    return it == m_map.end() ? kNoItem : m_rows[it->second].second;
}

void ClusterIndex::add(std::uint64_t self, ItemId item)
{
    m_map.emplace(self, m_rows.size());
    m_rows.emplace_back(self, item);
}

void ClusterIndex::setItem(std::uint64_t self, ItemId item)
{
    const auto it = m_map.find(self);
    if (it != m_map.end()) m_rows[it->second].second = item;
}

void FolderResults::reserveFolders(std::size_t count)
{
    nodes.reserve(nodes.size() + count);
    tree.reserve(count);
    clusterIndex.reserve(count);
}

void ClusterIndex::clear()
{
    m_map.clear();
    m_rows.clear();
}

FolderNode* FolderResults::nodeOf(ItemId item)
{
    if (!tree.valid(item)) return nullptr;
    const auto n = tree.item(item).node;
    return n >= 0 ? &nodes[static_cast<std::size_t>(n)] : nullptr;
}

const FolderNode* FolderResults::nodeOf(ItemId item) const
{
    return const_cast<FolderResults*>(this)->nodeOf(item);
}

const FolderNode* FolderResults::orphanNode() const
{
    for (const auto& n : nodes)
        if (n.name == kOrphanName) return &n;
    return nullptr;
}

ItemId insertFolderNode(FolderResults& r, ItemId parentItem, const std::string& name, std::uint32_t self,
                        std::uint32_t parent, std::uint64_t date, std::uint64_t time, bool deleted,
                        std::int64_t cluster0Start, std::uint32_t volume)
{
    // The orphan folder is one for every volume.
    const std::uint64_t key = self == kOrphanCluster ? folderKey(0, self) : folderKey(volume, self);
    if (parentItem == kNoItem || r.tree.empty()) {
        ItemId top = r.tree.firstTopLevel();
        if (top == kNoItem || r.tree.item(top).name != kRootName) {
            top = r.tree.add(kNoItem, kRootName, 0);
            r.tree.item(top).expanded = true;
        }
        parentItem = top;
    }

    if (!r.loadingLog) {
        const ItemId existing = r.clusterIndex.find(key);
        if (r.clusterIndex.contains(key)) return existing;
        r.clusterIndex.add(key, kNoItem);
    }

    const ItemId item = r.tree.add(parentItem, name, 1);
    if (!r.loadingLog) r.clusterIndex.setItem(key, item);

    const ItemId top = r.tree.firstTopLevel();
    if (name.rfind(kRootName, 0) == 0 && item == top) r.tree.item(item).image = 0;

    FolderNode node;
    node.name = name;
    node.item = item;
    node.self = self;
    node.parent = parent;
    node.date = date;
    node.time = time;
    node.deleted = deleted;
    node.cluster0Start = cluster0Start;
    node.volume = volume;
    r.tree.item(item).node = static_cast<std::int64_t>(r.nodes.size());
    r.nodes.push_back(std::move(node));
    ++r.folderCount;
    return item;
}

void placeChildFolders(FolderResults& r, DirNamer& namer, std::uint32_t parentCluster, ItemId item,
                       bool useRecordCluster0Start, std::uint32_t volume)
{
    FolderTable& table = r.table;
    std::size_t slot = table.lowerBoundParent(parentCluster);
    for (; slot < table.slotCount(); ++slot) {
        const FolderRecord& row = table.at(slot);
        if (row.parent != parentCluster) break;
        if (!table.isLive(slot)) continue;
        const std::string name = row.name.empty() ? namer.next() : row.name;
        insertFolderNode(r, item, name, row.self, row.parent, row.date, row.time, row.deleted,
                         useRecordCluster0Start ? row.cluster0Start.value_or(0) : 0, volume);
        table.remove(slot);
    }
}

void reparentOrphans(FolderTable& table, std::uint32_t rootParent)
{
    for (std::size_t i = 0; i < table.slotCount(); ++i) {
        if (!table.isLive(i)) continue;
        FolderRecord& row = table.at(i);
        if (row.parent == rootParent) continue;
        if (!table.containsSelf(row.parent)) row.parent = kOrphanCluster;
    }
}

void placeRemainingFolders(FolderResults& r, std::uint32_t volume)
{
    if (r.table.empty() || r.nodes.empty()) return;
    ItemId parent = kNoItem;
    if (const FolderNode* orphan = r.orphanNode()) parent = orphan->item;
    for (std::size_t i = 0; i < r.table.slotCount(); ++i) {
        if (!r.table.isLive(i)) continue;
        const FolderRecord& row = r.table.at(i);
        insertFolderNode(r, parent, row.name, row.self, kOrphanCluster, row.date, row.time, row.deleted,
                         row.cluster0Start.value_or(0), volume);
    }
}

void FolderChanges::append(const FolderChanges& other)
{
    renames.insert(renames.end(), other.renames.begin(), other.renames.end());
    visited.insert(visited.end(), other.visited.begin(), other.visited.end());
}

void applyFolderChanges(FolderResults& r, const FolderChanges& changes)
{
    for (const FolderRename& rename : changes.renames) {
        FolderNode* node = r.nodeOf(rename.item);
        if (!node) continue;
        node->name = rename.name;
        r.tree.item(rename.item).name = rename.name;
        if (rename.deleted) node->deleted = true;
    }
    for (ItemId item : changes.visited)
        if (FolderNode* node = r.nodeOf(item)) node->visited = true;
}

void FolderOverlay::add(const FolderChanges& changes)
{
    for (const FolderRename& rename : changes.renames) {
        Entry& e = m_entries[rename.item];
        e.name = rename.name;
        e.named = true;
        e.deleted = e.deleted || rename.deleted;
    }
    for (ItemId item : changes.visited) m_entries[item].visited = true;
    m_all.append(changes);
}

const std::string& FolderOverlay::name(const FolderResults& r, ItemId item) const
{
    if (const auto it = m_entries.find(item); it != m_entries.end() && it->second.named) return it->second.name;
    return r.tree.item(item).name;
}

bool FolderOverlay::deleted(const FolderResults& r, ItemId item) const
{
    if (const auto it = m_entries.find(item); it != m_entries.end() && it->second.deleted) return true;
    const FolderNode* node = r.nodeOf(item);
    return node && node->deleted;
}

bool FolderOverlay::visited(const FolderResults& r, ItemId item) const
{
    if (const auto it = m_entries.find(item); it != m_entries.end() && it->second.visited) return true;
    const FolderNode* node = r.nodeOf(item);
    return node && node->visited;
}

void clearResults(FolderResults& r)
{
    r.table.clear();
    r.tree.clear();
    r.nodes.clear();
    r.clusterIndex.clear();
    r.folderCount = 0;
}

}  // namespace kfr::recovery
