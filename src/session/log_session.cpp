// Recovery logs through the session: the results written with the identity of their medium, and
// results made again from a log.
#include <filesystem>

#include "export/destination.h"
#include "recovery/folder_listing.h"
#include "session/recovery_session.h"
#include "storage/media_record.h"

namespace kfr::session {

namespace {

using namespace kfr::recoverylog;

// The classic layout names one of four file systems; what Deep Search was asked to sweep for
// ("FAT", "FAT+NTFS") is kept in the extension.
std::string classicFileSystem(const std::string& partType)
{
    if (partType == volumes::kFat16 || partType == volumes::kFat32 || partType == volumes::kNtfs) return partType;
    return volumes::kUnknown;
}

std::string defaultDriveKind(const MediumIdentity& medium, const ScanResults& r)
{
    if (medium.form == LocationForm::Logical) return kLogicalKind;
    // A Basic Search that did not start at the disk's first sector read one partition of it.
    if (r.mode == ScanMode::Basic && r.selection.firstSector != 0) return kPartitionKind;
    return kHardDiskKind;
}

LogHeader headerOf(const ScanResults& r, const MediumIdentity& medium, const std::string& driveKind)
{
    LogHeader h;
    const bool deep = r.mode == ScanMode::Deep;
    const bool physical = medium.form == LocationForm::Physical;
    h.driveKind = driveKind;
    h.diskModel = physical ? medium.diskModel : std::string();
    h.mode = static_cast<std::uint32_t>(deep ? LogMode::Deep : LogMode::Basic);
    h.location.form = medium.form;
    h.location.diskIdentity = medium.diskKey;
    h.location.diskNumber = medium.diskNumber;
    h.location.volumePath = medium.volumePath;
    h.location.volumeSectors = medium.volumeSectors;
    h.diskNumber = physical ? static_cast<std::uint16_t>(medium.diskNumber) : 0;
    h.selector = r.log.selector;
    h.fileSystem = classicFileSystem(r.selection.partType);
    h.searchModeName = deep ? storage::kDeepSearchName : storage::kBasicSearchName;
    h.rangeFirst = r.selection.firstSector;
    h.rangeLast = r.selection.lastSector;
    h.volumeFirst = r.selection.firstSector;
    h.volumeSectors = r.selection.lastSector - r.selection.firstSector + 1;
    h.selectionParams = r.scan.params;
    // The working copy is the parameters of the volume decoded last.
    h.workingParams = deep && !r.volumes.empty() ? r.volumes.back() : r.scan.params;
    h.workingPartType = h.workingParams.partType.empty() ? volumes::kUnknown : h.workingParams.partType;
    // NTFS file rows are written only in the NTFS section.
    if (!r.scan.mftFiles.empty()) h.workingPartType = volumes::kNtfs;
    return h;
}

LogExtension extensionOf(const ScanResults& r, const MediumIdentity& medium)
{
    LogExtension e;
    // Absolute, so that a log loaded from another working folder still finds its image.
    std::error_code ec;
    const auto absolute = std::filesystem::absolute(r.selection.devicePath, ec);
    e.devicePath = ec ? r.selection.devicePath : absolute.lexically_normal().string();
    e.deviceIsImage = medium.isImage;
    e.deviceSectors = medium.deviceSectors;
    e.sweptFileSystem = r.selection.partType;
    const auto& s = r.scan;
    e.summary = {s.end, s.paramsFromBootSector, s.paramsFailed, s.paramsFailure, s.foundNothing, s.mediumRemoved,
                 s.directoriesFound, s.unreadableSectors};
    e.selectionParams = s.params;
    e.volumes = r.volumes;
    e.partitions = r.deep.partitions;
    e.bootCandidates = r.deep.bootCandidates;
    e.ntfsVolumes = r.deep.ntfsVolumes;
    e.ntfsRecordsFound = r.deep.ntfsRecordsFound;
    e.decodedFromRoot = r.deep.decodedFromRoot;
    return e;
}

// Results from a log that the classic layout alone describes: one volume for a Basic log, the
// volumes of the partition rows for a Deep log.
std::vector<volumes::VolumeParameters> classicVolumes(const ParsedLog& log)
{
    if (log.header.mode != static_cast<std::uint32_t>(LogMode::Deep)) return {log.header.selectionParams};
    std::vector<volumes::VolumeParameters> out;
    for (const auto& row : log.deepPartitions) out.push_back(recovery::parametersOf(row));
    if (out.empty()) out.push_back(log.header.workingParams);
    return out;
}

std::shared_ptr<ScanResults> resultsOf(LoadedLog& loaded)
{
    const ParsedLog& log = loaded.log;
    const LogHeader& h = log.header;
    auto r = std::make_shared<ScanResults>();
    r->mode = loaded.mode() == LogMode::Deep ? ScanMode::Deep : ScanMode::Basic;
    r->selection.devicePath = loaded.medium.devicePath;
    r->selection.firstSector = h.rangeFirst;
    r->selection.lastSector = h.rangeLast;
    r->scan.folders = std::move(loaded.folders);
    r->scan.mftFiles = log.mftFiles;
    if (const auto& e = log.extension) {
        r->selection.partType = e->sweptFileSystem;
        r->scan.params = e->selectionParams;
        r->volumes = e->volumes;
        const ScanSummary& s = e->summary;
        r->scan.end = s.end;
        r->scan.paramsFromBootSector = s.paramsFromBootSector;
        r->scan.paramsFailed = s.paramsFailed;
        r->scan.paramsFailure = s.paramsFailure;
        r->scan.foundNothing = s.foundNothing;
        r->scan.mediumRemoved = s.mediumRemoved;
        r->scan.directoriesFound = s.directoriesFound;
        r->scan.unreadableSectors = s.unreadableSectors;
        r->deep.partitions = e->partitions;
        r->deep.bootCandidates = e->bootCandidates;
        r->deep.ntfsVolumes = e->ntfsVolumes;
        r->deep.ntfsRecordsFound = e->ntfsRecordsFound;
        r->deep.decodedFromRoot = e->decodedFromRoot;
    } else {
        r->selection.partType = h.fileSystem;
        r->scan.params = h.selectionParams;
        r->volumes = classicVolumes(log);
        r->deep.partitions = log.deepPartitions;
        r->scan.foundNothing = recovery::resultsAreEmpty(r->scan.folders);
        r->scan.directoriesFound = r->scan.folders.folderCount;
        r->scan.paramsFromBootSector = true;
    }
    r->mftIndex = recovery::indexMftFilesByParent(r->scan.mftFiles);
    r->log.selector = h.selector;
    r->log.ntfsScanValue = log.ntfsScanValue;
    r->log.drivePartitions = log.drivePartitions;
    return r;
}

}  // namespace

LogSaveOutcome writeLogOf(const ScanResults& results, const LogSaveRequest& request)
{
    LogSaveOutcome out;
    const std::string& device = results.selection.devicePath;
    // A log written onto the medium being recovered could overwrite what is to be recovered.
    std::string folder = std::filesystem::path(request.path).parent_path().string();
    if (folder.empty()) folder = ".";
    if (exporting::checkDestination(folder, device, request.media.roots.sysfs) ==
        exporting::DestinationVerdict::OnSourceVolume) {
        out.end = LogSaveEnd::OnSourceMedium;
        out.error = Error{ErrorKind::InvalidArgument, 0, request.path, "lies on the medium being recovered"};
        return out;
    }
    auto medium = identifyMedium(request.media, device);
    MediumIdentity identity;
    if (medium) identity = *medium;
    else identity.devicePath = device;  // nothing to name: the log is read back where it was saved from
    const std::string kind = request.driveKind.empty() ? defaultDriveKind(identity, results) : request.driveKind;

    LogContents contents;
    contents.header = headerOf(results, identity, kind);
    contents.folders = &results.scan.folders;
    contents.deepPartitions = &results.deep.partitions;
    contents.mftFiles = &results.scan.mftFiles;
    contents.drivePartitions = &results.log.drivePartitions;
    contents.ntfsScanValue = results.log.ntfsScanValue;
    const LogExtension extension = extensionOf(results, identity);
    contents.extension = &extension;

    auto sink = FileSink::create(request.path);
    if (!sink) {
        out.end = LogSaveEnd::CannotCreate;
        out.error = sink.error();
        return out;
    }
    if (auto written = writeRecoveryLog(**sink, contents); !written) {
        out.end = LogSaveEnd::WriteFailed;
        out.error = written.error();
        out.error.path = request.path;
    }
    return out;
}

LogLoadOutcome RecoverySession::loadLog(const LogLoadRequest& request) const
{
    LoadContext ctx;
    if (request.screenMode) ctx.screenMode = *request.screenMode == ScanMode::Deep ? LogMode::Deep : LogMode::Basic;
    ctx.listMedia = [media = request.media](const std::vector<std::string>& images) {
        MediaListContext c = media;
        c.imagePaths = images;
        return listMedia(c);
    };
    ctx.imagePaths = request.media.imagePaths;
    ctx.namedSource = request.namedSource;
    ctx.prompt = request.prompt;
    ctx.observer = request.observer;
    LoadedLog loaded = loadRecoveryLog(request.path, ctx);

    LogLoadOutcome out;
    out.verdict = loaded.verdict;
    out.medium = loaded.medium;
    out.error = loaded.openError;
    out.fault = loaded.log.fault;
    if (loaded.log.signatureOk && (loaded.log.header.mode == 1 || loaded.log.header.mode == 2))
        out.logMode = loaded.mode() == LogMode::Deep ? ScanMode::Deep : ScanMode::Basic;
    const bool built = loaded.verdict == LoadVerdict::Loaded ||
                       (loaded.verdict == LoadVerdict::Corrupt && loaded.log.locationRead && !loaded.medium.devicePath.empty());
    if (built) out.results = resultsOf(loaded);
    return out;
}

}  // namespace kfr::session
