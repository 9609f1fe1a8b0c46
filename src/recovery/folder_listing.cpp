// Folder and file rows of the item list.
#include "recovery/folder_listing.h"

#include <algorithm>

#include "recovery/dir_entry.h"
#include "recovery/directory_listing.h"
#include "recovery/mft_reader.h"

namespace kfr::recovery {

namespace {

constexpr std::size_t kRowBatch = 256;

bool stopped(const ListingContext& ctx)
{
    return ctx.stopRequested && ctx.stopRequested->load();
}

const std::string& currentName(const ListingContext& ctx, const FolderResults& r, ItemId item)
{
    return ctx.overlay ? ctx.overlay->name(r, item) : r.tree.item(item).name;
}

bool currentlyDeleted(const ListingContext& ctx, const FolderResults& r, ItemId item)
{
    if (ctx.overlay) return ctx.overlay->deleted(r, item);
    const FolderNode* node = r.nodeOf(item);
    return node && node->deleted;
}

ItemRow folderRow(const FolderNode& node, const std::string& name, bool deleted, bool ntfs)
{
    ItemRow row;
    row.kind = RowKind::Folder;
    row.name = name;
    row.deleted = deleted;
    row.folderItem = node.item;
    row.firstCluster = node.self;
    row.parent = node.parent;
    row.volume = node.volume;
    if (node.self == kOrphanCluster) {
        row.timeKind = RowTime::Today;
        row.fatTime = static_cast<std::uint16_t>(node.time);
    } else if (ntfs) {
        row.timeKind = RowTime::NtfsStamp;
        row.ntfsStamp = node.date;
    } else {
        row.fatDate = static_cast<std::uint16_t>(node.date);
        row.fatTime = static_cast<std::uint16_t>(node.time);
    }
    return row;
}

// Collects rows and hands them to the sink in batches.
class RowBatcher {
public:
    RowBatcher(RowSink* sink, std::vector<ItemRow>& rows) : m_sink(sink), m_rows(rows) {}
    ~RowBatcher() { flush(); }

    void add(ItemRow row)
    {
        m_rows.push_back(std::move(row));
        if (m_sink && m_rows.size() - m_sent >= kRowBatch) flush();
    }

    void flush()
    {
        if (!m_sink || m_sent == m_rows.size()) return;
        m_sink->onRows(std::span<const ItemRow>(m_rows).subspan(m_sent));
        m_sent = m_rows.size();
    }

private:
    RowSink* m_sink;
    std::vector<ItemRow>& m_rows;
    std::size_t m_sent = 0;
};

}  // namespace

bool shouldShowEmptyResultNotice(const FolderResults& results, bool fromRecoveryLog, bool shownSinceScan)
{
    return !fromRecoveryLog && !shownSinceScan && resultsAreEmpty(results);
}

namespace {

// The folder that lists an NTFS file row.
std::uint32_t listedParent(const MftFileRow& row)
{
    return row.parentLost ? kOrphanCluster : row.parentRecord;
}

// The rows of one NTFS file record: its unnamed data, then each named stream as "name:stream".
void addNtfsFileRows(const MftReader& reader, const MftFileRow& f, bool folderDeleted, bool systemFolder,
                     RowBatcher& batch, FolderListing& out)
{
    const auto info = reader.describeFile(f.recordSector, f.recordNumber);
    ItemRow row;
    row.kind = RowKind::NtfsFile;
    row.recordSector = f.recordSector;
    row.recordNumber = f.recordNumber;
    row.parent = f.parentRecord;
    row.timeKind = RowTime::NtfsStamp;
    row.name = f.name;
    row.ntfsStamp = f.creationTime;
    row.systemFile = systemFolder || f.recordNumber < kFirstUserRecord;
    row.volume = f.volume;
    if (info) {
        if (info->hasName) {
            row.name = info->name;
            row.ntfsStamp = info->timeStamp;
        }
        row.size = info->dataSize;
        row.deleted = info->deleted || folderDeleted;
        row.compressed = info->compressed;
        row.encrypted = info->encrypted;
    }
    ++out.files;
    if (!info) return batch.add(std::move(row));
    ItemRow base = row;
    batch.add(std::move(row));
    for (const StreamInfo& s : info->streams) {
        ItemRow stream = base;
        stream.name = base.name + ":" + s.name;
        stream.streamName = s.name;
        stream.size = s.size;
        stream.compressed = stream.encrypted = false;
        batch.add(std::move(stream));
        ++out.files;
    }
}

}  // namespace

MftFileIndex indexMftFilesByParent(const MftFileTable& files)
{
    MftFileIndex index;
    for (std::size_t i = 0; i < files.size(); ++i) index[folderKey(files[i].volume, listedParent(files[i]))].push_back(i);
    return index;
}

bool VolumeSet::anyNtfs() const
{
    if (!list) return params && params->isNtfs();
    return std::any_of(list->begin(), list->end(), [](const volumes::VolumeParameters& p) { return p.isNtfs(); });
}

bool isExtendFolder(const FolderNode& node, const VolumeSet& volumes)
{
    return node.self == kExtendRecord && node.parent == kRootRecord && volumes.isNtfs(node.volume);
}

bool isSystemFolder(const FolderResults& results, ItemId item, const VolumeSet& volumes)
{
    // FAT has no such folder: a deep FAT tree is not walked up for every folder listed or saved.
    if (!volumes.anyNtfs()) return false;
    for (std::size_t depth = 0; results.tree.valid(item) && depth <= results.tree.itemCount(); ++depth) {
        const FolderNode* node = results.nodeOf(item);
        if (node && isExtendFolder(*node, volumes)) return true;
        item = results.tree.item(item).parent;
    }
    return false;
}

FolderChanges expandFolder(const storage::SectorSource& source, const volumes::VolumeParameters& params,
                           const FolderResults& results, ItemId item, const std::atomic<bool>* stopRequested)
{
    const FolderNode* node = results.nodeOf(item);
    if (!node || node->self == kOrphanCluster || node->visited) return {};
    if (params.isNtfs()) {
        // NTFS folders carry their names from their own records: nothing to read.
        FolderChanges visited;
        visited.visited.push_back(item);
        return visited;
    }
    return nameChildFolders(source, params, results, item, stopRequested);
}

FolderListing populateItemList(const ListingContext& ctx, const FolderResults& results, ItemId item)
{
    FolderListing out;
    if (!ctx.source || !results.tree.valid(item)) return out;
    const VolumeSet volumes{ctx.params, ctx.volumes};
    const FolderNode* node = results.nodeOf(item);
    const std::uint32_t volume = node ? node->volume : 0;
    const volumes::VolumeParameters* params = volumes.of(volume);
    if (!params) return out;
    const auto& p = *params;
    const bool ntfs = p.isNtfs();
    const bool top = results.tree.item(item).parent == kNoItem;
    // Folders a Deep Search found on several volumes share the top item and the orphan folder.
    const bool shared = ctx.volumes && (top || (node && node->self == kOrphanCluster));
    auto rootSelf = [&](std::uint32_t v) { return volumes.isNtfs(v) ? kRootRecord : 0u; };
    const std::uint32_t self = top ? rootSelf(volume) : (node ? node->self : 0);
    const bool folderDeleted = node && currentlyDeleted(ctx, results, item);

    // The subfolders: tree children that this folder's own directory (or record) names as parent.
    // Where NTFS volumes are, the orphan folder is listed at the top as the tree shows it.
    std::vector<const FolderNode*> subfolders;
    const bool orphanListed = volumes.anyNtfs();
    for (ItemId child : results.tree.children(item)) {
        const FolderNode* n = results.nodeOf(child);
        if (!n) continue;
        const std::uint32_t expected = top ? rootSelf(n->volume) : self;
        if (n->parent == expected || (top && orphanListed && n->self == kOrphanCluster)) subfolders.push_back(n);
    }
    const bool systemFolder = isSystemFolder(results, item, volumes);

    RowBatcher batch(ctx.sink, out.rows);
    // Folder rows first, under the names known so far; a sink learns later names from the changes.
    for (const FolderNode* n : subfolders) {
        // Whatever lies in a deleted folder was deleted with it.
        const bool deleted = folderDeleted || currentlyDeleted(ctx, results, n->item);
        ItemRow row = folderRow(*n, currentName(ctx, results, n->item), deleted, volumes.isNtfs(n->volume));
        // The subfolder's ancestors are this folder and its ancestors: only the subfolder itself
        // is left to test.
        row.systemFile = systemFolder || isExtendFolder(*n, volumes);
        batch.add(std::move(row));
        ++out.folders;
    }
    batch.flush();

    // The files of one FAT directory; a folder's own read also names its subfolders.
    const bool naming = !ntfs && !top && self != kOrphanCluster && !results.tree.children(item).empty();
    ChildFolderNamer namer(results, item);
    auto listFatFiles = [&](const volumes::VolumeParameters& vp, std::uint32_t v, DirectoryRef dir) {
        DirectoryContext dctx{ctx.source, &vp, ctx.stopRequested, nullptr, {}, ctx.fat, ctx.sectors};
        listDirectory(dctx, dir, EndMarkRule::EndsDirectoryExceptFat16Root, [&](const DirItem& e) {
            if (naming) namer.offer(e);
            if (e.isDirectory()) return true;
            ItemRow row;
            row.kind = e.isVolumeLabel() ? RowKind::VolumeLabel : RowKind::FatFile;
            row.name = e.name;
            row.shortName = e.shortName;
            row.deleted = e.deleted || folderDeleted;
            row.size = e.size;
            row.firstCluster = e.firstCluster;
            row.fatDate = e.date;
            row.fatTime = e.time;
            row.volume = v;
            if (row.kind == RowKind::FatFile) ++out.files;
            batch.add(std::move(row));
            return true;
        });
    };
    // The file records of one NTFS volume that name folder as their parent.
    auto listNtfsFiles = [&](const volumes::VolumeParameters& vp, std::uint32_t v, std::uint32_t folder) {
        if (!ctx.mftFiles) return;
        const MftReader reader(*ctx.source, vp, ctx.volumeEndSector);
        std::vector<std::size_t> scanned;
        const std::vector<std::size_t>* rowsOfFolder = &scanned;
        if (ctx.mftIndex) {
            if (const auto it = ctx.mftIndex->find(folderKey(v, folder)); it != ctx.mftIndex->end()) rowsOfFolder = &it->second;
        } else {
            for (std::size_t i = 0; i < ctx.mftFiles->size(); ++i)
                if ((*ctx.mftFiles)[i].volume == v && listedParent((*ctx.mftFiles)[i]) == folder) scanned.push_back(i);
        }
        for (std::size_t i : *rowsOfFolder) {
            if (stopped(ctx)) break;
            addNtfsFileRows(reader, (*ctx.mftFiles)[i], folderDeleted, systemFolder, batch, out);
        }
    };

    if (shared) {
        // The top lists the root directory of each volume; the orphan folder the files of every
        // NTFS volume whose parent is lost.
        for (std::uint32_t v = 0; v < ctx.volumes->size() && !stopped(ctx); ++v) {
            const auto& vp = (*ctx.volumes)[v];
            if (vp.isNtfs()) listNtfsFiles(vp, v, top ? kRootRecord : kOrphanCluster);
            else if (top) listFatFiles(vp, v, DirectoryRef{true, 0});
        }
    } else if (ntfs) {
        listNtfsFiles(p, volume, self);
    } else if (self != kOrphanCluster) {
        listFatFiles(p, volume, top ? DirectoryRef{true, 0} : DirectoryRef{false, self});
        if (naming) out.changes = namer.takeChanges();
    }
    out.stopped = stopped(ctx);

    // The names the folder's own directory gave, and the deleted marks a deleted folder passes on.
    std::unordered_map<ItemId, std::size_t> renamed;
    for (std::size_t i = 0; i < out.changes.renames.size(); ++i) renamed[out.changes.renames[i].item] = i;
    for (std::size_t i = 0; i < subfolders.size(); ++i) {
        ItemRow& row = out.rows[i];
        if (const auto it = renamed.find(row.folderItem); it != renamed.end()) {
            FolderRename& rename = out.changes.renames[it->second];
            row.name = rename.name;
            rename.deleted = rename.deleted || row.deleted;
            row.deleted = rename.deleted;
        } else if (row.deleted && !currentlyDeleted(ctx, results, row.folderItem)) {
            out.changes.renames.push_back({row.folderItem, row.name, true});
        }
    }
    return out;
}

}  // namespace kfr::recovery
