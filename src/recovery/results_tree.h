// The tree of recovered folders as the user browses and ticks it: "Root" on top, one item per
// folder, each with a tri-state check box used when saving.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace kfr::recovery {

using ItemId = std::uint32_t;
inline constexpr ItemId kNoItem = 0;
inline constexpr const char* kRootName = "Root";

enum class CheckState : std::uint8_t { Unchecked = 1, Checked = 2, Partial = 3 };

struct TreeItem {
    std::string name;
    ItemId parent = kNoItem;
    std::vector<ItemId> children;
    int image = 1;                        // 0 for the top item, 1 for folders
    CheckState check = CheckState::Unchecked;
    std::int64_t node = -1;               // index of the item's FolderNode, -1 for "Root"
    bool expanded = false;
};

class ResultTree {
public:
    ResultTree() { clear(); }

    // Adds an item as the last child of parent (kNoItem: at the top level).
    ItemId add(ItemId parent, std::string name, int image = 1);
    void clear();

    bool empty() const { return m_topLevel.empty(); }
    ItemId firstTopLevel() const { return m_topLevel.empty() ? kNoItem : m_topLevel.front(); }
    const std::vector<ItemId>& topLevel() const { return m_topLevel; }
    const std::vector<ItemId>& children(ItemId id) const { return item(id).children; }
    TreeItem& item(ItemId id) { return m_items.at(id); }
    const TreeItem& item(ItemId id) const { return m_items.at(id); }
    bool valid(ItemId id) const { return id != kNoItem && id < m_items.size(); }
    std::size_t itemCount() const { return m_items.size() - 1; }

    // A click on an item's check box: a checked or partly checked item and everything below it
    // become unchecked, an unchecked one checked; ancestors then become checked, unchecked or
    // partly checked from their children.
    void toggleCheck(ItemId id);
    void setCheckRecursive(ItemId id, CheckState state);

    // Items in pre-order (parents before children, children in order), from the top level.
    std::vector<ItemId> preOrder() const;

private:
    void updateAncestors(ItemId id);
    std::vector<TreeItem> m_items;  // slot 0 unused so that 0 means "no item"
    std::vector<ItemId> m_topLevel;
};

}  // namespace kfr::recovery
