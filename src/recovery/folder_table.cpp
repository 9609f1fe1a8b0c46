// Folder rows: column texts, the orphan record and the sorted table.
#include "recovery/folder_table.h"

#include <algorithm>
#include <climits>

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
            sysId,
            type,
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
    m_rows.clear();
    m_removed.clear();
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

void FolderTable::sortBySelf()
{
    compact();
    std::stable_sort(m_rows.begin(), m_rows.end(), [](const FolderRecord& a, const FolderRecord& b) {
        const auto ka = signedColumnKey(a.self), kb = signedColumnKey(b.self);
        return ka != kb ? ka < kb : a.self < b.self;
    });
}

void FolderTable::sortByParent()
{
    compact();
    std::stable_sort(m_rows.begin(), m_rows.end(), [](const FolderRecord& a, const FolderRecord& b) {
        const auto ka = signedColumnKey(a.parent), kb = signedColumnKey(b.parent);
        return ka != kb ? ka < kb : a.parent < b.parent;
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
