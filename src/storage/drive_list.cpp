// Mounted volumes from the mount table, sysfs, libblkid and statvfs.
#include "storage/drive_list.h"

#include <cstdio>
#include <filesystem>
#include <set>
#include <sys/statvfs.h>

#include "storage/byte_size.h"
#include "storage/volume_probe.h"

namespace kfr::storage {

namespace fs = std::filesystem;

namespace {

const char* const kUnknownSize = "Unknown Size ";

// File systems that live in memory or in the kernel; they never stand on a block device of
// their own, but some name one as their source.
const std::set<std::string>& pseudoFileSystems()
{
    static const std::set<std::string> names = {
        "autofs", "binfmt_misc", "bpf", "cgroup", "cgroup2", "configfs", "debugfs", "devpts", "devtmpfs",
        "efivarfs", "fusectl", "hugetlbfs", "mqueue", "nsfs", "overlay", "proc", "pstore", "ramfs",
        "rpc_pipefs", "securityfs", "sysfs", "tmpfs", "tracefs", "nfsd"};
    return names;
}

struct BlockDevice {
    std::string name;        // kernel name: "sdb1"
    std::string majorMinor;  // "8:17"
};

bool startsWithThenDigit(const std::string& text, const char* prefix)
{
    const std::string p(prefix);
    return text.size() > p.size() && text.compare(0, p.size(), p) == 0 &&
           std::isdigit(static_cast<unsigned char>(text[p.size()]));
}

std::string classPath(const SystemRoots& roots, const std::string& name)
{
    return roots.sysfs + "/class/block/" + name;
}

// The block device a mount stands on, or nullopt for mounts of anything else.
std::optional<BlockDevice> blockDeviceOf(const SystemRoots& roots, const MountEntry& mount)
{
    std::error_code ec;
    // btrfs (and a few others) report an anonymous device number with major 0; their source
    // names the device instead.
    if (!mount.majorMinor.empty() && mount.majorMinor.rfind("0:", 0) != 0) {
        const fs::path real = fs::canonical(roots.sysfs + "/dev/block/" + mount.majorMinor, ec);
        if (!ec) return BlockDevice{real.filename().string(), mount.majorMinor};
    }
    if (mount.source.rfind("/dev/", 0) != 0) return std::nullopt;
    std::string name = fs::path(mount.source).filename().string();
    if (!fs::exists(classPath(roots, name), ec)) {
        // /dev/mapper/vg-root and /dev/disk/by-* are links to the kernel's node (dm-0, sdb1).
        const fs::path node = fs::canonical(roots.devDir + mount.source.substr(4), ec);
        if (ec) return std::nullopt;
        name = node.filename().string();
        if (!fs::exists(classPath(roots, name), ec)) return std::nullopt;
    }
    return BlockDevice{name, readAttribute(classPath(roots, name) + "/dev").value_or("")};
}

// The disk a block device belongs to: its parent for a partition, itself otherwise.
std::string diskNameOf(const SystemRoots& roots, const std::string& name)
{
    std::error_code ec;
    const fs::path real = fs::canonical(classPath(roots, name), ec);
    if (ec) return name;
    if (fs::exists(real / "partition", ec)) return real.parent_path().filename().string();
    return name;
}

bool isFloppyDevice(const BlockDevice& dev)
{
    return startsWithThenDigit(dev.name, "fd") || dev.majorMinor.rfind("2:", 0) == 0;
}

bool isOpticalDevice(const SystemRoots& roots, const BlockDevice& dev)
{
    const std::string disk = diskNameOf(roots, dev.name);
    if (startsWithThenDigit(disk, "sr")) return true;
    // SCSI peripheral type 5 is a CD/DVD drive.
    return readAttribute(classPath(roots, disk) + "/device/type").value_or("") == "5";
}

// Label, serial and file system: blkid on the device first; udev's record when the device cannot
// be read (an ordinary user may not open it); the mount table's type as the last word.
VolumeIdentity identityOf(const SystemRoots& roots, const std::string& volumePath, const BlockDevice& dev,
                          const MountEntry& mount)
{
    if (auto id = probeVolume(volumePath)) return *id;
    VolumeIdentity id;
    const UdevProperties udev = readUdevProperties(roots, dev.majorMinor);
    auto get = [&](const char* key) {
        const auto it = udev.find(key);
        return it == udev.end() ? std::string() : it->second;
    };
    id.type = get("ID_FS_TYPE");
    if (!id.type.empty()) {
        id.version = get("ID_FS_VERSION");
        id.label = decodeUdevText(get("ID_FS_LABEL_ENC"));
        if (id.label.empty()) id.label = get("ID_FS_LABEL");
        id.uuid = get("ID_FS_UUID");
        return id;
    }
    id.type = mount.fsType;
    return id;
}

std::string hexUpper(std::uint32_t value)
{
    char text[16];
    std::snprintf(text, sizeof text, "%X", value);
    return text;
}

LogicalDrive makeDrive(const DriveListContext& ctx, const MountEntry& mount, const BlockDevice& dev,
                       const std::vector<PhysicalDisk>& disks)
{
    LogicalDrive drive;
    drive.mountPoint = mount.mountPoint;
    drive.volumePath = ctx.roots.devDir + "/" + deviceNameOf(classPath(ctx.roots, dev.name), dev.name);

    const VolumeIdentity id = identityOf(ctx.roots, drive.volumePath, dev, mount);
    drive.fileSystem = fileSystemName(id);
    drive.label = id.label;
    const auto serial = volumeSerial(id);

    const auto space = ctx.spaceQuery ? ctx.spaceQuery(mount.mountPoint) : std::nullopt;
    if (space) {
        drive.totalBytes = space->totalBytes;
        drive.freeBytes = space->freeBytes;
    }
    const std::uint64_t totalSectors = drive.totalBytes / kSectorSize;
    const std::string size = drive.totalBytes ? sizeText(drive.totalBytes) : kUnknownSize;
    std::string freeText;
    if (!drive.freeBytes)
        freeText = kUnknownSize;
    else if (*drive.freeBytes > 0)
        freeText = sizeText(*drive.freeBytes);

    drive.extent = mapVolumeToDisk(ctx.roots, dev.name, disks);

    LogicalDriveRecord& r = drive.record;
    r.setText(DriveField::kItemText,
              drive.mountPoint + " (" + size + " - " + drive.label + " - " + drive.fileSystem + ")");
    r.setText(DriveField::kBranch, "Logical Drives");
    r.setText(DriveField::kModeName, ctx.modeName);
    r.setText(DriveField::kFirstSector, "0");
    r.setText(DriveField::kTotalSectors, std::to_string(totalSectors));
    r.setText(DriveField::kFileSystem, drive.fileSystem);
    r.setText(DriveField::kDesignator, drive.mountPoint);
    r.setText(DriveField::kLabel, drive.label);
    r.setText(DriveField::kSizeText, size);
    r.setText(DriveField::kFreeText, freeText);
    r.setText(DriveField::kSerial, serial ? hexUpper(*serial) : std::string());
    r.setNumber64(DriveField::kTotalBytes, drive.totalBytes);
    r.setNumber(DriveField::kDiskNumber, drive.extent.diskNumber);
    r.setNumber64(DriveField::kDiskFirstSector, drive.extent.firstSector);
    r.setNumber64(DriveField::kDiskEndSector, drive.extent.endSector);
    r.setText(DriveField::kVolumePath, drive.volumePath);
    drive.key = driveKey(r);
    return drive;
}

}  // namespace

std::optional<VolumeSpace> statVolumeSpace(const std::string& mountPoint)
{
    struct statvfs st {};
    if (::statvfs(mountPoint.c_str(), &st) != 0) return std::nullopt;
    const std::uint64_t unit = st.f_frsize ? st.f_frsize : st.f_bsize;
    return VolumeSpace{static_cast<std::uint64_t>(st.f_blocks) * unit, static_cast<std::uint64_t>(st.f_bavail) * unit};
}

DriveListing listLogicalDrives(const DriveListContext& ctx, const std::vector<PhysicalDisk>& disks)
{
    DriveListing listing;
    std::set<std::string> seen;
    for (const MountEntry& mount : readMountTable(ctx.roots)) {
        if (pseudoFileSystems().count(mount.fsType) || mount.fsType == "iso9660") continue;
        const auto dev = blockDeviceOf(ctx.roots, mount);
        if (!dev || !seen.insert(dev->name).second) continue;  // bind mounts and subvolumes: once
        if (isOpticalDevice(ctx.roots, *dev) || isFloppyDevice(*dev)) continue;
        LogicalDrive drive = makeDrive(ctx, mount, *dev, disks);
        listing.driveKeys.push_back(drive.key);
        listing.drives.push_back(std::move(drive));
    }
    return listing;
}

DiskExtent mapVolumeToDisk(const SystemRoots& roots, const std::string& blockName, const std::vector<PhysicalDisk>& disks)
{
    DiskExtent extent;
    std::error_code ec;
    const fs::path real = fs::canonical(classPath(roots, blockName), ec);
    if (ec) return extent;
    // A device built on others (device-mapper, md, LVM) lies on several disks or on parts of
    // them; there is no one disk and sector range to name.
    if (fs::is_directory(real / "slaves", ec) && !fs::is_empty(real / "slaves", ec)) return extent;
    const bool isPartition = fs::exists(real / "partition", ec);
    const std::string diskName = isPartition ? real.parent_path().filename().string() : blockName;
    const auto size = readNumberAttribute((real / "size").string());
    const auto start = isPartition ? readNumberAttribute((real / "start").string()) : std::optional<std::uint64_t>(0);
    if (!size || !start || *start > UINT64_MAX - *size) return extent;
    for (const PhysicalDisk& disk : disks) {
        if (disk.isImage || disk.sysfsName != diskName) continue;
        extent.diskNumber = disk.number;
        extent.firstSector = *start;  // sysfs counts in 512-byte sectors whatever the device's own size
        extent.endSector = *start + *size;
        extent.mapped = true;
        break;
    }
    return extent;
}

bool isFloppyDrive(const SystemRoots& roots, const std::string& designator)
{
    for (const MountEntry& mount : readMountTable(roots)) {
        if (mount.mountPoint != designator) continue;
        const auto dev = blockDeviceOf(roots, mount);
        return dev && isFloppyDevice(*dev);
    }
    return false;
}

std::string driveKey(const LogicalDriveRecord& record)
{
    return record.text(DriveField::kVolumePath) + "|" + record.text(DriveField::kTotalSectors);
}

}  // namespace kfr::storage
