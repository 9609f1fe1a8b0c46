// Folder rows: column texts, the orphan record and the sorted table.
#include "recovery/folder_table.h"

#include <algorithm>
#include <climits>
#include <cstdint>

#include "storage/memory_room.h"

namespace kfr::recovery {

void FolderRecord::nameByNumber(std::uint64_t n)
{
    naming = Naming::Numbered;
    number = static_cast<std::uint32_t>(n);  // a FAT volume has fewer than 2^28 clusters
}

std::string FolderTable::name(std::size_t slot) const
{
    const FolderRecord& r = m_rows[slot];
    switch (r.naming) {
    case FolderRecord::Naming::Numbered: return "DIR" + std::to_string(r.number);
    case FolderRecord::Naming::Given: return m_names[r.number];
    case FolderRecord::Naming::Orphan: return kOrphanName;
    case FolderRecord::Naming::None: break;
    }
    return {};
}

void FolderTable::setName(std::size_t slot, std::string name)
{
    FolderRecord& r = m_rows[slot];
    if (r.naming == FolderRecord::Naming::Given) {
        m_names[r.number] = std::move(name);
        return;
    }
    r.naming = FolderRecord::Naming::Given;
    r.number = static_cast<std::uint32_t>(m_names.size());
    m_names.push_back(std::move(name));
}

std::array<std::string, 12> FolderTable::columns(std::size_t slot) const
{
    const FolderRecord& r = m_rows[slot];
    return {name(slot),
            std::to_string(static_cast<std::uint32_t>(r.sector)),  // the column holds the low 32 bits
            std::to_string(r.self),
            std::to_string(r.parent),
            std::to_string(r.date),
            std::to_string(r.time),
            std::to_string(r.size),
            std::to_string(r.attr),
            r.fat16BasicRow ? "0" : "",
            kFolderType,
            r.deleted ? "1" : "",
            r.hasCluster0Start ? std::to_string(r.cluster0Start) : ""};
}

std::uint16_t fatTimeWord(int hour, int minute, int second)
{
    return static_cast<std::uint16_t>(hour * 2048 + minute * 32 + second / 2);
}

FolderRecord makeOrphanRecord(std::uint16_t timeWord)
{
    FolderRecord r;
    r.naming = FolderRecord::Naming::Orphan;
    r.self = kOrphanCluster;
    r.parent = 0;
    r.time = timeWord;
    r.attr = 16;
    return r;
}

void FolderTable::append(FolderRecord record, std::string name)
{
    forgetOrder();  // no longer sorted
    if (!name.empty()) {
        record.naming = FolderRecord::Naming::Given;
        record.number = static_cast<std::uint32_t>(m_names.size());
        m_names.push_back(std::move(name));
    }
    m_rows.push_back(record);
    m_removed.push_back(false);
    ++m_live;
}

void FolderTable::reserve(std::size_t rows)
{
    m_rows.reserve(rows);
    m_removed.reserve(rows);
    storage::preferLargePages(m_rows.data() + m_rows.size(), m_rows.data() + m_rows.capacity());
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
    std::vector<std::string>().swap(m_names);
    forgetOrder();
    std::vector<bool>().swap(m_removed);
    m_live = 0;
}

void FolderTable::compact()
{
    if (m_live == m_rows.size()) return;
    std::size_t kept = 0;
    for (std::size_t i = 0; i < m_rows.size(); ++i)
        if (!m_removed[i]) m_rows[kept++] = m_rows[i];
    m_rows.resize(kept);
    m_removed.assign(kept, false);
    forgetOrder();
}

namespace {

// Stable sort of rows by a 32-bit column: the values are sorted with the rows' places by counting
// passes over their digits (linear, and stable, so equal values keep their order), then each row
// is moved once to its place along the permutation's cycles, in place: no second table is held.
// Returns the sorted values.
template <typename Column>
std::vector<std::uint32_t> sortRowsBy(std::vector<FolderRecord>& rows, Column column)
{
    const std::size_t n = rows.size();
    std::vector<std::uint32_t> values;
    values.reserve(n);
    for (const FolderRecord& r : rows) values.push_back(column(r));
    // Rows often come in order already (a sweep finds folders by cluster).
    if (std::is_sorted(values.begin(), values.end())) return values;
    struct Entry {
        std::uint32_t value;
        std::uint32_t place;  // rows are numbered by 32-bit clusters and records: fewer than 2^32
    };
    std::vector<Entry> order(n);
    std::vector<Entry> spare(n);
    for (std::size_t i = 0; i < n; ++i) order[i] = {values[i], static_cast<std::uint32_t>(i)};
    // Digits of 11 bits: each pass's counts stay in the first-level cache. A digit every value
    // shares (the high one, for clusters of a smaller volume) needs no pass.
    std::uint32_t differing = 0;
    for (const Entry& e : order) differing |= e.value ^ order.front().value;
    for (const int shift : {0, 11, 22}) {
        if (((differing >> shift) & 0x7FF) == 0) continue;
        std::array<std::uint32_t, 2049> start{};
        for (const Entry& e : order) ++start[((e.value >> shift) & 0x7FF) + 1];
        for (std::size_t b = 1; b < start.size(); ++b) start[b] += start[b - 1];
        for (const Entry& e : order) spare[start[(e.value >> shift) & 0x7FF]++] = e;
        order.swap(spare);
    }
    std::vector<Entry>().swap(spare);
    for (std::size_t i = 0; i < n; ++i) values[i] = order[i].value;
    constexpr std::uint32_t kDone = UINT32_MAX;
    for (std::size_t first = 0; first < n; ++first) {
        if (order[first].place == kDone) continue;
        const FolderRecord held = rows[first];
        std::size_t at = first;
        while (true) {
            const std::size_t from = order[at].place;
            order[at].place = kDone;
            if (from == first) {
                rows[at] = held;
                break;
            }
            rows[at] = rows[from];
            at = from;
        }
    }
    return values;
}

}  // namespace

void FolderTable::SortedColumn::assign(std::vector<std::uint32_t> sorted)
{
    values = std::move(sorted);
    const std::uint64_t bitLimit = std::uint64_t{32} * values.size();
    const auto end = std::lower_bound(values.begin(), values.end(), bitLimit);
    bits.assign(end == values.begin() ? 0 : *(end - 1) / 64 + 1, 0);
    for (auto it = values.begin(); it != end; ++it) bits[*it / 64] |= std::uint64_t{1} << (*it % 64);
}

void FolderTable::SortedColumn::clear()
{
    if (values.empty() && bits.empty()) return;
    std::vector<std::uint32_t>().swap(values);
    std::vector<std::uint64_t>().swap(bits);
}

bool FolderTable::SortedColumn::contains(std::uint32_t value) const
{
    if (value / 64 < bits.size()) return (bits[value / 64] >> (value % 64)) & 1;
    return std::binary_search(values.begin(), values.end(), value);
}

void FolderTable::forgetOrder()
{
    m_selves.clear();
    m_parents.clear();
}

void FolderTable::sortBySelf()
{
    compact();
    forgetOrder();
    m_selves.assign(sortRowsBy(m_rows, [](const FolderRecord& r) { return r.self; }));
}

void FolderTable::sortByParent()
{
    compact();
    forgetOrder();
    m_parents.assign(sortRowsBy(m_rows, [](const FolderRecord& r) { return r.parent; }));
}

std::size_t FolderTable::lowerBoundParent(std::uint32_t p) const
{
    if (!m_parents.contains(p)) return m_rows.size();
    const auto& values = m_parents.values;
    return static_cast<std::size_t>(std::lower_bound(values.begin(), values.end(), p) - values.begin());
}

bool FolderTable::containsSelf(std::uint32_t value) const
{
    return m_selves.contains(value);
}

}  // namespace kfr::recovery
