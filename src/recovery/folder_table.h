// The folders a scan found on the medium, as rows waiting to be placed in the results tree.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace kfr::recovery {

// Parent cluster of every folder whose own parent was lost; also the orphan folder's self.
inline constexpr std::uint32_t kOrphanCluster = 268435455;  // 0x0FFFFFFF
inline constexpr const char* kOrphanName = "Lumo_Miscellaneous";
inline constexpr const char* kFolderType = "FOLDER";

// One directory found on the medium. Column texts (for the recovery log and debug views) come
// from columns(); numbers are held as numbers here.
// Held for every folder of a scan (a million on a large volume): fields ordered without gaps,
// the constant texts (sysID, Type) made only by columns().
struct FolderRecord {
    std::string name;              // "DIR<n>" until the folder's own entry names it
    std::uint64_t sector = 0;      // first sector of the directory
    std::uint64_t date = 0;        // FAT date word, or an NTFS time stamp
    std::uint64_t time = 0;        // FAT time word
    std::optional<std::int64_t> cluster0Start;  // set by scans that mix several volumes
    std::uint32_t self = 0;        // first cluster (FAT) or record number (NTFS)
    std::uint32_t parent = 0;      // from the ".." entry; 0 = root, kOrphanCluster = orphan folder
    std::uint32_t size = 0;
    std::uint8_t attr = 0;
    bool fat16BasicRow = false;    // sysID "0": a FAT16 row of the Basic scan (empty otherwise)
    bool deleted = false;

    // The twelve column texts: Name, sector, self, parent, date, time, size, attr, sysID, Type,
    // Deleted, Cluster0Start.
    std::array<std::string, 12> columns() const;
};

inline constexpr std::array<const char*, 12> kFolderColumnNames = {
    "Name", "sector", "self", "parent", "date", "time", "size", "attr", "sysID", "Type", "Deleted", "Cluster0Start"};

// FAT time word: hour * 2048 + minute * 32 + seconds / 2.
std::uint16_t fatTimeWord(int hour, int minute, int second);

// Row 0 of every FAT scan: the folder that collects directories whose parent is lost.
FolderRecord makeOrphanRecord(std::uint16_t timeWord);

// Ordered rows. Placing a row removes it; removal only marks the row, so placing a hundred
// thousand folders does not shift the table a hundred thousand times. Sorting drops removed rows.
class FolderTable {
public:
    void append(FolderRecord record);
    std::size_t size() const { return m_live; }        // rows not yet removed
    bool empty() const { return m_live == 0; }
    std::size_t slotCount() const { return m_rows.size(); }  // removed rows included
    bool isLive(std::size_t slot) const { return !m_removed[slot]; }
    FolderRecord& at(std::size_t slot) { return m_rows[slot]; }
    const FolderRecord& at(std::size_t slot) const { return m_rows[slot]; }
    void remove(std::size_t slot);
    void clear();

    // Ascending by the column's value read as a signed 32-bit number, the way the table has
    // always been ordered. Values above 2^31 - 1 saturate there and keep their own order among
    // themselves, so the order is the unsigned order and binary searches stay valid.
    void sortBySelf();
    void sortByParent();

    // First slot (removed rows included) whose parent equals p in a table sorted by parent, or
    // slotCount() when none has it.
    std::size_t lowerBoundParent(std::uint32_t p) const;
    // Whether a live or removed row of a table sorted by self has self == value.
    bool containsSelf(std::uint32_t value) const;


private:
    void compact();
    std::vector<FolderRecord> m_rows;
    std::vector<bool> m_removed;
    std::size_t m_live = 0;
};

// Sort key of a numeric column: its text read as a signed 32-bit number (saturating).
std::int64_t signedColumnKey(std::uint32_t value);

}  // namespace kfr::recovery
