// Results tree items and their tri-state check boxes.
#include "recovery/results_tree.h"

namespace kfr::recovery {

ItemId ResultTree::add(ItemId parent, std::string name, int image)
{
    const auto id = static_cast<ItemId>(m_items.size());
    TreeItem t;
    t.name = std::move(name);
    t.parent = valid(parent) ? parent : kNoItem;
    t.image = image;
    m_items.push_back(std::move(t));
    if (valid(parent))
        m_items[parent].children.push_back(id);
    else
        m_topLevel.push_back(id);
    return id;
}

void ResultTree::clear()
{
    m_items.assign(1, TreeItem{});
    m_topLevel.clear();
}

void ResultTree::setCheckRecursive(ItemId id, CheckState state)
{
    std::vector<ItemId> stack{id};
    while (!stack.empty()) {
        const ItemId cur = stack.back();
        stack.pop_back();
        m_items[cur].check = state;
        for (ItemId c : m_items[cur].children) stack.push_back(c);
    }
}

void ResultTree::updateAncestors(ItemId id)
{
    for (ItemId p = m_items[id].parent; valid(p); p = m_items[p].parent) {
        bool allChecked = true, allUnchecked = true;
        for (ItemId c : m_items[p].children) {
            if (m_items[c].check != CheckState::Checked) allChecked = false;
            if (m_items[c].check != CheckState::Unchecked) allUnchecked = false;
        }
        m_items[p].check = allChecked ? CheckState::Checked : allUnchecked ? CheckState::Unchecked : CheckState::Partial;
    }
}

void ResultTree::toggleCheck(ItemId id)
{
    if (!valid(id)) return;
    const CheckState next = m_items[id].check == CheckState::Unchecked ? CheckState::Checked : CheckState::Unchecked;
    setCheckRecursive(id, next);
    updateAncestors(id);
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

}  // namespace kfr::recovery
