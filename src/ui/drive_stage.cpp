#include "ui/drive_stage.h"


#include "storage/disk_list.h"
#include "texts/messages.h"
#include "texts/screen_texts.h"
#include "texts/search_texts.h"
#include "volumes/volume_parameters.h"

namespace kfr::ui {

namespace {

bool isReadFileSystem(const std::string& partType)
{
    return partType == volumes::kFat16 || partType == volumes::kFat32 || partType == volumes::kNtfs;
}

std::uint64_t lastSectorOf(std::uint64_t sectorCount)
{
    return sectorCount > 0 ? sectorCount - 1 : 0;
}

}  // namespace

const char* selectionKindText(SelectionKind kind)
{
    switch (kind) {
    case SelectionKind::HardDisk: return "Hard Disk";
    case SelectionKind::RemovableMedia: return "Removable Media";
    case SelectionKind::Partition: return "part";
    case SelectionKind::Logical: return "Logical";
    }
    return "";
}

session::SourceRequest ScanTarget::request() const
{
    session::SourceRequest r;
    r.path = devicePath;
    r.firstSector = firstSector;
    r.lastSector = lastSector;
    r.fileSystem = isReadFileSystem(partType) && !partTypeBySize ? partType : "auto";
    r.guessBySize = partTypeBySize;
    return r;
}

std::string ScanTarget::rangeText() const
{
    return std::to_string(firstSector) + texts::kRangeJoiner + std::to_string(lastSector);
}

DriveStage::DriveStage(ScreenMode mode) : m_mode(mode) {}

void DriveStage::setSnapshot(DriveSnapshot snapshot)
{
    m_snapshot = std::move(snapshot);
    m_tree = DriveTree(m_snapshot);
    m_selected = DriveTree::kMyComputer;
    m_currentDisk = {};
}

const volumes::DiskEntry* DriveStage::diskOf(const DriveItem& item) const
{
    if (item.kind != DriveItemKind::Disk && item.kind != DriveItemKind::Partition) return nullptr;
    return &m_snapshot.physical.disks.at(item.disk);
}

const volumes::DiskEntry* DriveStage::diskEntryOf(int item) const
{
    if (!m_tree.valid(item) || m_tree.item(item).kind != DriveItemKind::Disk) return nullptr;
    return diskOf(m_tree.item(item));
}

int DriveStage::addFoundPartitions(int diskItem, const session::PartitionSearchOutcome& outcome)
{
    if (!m_tree.valid(diskItem) || m_tree.item(diskItem).kind != DriveItemKind::Disk) return -1;
    const std::size_t diskIndex = m_tree.item(diskItem).disk;
    auto& partitions = m_snapshot.physical.disks.at(diskIndex).partitions;
    auto append = [&](const volumes::SearchedPartition& p, bool wholeDisk) {
        volumes::PartitionRecord record;
        record.number = static_cast<std::uint32_t>(partitions.size() + 1);
        record.fileSystem = p.fileSystem;
        record.firstSector = p.firstSector;
        record.lastSector = p.lastSector;
        record.itemText = wholeDisk && p.fileSystem == volumes::kUnknown ? "Unknown Partition"
                                                                         : volumes::partitionItemText(record.number, p.fileSystem);
        record.slot = 0;  // no table entry: the kernel gives it no number
        partitions.push_back(std::move(record));
    };
    for (const auto& p : outcome.search.found) append(p, false);
    if (outcome.wholeDisk) append(*outcome.wholeDisk, true);
    m_tree = DriveTree(m_snapshot);
    // The tree keeps the disks in listing order: find the same disk's item again.
    for (int item : m_tree.itemsOfKind(DriveItemKind::Disk)) {
        if (m_tree.item(item).disk != diskIndex) continue;
        const auto& children = m_tree.item(item).children;
        return children.empty() ? -1 : children.front();
    }
    return -1;
}

SelectionView DriveStage::select(int index, bool holdsResults)
{
    SelectionView view;
    if (!m_tree.valid(index)) return view;
    m_selected = index;
    const DriveItem& item = m_tree.item(index);
    switch (item.kind) {
    case DriveItemKind::MyComputer:
    case DriveItemKind::PhysicalDrives:
    case DriveItemKind::LogicalDrives:
        break;
    case DriveItemKind::Disk: {
        const auto& disk = diskOf(item)->disk;
        auto props = storage::showDiskProperties(disk);
        m_currentDisk = props.selection;
        view.rows = std::move(props.rows);
        const std::uint64_t last = lastSectorOf(disk.totalSectors);
        view.range = SectorChoice{0, last, 0, last};
        break;
    }
    case DriveItemKind::Partition: {
        const auto& entry = *diskOf(item);
        const auto& p = entry.partitions.at(item.partition);
        const auto props = storage::showPartitionProperties(entry.disk.number, static_cast<std::uint32_t>(item.partition),
                                                            p.fileSystem, modeName(m_mode), p.firstSector,
                                                            p.lastSector, entry.disk.totalSectors);
        view.rows = props.rows;
        // The scale is the whole disk, the range the partition (a table may claim more than the
        // disk holds: the range stops at the disk's end).
        const std::uint64_t last = lastSectorOf(props.diskTotalSectors);
        view.range = SectorChoice{0, last, std::min(props.startSector, last), std::min(props.endSector, last)};
        break;
    }
    case DriveItemKind::Drive: {
        const auto& drive = m_snapshot.logical.drives.at(item.drive);
        view.rows = storage::showDriveProperties(drive.record, holdsResults && m_mode != ScreenMode::Signature);
        const std::uint64_t last = lastSectorOf(drive.totalBytes / storage::kSectorSize);
        view.range = SectorChoice{0, last, 0, last};
        break;
    }
    }
    return view;
}

NextCheck DriveStage::checkNext() const
{
    const DriveItem& item = m_tree.item(m_selected);
    switch (item.kind) {
    case DriveItemKind::MyComputer:
    case DriveItemKind::PhysicalDrives:
    case DriveItemKind::LogicalDrives:
        return {NextStep::Refuse, texts::kSelectDriveMessage, {}};
    case DriveItemKind::Disk:
        // Basic Search reads one volume, so a whole disk is questioned first; the screens with a
        // sector range read whatever range the user set.
        if (m_mode == ScreenMode::Basic) return {NextStep::AskWholeDisk, nullptr, {}};
        return {NextStep::Resolve, nullptr, {}};
    case DriveItemKind::Drive:
        return {NextStep::AskLogicalScan, nullptr,
                m_snapshot.logical.drives.at(item.drive).record.text(storage::DriveField::kDesignator)};
    case DriveItemKind::Partition:
        return {NextStep::Resolve, nullptr, {}};
    }
    return {NextStep::Refuse, texts::kSelectDriveMessage, {}};
}

ScanTarget DriveStage::wholeDiskTarget(const volumes::DiskEntry& entry, bool removable) const
{
    ScanTarget t;
    t.kind = removable ? SelectionKind::RemovableMedia : SelectionKind::HardDisk;
    t.diskNumber = entry.disk.number;
    t.devicePath = entry.disk.devicePath;
    // A hard disk's first volume traditionally begins at the second track; a removable medium
    // is often one volume from sector 0, and so is a medium whose sector 0 is a boot sector.
    t.firstSector = removable || !entry.bareVolume.empty() ? 0 : 63;
    t.lastSector = lastSectorOf(entry.disk.totalSectors);
    if (!entry.bareVolume.empty() && entry.partitions.empty()) {
        t.partType = entry.bareVolume;
        return t;
    }
    // The file system its partitions agree on, else the size rule.
    std::string named;
    bool agree = !entry.partitions.empty();
    for (const auto& p : entry.partitions) {
        if (named.empty()) named = p.fileSystem;
        agree = agree && p.fileSystem == named;
    }
    if (agree) {
        t.partType = volumes::nameFileSystem(named);
    } else {
        t.partType = volumes::guessFileSystemBySize(t.firstSector, t.lastSector);
        t.partTypeBySize = true;
    }
    return t;
}

NextResolution DriveStage::resolveNext(DriveChoice choice, const std::optional<RangeFields>& fields) const
{
    const DriveItem& item = m_tree.item(m_selected);
    ScanTarget t;
    std::uint64_t mediumSectors = 0;
    std::uint64_t fieldOffset = 0;  // where sector 0 of the range fields lies on the device
    std::uint64_t fieldLimit = UINT64_MAX;
    switch (item.kind) {
    case DriveItemKind::MyComputer:
    case DriveItemKind::PhysicalDrives:
    case DriveItemKind::LogicalDrives:
        return {std::nullopt, texts::kSelectDriveMessage};
    case DriveItemKind::Disk: {
        const auto& entry = *diskOf(item);
        const bool removable =
            entry.disk.record.text(storage::DiskField::kMediaClass).find("Removable Media") != std::string::npos;
        t = wholeDiskTarget(entry, removable);
        t.choice = DriveChoice::WholeDisk;
        mediumSectors = entry.disk.totalSectors;
        break;
    }
    case DriveItemKind::Partition: {
        const auto& entry = *diskOf(item);
        const auto& p = entry.partitions.at(item.partition);
        t.kind = SelectionKind::Partition;
        t.diskNumber = entry.disk.number;
        t.devicePath = entry.disk.devicePath;
        t.firstSector = p.firstSector;
        t.lastSector = p.lastSector;
        t.partType = volumes::nameFileSystem(p.fileSystem);
        mediumSectors = entry.disk.totalSectors;
        break;
    }
    case DriveItemKind::Drive: {
        if (choice != DriveChoice::LogicalScan && choice != DriveChoice::PhysicalScan) return {};
        const auto& drive = m_snapshot.logical.drives.at(item.drive);
        t.kind = SelectionKind::Logical;
        t.choice = choice;
        t.partType = volumes::nameFileSystem(drive.fileSystem);
        const std::uint64_t volumeSectors = drive.totalBytes / storage::kSectorSize;
        if (choice == DriveChoice::LogicalScan) {
            t.devicePath = drive.volumePath;
            t.firstSector = 0;
            t.lastSector = lastSectorOf(volumeSectors);
            mediumSectors = volumeSectors;
        } else {
            // The volume's area on the disk that holds it; a volume that maps to no listed disk
            // has none, and is refused below with the end-sector message.
            const storage::PhysicalDisk* disk = nullptr;
            for (const auto& entry : m_snapshot.physical.disks)
                if (drive.extent.mapped && entry.disk.number == drive.extent.diskNumber) disk = &entry.disk;
            if (disk) {
                t.diskNumber = disk->number;
                t.devicePath = disk->devicePath;
                t.firstSector = drive.extent.firstSector;
                t.lastSector = std::min(lastSectorOf(drive.extent.endSector), lastSectorOf(disk->totalSectors));
                mediumSectors = disk->totalSectors;
                fieldOffset = t.firstSector;
                fieldLimit = t.lastSector;
            }
        }
        break;
    }
    }

    if (fields) {
        if (m_mode == ScreenMode::Signature && !fields->start) return {std::nullopt, texts::kEnterStartSectorMessage};
        if (!fields->start || !fields->end || *fields->end == 0 || *fields->end <= *fields->start)
            return {std::nullopt, texts::kEndSectorMessage};
        // The fields of a volume scanned through its disk count from the volume's first sector.
        t.firstSector = fieldOffset + *fields->start;
        t.lastSector = std::min(fieldOffset + *fields->end, fieldLimit);
    }
    if (t.lastSector == 0 || t.lastSector < t.firstSector) return {std::nullopt, texts::kEndSectorMessage};
    if (mediumSectors > 0 && t.lastSector > mediumSectors - 1) {
        t.lastSector = mediumSectors - 1;
        t.clipped = true;
    }
    if (t.firstSector > t.lastSector) return {std::nullopt, texts::kEndSectorMessage};
    t.mode = m_mode;
    return {t, nullptr};
}

SearchMoreCheck DriveStage::checkSearchMore() const
{
    const DriveItem& item = m_tree.item(m_selected);
    if (item.kind != DriveItemKind::Disk) return {SearchMoreStep::Refuse, texts::kSelectDiskForSearchMessage, true};
    const auto& disk = diskOf(item)->disk;
    if (disk.record.text(storage::DiskField::kSizeText).empty()) {
        const auto number = storage::diskNumberFromItemText(item.text).value_or(disk.number);
        return {SearchMoreStep::Refuse, texts::noStorageInDiskMessage(number), false};
    }
    return {SearchMoreStep::AskMode, {}, false};
}

std::vector<UnreadableDisk> DriveStage::unreadableDisks() const
{
    std::vector<UnreadableDisk> out;
    for (const auto& entry : m_snapshot.physical.disks) {
        const auto& problem = entry.disk.accessProblem ? entry.disk.accessProblem : entry.readProblem;
        if (problem && problem->kind == ErrorKind::PermissionDenied)
            out.push_back({entry.disk.devicePath, entry.disk.record.text(storage::DiskField::kItemText)});
    }
    return out;
}

int DriveStage::firstBareRemovableMedium() const
{
    for (int index : m_tree.itemsOfKind(DriveItemKind::Disk)) {
        const auto& item = m_tree.item(index);
        if (item.text.find("Removable Media") != std::string::npos && item.children.empty()) return index;
    }
    return -1;
}

}  // namespace kfr::ui
