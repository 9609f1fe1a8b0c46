// Destination checks through the kernel's view of block devices (sysfs).
#include "export/destination.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <deque>
#include <filesystem>
#include <fstream>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <sys/sysmacros.h>
#include <unistd.h>

namespace kfr::exporting {

namespace {

constexpr std::size_t kMaxStackDevices = 64;

std::string firstLine(const std::string& path)
{
    std::ifstream in(path);
    std::string line;
    std::getline(in, line);
    return line;
}

bool parseDevice(const std::string& text, dev_t& dev)
{
    unsigned major = 0, minor = 0;
    if (std::sscanf(text.c_str(), "%u:%u", &major, &minor) != 2) return false;
    dev = makedev(major, minor);
    return true;
}

std::string deviceDir(dev_t dev, const std::string& sysfsRoot)
{
    return sysfsRoot + "/dev/block/" + std::to_string(major(dev)) + ":" + std::to_string(minor(dev));
}

bool exists(const std::string& path)
{
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0;
}

bool contains(const std::vector<dev_t>& list, dev_t dev)
{
    return std::find(list.begin(), list.end(), dev) != list.end();
}

// The disk a partition belongs to, or nothing.
bool wholeDiskOf(dev_t dev, const std::string& sysfsRoot, dev_t& disk)
{
    const std::string dir = deviceDir(dev, sysfsRoot);
    if (!exists(dir + "/partition")) return false;
    return parseDevice(firstLine(dir + "/../dev"), disk);
}

// The image behind a loop device (its sysfs folder), or "".
std::string backingFileOf(const std::string& deviceDirectory)
{
    std::string backing = firstLine(deviceDirectory + "/loop/backing_file");
    // The kernel marks a backing file removed since with " (deleted)".
    const std::string deleted = " (deleted)";
    if (backing.size() > deleted.size() && backing.compare(backing.size() - deleted.size(), deleted.size(), deleted) == 0)
        backing.resize(backing.size() - deleted.size());
    return backing;
}

// Whether any of the files is the same file (by identity, not by name) as any of the others.
bool shareAFile(const std::vector<std::string>& files, const std::vector<struct stat>& others)
{
    for (const auto& file : files) {
        struct stat st {};
        if (::stat(file.c_str(), &st) != 0) continue;
        for (const auto& other : others)
            if (st.st_dev == other.st_dev && st.st_ino == other.st_ino) return true;
    }
    return false;
}

}  // namespace

DeviceStack deviceStack(dev_t dev, const std::string& sysfsRoot)
{
    DeviceStack stack;
    std::deque<dev_t> queue{dev};
    while (!queue.empty() && stack.devices.size() < kMaxStackDevices) {
        const dev_t d = queue.front();
        queue.pop_front();
        if (contains(stack.devices, d)) continue;  // stacks are trees, but sysfs is not trusted to be
        stack.devices.push_back(d);
        const std::string dir = deviceDir(d, sysfsRoot);
        dev_t disk{};
        if (wholeDiskOf(d, sysfsRoot, disk) && !contains(stack.wholeDisks, disk)) {
            stack.wholeDisks.push_back(disk);
            // A partition of a loop device (loop0p1) rests on the loop device's backing file.
            if (const std::string file = backingFileOf(deviceDir(disk, sysfsRoot)); !file.empty())
                stack.backingFiles.push_back(file);
        }
        if (const std::string backing = backingFileOf(dir); !backing.empty()) {
            stack.backingFiles.push_back(backing);
            // A loop device over a block device rests on that device.
            struct stat st {};
            if (::stat(backing.c_str(), &st) == 0 && S_ISBLK(st.st_mode)) queue.push_back(st.st_rdev);
        }
        std::error_code ec;
        for (std::filesystem::directory_iterator it(dir + "/slaves", ec), end; !ec && it != end; it.increment(ec)) {
            dev_t slave{};
            if (parseDevice(firstLine(it->path().string() + "/dev"), slave)) queue.push_back(slave);
        }
    }
    return stack;
}

DestinationVerdict checkDestination(const std::string& destination, const std::string& sourcePath,
                                    const std::string& sysfsRoot)
{
    if (destination.empty()) return DestinationVerdict::NotUsable;
    struct stat dest {};
    if (::stat(destination.c_str(), &dest) != 0 || !S_ISDIR(dest.st_mode)) return DestinationVerdict::NotUsable;
    if (::access(destination.c_str(), W_OK | X_OK) != 0) return DestinationVerdict::NotUsable;
    struct statvfs fs {};
    if (::statvfs(destination.c_str(), &fs) == 0 && (fs.f_flag & ST_RDONLY)) return DestinationVerdict::NotUsable;

    struct stat source {};
    if (sourcePath.empty() || ::stat(sourcePath.c_str(), &source) != 0) return DestinationVerdict::Usable;
    const DeviceStack stack = deviceStack(dest.st_dev, sysfsRoot);

    // The files the source rests on: the image itself, or the images behind a loop device that
    // is (or holds) the source. Two loop devices over one image are one medium.
    std::vector<struct stat> sourceFiles;
    if (S_ISBLK(source.st_mode)) {
        const dev_t s = source.st_rdev;
        if (contains(stack.devices, s) || contains(stack.wholeDisks, s)) return DestinationVerdict::OnSourceVolume;
        dev_t sourceDisk{};
        if (wholeDiskOf(s, sysfsRoot, sourceDisk) && contains(stack.devices, sourceDisk))
            return DestinationVerdict::OnSourceVolume;
        for (const auto& file : deviceStack(s, sysfsRoot).backingFiles) {
            struct stat st {};
            if (::stat(file.c_str(), &st) == 0 && S_ISREG(st.st_mode)) sourceFiles.push_back(st);
        }
    } else {
        sourceFiles.push_back(source);
    }
    if (shareAFile(stack.backingFiles, sourceFiles)) return DestinationVerdict::OnSourceVolume;
    return DestinationVerdict::Usable;
}

bool makeDirectoryPath(const std::string& path)
{
    auto isDirectory = [](const std::string& p) {
        struct stat st {};
        return ::stat(p.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
    };
    if (path.empty()) return false;
    if (::mkdir(path.c_str(), 0755) == 0 || isDirectory(path)) return true;
    // Create every prefix that ends before a "/", then the whole path; existing folders fail harmlessly.
    for (std::size_t i = 1; i < path.size(); ++i)
        if (path[i] == '/') ::mkdir(path.substr(0, i).c_str(), 0755);
    ::mkdir(path.c_str(), 0755);
    return isDirectory(path);
}

}  // namespace kfr::exporting
