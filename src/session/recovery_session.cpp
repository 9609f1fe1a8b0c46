// The recovery session: source selection, scans, listings, opening and saving.
#include "session/recovery_session.h"

#include <algorithm>
#include <array>
#include <ctime>
#include <sstream>

#include "recovery/deep_scan.h"
#include "volumes/boot_parameters.h"
#include "volumes/boot_sector.h"
#include "volumes/infer_parameters.h"
#include "volumes/partition_table.h"

namespace kfr::session {

using recovery::ItemId;
using recovery::kNoItem;

namespace {

std::uint16_t nowAsFatTime()
{
    const std::time_t now = std::time(nullptr);
    std::tm local{};
    localtime_r(&now, &local);
    return recovery::fatTimeWord(local.tm_hour, local.tm_min, local.tm_sec);
}

std::string partTypeOf(const std::string& given)
{
    std::string upper = given;
    for (auto& c : upper) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return volumes::nameFileSystem(upper);
}

}  // namespace

// Counts a worker reading one results object, so the owner holds its changes back meanwhile.
class RecoverySession::Lease {
public:
    Lease(const RecoverySession& session, const ScanResults& results) : m_session(session), m_results(results)
    {
        std::lock_guard lock(m_session.m_mutex);
        ++m_results.m_readers;
    }
    ~Lease()
    {
        std::lock_guard lock(m_session.m_mutex);
        --m_results.m_readers;
    }
    Lease(const Lease&) = delete;
    Lease& operator=(const Lease&) = delete;

private:
    const RecoverySession& m_session;
    const ScanResults& m_results;
};

SourceOpener fileSourceOpener()
{
    return [](const std::string& path) -> Result<std::shared_ptr<const storage::SectorSource>> {
        auto opened = storage::openSource(path);
        if (!opened) return opened.error();
        return std::shared_ptr<const storage::SectorSource>(std::move(opened).value());
    };
}

DeepCheck checkDeepRequest(const DeepRequest& request)
{
    if (request.endSector <= request.startSector) return DeepCheck::EndNotAfterStart;
    if (request.fileSystem != volumes::kFat16 && request.fileSystem != volumes::kFat32 &&
        request.fileSystem != volumes::kNtfs)
        return DeepCheck::NoFileSystemChosen;
    return DeepCheck::Ready;
}

const volumes::VolumeParameters* ScanResults::paramsOf(ItemId folder) const
{
    const recovery::FolderNode* node = scan.folders.nodeOf(folder);
    const std::uint32_t volume = node ? node->volume : 0;
    return volume < volumes.size() ? &volumes[volume] : nullptr;
}

ParamsOrigin ScanResults::origin() const
{
    if (scan.paramsFailed) return ParamsOrigin::None;
    return scan.paramsFromBootSector ? ParamsOrigin::BootSector : ParamsOrigin::Inferred;
}

Result<volumes::VolumeSelection> settleSelection(const storage::SectorSource& source, const SourceRequest& o)
{
    const std::uint64_t count = source.sectorCount();
    volumes::VolumeSelection sel;
    sel.devicePath = o.path;
    sel.firstSector = o.firstSector.value_or(0);
    sel.lastSector = o.lastSector ? *o.lastSector : (count ? count - 1 : 0);
    const bool autoFs = o.fileSystem.empty() || o.fileSystem == "auto";
    if (o.partition != 0) {
        const auto partitions = volumes::listPartitions(source, count);
        const auto part = std::find_if(partitions.begin(), partitions.end(),
                                       [&](const volumes::PartitionRecord& p) { return p.number == o.partition; });
        if (part == partitions.end())
            return Error{ErrorKind::NotFound, 0, o.path,
                         "there is no partition " + std::to_string(o.partition) +
                             " with a FAT16, FAT32 or NTFS file system (" + std::to_string(partitions.size()) +
                             " listed; see kestravon-cli disks --image)"};
        sel.firstSector = part->firstSector;
        // Partition-table entries end one past their last sector; GUID entries name the last one.
        const bool pastEnd = part->table != volumes::PartitionTableKind::Gpt;
        sel.lastSector = pastEnd && part->endSector > part->firstSector ? part->endSector - 1 : part->endSector;
        if (autoFs) {
            sel.partType = part->fileSystem;
            return sel;
        }
    }
    if (count && sel.firstSector >= count)
        return Error{ErrorKind::InvalidArgument, sel.firstSector, o.path,
                     "the first sector lies beyond the end of the source (" + std::to_string(count) + " sectors)"};
    if (sel.lastSector < sel.firstSector)
        return Error{ErrorKind::InvalidArgument, sel.firstSector, o.path, "the last sector lies before the first sector"};

    if (!autoFs) {
        sel.partType = partTypeOf(o.fileSystem);
        return sel;
    }
    std::array<std::uint8_t, storage::kSectorSize> boot{};
    for (std::uint64_t offset : {0ULL, 6ULL}) {
        boot.fill(0);
        if (!source.read(sel.firstSector + offset, 1, boot)) continue;
        const auto sig = volumes::detectBootSignature(boot);
        // The backup at +6 only ever stands for FAT32.
        if (sig != volumes::BootSignature::None && (offset == 0 || sig == volumes::BootSignature::Fat32)) {
            sel.partType = volumes::partTypeName(sig);
            return sel;
        }
    }
    if (o.guessBySize) {
        sel.partType = volumes::guessFileSystemBySize(sel.firstSector, sel.lastSector);
        if (sel.partType != volumes::kUnknown) return sel;
    }
    return Error{ErrorKind::Implausible, sel.firstSector, o.path,
                 "no FAT16, FAT32 or NTFS boot sector at sector " + std::to_string(sel.firstSector) +
                     "; if the boot sector is damaged, name the file system with --fs FAT16, --fs FAT32 or --fs NTFS"};
}

RecoverySession::RecoverySession(SourceOpener opener) : m_opener(std::move(opener)) {}

Result<std::shared_ptr<const storage::SectorSource>> RecoverySession::openPath(const std::string& path) const
{
    return m_opener(path);
}

Status RecoverySession::selectSource(const SourceRequest& request)
{
    auto source = openPath(request.path);
    if (!source) return source.error();
    auto selection = settleSelection(**source, request);
    if (!selection) return selection.error();
    m_selection = std::move(selection).value();
    return okStatus();
}

std::shared_ptr<const ScanResults> RecoverySession::results()
{
    std::lock_guard lock(m_mutex);
    applyPendingLocked();
    return m_results;
}

void RecoverySession::adoptResults(std::shared_ptr<ScanResults> results)
{
    std::lock_guard lock(m_mutex);
    m_results = std::move(results);
    m_pending = {};
}

void RecoverySession::clearResults()
{
    adoptResults(nullptr);
}

void RecoverySession::applyChanges(const ScanResults* from, const recovery::FolderChanges& changes)
{
    std::lock_guard lock(m_mutex);
    if (!m_results || from != m_results.get() || changes.empty()) return;
    m_pending.append(changes);
    applyPendingLocked();
}

void RecoverySession::applyPendingLocked()
{
    if (!m_results || m_pending.empty() || m_results->m_readers != 0) return;
    recovery::applyFolderChanges(m_results->scan.folders, m_pending);
    m_pending = {};
}

Result<VolumeInfo> RecoverySession::volumeInfo(const ScanControl& control) const
{
    if (!m_selection) return Error{ErrorKind::InvalidArgument, 0, {}, "no source is selected"};
    auto source = openPath(m_selection->devicePath);
    if (!source) return source.error();
    VolumeInfo info;
    info.selection = *m_selection;
    auto params = volumes::readBootParameters(**source, *m_selection);
    info.origin = ParamsOrigin::BootSector;
    if (!params && m_selection->partType != volumes::kNtfs) {
        params = volumes::inferFatParameters({source->get(), *m_selection, control.stopRequested, control.observer});
        info.origin = ParamsOrigin::Inferred;
    }
    if (!params) return params.error();
    info.params = *params;
    return info;
}

Result<std::shared_ptr<ScanResults>> RecoverySession::scan(const ScanControl& control)
{
    if (!m_selection) return Error{ErrorKind::InvalidArgument, 0, {}, "no source is selected"};
    auto source = openPath(m_selection->devicePath);
    if (!source) return source.error();
    auto results = std::make_shared<ScanResults>();
    results->selection = *m_selection;
    recovery::BasicScanContext ctx;
    ctx.source = source->get();
    ctx.selection = *m_selection;
    ctx.stopRequested = control.stopRequested;
    ctx.observer = control.observer;
    ctx.namer = &m_namer;
    ctx.orphanTimeWord = nowAsFatTime();
    results->scan = recovery::runBasicScan(ctx);
    results->volumes = {results->scan.params};
    results->mftIndex = recovery::indexMftFilesByParent(results->scan.mftFiles);
    return results;
}

Result<std::shared_ptr<ScanResults>> RecoverySession::deepScan(const DeepRequest& request, const ScanControl& control)
{
    if (!m_selection) return Error{ErrorKind::InvalidArgument, 0, {}, "no source is selected"};
    if (checkDeepRequest(request) != DeepCheck::Ready)
        return Error{ErrorKind::InvalidArgument, request.startSector, m_selection->devicePath, "the Deep Search request is not complete"};
    auto source = openPath(m_selection->devicePath);
    if (!source) return source.error();
    auto results = std::make_shared<ScanResults>();
    results->mode = ScanMode::Deep;
    results->selection = *m_selection;
    results->selection.firstSector = request.startSector;
    results->selection.lastSector = request.endSector;
    results->selection.partType = request.fileSystem;
    recovery::DeepScanContext ctx;
    ctx.source = source->get();
    ctx.startSector = request.startSector;
    ctx.endSector = request.endSector;
    ctx.fileSystem = request.fileSystem;
    ctx.stopRequested = control.stopRequested;
    ctx.observer = control.observer;
    ctx.namer = &m_namer;
    ctx.orphanTimeWord = nowAsFatTime();
    recovery::DeepScanResult deep = recovery::runDeepScan(ctx);
    results->scan.end = deep.end;
    results->scan.folders = std::move(deep.folders);
    results->scan.mftFiles = std::move(deep.mftFiles);
    results->scan.foundNothing = deep.foundNothing;
    results->scan.mediumRemoved = deep.mediumRemoved;
    results->scan.unreadableSectors = deep.unreadableSectors;
    results->scan.problems = std::move(deep.problems);
    results->scan.directoriesFound = deep.lostDirectories.size();
    results->scan.paramsFromBootSector = false;
    results->volumes = std::move(deep.volumes);
    if (!results->volumes.empty()) results->scan.params = results->volumes.front();
    results->deep.lostDirectories = std::move(deep.lostDirectories);
    results->deep.bootCandidates = std::move(deep.bootCandidates);
    results->deep.partitions = std::move(deep.partitions);
    results->deep.decodedFromRoot = deep.decodedFromRoot;
    results->mftIndex = recovery::indexMftFilesByParent(results->scan.mftFiles);
    return results;
}

Result<recovery::FolderListing> RecoverySession::listFolder(const ScanResults& results, ItemId folder,
                                                            const ListingControl& control) const
{
    Lease lease(*this, results);
    auto source = openPath(results.selection.devicePath);
    if (!source) return source.error();
    recovery::ListingContext ctx;
    ctx.source = source->get();
    ctx.params = &results.scan.params;
    ctx.volumes = &results.volumes;
    ctx.mftFiles = &results.scan.mftFiles;
    ctx.mftIndex = &results.mftIndex;
    ctx.volumeEndSector = results.volumeEndSector();
    ctx.stopRequested = control.stopRequested;
    ctx.overlay = control.overlay;
    ctx.sink = control.sink;
    return recovery::populateItemList(ctx, results.scan.folders, folder);
}

Result<recovery::FolderChanges> RecoverySession::expandFolder(const ScanResults& results, ItemId folder,
                                                              const std::atomic<bool>* stopRequested) const
{
    Lease lease(*this, results);
    auto source = openPath(results.selection.devicePath);
    if (!source) return source.error();
    const volumes::VolumeParameters* params = results.paramsOf(folder);
    if (!params) return recovery::FolderChanges{};
    return recovery::expandFolder(**source, *params, results.scan.folders, folder, stopRequested);
}

exporting::SaveRunReport RecoverySession::save(const ScanResults& results, const SaveRequest& request) const
{
    Lease lease(*this, results);
    exporting::SaveRunReport report;
    auto source = openPath(results.selection.devicePath);
    if (!source) {
        report.end = exporting::SaveEnd::Failed;
        report.error = source.error();
        return report;
    }
    exporting::SaveRunContext ctx;
    ctx.source = source->get();
    ctx.params = &results.scan.params;
    ctx.volumes = &results.volumes;
    ctx.mftFiles = &results.scan.mftFiles;
    ctx.mftIndex = &results.mftIndex;
    ctx.results = &results.scan.folders;
    ctx.checks = &request.checks;
    ctx.volumeEndSector = results.volumeEndSector();
    ctx.destination = request.destination;
    ctx.selectedRows = request.selectedRows;
    ctx.deletedOnly = request.deletedOnly;
    ctx.includeSystemFiles = request.includeSystemFiles;
    ctx.includeStreams = request.includeStreams;
    ctx.state = request.state;
    ctx.collisions = request.collisions;
    ctx.startAnswer = request.startAnswer;
    ctx.prompt = request.prompt;
    ctx.observer = request.observer;
    ctx.files = request.files;
    return exporting::runSave(ctx);
}

exporting::OpenResult RecoverySession::openFile(const ScanResults& results, const recovery::ItemRow& row,
                                                exporting::TemporaryCopies& copies, const exporting::Opener& opener,
                                                exporting::SaveRunState& state) const
{
    Lease lease(*this, results);
    exporting::OpenResult result;
    auto source = openPath(results.selection.devicePath);
    if (!source) {
        result.action = exporting::OpenAction::Failed;
        result.error = source.error();
        return result;
    }
    exporting::WriterContext ctx;
    ctx.source = source->get();
    ctx.params = row.volume < results.volumes.size() ? &results.volumes[row.volume] : &results.scan.params;
    ctx.volumeEndSector = results.volumeEndSector();
    ctx.state = &state;
    return exporting::openThroughCopy(ctx, row, copies, opener);
}

ItemId findFolder(const recovery::FolderResults& r, const std::string& path)
{
    ItemId cur = r.tree.firstTopLevel();
    std::stringstream parts(path);
    std::string part;
    while (std::getline(parts, part, '/')) {
        if (part.empty()) continue;
        ItemId next = kNoItem;
        for (ItemId c : r.tree.children(cur))
            if (r.tree.item(c).name == part) {
                next = c;
                break;
            }
        if (next == kNoItem) return kNoItem;
        cur = next;
    }
    return cur;
}

std::string slashPath(const recovery::FolderResults& r, ItemId id)
{
    std::string path;
    for (ItemId cur = id; r.tree.valid(cur) && r.tree.item(cur).parent != kNoItem; cur = r.tree.item(cur).parent)
        path = "/" + r.tree.item(cur).name + path;
    return path.empty() ? "/" : path;
}

}  // namespace kfr::session
