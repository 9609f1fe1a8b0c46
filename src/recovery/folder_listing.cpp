// Folder and file rows of the item list.
#include "recovery/folder_listing.h"

#include <cctype>
#include <ctime>

#include "recovery/dir_entry.h"
#include "recovery/directory_listing.h"
#include "recovery/file_types.h"
#include "recovery/mft_reader.h"

namespace kfr::recovery {

namespace {

bool stopped(const ListingContext& ctx)
{
    return ctx.stopRequested && ctx.stopRequested->load();
}

ItemRow folderRow(const FolderNode& node, bool ntfs, const std::string& today)
{
    ItemRow row;
    row.kind = RowKind::Folder;
    row.deleted = node.deleted;
    row.folderItem = node.item;
    std::string date, time;
    if (node.self == kOrphanCluster) {
        date = today;
        time = formatFatTime(static_cast<std::uint16_t>(node.time));
    } else if (ntfs) {
        date = formatNtfsDate(node.date);
        time = formatNtfsTime(node.date);
    } else {
        date = formatFatDate(static_cast<std::uint16_t>(node.date));
        time = formatFatTime(static_cast<std::uint16_t>(node.time));
    }
    row.columns = {node.name, kFolderType, "0", date, time, std::to_string(node.self), std::to_string(node.parent),
                   std::to_string(node.item), ""};
    return row;
}

}  // namespace

std::string countsText(std::uint64_t folders, std::uint64_t files)
{
    return std::to_string(folders) + " Folders, " + std::to_string(files) + " Files";
}

std::string todayDateText()
{
    const std::time_t now = std::time(nullptr);
    std::tm local{};
    localtime_r(&now, &local);
    // Not strftime's %b: that follows the locale, and the list always shows JAN..DEC.
    return formatDayMonthYear(static_cast<unsigned>(local.tm_mday), static_cast<unsigned>(local.tm_mon + 1),
                              local.tm_year + 1900);
}

bool expandFolder(const storage::SectorSource& source, const volumes::VolumeParameters& params,
                  FolderResults& results, ItemId item, const std::atomic<bool>* stopRequested)
{
    FolderNode* node = results.nodeOf(item);
    if (!node || node->self == kOrphanCluster || node->visited) return false;
    if (params.isNtfs()) {
        node->visited = true;  // NTFS folders carry their names from their own records
        return false;
    }
    nameChildFolders(source, params, results, item, stopRequested);
    return true;
}

bool shouldShowEmptyResultNotice(const FolderResults& results, bool fromRecoveryLog, bool shownSinceScan)
{
    return !fromRecoveryLog && !shownSinceScan && resultsAreEmpty(results);
}

MftFileIndex indexMftFilesByParent(const MftFileTable& files)
{
    MftFileIndex index;
    for (std::size_t i = 0; i < files.size(); ++i) index[files[i].parentRecord].push_back(i);
    return index;
}

FolderListing populateItemList(const ListingContext& ctx, FolderResults& results, ItemId item)
{
    FolderListing out;
    if (!ctx.source || !ctx.params || !results.tree.valid(item)) return out;
    const auto& p = *ctx.params;
    const bool ntfs = p.isNtfs();
    const bool top = results.tree.item(item).parent == kNoItem;
    FolderNode* node = results.nodeOf(item);
    const std::uint32_t self = top ? (ntfs ? kRootRecord : 0) : (node ? node->self : 0);
    const bool folderDeleted = node && node->deleted;

    if (!top && self != kOrphanCluster && !ntfs && !results.tree.children(item).empty())
        nameChildFolders(*ctx.source, p, results, item, ctx.stopRequested);

    for (auto& n : results.nodes) {
        if (stopped(ctx)) break;
        if (n.parent != self || results.tree.item(n.item).parent != item) continue;
        // Whatever lies in a deleted folder was deleted with it.
        if (n.deleted || folderDeleted) n.deleted = true;
        out.rows.push_back(folderRow(n, ntfs, ctx.todayText));
        ++out.folders;
    }
    if (stopped(ctx)) return out;

    if (!ntfs) {
        if (self == kOrphanCluster) return out;
        DirectoryContext dctx{ctx.source, &p, ctx.stopRequested, nullptr};
        const DirectoryRef dir = top ? DirectoryRef{true, 0} : DirectoryRef{false, self};
        listDirectory(dctx, dir, EndMarkRule::EndsDirectoryExceptFat16Root, [&](const DirItem& e) {
            if (e.isDirectory()) return true;
            ItemRow row;
            row.kind = RowKind::FatFile;
            row.deleted = e.deleted || folderDeleted;
            row.size = e.size;
            row.firstCluster = e.firstCluster;
            row.columns = {e.name, describeFileType(extensionOf(e.name)), std::to_string(e.size), formatFatDate(e.date),
                           formatFatTime(e.time), std::to_string(e.firstCluster), "", "", e.shortName};
            out.rows.push_back(std::move(row));
            ++out.files;
            return true;
        });
        return out;
    }

    if (!ctx.mftFiles) return out;
    const MftReader reader(*ctx.source, p);
    std::vector<std::size_t> rowsOfFolder;
    if (ctx.mftIndex) {
        if (const auto it = ctx.mftIndex->find(self); it != ctx.mftIndex->end()) rowsOfFolder = it->second;
    } else {
        for (std::size_t i = 0; i < ctx.mftFiles->size(); ++i)
            if ((*ctx.mftFiles)[i].parentRecord == self) rowsOfFolder.push_back(i);
    }
    for (std::size_t i : rowsOfFolder) {
        if (stopped(ctx)) break;
        const MftFileRow& f = (*ctx.mftFiles)[i];
        const auto info = reader.describeFile(f.recordSector);
        ItemRow row;
        row.kind = RowKind::NtfsFile;
        row.recordSector = f.recordSector;
        std::string name = f.name;
        std::uint64_t stamp = f.creationTime;
        if (info) {
            if (info->hasName) {
                name = info->name;
                stamp = info->timeStamp;
            }
            row.size = info->dataSize;
            row.deleted = info->deleted || folderDeleted;
        }
        row.columns = {name, describeFileType(extensionOf(name)), std::to_string(row.size), formatNtfsDate(stamp),
                       formatNtfsTime(stamp), std::to_string(f.recordSector), std::to_string(f.parentRecord), "0", ""};
        out.rows.push_back(std::move(row));
        ++out.files;
    }
    return out;
}

}  // namespace kfr::recovery
