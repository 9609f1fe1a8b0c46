// The folders a scan found on the medium, as rows waiting to be placed in the results tree.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <vector>

namespace kfr::recovery {

// Parent cluster of every folder whose own parent was lost; also the orphan folder's self.
inline constexpr std::uint32_t kOrphanCluster = 268435455;  // 0x0FFFFFFF
inline constexpr const char* kOrphanName = "Lumo_Miscellaneous";
inline constexpr const char* kFolderType = "FOLDER";

// One directory found on the medium, held for every folder of a scan (a million on a large
// volume): plain numbers without gaps. Its name is not held here: most rows are named by their
// row number ("DIR<n>") until their parent's entry names them, and the table keeps the few given
// names apart (FolderTable::name). Column texts come from FolderTable::columns.
struct FolderRecord {
    enum class Naming : std::uint8_t {
        None,      // no name yet: the tree build gives it the next "DIR_<n>"
        Numbered,  // "DIR<number>"
        Given,     // a name the table holds
        Orphan,    // the orphan folder's name
    };
    std::uint64_t sector = 0;         // first sector of the directory
    std::uint64_t date = 0;           // FAT date word, or an NTFS time stamp
    std::int64_t cluster0Start = 0;   // set by scans that mix several volumes (hasCluster0Start)
    std::uint32_t self = 0;           // first cluster (FAT) or record number (NTFS)
    std::uint32_t parent = 0;         // from the ".." entry; 0 = root, kOrphanCluster = orphan folder
    std::uint32_t size = 0;
    std::uint32_t number = 0;         // Numbered: n of "DIR<n>"; Given: the table's name slot
    std::uint16_t time = 0;           // FAT time word
    std::uint8_t attr = 0;
    Naming naming = Naming::None;
    bool fat16BasicRow = false;       // sysID "0": a FAT16 row of the Basic scan (empty otherwise)
    bool deleted = false;
    bool hasCluster0Start = false;

    // A row named "DIR<n>".
    void nameByNumber(std::uint64_t n);
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
    // A non-empty name is held by the table and names the row; an empty one leaves the row's
    // naming as it is.
    void append(FolderRecord record, std::string name = {});
    std::size_t size() const { return m_live; }        // rows not yet removed
    bool empty() const { return m_live == 0; }
    std::size_t slotCount() const { return m_rows.size(); }  // removed rows included
    bool isLive(std::size_t slot) const { return !m_removed[slot]; }
    FolderRecord& at(std::size_t slot) { return m_rows[slot]; }
    const FolderRecord& at(std::size_t slot) const { return m_rows[slot]; }
    void remove(std::size_t slot);
    void clear();
    // Room for rows in all, set aside before a scan appends them (not taken until written).
    void reserve(std::size_t rows);

    // The row's name: the one given, "DIR<n>", the orphan folder's, or empty when it has none.
    std::string name(std::size_t slot) const;
    void setName(std::size_t slot, std::string name);
    // The twelve column texts: Name, sector, self, parent, date, time, size, attr, sysID, Type,
    // Deleted, Cluster0Start.
    std::array<std::string, 12> columns(std::size_t slot) const;

    // Ascending by the column's value, equal values in the order they were added (stable).
    // The table has always been ordered by the value read as a signed 32-bit number with values
    // above 2^31 - 1 saturating there and keeping their own order among themselves: that is the
    // unsigned order, which binary searches rely on.
    void sortBySelf();
    void sortByParent();

    // First slot (removed rows included) whose parent equals p in a table sorted by sortByParent,
    // or slotCount() when none has it (or rows were added or the table sorted otherwise since).
    std::size_t lowerBoundParent(std::uint32_t p) const;
    // Whether a live or removed row of a table sorted by self has self == value (false once rows
    // were added or the table sorted otherwise since).
    bool containsSelf(std::uint32_t value) const;


private:
    // The column the table was last sorted by, in order, for searches that touch four-byte
    // values instead of whole rows. A bit for each value below bits.size() * 64 tells at once
    // whether a row has it (a large scan asks a million times, mostly for values no row has); the
    // bits cover at most 32 values a row, so they take no more room than the values.
    struct SortedColumn {
        std::vector<std::uint32_t> values;
        std::vector<std::uint64_t> bits;
        void assign(std::vector<std::uint32_t> sorted);
        void clear();
        bool contains(std::uint32_t value) const;
    };
    void compact();
    void forgetOrder();
    std::vector<FolderRecord> m_rows;
    std::vector<std::string> m_names;  // given names, by FolderRecord::number
    SortedColumn m_selves;   // after sortBySelf
    SortedColumn m_parents;  // after sortByParent
    std::vector<bool> m_removed;
    std::size_t m_live = 0;
};

}  // namespace kfr::recovery
