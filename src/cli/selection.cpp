// Source, range and file-system options.
#include "cli/selection.h"

#include <CLI/CLI.hpp>
#include <algorithm>
#include <array>

#include "volumes/boot_sector.h"
#include "volumes/partition_table.h"

namespace kfr::cli {

void addSelectionOptions(CLI::App& command, SelectionOptions& o)
{
    command.add_option("-s,--source", o.source, "Disk, partition, volume device or image file to read (read-only)")
        ->required();
    command.add_option("-p,--partition", o.partition,
                       "Partition number of a disk or disk image, as `kestravon-cli disks` lists it (sets the range "
                       "and the file system)");
    command.add_option("--first", o.first, "First sector of the volume (default 0)");
    command.add_option("--last", o.last, "Last sector of the volume (default: the source's last sector)")
        ->each([&o](const std::string&) { o.lastGiven = true; });
    command.add_option("--fs", o.fileSystem, "File system: auto, FAT16, FAT32 or NTFS")
        ->check(CLI::IsMember({"auto", "FAT16", "FAT32", "NTFS", "fat16", "fat32", "ntfs"}));
}

Result<OpenedSelection> openSelection(const SelectionOptions& o)
{
    auto opened = storage::openSource(o.source);
    if (!opened) return opened.error();
    OpenedSelection out;
    out.source = std::move(opened).value();
    const std::uint64_t count = out.source->sectorCount();
    auto& sel = out.selection;
    sel.devicePath = o.source;
    sel.firstSector = o.first;
    sel.lastSector = o.lastGiven ? o.last : (count ? count - 1 : 0);
    if (o.partition != 0) {
        const auto partitions = volumes::listPartitions(*out.source, count);
        const auto part = std::find_if(partitions.begin(), partitions.end(),
                                       [&](const volumes::PartitionRecord& p) { return p.number == o.partition; });
        if (part == partitions.end())
            return Error{ErrorKind::NotFound, 0, o.source,
                         "there is no partition " + std::to_string(o.partition) +
                             " with a FAT16, FAT32 or NTFS file system (" + std::to_string(partitions.size()) +
                             " listed; see kestravon-cli disks --image)"};
        sel.firstSector = part->firstSector;
        // Partition-table entries end one past their last sector; GUID entries name the last one.
        const bool pastEnd = part->table != volumes::PartitionTableKind::Gpt;
        sel.lastSector = pastEnd && part->endSector > part->firstSector ? part->endSector - 1 : part->endSector;
        if (o.fileSystem == "auto") {
            sel.partType = part->fileSystem;
            return out;
        }
    }
    if (count && sel.firstSector >= count)
        return Error{ErrorKind::InvalidArgument, o.first, o.source,
                     "the first sector lies beyond the end of the source (" + std::to_string(count) + " sectors)"};
    if (sel.lastSector < sel.firstSector)
        return Error{ErrorKind::InvalidArgument, o.first, o.source, "the last sector lies before the first sector"};

    if (o.fileSystem != "auto") {
        sel.partType = volumes::nameFileSystem(o.fileSystem == "fat16" ? "FAT16"
                                               : o.fileSystem == "fat32" ? "FAT32"
                                               : o.fileSystem == "ntfs"  ? "NTFS"
                                                                         : o.fileSystem);
        return out;
    }
    std::array<std::uint8_t, storage::kSectorSize> boot{};
    for (std::uint64_t offset : {0ULL, 6ULL}) {
        boot.fill(0);
        if (!out.source->read(sel.firstSector + offset, 1, boot)) continue;
        const auto sig = volumes::detectBootSignature(boot);
        // The backup at +6 only ever stands for FAT32.
        if (sig != volumes::BootSignature::None && (offset == 0 || sig == volumes::BootSignature::Fat32)) {
            sel.partType = volumes::partTypeName(sig);
            return out;
        }
    }
    return Error{ErrorKind::Implausible, sel.firstSector, o.source,
                 "no FAT16, FAT32 or NTFS boot sector at sector " + std::to_string(sel.firstSector) +
                     "; if the boot sector is damaged, name the file system with --fs FAT16, --fs FAT32 or --fs NTFS"};
}

}  // namespace kfr::cli
