#include "ui/drive_tree.h"

#include "texts/screen_texts.h"

namespace kfr::ui {

DriveSnapshot listDrives(const DriveListRequest& request)
{
    storage::DiskListContext diskCtx;
    diskCtx.roots = request.roots;
    diskCtx.modeName = request.modeName;
    diskCtx.imagePaths = request.imagePaths;
    if (!request.listSystemMedia) {
        // Roots that hold nothing: only the image files are listed.
        diskCtx.roots = storage::SystemRoots{"/nonexistent", "/nonexistent", "/nonexistent", "/nonexistent"};
    }
    storage::DiskListing disks = storage::listPhysicalDisks(diskCtx);

    DriveSnapshot snapshot;
    snapshot.problems = disks.problems;
    storage::DriveListContext driveCtx;
    driveCtx.roots = diskCtx.roots;
    driveCtx.modeName = request.modeName;
    snapshot.logical = storage::listLogicalDrives(driveCtx, disks.disks);
    snapshot.physical = volumes::listPhysicalDrivesBranch(std::move(disks));
    return snapshot;
}

DriveTree::DriveTree()
{
    add({DriveItemKind::MyComputer, texts::kMyComputerItem, -1, {}, 0, 0, 0});
    add({DriveItemKind::PhysicalDrives, texts::kPhysicalDrivesItem, kMyComputer, {}, 0, 0, 0});
    add({DriveItemKind::LogicalDrives, texts::kLogicalDrivesItem, kMyComputer, {}, 0, 0, 0});
}

DriveTree::DriveTree(const DriveSnapshot& snapshot) : DriveTree()
{
    const auto& disks = snapshot.physical.disks;
    for (std::size_t d = 0; d < disks.size(); ++d) {
        const int diskItem =
            add({DriveItemKind::Disk, disks[d].disk.record.text(storage::DiskField::kItemText), kPhysicalDrives, {}, d, 0, 0});
        for (std::size_t p = 0; p < disks[d].partitions.size(); ++p)
            add({DriveItemKind::Partition, disks[d].partitions[p].itemText, diskItem, {}, d, p, 0});
    }
    const auto& drives = snapshot.logical.drives;
    for (std::size_t v = 0; v < drives.size(); ++v)
        add({DriveItemKind::Drive, drives[v].record.text(storage::DriveField::kItemText), kLogicalDrives, {}, 0, 0, v});
}

int DriveTree::add(DriveItem item)
{
    const int index = static_cast<int>(m_items.size());
    const int parent = item.parent;
    m_items.push_back(std::move(item));
    if (parent >= 0) m_items[static_cast<std::size_t>(parent)].children.push_back(index);
    return index;
}

bool DriveTree::empty() const
{
    return item(kPhysicalDrives).children.empty() && item(kLogicalDrives).children.empty();
}

std::vector<int> DriveTree::itemsOfKind(DriveItemKind kind) const
{
    std::vector<int> out;
    for (std::size_t i = 0; i < m_items.size(); ++i)
        if (m_items[i].kind == kind) out.push_back(static_cast<int>(i));
    return out;
}

}  // namespace kfr::ui
