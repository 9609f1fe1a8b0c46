// The drive tree of a recovery screen as plain data: "My Computer" with "Physical Drives" (the
// disks, image files among them, with their partitions) and "Logical Drives" (the mounted
// volumes), built from one listing of the core. The widgets show it; the screen's controller
// reads the disk, partition or volume behind the item the user chose.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

#include "storage/drive_list.h"
#include "storage/result.h"
#include "storage/system_tree.h"
#include "volumes/partition_table.h"

namespace kfr::ui {

// What one refresh of the drive lists asks for.
struct DriveListRequest {
    storage::SystemRoots roots;           // the running system's unless a test names a fake tree
    std::string modeName;                 // the screen's mode, written into every record
    std::vector<std::string> imagePaths;  // image files the user added, listed as disks after the real ones
    bool listSystemMedia = true;          // false: only the image files (the real disks and mounts are left out)
};

// What one refresh found.
struct DriveSnapshot {
    volumes::PhysicalDrivesBranch physical;
    storage::DriveListing logical;
    std::vector<Error> problems;  // image files that could not be listed
};

// Lists the disks with their partitions, then the mounted volumes. Blocking: opens every disk to
// read its partition table, so screens run it off the UI thread.
DriveSnapshot listDrives(const DriveListRequest& request);

enum class DriveItemKind { MyComputer, PhysicalDrives, LogicalDrives, Disk, Partition, Drive };

struct DriveItem {
    DriveItemKind kind = DriveItemKind::MyComputer;
    std::string text;
    int parent = -1;
    std::vector<int> children;
    std::size_t disk = 0;       // Disk, Partition: index into the snapshot's disks
    std::size_t partition = 0;  // Partition: index into that disk's listed partitions
    std::size_t drive = 0;      // Drive: index into the snapshot's drives
};

class DriveTree {
public:
    static constexpr int kMyComputer = 0;
    static constexpr int kPhysicalDrives = 1;
    static constexpr int kLogicalDrives = 2;

    DriveTree();  // the three category items and nothing under them
    explicit DriveTree(const DriveSnapshot& snapshot);

    const std::vector<DriveItem>& items() const { return m_items; }
    const DriveItem& item(int index) const { return m_items.at(static_cast<std::size_t>(index)); }
    bool valid(int index) const { return index >= 0 && static_cast<std::size_t>(index) < m_items.size(); }
    // Neither branch has a child: the screen offers the no-device dialog.
    bool empty() const;
    // The items of a kind, in tree order (the disks, in listing order).
    std::vector<int> itemsOfKind(DriveItemKind kind) const;

private:
    int add(DriveItem item);
    std::vector<DriveItem> m_items;
};

}  // namespace kfr::ui
