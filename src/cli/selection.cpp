// Source, range and file-system options.
#include "cli/selection.h"

#include <CLI/CLI.hpp>

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

session::SourceRequest sourceRequest(const SelectionOptions& o)
{
    session::SourceRequest request;
    request.path = o.source;
    request.partition = o.partition;
    request.firstSector = o.first;
    if (o.lastGiven) request.lastSector = o.last;
    request.fileSystem = o.fileSystem;
    return request;
}

}  // namespace kfr::cli
