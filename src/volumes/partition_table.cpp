// Master boot record, extended boot record chain and GUID partition table.
#include "volumes/partition_table.h"

#include <array>
#include <cstdio>
#include <set>

#include "volumes/boot_sector.h"
#include "volumes/file_system_probe.h"

namespace kfr::volumes {

namespace {

using storage::SectorSource;
using Sector = storage::SectorBytes;

// Partition entries of a master or extended boot record.
constexpr std::size_t kEntryTableOffset = 446;
constexpr std::size_t kEntrySize = 16;
constexpr std::size_t kEntryBootFlagOffset = 0;
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
    std::uint8_t bootFlag = 0;
    std::uint8_t type = 0;
    std::uint32_t firstSector = 0;
    std::uint32_t sectorCount = 0;
};

MbrEntry entryAt(const Sector& sector, int index)
{
    const Bytes bytes(sector);
    const std::size_t off = kEntryTableOffset + static_cast<std::size_t>(index) * kEntrySize;
    return {readU8(bytes, off + kEntryBootFlagOffset), readU8(bytes, off + kEntryTypeOffset),
            readLe32(bytes, off + kEntryFirstSectorOffset), readLe32(bytes, off + kEntrySectorCountOffset)};
}

// 0x85 is the extended partition Linux tools write. The kernel reads its chain like any other;
// the listing has never known the type, so what lies in it gets slots but no listing items.
constexpr std::uint8_t kLinuxExtendedType = 0x85;

bool isExtendedType(std::uint8_t type)
{
    return type == 0x05 || type == 0x0F || type == kLinuxExtendedType;
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

// Whether sector 0 is a partition table the kernel would read: a FAT or NTFS boot sector also
// ends in 0x55AA, but its "entries" are boot code, whose boot-flag bytes are rarely 0x00 or 0x80.
bool kernelReadsTable(const Sector& mbr)
{
    if (detectBootSignature(mbr) != BootSignature::None) return false;
    for (int i = 0; i < 4; ++i) {
        const std::uint8_t flag = entryAt(mbr, i).bootFlag;
        if (flag != 0x00 && flag != 0x80) return false;
    }
    return true;
}

// The end of an entry in 64 bits: a partition may reach past sector 2^32 even though its start
// and length each fit 32 bits. An entry of no sectors ends where it starts.
std::uint64_t lastOf(std::uint64_t first, std::uint32_t count)
{
    return count ? first + count - 1 : first;
}

// One pass over the tables gives both the listing (with the rules it has always had: the
// 24,576-sector stop, the boot sector before the type byte, GUID partitions by boot sector only)
// and the kernel's slots, so a listed partition always knows its slot.
class Reader {
public:
    Reader(const SectorSource& source, std::uint64_t diskSectors) : m_source(source), m_diskSectors(diskSectors) {}

    DiskPartitions run()
    {
        const Sector mbr = readCleared(m_source, 0);
        if (!hasBootMarker(mbr)) return std::move(m_out);
        m_slotsWanted = kernelReadsTable(mbr);
        if (m_slotsWanted) m_out.scheme = PartitionScheme::Mbr;
        std::optional<std::uint64_t> extendedBase;
        bool extendedListed = true;
        for (int i = 0; i < 4; ++i) {
            const MbrEntry e = entryAt(mbr, i);
            if (e.type == 0) continue;
            if (m_diskSectors < e.firstSector || m_diskSectors - e.firstSector < kMinSectorsAfterPartitionStart)
                m_listing = false;  // the partitions listed so far stay
            const Sector first = readCleared(m_source, e.firstSector);
            const BootSignature sig = detectBootSignature(first);
            if (sig == BootSignature::None && bytesEqual(first, 0, "EFI")) {
                // A protective entry: its first sector is the GUID table's header.
                readGpt();
                return std::move(m_out);
            }
            const std::uint32_t slot = static_cast<std::uint32_t>(i + 1);
            if (sig == BootSignature::None && isExtendedType(e.type)) {
                extendedBase = e.firstSector;
                extendedListed = e.type != kLinuxExtendedType;
                addSlot(slot, PartitionTableKind::Mbr, e, e.firstSector, true);
                continue;
            }
            const std::uint32_t counted = addSlot(slot, PartitionTableKind::Mbr, e, e.firstSector, false);
            const std::string name = sig != BootSignature::None ? partTypeName(sig) : nameByMbrType(e.type, false);
            if (!name.empty()) list(name, e.firstSector, lastOf(e.firstSector, e.sectorCount), PartitionTableKind::Mbr, e.type, counted);
        }
        if (extendedBase) {
            if (!extendedListed) m_listing = false;
            walkExtendedChain(*extendedBase);
        }
        return std::move(m_out);
    }

private:
    // Adds a slot when the kernel would count the entry; returns its number (0 when it does not).
    std::uint32_t addSlot(std::uint32_t slot, PartitionTableKind table, const MbrEntry& e, std::uint64_t first,
                          bool container)
    {
        if (!m_slotsWanted || e.sectorCount == 0 || m_out.slots.size() >= kMaxPartitionsPerDisk) return 0;
        PartitionSlot s;
        s.slot = slot;
        s.table = table;
        s.typeByte = e.type;
        s.firstSector = first;
        s.lastSector = lastOf(first, e.sectorCount);
        s.extendedContainer = container;
        if (!container) s.content = probeFileSystem(m_source, s.firstSector, s.lastSector);
        m_out.slots.push_back(s);
        return slot;
    }

    void list(const std::string& name, std::uint64_t first, std::uint64_t last, PartitionTableKind table,
              std::uint8_t type, std::uint32_t slot)
    {
        if (!m_listing) return;
        if (m_out.listed.size() >= kMaxPartitionsPerDisk) {
            m_listing = false;
            return;
        }
        PartitionRecord p;
        p.number = static_cast<std::uint32_t>(m_out.listed.size() + 1);
        p.fileSystem = name;
        p.firstSector = first;
        p.lastSector = last;
        p.itemText = partitionItemText(p.number, name);
        p.table = table;
        p.typeByte = type;
        p.slot = slot;
        for (auto& s : m_out.slots)
            if (slot != 0 && s.slot == slot) s.listedNumber = p.number;
        m_out.listed.push_back(std::move(p));
    }

    bool done() const
    {
        return !m_listing && (!m_slotsWanted || m_out.slots.size() >= kMaxPartitionsPerDisk);
    }

    void walkExtendedChain(std::uint64_t base)
    {
        std::set<std::uint64_t> visited;
        std::uint64_t current = base;
        std::uint32_t nextSlot = kFirstLogicalSlot;
        while (!done() && visited.size() < kMaxExtendedRecords && visited.insert(current).second) {
            bool readOk = false;
            const Sector ebr = readCleared(m_source, current, &readOk);
            if (!readOk) return;
            std::optional<std::uint64_t> next;
            // Only the first two entries of a record are used: a logical partition and the link
            // to the next record; the other two are unused (and often hold garbage).
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
                const std::uint32_t counted = addSlot(nextSlot, PartitionTableKind::Extended, e, start, false);
                if (counted) ++nextSlot;
                const BootSignature sig = detectBootSignature(readCleared(m_source, start));
                const std::string name = sig != BootSignature::None ? partTypeName(sig) : nameByMbrType(e.type, true);
                if (!name.empty())
                    list(name, start, lastOf(start, e.sectorCount), PartitionTableKind::Extended, e.type, counted);
            }
            if (!next) return;
            current = *next;  // a record already read ends the walk at the loop's condition
        }
    }

    void readGpt()
    {
        if (m_slotsWanted) m_out.scheme = PartitionScheme::Gpt;
        for (std::uint64_t s = kGptFirstEntrySector; s <= kGptLastEntrySector && !done(); ++s) {
            const Sector entries = readCleared(m_source, s);
            for (std::size_t off = 0; off + kGptEntrySize <= entries.size(); off += kGptEntrySize) {
                const Bytes entry = Bytes(entries).subspan(off, kGptEntrySize);
                const std::uint64_t firstLba = readLe64(entry, kGptFirstLbaOffset);
                const std::uint64_t lastLba = readLe64(entry, kGptLastLbaOffset);
                const auto slot = static_cast<std::uint32_t>((s - kGptFirstEntrySector) * (storage::kSectorSize / kGptEntrySize) +
                                                             off / kGptEntrySize + 1);
                // An unused slot (a deleted partition) may sit between used ones; it is passed
                // over instead of ending the table, so later partitions are still listed.
                if (lastLba == 0) continue;
                std::array<std::uint8_t, 16> type{};
                std::copy(entry.begin() + kGptTypeOffset, entry.begin() + kGptTypeOffset + 16, type.begin());
                const bool reserved = type == kMicrosoftReservedType;
                const bool unused = type == std::array<std::uint8_t, 16>{};
                std::uint32_t counted = 0;
                if (m_slotsWanted && !unused && m_out.slots.size() < kMaxPartitionsPerDisk) {
                    PartitionSlot p;
                    p.slot = counted = slot;
                    p.table = PartitionTableKind::Gpt;
                    p.typeGuid = type;
                    p.firstSector = firstLba;
                    p.lastSector = lastLba;
                    // A reserved partition is scratch space: a boot sector found there is stale.
                    if (!reserved) p.content = probeFileSystem(m_source, firstLba, lastLba);
                    m_out.slots.push_back(p);
                }
                if (reserved) continue;
                const BootSignature sig = detectBootSignature(readCleared(m_source, firstLba));
                if (sig != BootSignature::None) list(partTypeName(sig), firstLba, lastLba, PartitionTableKind::Gpt, 0, counted);
            }
        }
    }

    const SectorSource& m_source;
    std::uint64_t m_diskSectors;
    bool m_listing = true;
    bool m_slotsWanted = false;
    DiskPartitions m_out;
};

}  // namespace

DiskPartitions readPartitions(const storage::SectorSource& source, std::uint64_t diskSectors)
{
    DiskPartitions out = Reader(source, diskSectors).run();
    // A volume written to the medium without a table (an image of a volume, a superfloppy) has
    // its boot sector at sector 0: the whole medium is that volume, from sector 0.
    if (out.slots.empty() && diskSectors > 0) {
        const FileSystemKind kind = probeFileSystem(source, 0, diskSectors - 1);
        if (isReadableKind(kind)) out.bareVolume = fileSystemKindName(kind);
    }
    return out;
}

std::vector<PartitionRecord> listPartitions(const storage::SectorSource& source, std::uint64_t diskSectors)
{
    return readPartitions(source, diskSectors).listed;
}

Result<DiskPartitions> readPartitions(const std::string& devicePath, std::uint64_t diskSectors)
{
    auto source = storage::FileSectorSource::open(devicePath);
    if (!source) {
        Error e = source.error();
        if (e.kind == ErrorKind::PermissionDenied)
            e.detail = "read permission is missing; run as root (sudo) or join the \"disk\" group";
        return e;
    }
    return readPartitions(**source, diskSectors);
}

Result<std::vector<PartitionRecord>> listPartitions(const std::string& devicePath, std::uint64_t diskSectors)
{
    auto partitions = readPartitions(devicePath, diskSectors);
    if (!partitions) return partitions.error();
    return std::move(partitions->listed);
}

std::string partitionItemText(std::uint32_t number, const std::string& fileSystem)
{
    return "Partition - " + std::to_string(number) + " ( " + fileSystem + " )";
}

namespace {

struct NamedByte {
    std::uint8_t type;
    const char* name;
};

// The MBR type bytes one meets on real disks, by the names partitioning tools give them.
constexpr std::array kMbrTypeNames = {
    NamedByte{0x01, "FAT12"},
    NamedByte{0x04, "FAT16 <32M"},
    NamedByte{0x05, "Extended"},
    NamedByte{0x06, "FAT16"},
    NamedByte{0x07, "HPFS/NTFS/exFAT"},
    NamedByte{0x0B, "W95 FAT32"},
    NamedByte{0x0C, "W95 FAT32 (LBA)"},
    NamedByte{0x0E, "W95 FAT16 (LBA)"},
    NamedByte{0x0F, "W95 Extended (LBA)"},
    NamedByte{0x11, "Hidden FAT12"},
    NamedByte{0x14, "Hidden FAT16 <32M"},
    NamedByte{0x16, "Hidden FAT16"},
    NamedByte{0x17, "Hidden HPFS/NTFS"},
    NamedByte{0x1B, "Hidden W95 FAT32"},
    NamedByte{0x1C, "Hidden W95 FAT32 (LBA)"},
    NamedByte{0x1E, "Hidden W95 FAT16 (LBA)"},
    NamedByte{0x27, "Hidden NTFS WinRE"},
    NamedByte{0x42, "Windows dynamic disk"},
    NamedByte{0x82, "Linux swap"},
    NamedByte{0x83, "Linux"},
    NamedByte{0x85, "Linux extended"},
    NamedByte{0x8E, "Linux LVM"},
    NamedByte{0xA5, "FreeBSD"},
    NamedByte{0xA6, "OpenBSD"},
    NamedByte{0xA8, "Darwin UFS"},
    NamedByte{0xA9, "NetBSD"},
    NamedByte{0xAF, "HFS / HFS+"},
    NamedByte{0xEE, "GPT protective"},
    NamedByte{0xEF, "EFI System"},
    NamedByte{0xFD, "Linux RAID"},
};

struct NamedGuid {
    const char* guid;
    const char* name;
};

constexpr std::array kGptTypeNames = {
    NamedGuid{"C12A7328-F81F-11D2-BA4B-00A0C93EC93B", "EFI System"},
    NamedGuid{"21686148-6449-6E6F-744E-656564454649", "BIOS boot"},
    NamedGuid{"EBD0A0A2-B9E5-4433-87C0-68B6B72699C7", "Microsoft basic data"},
    NamedGuid{"E3C9E316-0B5C-4DB8-817D-F92DF00215AE", "Microsoft reserved"},
    NamedGuid{"DE94BBA4-06D1-4D40-A16A-BFD50179D6AC", "Windows recovery environment"},
    NamedGuid{"5808C8AA-7E8F-42E0-85D2-E1E90434CFB3", "Windows LDM metadata"},
    NamedGuid{"AF9B60A0-1431-4F62-BC68-3311714A69AD", "Windows LDM data"},
    NamedGuid{"0FC63DAF-8483-4772-8E79-3D69D8477DE4", "Linux filesystem"},
    NamedGuid{"0657FD6D-A4AB-43C4-84E5-0933C84B4F4F", "Linux swap"},
    NamedGuid{"E6D6D379-F507-44C2-A23C-238F2A3DF928", "Linux LVM"},
    NamedGuid{"A19D880F-05FC-4D3B-A006-743F0F84911E", "Linux RAID"},
    NamedGuid{"933AC7E1-2EB4-4F13-B844-0E14E2AEF915", "Linux home"},
    NamedGuid{"4F68BCE3-E8CD-4DB1-96E7-FBCAF984B709", "Linux root (x86-64)"},
    NamedGuid{"CA7D7CCB-63ED-4C53-861C-1742536059CC", "LUKS"},
    NamedGuid{"48465300-0000-11AA-AA11-00306543ECAC", "Apple HFS/HFS+"},
    NamedGuid{"7C3457EF-0000-11AA-AA11-00306543ECAC", "Apple APFS"},
    NamedGuid{"516E7CB4-6ECF-11D6-8FF8-00022D09712B", "FreeBSD data"},
};

}  // namespace

std::string fileSystemOfType(const PartitionSlot& slot)
{
    if (slot.table == PartitionTableKind::Gpt) return {};
    return nameByMbrType(slot.typeByte, slot.table == PartitionTableKind::Extended);
}

std::string partitionTypeId(const PartitionSlot& slot)
{
    char text[40];
    if (slot.table != PartitionTableKind::Gpt) {
        std::snprintf(text, sizeof text, "0x%02x", slot.typeByte);
        return text;
    }
    // The first three groups are stored little-endian, the last two as they are written.
    const auto& g = slot.typeGuid;
    std::snprintf(text, sizeof text, "%02X%02X%02X%02X-%02X%02X-%02X%02X-%02X%02X-%02X%02X%02X%02X%02X%02X", g[3], g[2],
                  g[1], g[0], g[5], g[4], g[7], g[6], g[8], g[9], g[10], g[11], g[12], g[13], g[14], g[15]);
    return text;
}

std::string partitionTypeName(const PartitionSlot& slot)
{
    if (slot.table != PartitionTableKind::Gpt) {
        for (const auto& n : kMbrTypeNames)
            if (n.type == slot.typeByte) return n.name;
        return {};
    }
    const std::string id = partitionTypeId(slot);
    for (const auto& n : kGptTypeNames)
        if (id == n.guid) return n.name;
    return {};
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
            auto partitions = readPartitions(disk.devicePath, disk.totalSectors);
            if (partitions) {
                entry.partitions = std::move(partitions->listed);
                entry.slots = std::move(partitions->slots);
                entry.scheme = partitions->scheme;
                entry.bareVolume = std::move(partitions->bareVolume);
            } else {
                entry.readProblem = partitions.error();
            }
        }
        if (entry.partitions.empty()) branch.removableMedia.push_back(storage::removableMediaEntry(disk));
        entry.disk = std::move(disk);
        branch.disks.push_back(std::move(entry));
    }
    return branch;
}

}  // namespace kfr::volumes
