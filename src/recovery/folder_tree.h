// Moving found folders from the FolderTable into the results tree: every folder under its parent,
// top-level folders under "Root", and folders whose parent is lost under "Lumo_Miscellaneous".
#pragma once

#include <cstdint>
#include <string>
#include <unordered_map>
#include <vector>

#include "recovery/folder_table.h"
#include "recovery/results_tree.h"

namespace kfr::recovery {

// One folder placed in the tree. Nodes are kept in insertion order; that order is the work
// queue of the tree walk, so nodes appended during a walk are visited by the same walk.
// Fields ordered without gaps: a large scan holds a million of them.
// Its name is its tree item's.
struct FolderNode {
    std::uint64_t date = 0;
    std::uint64_t time = 0;
    std::int64_t cluster0Start = 0;
    ItemId item = kNoItem;
    std::uint32_t self = 0;
    std::uint32_t parent = 0;
    // Which of the results' volumes holds the folder (a Deep Search may find several): its
    // clusters are read with that volume's parameters. Basic Search has one volume, 0.
    std::uint32_t volume = 0;
    bool visited = false;   // its directory was read to name its children
    bool deleted = false;
};

// Volume and self cluster -> tree item, one entry per placed folder. Clusters are numbered per
// volume, so a folder is known by its volume and its cluster together. Held for every folder of a
// scan: one open-addressed table of plain slots, no allocation per folder.
class ClusterIndex {
public:
    ItemId find(std::uint64_t key) const;
    bool contains(std::uint64_t key) const { return slotOf(key) != nullptr; }
    // The item of key, added as kNoItem when key is new (added tells which): the caller sets it.
    // The reference stays valid until the next claim.
    ItemId& claim(std::uint64_t key, bool& added);
    std::size_t size() const { return m_count; }
    void clear();
    void reserve(std::size_t count);

private:
    struct Slot {
        std::uint64_t key = 0;
        ItemId item = kNoItem;
        bool used = false;
    };
    const Slot* slotOf(std::uint64_t key) const;
    std::size_t home(std::uint64_t key) const;
    void rehash(std::size_t capacity);

    std::vector<Slot> m_slots;  // a power of two long, at most half full
    std::size_t m_count = 0;
    int m_shift = 64;           // 64 - log2 of the slot count
};

// Names folders whose record has no name: "DIR_1", "DIR_2", ... The count lives as long as the
// program, across scans, so the owner keeps one instance for the whole session.
class DirNamer {
public:
    std::string next() { return "DIR_" + std::to_string(m_next++); }

private:
    std::uint32_t m_next = 1;
};

// Everything a FAT or NTFS scan leaves for browsing and saving.
struct FolderResults {
    FolderTable table;
    ResultTree tree;
    std::vector<FolderNode> nodes;
    ClusterIndex clusterIndex;
    std::uint64_t folderCount = 0;  // folders placed
    bool loadingLog = false;        // a recovery log is being rebuilt: no index lookups

    // Room for count more folders in the nodes, the tree and the index: a scan that places a
    // million folders reserves once instead of holding twice the room while each vector grows.
    // The room's pages are made ready for writing (a large scan does this on a second thread
    // while it sorts the table).
    void reserveFolders(std::size_t count);

    FolderNode* nodeOf(ItemId item);
    const FolderNode* nodeOf(ItemId item) const;
    // The node named "Lumo_Miscellaneous", or nullptr.
    const FolderNode* orphanNode() const;
};

// What reading folders taught about them, to be applied by the results' owner.
struct FolderRename {
    ItemId item = kNoItem;
    std::string name;
    bool deleted = false;  // true: mark deleted (a mark is never taken away)
};

struct FolderChanges {
    std::vector<FolderRename> renames;
    std::vector<ItemId> visited;  // folders whose directory was read to name their children
    bool empty() const { return renames.empty() && visited.empty(); }
    void append(const FolderChanges& other);
};

// Applies changes to the results (on the thread that owns them).
void applyFolderChanges(FolderResults& results, const FolderChanges& changes);

// Changes not applied to the results yet, seen through while reading them (a save run lists many
// folders and names each subfolder before it builds the subfolder's path).
class FolderOverlay {
public:
    void add(const FolderChanges& changes);
    const std::string& name(const FolderResults& results, ItemId item) const;
    bool deleted(const FolderResults& results, ItemId item) const;
    bool visited(const FolderResults& results, ItemId item) const;
    const FolderChanges& changes() const { return m_all; }

private:
    struct Entry {
        std::string name;
        bool named = false;
        bool deleted = false;
        bool visited = false;
    };
    std::unordered_map<ItemId, Entry> m_entries;
    FolderChanges m_all;
};

// The cluster index's key of a folder: its volume and its self cluster.
inline std::uint64_t folderKey(std::uint32_t volume, std::uint32_t self)
{
    return (static_cast<std::uint64_t>(volume) << 32) | self;
}

// Places one folder under parentItem (kNoItem: under "Root", creating it when needed) unless its
// self cluster was placed before on the same volume, in which case the earlier item is returned.
ItemId insertFolderNode(FolderResults& results, ItemId parentItem, std::string name, std::uint32_t self,
                        std::uint32_t parent, std::uint64_t date, std::uint64_t time, bool deleted,
                        std::int64_t cluster0Start = 0, std::uint32_t volume = 0);

// Places every row whose parent is parentCluster under item and removes it from the table, which
// must be sorted by parent. With useRecordCluster0Start, a row's Cluster0Start column goes into
// its node (scans that mix several volumes).
void placeChildFolders(FolderResults& results, DirNamer& namer, std::uint32_t parentCluster, ItemId item,
                       bool useRecordCluster0Start = false, std::uint32_t volume = 0);

// Gives every row whose parent is neither rootParent nor the self of any row the orphan parent.
// The table must be sorted by self. rootParent is 0 for FAT and 5 for NTFS.
void reparentOrphans(FolderTable& table, std::uint32_t rootParent = 0);

// Puts every row still in the table under the orphan folder (under "Root" when there is none).
void placeRemainingFolders(FolderResults& results, std::uint32_t volume = 0);

// Empties the table, the tree, the index and the nodes, and zeroes the folder counter.
void clearResults(FolderResults& results);

}  // namespace kfr::recovery
