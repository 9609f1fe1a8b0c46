// kestravon-cli disks: the physical disks (and image files) with their partitions and properties.
// kestravon-cli volumes: the mounted volumes with their properties and the disk area they occupy.
#include <CLI/CLI.hpp>
#include <iostream>
#include <memory>

#include "cli/cli_support.h"
#include "cli/command_registry.h"
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
        ->capture_default_str();
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
    return {{"fields", fields}, {"sizeMiB", r.sizeMiB}};
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
            for (std::size_t i = 0; i < entry.partitions.size(); ++i) {
                const auto& p = entry.partitions[i];
                const auto props = storage::showPartitionProperties(d.number, static_cast<std::uint32_t>(i), p.fileSystem,
                                                                    ctx.modeName, p.firstSector, p.endSector, d.totalSectors);
                parts.push_back({{"number", p.number}, {"fileSystem", p.fileSystem}, {"firstSector", p.firstSector},
                                 {"endSector", p.endSector}, {"itemText", p.itemText}, {"table", tableName(p.table)},
                                 {"properties", rowsJson(props.rows)}});
            }
            json item = {{"number", d.number},
                         {"itemText", d.record.text(storage::DiskField::kItemText)},
                         {"devicePath", d.devicePath},
                         {"key", d.key},
                         {"image", d.isImage},
                         {"readable", !d.accessProblem},
                         {"geometryFromKernel", d.geometry.fromKernel},
                         {"record", recordJson(d.record)},
                         {"properties", rowsJson(storage::showDiskProperties(d).rows)},
                         {"partitions", parts}};
            if (entry.readProblem) item["problem"] = describeError(*entry.readProblem);
            disks.push_back(std::move(item));
        }
        json removable = json::array();
        for (const auto& m : branch.removableMedia)
            removable.push_back({{"diskNumber", m.diskNumber}, {"cylinders", m.cylinders}, {"heads", m.heads},
                                 {"sectorsPerTrack", m.sectorsPerTrack}, {"totalSectors", m.totalSectors},
                                 {"devicePath", m.devicePath}});
        json errors = json::array();
        for (const auto& e : problems) errors.push_back({{"path", e.path}, {"message", describeError(e)}});
        printJson({{"disks", disks}, {"diskKeys", branch.diskKeys}, {"removableMedia", removable}, {"problems", errors}});
    } else {
        std::cout << "Physical Drives\n";
        for (const auto& entry : branch.disks) {
            const auto& d = entry.disk;
            std::cout << "  " << d.record.text(storage::DiskField::kItemText) << "\n";
            printRows(storage::showDiskProperties(d).rows, "      ");
            if (entry.readProblem) std::cout << "      " << describeError(*entry.readProblem) << "\n";
            for (std::size_t i = 0; i < entry.partitions.size(); ++i) {
                const auto& p = entry.partitions[i];
                std::cout << "    " << p.itemText << "\n";
                printRows(storage::showPartitionProperties(d.number, static_cast<std::uint32_t>(i), p.fileSystem,
                                                           ctx.modeName, p.firstSector, p.endSector, d.totalSectors)
                              .rows,
                          "        ");
            }
        }
        if (branch.disks.empty()) std::cout << "  (no disks found)\n";
        for (const auto& e : problems) std::cerr << "kestravon-cli: " << describeError(e) << "\n";
    }
    return problems.empty() ? 0 : 1;
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

    if (g.json) {
        json drives = json::array();
        for (const auto& d : listing.drives) {
            json extent = nullptr;
            if (d.extent.mapped)
                extent = {{"diskNumber", d.extent.diskNumber}, {"firstSector", d.extent.firstSector},
                          {"endSector", d.extent.endSector}};
            drives.push_back({{"itemText", d.record.text(storage::DriveField::kItemText)},
                              {"mountPoint", d.mountPoint},
                              {"volumePath", d.volumePath},
                              {"fileSystem", d.fileSystem},
                              {"label", d.label},
                              {"totalBytes", d.totalBytes},
                              {"freeBytes", d.freeBytes ? json(*d.freeBytes) : json(nullptr)},
                              {"key", d.key},
                              {"disk", extent},
                              {"record", recordJson(d.record)},
                              {"properties", rowsJson(storage::showDriveProperties(d.record, false))}});
        }
        printJson({{"drives", drives}, {"driveKeys", listing.driveKeys}});
    } else {
        std::cout << "Logical Drives\n";
        for (const auto& d : listing.drives) {
            std::cout << "  " << d.record.text(storage::DriveField::kItemText) << "\n";
            printRows(storage::showDriveProperties(d.record, false), "      ");
            std::cout << "      Block device : " << d.volumePath << "\n";
            if (d.extent.mapped)
                std::cout << "      On Disk" << d.extent.diskNumber << ", sectors " << d.extent.firstSector << " to "
                          << d.extent.endSector << "\n";
            else
                std::cout << "      Not on a single listed disk\n";
        }
        if (listing.drives.empty()) std::cout << "  (no mounted volumes on block devices)\n";
    }
    return 0;
}

CommandRegistration disksCommand{"20-disks", [](CLI::App& app, GlobalOptions& g) {
    auto o = std::make_shared<ListingOptions>();
    auto* sub = app.add_subcommand("disks", "List the physical disks with their partitions and properties");
    sub->add_option("--image", o->images, "An image file to list as a disk of its own (repeatable)");
    addRootOptions(sub, *o);
    sub->callback([o, &g] { g.exitCode = runDisks(*o, g); });
}};

CommandRegistration volumesCommand{"21-volumes", [](CLI::App& app, GlobalOptions& g) {
    auto o = std::make_shared<ListingOptions>();
    auto* sub = app.add_subcommand("volumes", "List the mounted volumes with their properties");
    addRootOptions(sub, *o);
    sub->callback([o, &g] { g.exitCode = runVolumes(*o, g); });
}};

}  // namespace

}  // namespace kfr::cli
