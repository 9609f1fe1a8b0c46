// The tree of recovered folders as the user browses it: "Root" on top, one item per folder; and
// the tri-state check boxes the user ticks for saving, kept apart from the tree so that ticking
// never changes results a worker may be reading.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace kfr::recovery {

using ItemId = std::uint32_t;
inline constexpr ItemId kNoItem = 0;
inline constexpr const char* kRootName = "Root";

enum class CheckState : std::uint8_t { Unchecked = 1, Checked = 2, Partial = 3 };

// Fields ordered without gaps: a large scan holds a million of them.
struct TreeItem {
    std::string name;
    std::vector<ItemId> children;
    std::int64_t node = -1;               // index of the item's FolderNode, -1 for "Root"
    ItemId parent = kNoItem;
    int image = 1;                        // 0 for the top item, 1 for folders
    bool expanded = false;
};

class ResultTree {
public:
    ResultTree() { clear(); }

    // Adds an item as the last child of parent (kNoItem: at the top level).
    ItemId add(ItemId parent, std::string name, int image = 1);
    void clear();
    // Room for count more items, so a large tree is not moved while it grows; its pages are
    // made ready for writing.
    void reserve(std::size_t count);
    // Room for count more children of id.
    void reserveChildren(ItemId id, std::size_t count)
    {
        auto& children = item(id).children;
        children.reserve(children.size() + count);
    }

    bool empty() const { return m_topLevel.empty(); }
    ItemId firstTopLevel() const { return m_topLevel.empty() ? kNoItem : m_topLevel.front(); }
    const std::vector<ItemId>& topLevel() const { return m_topLevel; }
    const std::vector<ItemId>& children(ItemId id) const { return item(id).children; }
    TreeItem& item(ItemId id) { return m_items.at(id); }
    const TreeItem& item(ItemId id) const { return m_items.at(id); }
    bool valid(ItemId id) const { return id != kNoItem && id < m_items.size(); }
    std::size_t itemCount() const { return m_items.size() - 1; }

    // Items in pre-order (parents before children, children in order), from the top level.
    std::vector<ItemId> preOrder() const;

private:
    std::vector<TreeItem> m_items;  // slot 0 unused so that 0 means "no item"
    std::vector<ItemId> m_topLevel;
};

// The check boxes of one results tree. Every item starts unchecked.
class TreeChecks {
public:
    CheckState state(ItemId id) const;
    // A click on an item's check box: a checked or partly checked item and everything below it
    // become unchecked, an unchecked one checked; ancestors then become checked, unchecked or
    // partly checked from their children.
    void toggleCheck(const ResultTree& tree, ItemId id);
    void setCheckRecursive(const ResultTree& tree, ItemId id, CheckState state);
    // Ticks an item and everything below it, whatever its box showed before.
    void tick(const ResultTree& tree, ItemId id);
    // Whether anything is ticked: the top item's box tells, since a tick anywhere below makes it
    // checked or partly checked.
    bool anythingTicked(const ResultTree& tree) const;
    void clear() { m_states.clear(); }

private:
    void updateAncestors(const ResultTree& tree, ItemId id);
    void set(ItemId id, CheckState state);
    std::vector<CheckState> m_states;
};

}  // namespace kfr::recovery
