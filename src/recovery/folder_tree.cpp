// Placing found folders into the results tree.
#include "recovery/folder_tree.h"

#include <algorithm>

#include "storage/memory_room.h"

namespace kfr::recovery {

std::size_t ClusterIndex::home(std::uint64_t key) const
{
    // Folders are placed roughly in cluster order: neighbouring clusters take neighbouring slots,
    // so placing a million folders walks the table instead of jumping around it. The key's higher
    // bits are folded in so that clusters a table length apart do not all share one home.
    const int bits = 64 - m_shift;
    std::uint64_t h = key;
    for (int s = bits; s < 64; s += bits) h ^= key >> s;
    return static_cast<std::size_t>(h) & (m_slots.size() - 1);
}

const ClusterIndex::Slot* ClusterIndex::slotOf(std::uint64_t key) const
{
    if (m_slots.empty()) return nullptr;
    for (std::size_t at = home(key);; at = (at + 1) & (m_slots.size() - 1)) {
        const Slot& slot = m_slots[at];
        if (!slot.used) return nullptr;
        if (slot.key == key) return &slot;
    }
}

ItemId ClusterIndex::find(std::uint64_t key) const
{
    const Slot* slot = slotOf(key);
    return slot ? slot->item : kNoItem;
}

ItemId& ClusterIndex::claim(std::uint64_t key, bool& added)
{
    if ((m_count + 1) * 2 > m_slots.size()) rehash(std::max<std::size_t>(64, m_slots.size() * 2));
    std::size_t at = home(key);
    while (m_slots[at].used) {
        if (m_slots[at].key == key) {
            added = false;
            return m_slots[at].item;
        }
        at = (at + 1) & (m_slots.size() - 1);
    }
    m_slots[at] = Slot{key, kNoItem, true};
    ++m_count;
    added = true;
    return m_slots[at].item;
}

void ClusterIndex::rehash(std::size_t capacity)
{
    std::vector<Slot> old;
    old.swap(m_slots);
    m_slots.assign(capacity, Slot{});
    m_shift = 64;
    for (std::size_t c = capacity; c > 1; c >>= 1) --m_shift;
    for (const Slot& slot : old) {
        if (!slot.used) continue;
        std::size_t at = home(slot.key);
        while (m_slots[at].used) at = (at + 1) & (m_slots.size() - 1);
        m_slots[at] = slot;
    }
}

void ClusterIndex::reserve(std::size_t count)
{
    std::size_t capacity = std::max<std::size_t>(m_slots.size(), 64);
    while (capacity < (m_count + count) * 2) capacity *= 2;
    if (capacity != m_slots.size()) rehash(capacity);
}

void ClusterIndex::clear()
{
    std::vector<Slot>().swap(m_slots);
    m_count = 0;
    m_shift = 64;
}

void FolderResults::reserveFolders(std::size_t count)
{
    nodes.reserve(nodes.size() + count);
    storage::populateForWriting(nodes.data() + nodes.size(), nodes.data() + nodes.capacity());
    tree.reserve(count);
    clusterIndex.reserve(count);
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
        if (tree.item(n.item).name == kOrphanName) return &n;
    return nullptr;
}

ItemId insertFolderNode(FolderResults& r, ItemId parentItem, std::string name, std::uint32_t self,
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

    ItemId* indexed = nullptr;
    if (!r.loadingLog) {
        bool added = false;
        indexed = &r.clusterIndex.claim(key, added);
        if (!added) return *indexed;
    }

    const bool rootLike = name.rfind(kRootName, 0) == 0;
    const ItemId item = r.tree.add(parentItem, std::move(name), 1);
    if (indexed) *indexed = item;

    if (rootLike && item == r.tree.firstTopLevel()) r.tree.item(item).image = 0;

    FolderNode node;
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
    // The rows with this parent stand together: the item's children are given room at once.
    std::size_t runEnd = slot;
    while (runEnd < table.slotCount() && table.at(runEnd).parent == parentCluster) ++runEnd;
    r.tree.reserveChildren(item, runEnd - slot);
    for (; slot < runEnd; ++slot) {
        const FolderRecord& row = table.at(slot);
        if (!table.isLive(slot)) continue;
        std::string name = table.name(slot);
        if (name.empty()) name = namer.next();
        insertFolderNode(r, item, std::move(name), row.self, row.parent, row.date, row.time, row.deleted,
                         useRecordCluster0Start ? row.cluster0Start : 0, volume);
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
        insertFolderNode(r, parent, r.table.name(i), row.self, kOrphanCluster, row.date, row.time, row.deleted,
                         row.cluster0Start, volume);
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
