// Reading what the kernel and udev say about block devices: sysfs attributes, the udev
// database and the mount table. Every reader takes its roots explicitly, so the listings can be
// run on a fake tree built by a test.
#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <vector>

namespace kfr::storage {

// Where the listings look. The defaults are the running system's.
struct SystemRoots {
    std::string sysfs = "/sys";
    std::string udevData = "/run/udev/data";
    std::string mountInfo = "/proc/self/mountinfo";
    std::string devDir = "/dev";  // device nodes are devDir + "/" + the kernel's device name
};

// First line of a sysfs attribute file, trimmed; nullopt when the file cannot be read.
std::optional<std::string> readAttribute(const std::string& path);

// An attribute read as an unsigned decimal number; nullopt when missing or not a number.
std::optional<std::uint64_t> readNumberAttribute(const std::string& path);

// The "E:" properties of one block device in the udev database (file "b<major>:<minor>"), e.g.
// ID_MODEL, ID_SERIAL_SHORT, ID_BUS, ID_FS_LABEL_ENC. Empty when udev has no record.
using UdevProperties = std::map<std::string, std::string>;
UdevProperties readUdevProperties(const SystemRoots& roots, const std::string& majorMinor);

// Decodes udev's "\x20" escapes (used by the *_ENC properties) and trims the result.
std::string decodeUdevText(const std::string& text);

// One line of the mount table.
struct MountEntry {
    std::string majorMinor;  // "8:17"
    std::string mountPoint;  // escapes (\040 for a space) decoded
    std::string fsType;
    std::string source;      // "/dev/sdb1", "tmpfs", ...
};

// Parses mountinfo text; lines that do not have the form are left out.
std::vector<MountEntry> parseMountInfo(const std::string& text);

// Reads and parses roots.mountInfo; empty when it cannot be read.
std::vector<MountEntry> readMountTable(const SystemRoots& roots);

// The kernel's device name of a sysfs block entry: DEVNAME from its uevent file, else the entry
// name with '!' read as '/' (as sysfs spells "cciss/c0d0").
std::string deviceNameOf(const std::string& sysfsEntryPath, const std::string& entryName);

}  // namespace kfr::storage
