// A small imitation of /sys, /run/udev/data, /dev and /proc/self/mountinfo in a temporary folder,
// laid out the way the kernel lays them out (devices under sys/devices, sys/block and
// sys/class/block as links, sys/dev/block by number), for the disk and volume listings.
#pragma once

#include <filesystem>
#include <fstream>
#include <map>
#include <string>
#include <vector>

#include "storage/system_tree.h"
#include "test_support.h"

namespace kfr::test {

class FakeSystemTree {
public:
    struct Disk {
        std::string name;        // "sda"
        std::string parent;      // device path below sys/devices, e.g. "pci0000:00/.../0:0:0:0"
        std::string majorMinor;  // "8:0"
        std::uint64_t sectors512 = 0;
        bool removable = false;
        std::map<std::string, std::string> attributes;  // relative to the block folder
    };

    FakeSystemTree()
    {
        namespace fs = std::filesystem;
        for (const char* d : {"sys/devices", "sys/block", "sys/class/block", "sys/dev/block", "udev", "dev"})
            fs::create_directories(path(d));
        writeFile(path("mountinfo"), "");
    }

    storage::SystemRoots roots() const
    {
        storage::SystemRoots r;
        r.sysfs = path("sys");
        r.udevData = path("udev");
        r.mountInfo = path("mountinfo");
        r.devDir = path("dev");
        return r;
    }

    std::string path(const std::string& relative) const { return m_dir.path() + "/" + relative; }

    // Adds a whole disk; returns its block folder (sys/devices/<parent>/block/<name>).
    std::string addDisk(const Disk& d)
    {
        const std::string rel = "devices/" + d.parent + "/block/" + d.name;
        const std::string dir = path("sys/" + rel);
        std::filesystem::create_directories(dir + "/queue");
        writeFile(dir + "/size", std::to_string(d.sectors512) + "\n");
        writeFile(dir + "/removable", d.removable ? "1\n" : "0\n");
        writeFile(dir + "/dev", d.majorMinor + "\n");
        writeFile(dir + "/uevent", "MAJOR=x\nDEVNAME=" + d.name + "\nDEVTYPE=disk\n");
        writeFile(dir + "/queue/logical_block_size", "512\n");
        for (const auto& [attr, value] : d.attributes) {
            std::filesystem::create_directories(std::filesystem::path(dir + "/" + attr).parent_path());
            writeFile(dir + "/" + attr, value + "\n");
        }
        link("../" + rel, "sys/block/" + d.name);
        link("../../" + rel, "sys/class/block/" + d.name);
        link("../../" + rel, "sys/dev/block/" + d.majorMinor);
        m_blockDirs[d.name] = rel;
        return dir;
    }

    // Adds a partition below a disk added before.
    void addPartition(const std::string& disk, const std::string& name, const std::string& majorMinor,
                      std::uint64_t start, std::uint64_t sectors512)
    {
        const std::string rel = m_blockDirs.at(disk) + "/" + name;
        const std::string dir = path("sys/" + rel);
        std::filesystem::create_directories(dir);
        writeFile(dir + "/partition", "1\n");
        writeFile(dir + "/start", std::to_string(start) + "\n");
        writeFile(dir + "/size", std::to_string(sectors512) + "\n");
        writeFile(dir + "/dev", majorMinor + "\n");
        writeFile(dir + "/uevent", "DEVNAME=" + name + "\nDEVTYPE=partition\n");
        link("../../" + rel, "sys/class/block/" + name);
        link("../../" + rel, "sys/dev/block/" + majorMinor);
        m_blockDirs[name] = rel;
    }

    void setUdev(const std::string& majorMinor, const std::vector<std::string>& properties)
    {
        std::string text = "I:1234\n";
        for (const auto& p : properties) text += "E:" + p + "\n";
        writeFile(path("udev/b" + majorMinor), text);
    }

    // A device node: a regular file standing for the device (an image of it, or empty).
    std::string addNode(const std::string& name, const std::vector<std::uint8_t>& bytes = {})
    {
        const std::string p = path("dev/" + name);
        std::filesystem::create_directories(std::filesystem::path(p).parent_path());
        std::ofstream out(p, std::ios::binary);
        out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
        return p;
    }

    void setMountInfo(const std::vector<std::string>& lines)
    {
        std::string text;
        int id = 20;
        for (const auto& l : lines) text += std::to_string(id++) + " 1 " + l + "\n";
        writeFile(path("mountinfo"), text);
    }

    static void writeFile(const std::string& p, const std::string& text)
    {
        std::ofstream out(p, std::ios::binary);
        out << text;
    }

private:
    void link(const std::string& target, const std::string& at)
    {
        std::filesystem::create_directory_symlink(target, path(at));
    }

    TempDir m_dir;
    std::map<std::string, std::string> m_blockDirs;
};

}  // namespace kfr::test
