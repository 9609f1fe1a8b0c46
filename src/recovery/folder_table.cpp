// Folder rows: column texts, the orphan record and the sorted table.
#include "recovery/folder_table.h"

#include <algorithm>
#include <climits>
#include <cstdint>

namespace kfr::recovery {

std::array<std::string, 12> FolderRecord::columns() const
{
    return {name,
            std::to_string(static_cast<std::uint32_t>(sector)),  // the column holds the low 32 bits
            std::to_string(self),
            std::to_string(parent),
            std::to_string(date),
            std::to_string(time),
            std::to_string(size),
            std::to_string(attr),
            fat16BasicRow ? "0" : "",
            kFolderType,
            deleted ? "1" : "",
            cluster0Start ? std::to_string(*cluster0Start) : ""};
}

std::uint16_t fatTimeWord(int hour, int minute, int second)
{
    return static_cast<std::uint16_t>(hour * 2048 + minute * 32 + second / 2);
}

FolderRecord makeOrphanRecord(std::uint16_t timeWord)
{
    FolderRecord r;
    r.name = kOrphanName;
    r.sector = 0;
    r.self = kOrphanCluster;
    r.parent = 0;
    r.date = 0;
    r.time = timeWord;
    r.size = 0;
    r.attr = 16;
    return r;
}

std::int64_t signedColumnKey(std::uint32_t value)
{
    return std::min<std::int64_t>(value, INT32_MAX);
}

void FolderTable::append(FolderRecord record)
{
    m_rows.push_back(std::move(record));
    m_removed.push_back(false);
    ++m_live;
}

void FolderTable::remove(std::size_t slot)
{
    if (slot < m_rows.size() && !m_removed[slot]) {
        m_removed[slot] = true;
        --m_live;
    }
}

void FolderTable::clear()
{
    // The rows are gone once placed: their room goes back too (a large scan's table is big).
    std::vector<FolderRecord>().swap(m_rows);
    std::vector<bool>().swap(m_removed);
    m_live = 0;
}

void FolderTable::compact()
{
    if (m_live == m_rows.size()) return;
    std::vector<FolderRecord> kept;
    kept.reserve(m_live);
    for (std::size_t i = 0; i < m_rows.size(); ++i)
        if (!m_removed[i]) kept.push_back(std::move(m_rows[i]));
    m_rows = std::move(kept);
    m_removed.assign(m_rows.size(), false);
}

namespace {

// Stable sort of rows by a 64-bit key: the keys are sorted with the rows' places, then each row is
// moved once to its place (a record is large; moving it at every step of a merge sort cost most of
// a scan of a million folders).
template <typename Key>
void sortRowsBy(std::vector<FolderRecord>& rows, Key key)
{
    std::vector<std::pair<std::int64_t, std::size_t>> order;
    order.reserve(rows.size());
    for (std::size_t i = 0; i < rows.size(); ++i) order.emplace_back(key(rows[i]), i);
    // The place breaks ties: equal keys keep their order, as a stable sort would.
    std::sort(order.begin(), order.end());
    // Rows are moved along the permutation's cycles in place: no second table is held.
    constexpr std::size_t kDone = SIZE_MAX;
    for (std::size_t start = 0; start < order.size(); ++start) {
        if (order[start].second == kDone) continue;
        FolderRecord held = std::move(rows[start]);
        std::size_t at = start;
        while (true) {
            const std::size_t from = order[at].second;
            order[at].second = kDone;
            if (from == start) {
                rows[at] = std::move(held);
                break;
            }
            rows[at] = std::move(rows[from]);
            at = from;
        }
    }
}

}  // namespace

void FolderTable::sortBySelf()
{
    compact();
    // The column's signed key first, then the value itself (values past INT32_MAX share the key).
    sortRowsBy(m_rows, [](const FolderRecord& r) {
        return (signedColumnKey(r.self) << 32) | static_cast<std::int64_t>(r.self);
    });
}

void FolderTable::sortByParent()
{
    compact();
    sortRowsBy(m_rows, [](const FolderRecord& r) {
        return (signedColumnKey(r.parent) << 32) | static_cast<std::int64_t>(r.parent);
    });
}

std::size_t FolderTable::lowerBoundParent(std::uint32_t p) const
{
    const auto it = std::lower_bound(m_rows.begin(), m_rows.end(), p,
                                     [](const FolderRecord& r, std::uint32_t v) { return r.parent < v; });
    if (it == m_rows.end() || it->parent != p) return m_rows.size();
    return static_cast<std::size_t>(it - m_rows.begin());
}

bool FolderTable::containsSelf(std::uint32_t value) const
{
    return std::binary_search(m_rows.begin(), m_rows.end(), value, [](const auto& a, const auto& b) {
        if constexpr (std::is_same_v<std::decay_t<decltype(a)>, FolderRecord>)
            return a.self < b;
        else
            return a < b.self;
    });
}

}  // namespace kfr::recovery
