// Results tree items and their tri-state check boxes.
#include "recovery/results_tree.h"

#include "storage/memory_room.h"

namespace kfr::recovery {

ItemId ResultTree::add(ItemId parent, std::string name, int image)
{
    const auto id = static_cast<ItemId>(m_items.size());
    TreeItem& t = m_items.emplace_back();
    t.name = std::move(name);
    t.parent = valid(parent) ? parent : kNoItem;
    t.image = image;
    if (valid(parent))
        m_items[parent].children.push_back(id);
    else
        m_topLevel.push_back(id);
    return id;
}

void ResultTree::reserve(std::size_t count)
{
    m_items.reserve(m_items.size() + count);
    storage::populateForWriting(m_items.data() + m_items.size(), m_items.data() + m_items.capacity());
}

void ResultTree::clear()
{
    m_items.assign(1, TreeItem{});
    m_topLevel.clear();
}

std::vector<ItemId> ResultTree::preOrder() const
{
    std::vector<ItemId> out;
    out.reserve(m_items.size());
    std::vector<ItemId> stack(m_topLevel.rbegin(), m_topLevel.rend());
    while (!stack.empty()) {
        const ItemId cur = stack.back();
        stack.pop_back();
        out.push_back(cur);
        const auto& ch = m_items[cur].children;
        for (auto it = ch.rbegin(); it != ch.rend(); ++it) stack.push_back(*it);
    }
    return out;
}

CheckState TreeChecks::state(ItemId id) const
{
    return id < m_states.size() ? m_states[id] : CheckState::Unchecked;
}

void TreeChecks::set(ItemId id, CheckState state)
{
    if (id >= m_states.size()) m_states.resize(static_cast<std::size_t>(id) + 1, CheckState::Unchecked);
    m_states[id] = state;
}

void TreeChecks::setCheckRecursive(const ResultTree& tree, ItemId id, CheckState state)
{
    if (!tree.valid(id)) return;
    std::vector<ItemId> stack{id};
    while (!stack.empty()) {
        const ItemId cur = stack.back();
        stack.pop_back();
        set(cur, state);
        for (ItemId c : tree.children(cur)) stack.push_back(c);
    }
}

void TreeChecks::updateAncestors(const ResultTree& tree, ItemId id)
{
    for (ItemId p = tree.item(id).parent; tree.valid(p); p = tree.item(p).parent) {
        bool allChecked = true, allUnchecked = true;
        for (ItemId c : tree.children(p)) {
            const CheckState s = state(c);
            if (s != CheckState::Checked) allChecked = false;
            if (s != CheckState::Unchecked) allUnchecked = false;
        }
        set(p, allChecked ? CheckState::Checked : allUnchecked ? CheckState::Unchecked : CheckState::Partial);
    }
}

void TreeChecks::toggleCheck(const ResultTree& tree, ItemId id)
{
    if (!tree.valid(id)) return;
    const CheckState next = state(id) == CheckState::Unchecked ? CheckState::Checked : CheckState::Unchecked;
    setCheckRecursive(tree, id, next);
    updateAncestors(tree, id);
}

void TreeChecks::tick(const ResultTree& tree, ItemId id)
{
    if (!tree.valid(id) || state(id) == CheckState::Checked) return;
    if (state(id) == CheckState::Partial) toggleCheck(tree, id);  // clears the subtree first
    toggleCheck(tree, id);
}

bool TreeChecks::anythingTicked(const ResultTree& tree) const
{
    for (ItemId top : tree.topLevel())
        if (state(top) != CheckState::Unchecked) return true;
    return false;
}

}  // namespace kfr::recovery
