// Master boot record, extended boot record chain and GUID partition table.
#include "volumes/partition_table.h"

#include <array>
#include <set>

#include "volumes/boot_sector.h"

namespace kfr::volumes {

namespace {

using storage::SectorSource;
using Sector = storage::SectorBytes;

// Partition entries of a master or extended boot record.
constexpr std::size_t kEntryTableOffset = 446;
constexpr std::size_t kEntrySize = 16;
constexpr std::size_t kEntryTypeOffset = 4;
constexpr std::size_t kEntryFirstSectorOffset = 8;
constexpr std::size_t kEntrySectorCountOffset = 12;

// GUID partition table entries: four per sector in sectors 2 to 33.
constexpr std::uint64_t kGptFirstEntrySector = 2;
constexpr std::uint64_t kGptLastEntrySector = 33;
constexpr std::size_t kGptEntrySize = 128;
constexpr std::size_t kGptTypeOffset = 0;
constexpr std::size_t kGptFirstLbaOffset = 32;
constexpr std::size_t kGptLastLbaOffset = 40;

// E3C9E316-0B5C-4DB8-817D-F92DF00215AE as stored on disk (first three groups little-endian).
constexpr std::array<std::uint8_t, 16> kMicrosoftReservedType = {
    0x16, 0xE3, 0xC9, 0xE3, 0x5C, 0x0B, 0xB8, 0x4D, 0x81, 0x7D, 0xF9, 0x2D, 0xF0, 0x02, 0x15, 0xAE};

// A chain longer than this is damaged even if it never repeats a record; it is cut here so a
// crafted table cannot make the listing read the whole disk.
constexpr std::size_t kMaxExtendedRecords = 4 * kMaxPartitionsPerDisk;

struct MbrEntry {
    std::uint8_t type = 0;
    std::uint32_t firstSector = 0;
    std::uint32_t sectorCount = 0;
};

MbrEntry entryAt(const Sector& sector, int index)
{
    const Bytes bytes(sector);
    const std::size_t off = kEntryTableOffset + static_cast<std::size_t>(index) * kEntrySize;
    return {readU8(bytes, off + kEntryTypeOffset), readLe32(bytes, off + kEntryFirstSectorOffset),
            readLe32(bytes, off + kEntrySectorCountOffset)};
}

bool isExtendedType(std::uint8_t type)
{
    return type == 0x05 || type == 0x0F;
}

// A sector read into a cleared buffer: what cannot be read stays zeros and carries no signature.
Sector readCleared(const SectorSource& source, std::uint64_t sector, bool* ok = nullptr)
{
    const auto read = storage::readOneSector(source, sector);
    if (ok) *ok = read.has_value();
    return read.value_or(Sector{});
}

std::string nameByMbrType(std::uint8_t type, bool logical)
{
    switch (type) {
    case 0x01:
        // A primary FAT12 partition is not listed; inside the extended chain the same type byte
        // is read as FAT16.
        return logical ? "FAT16" : "";
    case 0x04:
    case 0x06:
    case 0x0E: return "FAT16";
    case 0x0B:
    case 0x0C: return "FAT32";
    case 0x07: return "NTFS";
    default: return "";
    }
}

class Lister {
public:
    Lister(const SectorSource& source, std::uint64_t diskSectors) : m_source(source), m_diskSectors(diskSectors) {}

    std::vector<PartitionRecord> run()
    {
        const Sector mbr = readCleared(m_source, 0);
        if (!hasBootMarker(mbr)) return {};
        std::optional<std::uint64_t> extendedBase;
        for (int i = 0; i < 4; ++i) {
            const MbrEntry e = entryAt(mbr, i);
            if (e.type == 0) continue;
            if (m_diskSectors < e.firstSector || m_diskSectors - e.firstSector < kMinSectorsAfterPartitionStart)
                return std::move(m_found);  // the partitions listed so far stay
            const Sector first = readCleared(m_source, e.firstSector);
            const BootSignature sig = detectBootSignature(first);
            std::string name;
            if (sig != BootSignature::None) {
                name = partTypeName(sig);
            } else if (bytesEqual(first, 0, "EFI")) {
                // A protective entry: its first sector is the GUID table's header.
                listGpt();
                return std::move(m_found);
            } else if (isExtendedType(e.type)) {
                extendedBase = e.firstSector;
                continue;
            } else {
                name = nameByMbrType(e.type, false);
            }
            if (!name.empty() && !add(name, e.firstSector, endOf(e.firstSector, e.sectorCount), PartitionTableKind::Mbr, e.type))
                return std::move(m_found);
        }
        if (extendedBase) walkExtendedChain(*extendedBase);
        return std::move(m_found);
    }

private:
    // The end is computed in 64 bits: a partition may reach past sector 2^32 even though its
    // start and length each fit 32 bits.
    static std::uint64_t endOf(std::uint64_t first, std::uint32_t count) { return first + count; }

    bool add(const std::string& name, std::uint64_t first, std::uint64_t end, PartitionTableKind table,
             std::uint8_t type)
    {
        if (m_found.size() >= kMaxPartitionsPerDisk) return false;
        PartitionRecord p;
        p.number = static_cast<std::uint32_t>(m_found.size() + 1);
        p.fileSystem = name;
        p.firstSector = first;
        p.endSector = end;
        p.itemText = partitionItemText(p.number, name);
        p.table = table;
        p.typeByte = type;
        m_found.push_back(std::move(p));
        return true;
    }

    void walkExtendedChain(std::uint64_t base)
    {
        std::set<std::uint64_t> visited;
        std::uint64_t current = base;
        while (visited.size() < kMaxExtendedRecords && visited.insert(current).second) {
            bool readOk = false;
            const Sector ebr = readCleared(m_source, current, &readOk);
            if (!readOk) return;
            std::optional<std::uint64_t> next;
            for (int i = 0; i < 2; ++i) {
                const MbrEntry e = entryAt(ebr, i);
                if (e.type == 0) continue;
                if (isExtendedType(e.type)) {
                    // Links count from the start of the extended partition, logical partitions
                    // from their own record.
                    next = base + e.firstSector;
                    continue;
                }
                const std::uint64_t start = current + e.firstSector;
                const BootSignature sig = detectBootSignature(readCleared(m_source, start));
                const std::string name = sig != BootSignature::None ? partTypeName(sig) : nameByMbrType(e.type, true);
                if (!name.empty() && !add(name, start, endOf(start, e.sectorCount), PartitionTableKind::Extended, e.type))
                    return;
            }
            if (!next) return;
            current = *next;  // a record already read ends the walk at the loop's condition
        }
    }

    void listGpt()
    {
        for (std::uint64_t s = kGptFirstEntrySector; s <= kGptLastEntrySector; ++s) {
            const Sector entries = readCleared(m_source, s);
            for (std::size_t off = 0; off + kGptEntrySize <= entries.size(); off += kGptEntrySize) {
                const Bytes entry = Bytes(entries).subspan(off, kGptEntrySize);
                const std::uint64_t firstLba = readLe64(entry, kGptFirstLbaOffset);
                const std::uint64_t lastLba = readLe64(entry, kGptLastLbaOffset);
                // An unused slot (a deleted partition) may sit between used ones; it is passed
                // over instead of ending the table, so later partitions are still listed.
                if (lastLba == 0) continue;
                if (std::equal(kMicrosoftReservedType.begin(), kMicrosoftReservedType.end(),
                               entry.begin() + kGptTypeOffset))
                    continue;
                const BootSignature sig = detectBootSignature(readCleared(m_source, firstLba));
                if (sig == BootSignature::None) continue;
                if (!add(partTypeName(sig), firstLba, lastLba, PartitionTableKind::Gpt, 0)) return;
            }
        }
    }

    const SectorSource& m_source;
    std::uint64_t m_diskSectors;
    std::vector<PartitionRecord> m_found;
};

}  // namespace

std::vector<PartitionRecord> listPartitions(const storage::SectorSource& source, std::uint64_t diskSectors)
{
    return Lister(source, diskSectors).run();
}

Result<std::vector<PartitionRecord>> listPartitions(const std::string& devicePath, std::uint64_t diskSectors)
{
    auto source = storage::FileSectorSource::open(devicePath);
    if (!source) {
        Error e = source.error();
        if (e.kind == ErrorKind::PermissionDenied)
            e.detail = "read permission is missing; run as root (sudo) or join the \"disk\" group";
        return e;
    }
    return listPartitions(**source, diskSectors);
}

std::string partitionItemText(std::uint32_t number, const std::string& fileSystem)
{
    return "Partition - " + std::to_string(number) + " ( " + fileSystem + " )";
}

PhysicalDrivesBranch listPhysicalDrivesBranch(storage::DiskListing listing)
{
    PhysicalDrivesBranch branch;
    branch.diskKeys = std::move(listing.diskKeys);
    for (auto& disk : listing.disks) {
        DiskEntry entry;
        if (disk.accessProblem) {
            entry.readProblem = disk.accessProblem;
        } else {
            auto partitions = listPartitions(disk.devicePath, disk.totalSectors);
            if (partitions)
                entry.partitions = std::move(partitions).value();
            else
                entry.readProblem = partitions.error();
        }
        if (entry.partitions.empty()) branch.removableMedia.push_back(storage::removableMediaEntry(disk));
        entry.disk = std::move(disk);
        branch.disks.push_back(std::move(entry));
    }
    return branch;
}

}  // namespace kfr::volumes
