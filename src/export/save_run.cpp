// Save runs: counting the selection, then writing it.
#include "export/save_run.h"

#include <algorithm>
#include <atomic>
#include <cstdint>
#include <optional>
#include <fcntl.h>
#include <functional>
#include <sys/stat.h>
#include <set>
#include <string_view>
#include <thread>
#include <tuple>
#include <unordered_map>
#include <unordered_set>

#include "export/fat_writer.h"
#include "export/file_times.h"
#include "export/ntfs_writer.h"
#include "export/safe_names.h"
#include "recovery/directory_listing.h"
#include "recovery/mft_record.h"
#include "storage/two_halves.h"

namespace kfr::exporting {

namespace {

using recovery::CheckState;
using recovery::ItemId;
using recovery::kNoItem;
using recovery::RowKind;

constexpr std::size_t kMaxProblems = 100;
constexpr std::size_t kMaxReplacedNames = 1000;

// Forwards to the caller's observer and keeps the first problems for the report.
class RunObserver final : public SaveObserver {
public:
    RunObserver(SaveObserver* inner, SaveRunReport& report) : m_inner(inner), m_report(report) {}
    void onStage(WorkStage t) override { if (m_inner) m_inner->onStage(t); }
    void onProgress(std::uint64_t p, std::uint64_t l, std::uint64_t h) override { if (m_inner) m_inner->onProgress(p, l, h); }
    void onProblem(const Error& e) override
    {
        if (m_report.problems.size() < kMaxProblems) m_report.problems.push_back(e);
        if (m_inner) m_inner->onProblem(e);
    }
    void onStatus(StatusLine l, std::uint64_t v) override { if (m_inner) m_inner->onStatus(l, v); }
    void onCounting(std::uint64_t f, std::uint64_t d) override { if (m_inner) m_inner->onCounting(f, d); }
    void onSelectedTotals(std::uint64_t f, std::uint64_t d) override { if (m_inner) m_inner->onSelectedTotals(f, d); }
    void onSavedTotals(std::uint64_t f, std::uint64_t d) override { if (m_inner) m_inner->onSavedTotals(f, d); }
    void onFileStarted(const SaveFileInfo& f) override { if (m_inner) m_inner->onFileStarted(f); }
    void onFileBytes(std::uint64_t w, std::uint64_t s) override { if (m_inner) m_inner->onFileBytes(w, s); }
    void onFileFinished(const FileResult& result) override
    {
        m_report.files.push_back(result);
        if (m_inner) m_inner->onFileFinished(result);
    }
    void onFolderFinished(std::uint64_t d, std::uint64_t t) override { if (m_inner) m_inner->onFolderFinished(d, t); }
    void onNameReplaced(const std::string& a, const std::string& b) override { if (m_inner) m_inner->onNameReplaced(a, b); }
    void onDiskFull() override { if (m_inner) m_inner->onDiskFull(); }

private:
    SaveObserver* m_inner;
    SaveRunReport& m_report;
};

// Builds the plan while remembering which names had to change.
class Planner {
public:
    // What makes two rows of a folder the same file.
    using RowKey = std::tuple<ItemId, std::uint32_t, int, std::uint32_t, std::uint64_t, std::uint64_t, std::string>;

    Planner(const SaveRunContext& ctx, SavePlan& plan)
        : m_ctx(ctx), m_plan(plan), m_tree(ctx.results->tree), m_maxName(nameMaxBytes(ctx.destination))
    {
        if (ctx.mftFiles && !ctx.mftIndex) m_ownIndex = recovery::indexMftFilesByParent(*ctx.mftFiles);
        m_mftIndex = ctx.mftIndex ? ctx.mftIndex : &m_ownIndex;
        // Every folder's listing walks its chain and reads its sectors through one reader each per
        // thread.
        if (ctx.source && ctx.params && ctx.params->isFat())
            for (int half = 0; half < 2; ++half) {
                m_fats[half].emplace(volumes::directoryFatReader(*ctx.source, *ctx.params));
                m_sectors[half].emplace(recovery::directoryReadAhead(*ctx.source));
            }
    }

    std::string usableName(const std::string& original)
    {
        SafeName safe = safeName(original, m_maxName);
        if (safe.changed) {
            if (m_plan.replacedNames.size() < kMaxReplacedNames) m_plan.replacedNames.emplace_back(original, safe.name);
            if (m_ctx.observer) m_ctx.observer->onNameReplaced(original, safe.name);
        }
        return safe.name;
    }

    // A folder's path below the destination, built from its nearest ancestor whose path is
    // known, so a deep tree costs its depth once rather than at every level. A path that would
    // pass the longest the system names is cut there and marked too deep (so is every path
    // below it).
    struct FolderPath {
        std::string path;
        bool tooDeep = false;
    };
    const FolderPath& relativePath(ItemId item)
    {
        if (auto it = m_paths.find(item); it != m_paths.end()) return it->second;
        // The tree has no cycles, but the walk is bounded by its size all the same.
        std::vector<ItemId> chain;
        ItemId cur = item;
        for (; m_tree.valid(cur) && m_tree.item(cur).parent != kNoItem && !m_paths.count(cur) &&
               chain.size() <= m_tree.itemCount();
             cur = m_tree.item(cur).parent)
            chain.push_back(cur);
        FolderPath path;
        if (auto known = m_paths.find(cur); known != m_paths.end()) path = known->second;
        const std::size_t room = kMaxPathBytes - std::min(kMaxPathBytes, m_ctx.destination.size() + 2);
        for (auto it = chain.rbegin(); it != chain.rend(); ++it) {
            if (!path.tooDeep) {
                const std::string name = usableName(m_overlay.name(*m_ctx.results, *it));
                if (path.path.size() + 1 + name.size() >= room) {
                    path.tooDeep = true;
                    path.path.clear();  // nothing below is made: no need to keep the long path
                } else
                    path.path = path.path.empty() ? name : path.path + "/" + name;
            }
            m_paths[*it] = path;
        }
        // item itself was the last one placed, unless it is the top of the tree (or unknown).
        return m_paths.try_emplace(item, std::move(path)).first->second;
    }

    std::size_t folderIndex(ItemId item, bool ticked)
    {
        if (auto it = m_folderIndex.find(item); it != m_folderIndex.end()) return it->second;
        PlannedFolder f;
        f.item = item;
        const FolderPath& path = relativePath(item);
        f.relativePath = path.path;
        f.tooDeep = path.tooDeep;
        f.ticked = ticked;
        m_plan.folders.push_back(f);
        if (ticked) ++m_plan.folderCount;
        return m_folderIndex[item] = m_plan.folders.size() - 1;
    }

    // wholeFolder: the row comes from a folder saved whole, not from the user's own selection.
    // seen: the keys of the rows planned so far that the row may repeat (null: none).
    bool addFile(std::size_t folder, const recovery::ItemRow& row, std::set<RowKey>* seen, bool wholeFolder)
    {
        if (row.kind == RowKind::Folder || row.kind == RowKind::VolumeLabel) return false;
        if (m_ctx.deletedOnly && !row.deleted) return false;
        if (wholeFolder && !row.streamName.empty() && !m_ctx.includeStreams) return false;
        if (wholeFolder && row.systemFile && !m_ctx.includeSystemFiles &&
            !m_askedSystemFolders.count(m_plan.folders[folder].item))
            return false;
        // One row chosen twice is saved once; rows of different volumes that look alike are
        // different files.
        if (seen &&
            !seen->emplace(m_plan.folders[folder].item, row.volume, static_cast<int>(row.kind), row.firstCluster,
                          row.recordSector, row.size, row.name + ":" + row.streamName)
                 .second)
            return false;
        PlannedFile f;
        f.folder = folder;
        f.name = usableName(row.name);
        f.kind = row.kind;
        f.size = row.size;
        f.firstCluster = row.firstCluster;
        f.recordSector = row.recordSector;
        f.recordNumber = row.recordNumber;
        f.streamName = row.streamName;
        f.deleted = row.deleted;
        f.date = row.fatDate;
        f.time = row.fatTime;
        f.volume = row.volume;
        m_plan.files.push_back(std::move(f));
        return true;
    }

    // Lists folders the way the item list does, a slice at a time on two threads (the results
    // and the changes learnt so far are only read while they do); take(i, listing) then plans
    // them in order on this thread. A folder whose deleted mark an earlier folder of the slice
    // changed is listed again first: its files were deleted with it.
    template <typename Take>
    void listFolders(const std::vector<ItemId>& items, const Take& take)
    {
        constexpr std::size_t kSlice = 512;
        std::vector<recovery::FolderListing> listings(std::min(kSlice, items.size()));
        std::vector<char> deletedWhenListed(listings.size());
        for (std::size_t from = 0; from < items.size(); from += kSlice) {
            const std::size_t count = std::min(kSlice, items.size() - from);
            storage::runInTwoHalves(count, [&](std::size_t begin, std::size_t end, int half) {
                for (std::size_t i = begin; i < end; ++i) {
                    deletedWhenListed[i] = m_overlay.deleted(*m_ctx.results, items[from + i]);
                    listings[i] =
                        recovery::populateItemList(listingContext(half), *m_ctx.results, items[from + i]);
                }
            });
            for (std::size_t i = 0; i < count; ++i) {
                const ItemId item = items[from + i];
                if (m_overlay.deleted(*m_ctx.results, item) != static_cast<bool>(deletedWhenListed[i]))
                    listings[i] = recovery::populateItemList(listingContext(0), *m_ctx.results, item);
                if (!take(from + i, listings[i])) return;
                // A subfolder's name may come from this listing; its path is built after it.
                m_overlay.add(listings[i].changes);
                listings[i] = {};
            }
        }
    }

    // Plans the files of a folder's listing.
    void planFiles(std::size_t folder, const recovery::FolderListing& listing)
    {
        // A folder saved whole is listed once, and the rows selected on their own are taken only
        // from folders not saved whole: its rows can repeat only each other.
        std::set<RowKey> seen;
        for (const auto& row : listing.rows) addFile(folder, row, listing.rows.size() > 1 ? &seen : nullptr, true);
    }

    // A row the user selected on its own (it may be selected twice).
    void addSelectedFile(std::size_t folder, const recovery::ItemRow& row) { addFile(folder, row, &m_selectedSeen, false); }

    // A system folder the user ticked itself (or one inside it) is saved with its files.
    void askForSystemFolder(ItemId item) { m_askedSystemFolders.insert(item); }

    const recovery::FolderChanges& changes() const { return m_overlay.changes(); }

private:
    const SaveRunContext& m_ctx;
    SavePlan& m_plan;
    const recovery::ResultTree& m_tree;
    std::size_t m_maxName;
    std::unordered_map<ItemId, FolderPath> m_paths;
    std::unordered_map<ItemId, std::size_t> m_folderIndex;
    recovery::MftFileIndex m_ownIndex;
    // The context a listing reads through, with the FAT cache of the thread that lists.
    recovery::ListingContext listingContext(int half)
    {
        recovery::ListingContext lctx;
        lctx.source = m_ctx.source;
        lctx.params = m_ctx.params;
        lctx.volumes = m_ctx.volumes;
        lctx.stopRequested = &m_ctx.state->cancelRequested;
        // Listing every folder against the whole table would make saving a large volume
        // quadratic: the listing looks rows up through the index instead.
        lctx.mftFiles = m_ctx.mftFiles;
        lctx.mftIndex = m_mftIndex;
        lctx.volumeEndSector = m_ctx.volumeEndSector;
        lctx.fat = m_fats[half] ? &*m_fats[half] : nullptr;
        lctx.sectors = m_sectors[half] ? &*m_sectors[half] : nullptr;
        lctx.overlay = &m_overlay;
        return lctx;
    }

    // The FAT volume's directory chains and sectors, read once per thread.
    std::optional<volumes::FatReader> m_fats[2];
    std::optional<storage::SectorReadAhead> m_sectors[2];
    const recovery::MftFileIndex* m_mftIndex = nullptr;
    recovery::FolderOverlay m_overlay;
    std::unordered_set<ItemId> m_askedSystemFolders;
    std::set<RowKey> m_selectedSeen;
};

// Items of the subtree under item, item first, parents before children.
std::vector<ItemId> subtree(const recovery::ResultTree& tree, ItemId item)
{
    std::vector<ItemId> out;
    if (!tree.valid(item)) return out;
    std::vector<ItemId> stack{item};
    while (!stack.empty() && out.size() <= tree.itemCount()) {
        const ItemId cur = stack.back();
        stack.pop_back();
        out.push_back(cur);
        const auto& kids = tree.children(cur);
        for (auto it = kids.rbegin(); it != kids.rend(); ++it) stack.push_back(*it);
    }
    return out;
}

const volumes::VolumeParameters* volumeOf(const SaveRunContext& ctx, std::uint32_t volume)
{
    return recovery::VolumeSet{ctx.params, ctx.volumes}.of(volume);
}

bool anythingChosen(const SaveRunContext& ctx)
{
    if (!ctx.selectedRows.empty()) return true;
    return ctx.checks && ctx.checks->anythingTicked(ctx.results->tree);
}

// Gives every folder the run made the time its entry or record holds (the destination itself,
// and the orphan folder, which has no entry, keep theirs).
template <typename DirOf>
void restoreFolderTimes(const SaveRunContext& ctx, const SavePlan& plan, const DirOf& dirOf)
{
    for (const PlannedFolder& f : plan.folders) {
        if (f.relativePath.empty()) continue;
        const recovery::FolderNode* node = ctx.results->nodeOf(f.item);
        if (!node || node->self == recovery::kOrphanCluster) continue;
        const volumes::VolumeParameters* volume = volumeOf(ctx, node->volume);
        const bool ntfs = volume && volume->isNtfs();
        const auto time = ntfs ? ntfsStampTime(node->date)
                               : fatEntryTime(static_cast<std::uint16_t>(node->date), static_cast<std::uint16_t>(node->time));
        if (!time) continue;
        const struct timespec times[2] = {{0, UTIME_OMIT}, *time};
        ::utimensat(AT_FDCWD, dirOf(f).c_str(), times, AT_SYMLINK_NOFOLLOW);
    }
}

// The order in which a save makes its folders so that each folder's files can be written as soon
// as possible: at every folder (parents first, in the order the files are written) all its
// subfolders are made together, and its files may go in once they stand. Nothing when a folder's
// parent is not one the plan makes (a folder ticked deep inside the tree): folders above it
// would be made on the way, where the order does not show them.
struct FolderOrder {
    std::vector<std::size_t> folders;  // plan folders, in the order they are made
    std::vector<std::size_t> readyAt;  // per plan folder: how many of them stand before its files go in
};

std::optional<FolderOrder> familyOrder(const SavePlan& plan, const std::vector<bool>& made)
{
    std::unordered_map<std::string_view, std::size_t> byPath;
    for (std::size_t i = 0; i < plan.folders.size(); ++i)
        if (made[i] && !plan.folders[i].relativePath.empty()) byPath.try_emplace(plan.folders[i].relativePath, i);
    std::vector<std::vector<std::size_t>> children(plan.folders.size());
    std::vector<std::size_t> topChildren;
    FolderOrder order;
    for (std::size_t i = 0; i < plan.folders.size(); ++i) {
        if (!made[i]) continue;
        const std::string_view path = plan.folders[i].relativePath;
        if (path.empty()) {
            order.folders.push_back(i);  // the destination: there already, checked first
            continue;
        }
        const std::size_t slash = path.rfind('/');
        if (slash == std::string_view::npos) {
            topChildren.push_back(i);
            continue;
        }
        const auto parent = byPath.find(path.substr(0, slash));
        if (parent == byPath.end()) return std::nullopt;
        children[parent->second].push_back(i);
    }
    // The top (the destination) is ready once the folders made straight in it stand.
    order.folders.insert(order.folders.end(), topChildren.begin(), topChildren.end());
    order.readyAt.assign(plan.folders.size(), 0);
    for (std::size_t i = 0; i < plan.folders.size(); ++i)
        if (made[i] && plan.folders[i].relativePath.empty()) order.readyAt[i] = order.folders.size();
    std::vector<std::size_t> stack(topChildren.rbegin(), topChildren.rend());
    while (!stack.empty()) {
        const std::size_t folder = stack.back();
        stack.pop_back();
        const auto& kids = children[folder];
        order.folders.insert(order.folders.end(), kids.begin(), kids.end());
        order.readyAt[folder] = order.folders.size();
        stack.insert(stack.end(), kids.rbegin(), kids.rend());
    }
    return order;
}

// Makes a save's folders on a second thread, ahead of the files, so that the kernel's work on them
// overlaps with writing the files (a folder costs about what a small file costs). Failures are
// handed to the writing thread, which reports them.
class FolderMaker {
public:
    FolderMaker(const SavePlan& plan, FolderOrder order, std::unique_ptr<AnchoredOutputFiles> files,
                std::function<std::string(const PlannedFolder&)> dirOf)
        : m_plan(plan), m_order(std::move(order)), m_files(std::move(files)), m_dirOf(std::move(dirOf)),
          m_failures(m_order.folders.size())
    {
        m_thread = std::thread([this] { run(); });
    }
    ~FolderMaker()
    {
        if (m_thread.joinable()) m_thread.join();
    }
    FolderMaker(const FolderMaker&) = delete;
    FolderMaker& operator=(const FolderMaker&) = delete;

    // Waits until the folder and the folders inside it stand (or failed), reporting the failures
    // met so far.
    template <typename Report>
    void waitFor(std::size_t folder, const Report& report)
    {
        const std::size_t wanted = m_order.readyAt[folder];
        for (std::size_t made = m_made.load(std::memory_order_acquire); made < wanted;
             made = m_made.load(std::memory_order_acquire))
            m_made.wait(made, std::memory_order_acquire);
        reportUpTo(m_made.load(std::memory_order_acquire), report);
    }

    // Waits for every folder, reporting what failed.
    template <typename Report>
    void finish(const Report& report)
    {
        if (m_thread.joinable()) m_thread.join();
        reportUpTo(m_order.folders.size(), report);
    }

private:
    void run()
    {
        for (std::size_t k = 0; k < m_order.folders.size(); ++k) {
            const Status made = m_files->makeFolders(m_dirOf(m_plan.folders[m_order.folders[k]]));
            if (!made) m_failures[k] = made.error();
            m_made.store(k + 1, std::memory_order_release);
            m_made.notify_all();
        }
    }

    template <typename Report>
    void reportUpTo(std::size_t made, const Report& report)
    {
        for (; m_reported < made; ++m_reported)
            if (m_failures[m_reported]) report(*m_failures[m_reported]);
    }

    const SavePlan& m_plan;
    const FolderOrder m_order;
    std::unique_ptr<AnchoredOutputFiles> m_files;  // the maker's own, at the run's destination
    std::function<std::string(const PlannedFolder&)> m_dirOf;
    std::vector<std::optional<Error>> m_failures;  // per place in the order; written before m_made passes it
    std::atomic<std::size_t> m_made{0};
    std::size_t m_reported = 0;  // the writing thread's own
    std::thread m_thread;
};

}  // namespace

const char* saveEndName(SaveEnd end)
{
    switch (end) {
    case SaveEnd::Finished: return "finished";
    case SaveEnd::Stopped: return "stopped";
    case SaveEnd::DiskFull: return "disk-full";
    case SaveEnd::Refused: return "refused";
    case SaveEnd::Nothing: return "nothing-selected";
    case SaveEnd::Failed: return "failed";
    }
    return "finished";
}

SavePlan countSelection(const SaveRunContext& ctx)
{
    SavePlan plan;
    Planner planner(ctx, plan);
    const auto& tree = ctx.results->tree;
    std::vector<ItemId> whole;
    std::unordered_set<ItemId> wholeSet;
    if (ctx.checks)
        for (ItemId id : tree.preOrder())
            if (ctx.checks->state(id) == CheckState::Checked && wholeSet.insert(id).second) whole.push_back(id);
    for (const auto& sel : ctx.selectedRows)
        if (sel.row.kind == RowKind::Folder)
            for (ItemId id : subtree(tree, sel.row.folderItem))
                if (wholeSet.insert(id).second) whole.push_back(id);

    // System folders ticked only as part of a folder above them stay out unless asked for; one
    // ticked on its own is asked for, with everything inside it.
    const recovery::VolumeSet volumes{ctx.params, ctx.volumes};
    std::unordered_set<ItemId> leftOut;
    // Parents come before their children here, so a folder's answer follows from its parent's
    // without walking up a deep tree for every folder.
    std::unordered_map<ItemId, bool> systemFolders;
    auto isSystem = [&](ItemId id) {
        if (const auto known = systemFolders.find(id); known != systemFolders.end()) return known->second;
        const recovery::FolderNode* node = ctx.results->nodeOf(id);
        const auto parentKnown = systemFolders.find(tree.item(id).parent);
        const bool system = parentKnown != systemFolders.end()
                                ? parentKnown->second || (node && recovery::isExtendFolder(*node, volumes))
                                : recovery::isSystemFolder(*ctx.results, id, volumes);
        systemFolders.emplace(id, system);
        return system;
    };
    for (ItemId id : whole) {
        if (ctx.includeSystemFiles || !isSystem(id)) continue;
        const ItemId parent = tree.item(id).parent;
        const bool partOfParent = wholeSet.count(parent) && !isSystem(parent);
        if (partOfParent || leftOut.count(parent)) leftOut.insert(id);
        else planner.askForSystemFolder(id);
    }

    std::vector<ItemId> listed;
    for (ItemId id : whole)
        if (!leftOut.count(id)) listed.push_back(id);
    planner.listFolders(listed, [&](std::size_t i, const recovery::FolderListing& listing) {
        if (ctx.state->cancelRequested) {
            plan.stopped = true;
            return false;
        }
        const ItemId id = listed[i];
        planner.planFiles(planner.folderIndex(id, tree.item(id).parent != kNoItem), listing);
        if (ctx.observer) ctx.observer->onCounting(plan.files.size(), plan.folderCount);
        return true;
    });
    if (plan.stopped) {
        plan.folderChanges = planner.changes();
        return plan;
    }

    // Selected file rows of folders that are not saved whole, grouped by folder.
    const std::size_t firstSelected = plan.files.size();
    for (const auto& sel : ctx.selectedRows) {
        if (sel.row.kind == RowKind::Folder || wholeSet.count(sel.folder) || !tree.valid(sel.folder)) continue;
        planner.addSelectedFile(planner.folderIndex(sel.folder, false), sel.row);
    }
    std::stable_sort(plan.files.begin() + static_cast<std::ptrdiff_t>(firstSelected), plan.files.end(),
                     [](const PlannedFile& a, const PlannedFile& b) { return a.folder < b.folder; });
    if (ctx.observer) ctx.observer->onCounting(plan.files.size(), plan.folderCount);
    if (ctx.state->cancelRequested) plan.stopped = true;
    plan.folderChanges = planner.changes();
    return plan;
}

SaveRunReport runSave(const SaveRunContext& context)
{
    SaveRunReport report;
    RunObserver observer(context.observer, report);
    SaveRunContext ctx = context;
    ctx.observer = &observer;
    SaveRunState& state = *ctx.state;

    const DestinationVerdict verdict = checkDestination(ctx.destination, ctx.source ? ctx.source->path() : "");
    if (verdict != DestinationVerdict::Usable) {
        report.end = SaveEnd::Refused;
        report.verdict = verdict;
        report.error = Error{ErrorKind::InvalidArgument, 0, ctx.destination, {}};
        return report;
    }
    if (!anythingChosen(ctx)) {
        report.end = SaveEnd::Nothing;
        return report;
    }

    state.filesWritten = 0;
    state.totalFilesToSave = 0;
    state.kernelCopyRefused = false;
    CollisionState& collisions = *ctx.collisions;
    collisions.collisionAnswer = ctx.startAnswer;
    collisions.runCancelled = false;
    collisions.nextRenameNumber.clear();

    observer.onStage(WorkStage::CountingFiles);
    SavePlan plan = countSelection(ctx);
    report.filesTotal = plan.files.size();
    report.foldersTotal = plan.folderCount;
    report.replacedNames = plan.replacedNames;
    report.folderChanges = plan.folderChanges;
    if (plan.stopped) {
        report.end = SaveEnd::Stopped;
        return report;
    }
    state.totalFilesToSave = plan.files.size();
    report.foldersTooDeep = static_cast<std::uint64_t>(
        std::count_if(plan.folders.begin(), plan.folders.end(), [](const PlannedFolder& f) { return f.tooDeep; }));
    observer.onStage(WorkStage::SavingFiles);
    observer.onSelectedTotals(plan.files.size(), plan.folderCount);

    WriterContext wctx;
    wctx.source = ctx.source;
    wctx.params = ctx.params;
    wctx.volumeEndSector = ctx.volumeEndSector;
    wctx.state = &state;
    wctx.collisions = &collisions;
    wctx.prompt = ctx.prompt;
    wctx.observer = &observer;
    std::optional<volumes::FatReader> fat;
    if (ctx.source && ctx.params && ctx.params->isFat()) {
        fat.emplace(*ctx.source, ctx.params->isFat16(), ctx.params->firstFat, ctx.params->spf);
        wctx.fat = &*fat;
    }
    MappedImage imageView;
    if (const auto image = ctx.source ? ctx.source->imageFile() : std::nullopt;
        image && image->byteSize && image->byteSize <= SIZE_MAX && imageView.window.map(image->fd, 0, image->byteSize))
        wctx.image = &imageView;
    // Everything below the destination is made from the destination's own descriptor, so a link
    // planted inside it cannot send the files elsewhere.
    std::unique_ptr<AnchoredOutputFiles> anchored;
    if (!ctx.files) {
        auto opened = AnchoredOutputFiles::open(ctx.destination);
        if (!opened) {
            report.end = SaveEnd::Refused;
            report.verdict = DestinationVerdict::NotUsable;
            report.error = opened.error();
            return report;
        }
        anchored = std::move(opened).value();
    }
    OutputFiles& files = ctx.files ? *ctx.files : *anchored;
    wctx.files = &files;
    wctx.maxNameBytes = nameMaxBytes(ctx.destination);
    wctx.openingMode = false;

    // Every folder first: a file that carries the name of a folder beside it (a deleted file and
    // a live folder may share one) then meets the folder in the collision step, instead of
    // taking the name and leaving the folder's files nowhere to go.
    auto dirOf = [&](const PlannedFolder& f) {
        return f.relativePath.empty() ? ctx.destination : ctx.destination + "/" + f.relativePath;
    };
    std::vector<bool> hasFiles(plan.folders.size(), false);
    for (const PlannedFile& file : plan.files) hasFiles[file.folder] = true;
    std::vector<bool> made(plan.folders.size(), false);
    for (std::size_t folder = 0; folder < plan.folders.size(); ++folder) {
        const PlannedFolder& f = plan.folders[folder];
        made[folder] = !f.tooDeep && (hasFiles[folder] || (f.ticked && !ctx.deletedOnly));
    }
    const auto reportProblem = [&](const Error& e) { observer.onProblem(e); };
    std::optional<FolderMaker> maker;
    if (anchored)
        if (auto order = familyOrder(plan, made))
            if (auto twin = anchored->twin()) maker.emplace(plan, std::move(*order), std::move(twin).value(), dirOf);
    if (!maker)
        for (std::size_t folder = 0; folder < plan.folders.size(); ++folder)
            if (made[folder])
                if (const Status done = files.makeFolders(dirOf(plan.folders[folder])); !done) reportProblem(done.error());

    std::size_t next = 0;
    for (std::size_t folder = 0; folder < plan.folders.size() && report.end == SaveEnd::Finished; ++folder) {
        const PlannedFolder& f = plan.folders[folder];
        const std::string dir = dirOf(f);
        const bool withFiles = next < plan.files.size() && plan.files[next].folder == folder;
        if (maker && withFiles && made[folder]) maker->waitFor(folder, reportProblem);
        for (; next < plan.files.size() && plan.files[next].folder == folder; ++next) {
            if (state.cancelRequested) break;
            const PlannedFile& file = plan.files[next];
            const std::string target = dir + "/" + file.name;
            FileOutcome outcome = FileOutcome::NoData;
            if (f.tooDeep || target.size() >= kMaxPathBytes) {
                // A path the system cannot name is not made at all, and said so.
                FileResult cut;
                cut.info.targetPath = target;
                cut.info.displayName = file.name;
                cut.info.size = file.size;
                cut.outcome = outcome = FileOutcome::PathTooLong;
                observer.onFileFinished(cut);
            } else if (const volumes::VolumeParameters* vp = volumeOf(ctx, file.volume);
                       vp && vp->isFat()) {
                wctx.params = vp;
                outcome = writeFatFile(wctx, {target, file.name, file.size, file.firstCluster, true, file.date, file.time});
            } else if (vp && vp->isNtfs()) {
                wctx.params = vp;
                outcome = writeNtfsFile(wctx, {target, file.name, file.size, file.recordSector, true,
                                               file.recordNumber, file.streamName});
            }
            switch (outcome) {
            case FileOutcome::Written:
                ++report.filesWritten;
                if (!report.files.empty() && !report.files.back().unreadable.empty()) ++report.filesWithUnreadable;
                break;
            case FileOutcome::Incomplete:
                ++report.filesIncomplete;
                if (!report.files.empty() && report.files.back().reason == ShortReason::MediumRemoved) {
                    report.end = SaveEnd::Failed;
                    report.error = Error{ErrorKind::MediumRemoved, 0, ctx.source->path(), "the medium was removed"};
                }
                break;
            case FileOutcome::Skipped:
            case FileOutcome::Cancelled: ++report.filesSkipped; break;
            case FileOutcome::Declined: ++report.filesDeclined; break;
            case FileOutcome::DiskFull: report.end = SaveEnd::DiskFull; break;
            default:
                ++report.filesFailed;
                // Files that cannot even be created because the destination itself is gone: the
                // rest of the run would fail the same way.
                if (outcome == FileOutcome::NotCreated && files.destinationGone()) {
                    report.end = SaveEnd::Failed;
                    report.error = Error{ErrorKind::WriteFailed, 0, ctx.destination, "the destination folder was removed"};
                }
                break;
            }
            if (collisions.runCancelled && report.end == SaveEnd::Finished) report.end = SaveEnd::Stopped;
            if (report.end != SaveEnd::Finished) break;
        }
        if (state.cancelRequested) {
            if (report.end == SaveEnd::Finished) report.end = SaveEnd::Stopped;
            break;
        }
        if (f.ticked) {
            ++report.foldersDone;
            observer.onFolderFinished(report.foldersDone, plan.folderCount);
        }
    }
    if (maker) maker->finish(reportProblem);
    // Last, when nothing more is written into them: a folder's time changes with every file
    // created in it.
    if (!ctx.files) restoreFolderTimes(ctx, plan, dirOf);
    observer.onSavedTotals(report.filesWritten, report.foldersDone);
    return report;
}

}  // namespace kfr::exporting
