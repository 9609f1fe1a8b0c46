// kestravon-cli disks: the physical disks (and image files) with every partition they hold, as the
// kernel numbers them, readable here or not.
// kestravon-cli volumes: the mounted volumes with their properties and the disk area they occupy.
#include <CLI/CLI.hpp>
#include <cctype>
#include <iostream>
#include <memory>

#include "cli/cli_support.h"
#include "cli/command_registry.h"
#include "cli/terminal_text.h"
#include "storage/disk_list.h"
#include "storage/drive_list.h"
#include "storage/media_properties.h"
#include "volumes/partition_table.h"

namespace kfr::cli {

namespace {

using nlohmann::json;

struct ListingOptions {
    std::vector<std::string> images;
    std::string mode = "basic";
    storage::SystemRoots roots;
};

std::string modeName(const std::string& mode)
{
    if (mode == "deep") return storage::kDeepSearchName;
    if (mode == "signature") return storage::kSignatureSearchName;
    return storage::kBasicSearchName;
}

// The fake-tree roots are for tests and for inspecting a copied tree; they stay out of --help.
void addRootOptions(CLI::App* sub, ListingOptions& o)
{
    sub->add_option("--sysfs-root", o.roots.sysfs, "Read the kernel's device tree from here")->group("");
    sub->add_option("--udev-root", o.roots.udevData, "Read the udev database from here")->group("");
    sub->add_option("--dev-root", o.roots.devDir, "Device nodes live here")->group("");
    sub->add_option("--mountinfo", o.roots.mountInfo, "Read the mount table from this file")->group("");
    sub->add_option("--mode", o.mode, "Recovery mode the listing is for")
        ->check(CLI::IsMember({"basic", "deep", "signature"}))
        ->group("");
}

json recordJson(const storage::MediaRecord& r)
{
    json fields = json::array();
    for (std::size_t i = 0; i < storage::MediaRecord::kFieldCount; ++i) {
        if (storage::MediaRecord::isNumberField(i))
            fields.push_back(r.number(i));
        else
            fields.push_back(r.text(i));
    }
    return {{"fields", fields}, {"size_mib", r.sizeMiB}};
}

json rowsJson(const std::vector<storage::PropertyRow>& rows)
{
    json out = json::array();
    for (const auto& row : rows) out.push_back({{"name", row.name}, {"value", row.value}});
    return out;
}

void printRows(const std::vector<storage::PropertyRow>& rows, const std::string& indent)
{
    for (const auto& row : rows) {
        const bool spaced = !row.name.empty() && row.name.back() == ' ';
        std::cout << indent << row.name << (spaced ? "" : " ") << row.value << "\n";
    }
}

const char* tableName(volumes::PartitionTableKind kind)
{
    switch (kind) {
    case volumes::PartitionTableKind::Mbr: return "mbr";
    case volumes::PartitionTableKind::Extended: return "extended";
    case volumes::PartitionTableKind::Gpt: return "gpt";
    }
    return "";
}

const char* schemeName(volumes::PartitionScheme scheme)
{
    switch (scheme) {
    case volumes::PartitionScheme::None: return nullptr;
    case volumes::PartitionScheme::Mbr: return "mbr";
    case volumes::PartitionScheme::Gpt: return "gpt";
    }
    return nullptr;
}

// The kernel's node of a partition: sdb2, nvme0n1p2 (a disk name ending in a digit takes a "p").
// Image files have none.
std::optional<std::string> partitionDevice(const storage::PhysicalDisk& disk, std::uint32_t slot)
{
    if (disk.isImage || disk.sysfsName.empty()) return std::nullopt;
    const bool digit = std::isdigit(static_cast<unsigned char>(disk.devicePath.back()));
    return disk.devicePath + (digit ? "p" : "") + std::to_string(slot);
}

std::uint64_t sectorCount(const volumes::PartitionSlot& s)
{
    return s.lastSector >= s.firstSector ? s.lastSector - s.firstSector + 1 : 0;
}

std::string fileSystemText(const volumes::PartitionSlot& s)
{
    if (s.extendedContainer) return "(holds the logical partitions)";
    const std::string name = volumes::fileSystemKindName(s.content);
    if (name.empty()) return "unknown";
    return s.readable() ? name : name + " (not read by this tool)";
}

json slotJson(const storage::PhysicalDisk& disk, const volumes::PartitionSlot& s)
{
    const auto device = partitionDevice(disk, s.slot);
    const std::string typeName = volumes::partitionTypeName(s);
    const std::string fs = volumes::fileSystemKindName(s.content);
    return {{"slot", s.slot},
            {"device_path", device ? json(*device) : json(nullptr)},
            {"table", tableName(s.table)},
            {"type", volumes::partitionTypeId(s)},
            {"type_name", typeName.empty() ? json(nullptr) : json(typeName)},
            {"extended_container", s.extendedContainer},
            {"file_system", fs.empty() ? json(nullptr) : json(fs)},
            {"readable", s.readable()},
            {"first_sector", s.firstSector},
            {"last_sector", s.lastSector},
            {"sector_count", sectorCount(s)},
            {"size_bytes", sectorCount(s) * storage::kSectorSize},
            {"beyond_medium", s.lastSector >= disk.totalSectors}};
}

json diskDebugJson(const volumes::DiskEntry& entry, const std::string& mode)
{
    const auto& d = entry.disk;
    json items = json::array();
    for (std::size_t i = 0; i < entry.partitions.size(); ++i) {
        const auto& p = entry.partitions[i];
        const auto props = storage::showPartitionProperties(d.number, static_cast<std::uint32_t>(i), p.fileSystem, mode,
                                                            p.firstSector, p.lastSector, d.totalSectors);
        items.push_back({{"item_text", p.itemText}, {"slot", p.slot}, {"properties", rowsJson(props.rows)}});
    }
    return {{"item_text", d.record.text(storage::DiskField::kItemText)},
            {"key", d.key},
            {"geometry_from_kernel", d.geometry.fromKernel},
            {"record", recordJson(d.record)},
            {"properties", rowsJson(storage::showDiskProperties(d).rows)},
            {"partition_items", items}};
}

void printSlots(const volumes::DiskEntry& entry)
{
    const auto& slots = entry.slots;
    if (slots.empty()) {
        std::cout << "    (no partition table)\n";
        return;
    }
    struct Cells {
        std::string slot, device, first, last, size, type, fs;
    };
    std::vector<Cells> rows;
    for (const auto& s : slots) {
        std::string type = volumes::partitionTypeName(s);
        type = type.empty() ? volumes::partitionTypeId(s) : type;
        rows.push_back({std::to_string(s.slot), partitionDevice(entry.disk, s.slot).value_or("-"),
                        std::to_string(s.firstSector), std::to_string(s.lastSector), humanSize(sectorCount(s) * 512),
                        type, fileSystemText(s) + (s.lastSector >= entry.disk.totalSectors ? "  [reaches past the disk's end]" : "")});
    }
    const Cells header{"Part", "Device", "First", "Last", "Size", "Type", "File system"};
    std::array<std::size_t, 6> w{};
    auto widen = [&](const Cells& c) {
        const std::array<const std::string*, 6> cols = {&c.slot, &c.device, &c.first, &c.last, &c.size, &c.type};
        for (std::size_t i = 0; i < w.size(); ++i) w[i] = std::max(w[i], displayWidth(*cols[i]));
    };
    widen(header);
    for (const auto& r : rows) widen(r);
    auto line = [&](const Cells& c) {
        std::cout << "    " << padToWidth(c.slot, w[0]) << "  " << padToWidth(c.device, w[1]) << "  "
                  << padLeftToWidth(c.first, w[2]) << "  " << padLeftToWidth(c.last, w[3]) << "  "
                  << padLeftToWidth(c.size, w[4]) << "  " << padToWidth(c.type, w[5]) << "  " << c.fs << "\n";
    };
    line(header);
    for (const auto& r : rows) line(r);
}

int runDisks(const ListingOptions& o, const GlobalOptions& g)
{
    storage::DiskListContext ctx;
    ctx.roots = o.roots;
    ctx.modeName = modeName(o.mode);
    ctx.imagePaths = o.images;
    storage::DiskListing listing = storage::listPhysicalDisks(ctx);
    const std::vector<Error> problems = listing.problems;
    const volumes::PhysicalDrivesBranch branch = volumes::listPhysicalDrivesBranch(std::move(listing));

    if (g.json) {
        json disks = json::array();
        for (const auto& entry : branch.disks) {
            const auto& d = entry.disk;
            json parts = json::array();
            for (const auto& s : entry.slots) parts.push_back(slotJson(d, s));
            const json problem = entry.readProblem ? problemJson(*entry.readProblem) : json(nullptr);
            const char* scheme = schemeName(entry.scheme);
            json item = {{"number", d.number},
                         {"device_path", d.devicePath},
                         {"model", d.record.text(storage::DiskField::kModel)},
                         {"size_bytes", d.deviceBytes},
                         {"total_sectors", d.totalSectors},
                         {"removable", d.removable},
                         {"image", d.isImage},
                         {"readable", !entry.readProblem},
                         {"problem", problem},
                         {"partition_table", scheme ? json(scheme) : json(nullptr)},
                         {"partitions", parts}};
            if (g.debug) item["debug"] = diskDebugJson(entry, ctx.modeName);
            disks.push_back(std::move(item));
        }
        json errors = json::array();
        for (const auto& e : problems) errors.push_back(problemJson(e));
        json doc = {{"disks", disks}, {"problems", errors}};
        if (g.debug) {
            json removable = json::array();
            for (const auto& m : branch.removableMedia)
                removable.push_back({{"disk_number", m.diskNumber}, {"cylinders", m.cylinders}, {"heads", m.heads},
                                     {"sectors_per_track", m.sectorsPerTrack}, {"total_sectors", m.totalSectors},
                                     {"device_path", m.devicePath}});
            doc["debug"] = {{"disk_keys", branch.diskKeys}, {"removable_media", removable}};
        }
        printJson(g, doc);
    } else {
        for (const auto& entry : branch.disks) {
            const auto& d = entry.disk;
            const std::string mediaClass = d.record.text(storage::DiskField::kMediaClass);
            std::cout << "Disk " << d.number << "  " << d.devicePath << "  " << d.record.text(storage::DiskField::kModel)
                      << "  " << humanSize(d.deviceBytes) << " (" << d.totalSectors << " sectors)"
                      << (mediaClass.empty() ? "" : "  " + mediaClass)
                      << (entry.scheme == volumes::PartitionScheme::Mbr   ? "  MBR"
                          : entry.scheme == volumes::PartitionScheme::Gpt ? "  GPT"
                                                                          : "")
                      << "\n";
            if (g.debug) {
                std::cout << "  " << d.record.text(storage::DiskField::kItemText) << "\n";
                printRows(storage::showDiskProperties(d).rows, "      ");
                for (std::size_t i = 0; i < entry.partitions.size(); ++i) {
                    const auto& p = entry.partitions[i];
                    std::cout << "    " << p.itemText << "  (partition " << p.slot << ")\n";
                    printRows(storage::showPartitionProperties(d.number, static_cast<std::uint32_t>(i), p.fileSystem,
                                                               ctx.modeName, p.firstSector, p.lastSector, d.totalSectors)
                                  .rows,
                              "        ");
                }
            }
            if (entry.readProblem)
                std::cout << "    " << describeError(*entry.readProblem) << "\n";
            else
                printSlots(entry);
        }
        if (branch.disks.empty()) std::cout << "(no disks found)\n";
        for (const auto& e : problems) std::cerr << "kestravon-cli: " << describeError(e) << "\n";
    }
    return problems.empty() ? kExitOk : kExitUnreadable;
}

int runVolumes(const ListingOptions& o, const GlobalOptions& g)
{
    storage::DiskListContext diskCtx;
    diskCtx.roots = o.roots;
    diskCtx.modeName = modeName(o.mode);
    const storage::DiskListing disks = storage::listPhysicalDisks(diskCtx);
    storage::DriveListContext ctx;
    ctx.roots = o.roots;
    ctx.modeName = diskCtx.modeName;
    const storage::DriveListing listing = storage::listLogicalDrives(ctx, disks.disks);

    // The extent's end is one past its last sector; every listing here gives the last sector itself.
    auto lastSector = [](const storage::DiskExtent& e) { return e.endSector > e.firstSector ? e.endSector - 1 : e.firstSector; };
    if (g.json) {
        json volumes = json::array();
        for (const auto& d : listing.drives) {
            json v{{"mount_point", d.mountPoint},
                   {"device_path", d.volumePath},
                   {"file_system", d.fileSystem},
                   {"label", d.label},
                   {"total_bytes", d.totalBytes},
                   {"free_bytes", d.freeBytes ? json(*d.freeBytes) : json(nullptr)},
                   {"disk_number", d.extent.mapped ? json(d.extent.diskNumber) : json(nullptr)},
                   {"first_sector", d.extent.mapped ? json(d.extent.firstSector) : json(nullptr)},
                   {"last_sector", d.extent.mapped ? json(lastSector(d.extent)) : json(nullptr)}};
            if (g.debug)
                v["debug"] = {{"item_text", d.record.text(storage::DriveField::kItemText)},
                              {"key", d.key},
                              {"record", recordJson(d.record)},
                              {"properties", rowsJson(storage::showDriveProperties(d.record, false))}};
            volumes.push_back(std::move(v));
        }
        json doc{{"volumes", volumes}};
        if (g.debug) doc["debug"] = {{"drive_keys", listing.driveKeys}};
        printJson(g, doc);
    } else {
        for (const auto& d : listing.drives) {
            std::cout << escapeForTerminal(d.mountPoint) << "  " << d.volumePath << "  " << d.fileSystem
                      << (d.label.empty() ? "" : "  \"" + escapeForTerminal(d.label) + "\"") << "  "
                      << humanSize(d.totalBytes) << "\n";
            if (d.extent.mapped)
                std::cout << "    on disk " << d.extent.diskNumber << ", sectors " << d.extent.firstSector << " - "
                          << lastSector(d.extent) << "\n";
            else
                std::cout << "    not on a single listed disk\n";
            if (g.debug) printRows(storage::showDriveProperties(d.record, false), "      ");
        }
        if (listing.drives.empty()) std::cout << "(no mounted volumes on block devices)\n";
    }
    return kExitOk;
}

CommandRegistration disksCommand{"20-disks", [](CLI::App& app, GlobalOptions& g) {
    auto o = std::make_shared<ListingOptions>();
    auto* sub = app.add_subcommand("disks", "List the disks with every partition on them, numbered as the kernel numbers "
                                            "them (the N of /dev/sdbN, for --partition N), readable here or not");
    sub->add_option("--image", o->images, "An image file to list as a disk of its own (repeatable)");
    addRootOptions(sub, *o);
    sub->callback([o, &g] {
        g.command = "disks";
        g.exitCode = runDisks(*o, g);
    });
}};

CommandRegistration volumesCommand{"21-volumes", [](CLI::App& app, GlobalOptions& g) {
    auto o = std::make_shared<ListingOptions>();
    auto* sub = app.add_subcommand("volumes", "List the mounted volumes with their devices and where they lie on disk");
    addRootOptions(sub, *o);
    sub->callback([o, &g] {
        g.command = "volumes";
        g.exitCode = runVolumes(*o, g);
    });
}};

}  // namespace

}  // namespace kfr::cli
