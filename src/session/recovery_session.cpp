// The recovery session: source selection, scans, listings, opening and saving.
#include "session/recovery_session.h"

#include <algorithm>
#include <array>
#include <ctime>
#include <sstream>

#include "recovery/deep_scan.h"
#include "recovery/directory_listing.h"
#include "volumes/boot_parameters.h"
#include "volumes/boot_sector.h"
#include "volumes/file_system_probe.h"
#include "volumes/infer_parameters.h"

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
    const recovery::DeepFileSystems systems = recovery::deepFileSystems(request.fileSystem);
    if (!systems.fat && !systems.ntfs) return DeepCheck::NoFileSystemChosen;
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

namespace {

// "1, 2, 5" and "1: ext4, 2: FAT16, 5: unknown" for the partitions a message names.
std::string slotNumbers(const std::vector<volumes::PartitionSlot>& slots)
{
    std::string text;
    for (const auto& s : slots)
        if (!s.extendedContainer) text += (text.empty() ? "" : ", ") + std::to_string(s.slot);
    return text;
}

std::string slotContents(const std::vector<volumes::PartitionSlot>& slots)
{
    std::string text;
    for (const auto& s : slots) {
        if (s.extendedContainer) continue;
        const std::string name = volumes::fileSystemKindName(s.content);
        text += (text.empty() ? "" : ", ") + std::to_string(s.slot) + ": " + (name.empty() ? "unknown" : name);
    }
    return text;
}

std::string notReadText(volumes::FileSystemKind kind)
{
    return std::string("holds ") + volumes::fileSystemKindName(kind) +
           ", which this tool does not read (it reads FAT16, FAT32 and NTFS)";
}

}  // namespace

Result<SourceRange> settleRange(const storage::SectorSource& source, const SourceRequest& o)
{
    const std::uint64_t count = source.sectorCount();
    SourceRange range;
    range.firstSector = o.firstSector.value_or(0);
    range.lastSector = o.lastSector ? *o.lastSector : (count ? count - 1 : 0);
    if (o.partition != 0) {
        const volumes::DiskPartitions table = volumes::readPartitions(source, count);
        const auto part = std::find_if(table.slots.begin(), table.slots.end(),
                                       [&](const volumes::PartitionSlot& s) { return s.slot == o.partition; });
        if (table.slots.empty())
            return Error{ErrorKind::NotFound, 0, o.path,
                         "there is no partition " + std::to_string(o.partition) +
                             ": this source holds no partition table; leave --partition out to read it whole"};
        if (part == table.slots.end())
            return Error{ErrorKind::NotFound, 0, o.path,
                         "there is no partition " + std::to_string(o.partition) + " on this disk; its partitions are " +
                             slotNumbers(table.slots) + " (" + slotContents(table.slots) + ")"};
        if (part->extendedContainer)
            return Error{ErrorKind::InvalidArgument, part->firstSector, o.path,
                         "partition " + std::to_string(o.partition) +
                             " is the extended partition that holds the logical ones; its partitions are " +
                             slotNumbers(table.slots) + " (" + slotContents(table.slots) + ")"};
        range.firstSector = part->firstSector;
        range.lastSector = part->lastSector;
        range.partition = *part;
        if (count && range.firstSector >= count)
            return Error{ErrorKind::InvalidArgument, range.firstSector, o.path,
                         "partition " + std::to_string(o.partition) + " starts at sector " +
                             std::to_string(range.firstSector) + ", beyond the end of the medium (" +
                             std::to_string(count) + " sectors); the partition table is damaged or the image is cut short"};
    }
    if (count && range.firstSector >= count)
        return Error{ErrorKind::InvalidArgument, range.firstSector, o.path,
                     "the first sector lies beyond the end of the source (" + std::to_string(count) + " sectors)"};
    if (range.lastSector < range.firstSector)
        return Error{ErrorKind::InvalidArgument, range.firstSector, o.path, "the last sector lies before the first sector"};
    // Reads past the medium's end only fail, one by one: a range is never let out of the medium.
    if (count && range.lastSector >= count) {
        range.lastSector = count - 1;
        range.clipped = true;
    }
    return range;
}

Result<volumes::VolumeSelection> settleSelection(const storage::SectorSource& source, const SourceRequest& o)
{
    auto range = settleRange(source, o);
    if (!range) return range.error();
    volumes::VolumeSelection sel;
    sel.devicePath = o.path;
    sel.firstSector = range->firstSector;
    sel.lastSector = range->lastSector;
    const bool autoFs = o.fileSystem.empty() || o.fileSystem == "auto";
    const std::string where = range->partition ? "partition " + std::to_string(o.partition)
                                               : "the volume at sector " + std::to_string(sel.firstSector);

    std::array<std::uint8_t, storage::kSectorSize> boot{};
    const bool bootRead = source.read(sel.firstSector, 1, boot);
    const auto bootSig = bootRead ? volumes::detectBootSignature(boot) : volumes::BootSignature::None;
    if (!autoFs) {
        sel.partType = partTypeOf(o.fileSystem);
        // A file system named over a valid boot sector of another one would scan nothing.
        if (bootSig != volumes::BootSignature::None && volumes::hasBootMarker(boot) &&
            volumes::partTypeName(bootSig) != sel.partType)
            return Error{ErrorKind::InvalidArgument, sel.firstSector, o.path,
                         "--fs " + sel.partType + " contradicts the boot sector at sector " +
                             std::to_string(sel.firstSector) + ", which is a " + volumes::partTypeName(bootSig) +
                             " boot sector; leave --fs out or give --fs " + volumes::partTypeName(bootSig)};
        return sel;
    }
    if (bootSig != volumes::BootSignature::None) {
        sel.partType = volumes::partTypeName(bootSig);
        return sel;
    }
    // A whole disk read from sector 0 is a partition table, not a volume.
    const bool wholeSource = !range->partition && !o.firstSector.value_or(0) && !o.lastSector;
    if (wholeSource) {
        const volumes::DiskPartitions table = volumes::readPartitions(source, source.sectorCount());
        if (!table.slots.empty())
            return Error{ErrorKind::InvalidArgument, 0, o.path,
                         "this disk has partitions " + slotNumbers(table.slots) + ": use --partition N (" +
                             slotContents(table.slots) + ")"};
    }
    std::array<std::uint8_t, storage::kSectorSize> backup{};
    if (source.read(sel.firstSector + 6, 1, backup) && volumes::detectBootSignature(backup) == volumes::BootSignature::Fat32) {
        // The backup at +6 only ever stands for FAT32.
        sel.partType = volumes::kFat32;
        return sel;
    }
    const volumes::FileSystemKind kind = volumes::probeFileSystem(source, sel.firstSector, sel.lastSector);
    if (kind != volumes::FileSystemKind::None && !volumes::isReadableKind(kind))
        return Error{ErrorKind::Implausible, sel.firstSector, o.path, where + " " + notReadText(kind)};
    // A partition whose boot sector is destroyed is what its table entry's type says, as the
    // listing takes it; its geometry is then inferred.
    if (range->partition && kind == volumes::FileSystemKind::None) {
        sel.partType = volumes::fileSystemOfType(*range->partition);
        if (!sel.partType.empty()) return sel;
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

Status RecoverySession::selectRange(const SourceRequest& request)
{
    auto source = openPath(request.path);
    if (!source) return source.error();
    auto range = settleRange(**source, request);
    if (!range) return range.error();
    m_selection = volumes::VolumeSelection{request.path, range->firstSector, range->lastSector, {}};
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
    results->selection.lastSector = request.endSector - 1;
    results->selection.partType = request.fileSystem;
    recovery::DeepScanContext ctx;
    ctx.source = source->get();
    ctx.startSector = request.startSector;
    ctx.endSector = request.endSector;
    ctx.fileSystem = request.fileSystem;
    ctx.fallbackVolumeStart = m_selection->firstSector;
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
    results->deep.ntfsVolumes = std::move(deep.ntfsVolumes);
    results->deep.ntfsRecordsFound = deep.ntfsRecordsFound;
    results->mftIndex = recovery::indexMftFilesByParent(results->scan.mftFiles);
    return results;
}

Result<HeldMedium> RecoverySession::holdMedium(const ScanResults& results) const
{
    auto source = openPath(results.selection.devicePath);
    if (!source) return source.error();
    HeldMedium held;
    held.source = std::move(source).value();
    const volumes::VolumeParameters& p = results.scan.params;
    if (p.isFat()) {
        held.fat.emplace(volumes::directoryFatReader(*held.source, p));
        held.sectors.emplace(recovery::directoryReadAhead(*held.source));
    }
    return held;
}

Result<recovery::FolderListing> RecoverySession::listFolder(const ScanResults& results, ItemId folder,
                                                            const ListingControl& control) const
{
    Lease lease(*this, results);
    std::shared_ptr<const storage::SectorSource> opened;
    if (control.held && control.held->source) {
        opened = control.held->source;
    } else {
        auto source = openPath(results.selection.devicePath);
        if (!source) return source.error();
        opened = std::move(source).value();
    }
    recovery::ListingContext ctx;
    ctx.source = opened.get();
    if (control.held && control.held->fat) ctx.fat = &*control.held->fat;
    if (control.held && control.held->sectors) ctx.sectors = &*control.held->sectors;
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

LogSaveOutcome RecoverySession::saveLog(const ScanResults& results, const LogSaveRequest& request) const
{
    Lease lease(*this, results);
    return writeLogOf(results, request);
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
