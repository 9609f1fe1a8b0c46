// Source, partition, range and file-system options; mount points to devices.
#include "cli/selection.h"

#include <CLI/CLI.hpp>
#include <climits>
#include <cstdlib>
#include <sys/stat.h>

#include "cli/cli_support.h"
#include "recovery/deep_scan.h"
#include "storage/system_tree.h"

namespace kfr::cli {

namespace {

std::string canonicalPath(const std::string& path)
{
    char resolved[PATH_MAX];
    return ::realpath(path.c_str(), resolved) ? std::string(resolved) : path;
}

bool isDeviceOrImage(const std::string& path)
{
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0 && (S_ISBLK(st.st_mode) || S_ISREG(st.st_mode));
}

// The mount whose mount point holds path (the longest mount point that is path or above it; of
// mounts stacked on one point, the last, which is the one seen).
const storage::MountEntry* mountHolding(const std::vector<storage::MountEntry>& mounts, const std::string& path)
{
    const storage::MountEntry* best = nullptr;
    for (const auto& m : mounts) {
        const std::string& mp = m.mountPoint;
        const bool holds = path == mp || mp == "/" ||
                           (path.size() > mp.size() && path.compare(0, mp.size(), mp) == 0 && path[mp.size()] == '/');
        if (holds && (!best || mp.size() >= best->mountPoint.size())) best = &m;
    }
    return best;
}

// A folder given as the source: the device mounted there.
Result<std::string> deviceOfFolder(const std::string& folder, const SelectionOptions& o, const GlobalOptions& g)
{
    storage::SystemRoots roots;
    roots.mountInfo = o.mountInfo;
    const std::string path = canonicalPath(folder);
    const auto mounts = storage::readMountTable(roots);
    const storage::MountEntry* m = mountHolding(mounts, path);
    const bool onDevice = m && isDeviceOrImage(m->source);
    if (m && m->mountPoint == path && onDevice) {
        note(g, folder + " is where " + m->source + " is mounted; reading " + m->source +
                    ". Unmount it (umount " + m->mountPoint + ") so that nothing writes to it during recovery.");
        return m->source;
    }
    std::string detail = "is a folder, not a disk, partition or image file";
    if (onDevice)
        detail += "; it lies on " + m->source + " (mounted at " + m->mountPoint + "): give that device as the source";
    else if (m)
        detail += "; it lies on a " + m->fsType + " file system (" + m->source + "), which is on no device this tool reads";
    return Error{ErrorKind::InvalidArgument, 0, folder, detail};
}

}  // namespace

CLI::Option* addSelectionOptions(CLI::App& command, SelectionOptions& o, bool withFileSystem, bool withLog)
{
    auto* source = command.add_option("source,-s,--source", o.source,
                       withLog ? "Disk, partition, volume device, image file, or the folder a volume is mounted at "
                                 "(read-only); with --log, the medium the log's one is now found as"
                               : "Disk, partition, volume device, image file, or the folder a volume is mounted at "
                                 "(read-only)");
    if (withLog)
        command.add_option("--log", o.log,
                           "Work from a recovery log (scan --save-log) instead of scanning again; its medium is "
                           "looked for among the disks and volumes attached now, or named with --source")
            ->type_name("FILE");
    else
        source->required();
    command.add_option("-p,--partition", o.partition,
                       "Partition number as the kernel gives it (the 2 of /dev/sdb2; `kestravon-cli disks` lists them)");
    command.add_option("--first", o.first, "First sector to read (default 0)");
    command.add_option("--last", o.last, "Last sector to read, inclusive (default: the source's last sector)");
    if (withFileSystem) {
        command.add_option("--fs", o.fileSystem,
                           "File system: auto (from the boot sector; the default), FAT16, FAT32 or NTFS. Name it only "
                           "when the boot sector is destroyed. With --deep: FAT16, FAT32, FAT (either, found per "
                           "volume), NTFS, or all (the default)")
            ->transform(CLI::IsMember({"auto", "FAT16", "FAT32", "FAT", "NTFS", "all"}, CLI::ignore_case));
        command.add_flag("--deep", o.deep,
                         "Deep Search: sweep the whole range (or --partition, --first/--last) once for boot sectors, "
                         "folders and NTFS file records, and infer lost volumes even without a boot sector");
    }
    command.add_option("--mountinfo", o.mountInfo, "Mount table to look mount points up in")->group("");
    return source;
}

Result<session::SourceRequest> sourceRequest(const SelectionOptions& o, const GlobalOptions& g)
{
    if (o.partition && (o.first || o.last))
        return Error{ErrorKind::InvalidArgument, 0, {},
                     "--partition takes its sectors from the partition table; give either it or --first/--last"};
    session::SourceRequest request;
    request.path = o.source;
    struct stat st {};
    if (::stat(o.source.c_str(), &st) == 0 && S_ISDIR(st.st_mode)) {
        auto device = deviceOfFolder(o.source, o, g);
        if (!device) return device.error();
        request.path = *device;
    }
    request.partition = o.partition;
    request.firstSector = o.first;
    request.lastSector = o.last;
    request.fileSystem = o.fileSystem;
    if (!o.deep && (o.fileSystem == "FAT" || o.fileSystem == "all"))
        return Error{ErrorKind::InvalidArgument, 0, {},
                     "--fs " + o.fileSystem + " is for Deep Search (--deep); Basic Search reads FAT16, FAT32 or NTFS"};
    if (o.deep) request.fileSystem.clear();
    return request;
}

std::optional<std::string> deepFileSystem(const SelectionOptions& o)
{
    if (!o.deep) return std::nullopt;
    if (o.fileSystem == "auto" || o.fileSystem == "all") return std::string(recovery::kDeepEveryFileSystem);
    if (o.fileSystem == "FAT") return std::string(recovery::kDeepAnyFat);
    return o.fileSystem;
}

}  // namespace kfr::cli
