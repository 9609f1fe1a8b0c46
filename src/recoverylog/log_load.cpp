// Reading a recovery log, rebuilding its tree, and the whole load with its checks.
#include <algorithm>

#include "recoverylog/log_fields.h"
#include "recoverylog/recovery_log.h"
#include "storage/sector_source.h"

namespace kfr::recoverylog {

namespace {

constexpr std::uint32_t kDeep = static_cast<std::uint32_t>(LogMode::Deep);

void readLocation(LogReader& r, LogHeader& h)
{
    Location& l = h.location;
    const std::string form = r.string();
    if (formNameDecides(h.driveKind, h.mode) && form != kPhysicalForm) {
        if (form == kLogicalForm) {
            l.form = LocationForm::Logical;
            l.volumePath = r.string();
            l.volumeSectors = r.u64();
        }
        return;  // any other name: no medium to check
    }
    l.form = LocationForm::Physical;
    l.diskIdentity = r.string();
    l.diskNumber = r.u16();
}

// Reads the header; false when reading must stop (a wrong signature, a mode that is none).
bool readHeader(LogReader& r, ParsedLog& log)
{
    LogHeader& h = log.header;
    h.driveKind = r.string();
    const std::string signature = r.string();
    if (!r.ok()) return false;
    log.signatureOk = signature == kSignature;
    if (!log.signatureOk) return false;
    h.diskModel = r.string();
    h.mode = r.u32();
    if (!r.ok() || (h.mode != 1 && h.mode != kDeep)) return false;
    readLocation(r, h);
    if (!r.ok()) return false;
    log.locationRead = true;
    h.diskNumber = r.u16();
    h.selector = r.u32();
    h.fileSystem = r.string();
    h.searchModeName = r.string();
    h.rangeFirst = r.u64();
    h.rangeLast = r.u64();
    h.volumeFirst = r.u64();
    h.volumeSectors = r.u64();
    FieldReader fields(r);
    classicParamsFields(fields, h.selectionParams);
    classicParamsFields(fields, h.workingParams);
    h.workingPartType = r.string();
    h.selectionParams.partType = h.fileSystem;
    h.workingParams.partType = h.workingPartType;
    log.headerRead = r.ok();
    return log.headerRead;
}

template <std::size_t N>
std::array<std::string, N> readCells(LogReader& r)
{
    std::array<std::string, N> cells;
    for (auto& c : cells) c = r.string();
    return cells;
}

std::uint32_t leadingTabs(const std::string& line)
{
    const auto n = line.find_first_not_of('\t');
    return static_cast<std::uint32_t>(n == std::string::npos ? line.size() : n);
}

void readTree(LogReader& r, ParsedLog& log, ProgressReporter& progress)
{
    const bool deep = log.header.mode == kDeep;
    auto readRecord = [&](LoggedFolder& f) {
        f.name = r.string();
        f.self = r.u32();
        f.parentCluster = r.u32();
        f.date = r.u64();
        f.time = r.u64();
        f.deleted = r.u32() != 0;
        if (deep) f.cluster0Start = static_cast<std::int64_t>(r.u64());
    };
    // "Root" and its record, which is not used; a first line of a single tab has none.
    if (r.line() != "\t") {
        LoggedFolder unused;
        readRecord(unused);
    }
    const std::string marker = endMarker();
    std::vector<std::uint32_t> depth;  // of each folder read: "Root" has 0
    std::int64_t last = -1;            // the folder read last; -1 stands for "Root"
    progress.begin(0, log.folderCounter);
    while (r.ok()) {
        const std::string text = r.line();
        if (!r.ok()) break;
        if (text == marker) {
            log.treeRead = true;
            break;
        }
        if (text.empty()) continue;
        const std::uint32_t d = leadingTabs(text);
        const std::uint32_t lastDepth = last < 0 ? 0 : depth[static_cast<std::size_t>(last)];
        auto parentOf = [&](std::int64_t i) { return i < 0 ? -1 : log.folders[static_cast<std::size_t>(i)].parent; };
        std::int64_t parent = last;
        if (d == lastDepth) {
            parent = parentOf(last);
        } else if (d < lastDepth) {
            // Up lastDepth - d + 1 levels; past the top means the top level.
            for (std::uint32_t up = 0; up < lastDepth - d + 1 && parent >= 0; ++up) parent = parentOf(parent);
        }
        LoggedFolder f;
        f.parent = parent;
        readRecord(f);
        if (!r.ok()) break;
        depth.push_back(parent < 0 ? 1 : depth[static_cast<std::size_t>(parent)] + 1);
        log.folders.push_back(std::move(f));
        last = static_cast<std::int64_t>(log.folders.size()) - 1;
        progress.update(log.folders.size());
    }
    progress.finish();
}

// --- Extension ---

// Reads one record through its field list.
template <typename T, void (*Fields)(FieldReader&, T&)>
T readRecord(LogReader& r)
{
    T value{};
    FieldReader fields(r);
    Fields(fields, value);
    return value;
}

// Reads count elements while they lie within the payload; vectors grow by what is read, never
// by what a count claims.
template <typename T, typename ReadOne>
void readList(LogReader& r, std::uint64_t count, std::uint64_t end, std::vector<T>& out, ReadOne readOne)
{
    for (std::uint64_t i = 0; i < count && r.ok(); ++i) {
        T value = readOne(r);
        if (!r.ok()) return;
        if (r.offset() > end) return r.fail(FaultKind::Inconsistent, "the results part runs past its length");
        out.push_back(std::move(value));
    }
}

void readPayload(LogReader& r, ParsedLog& log, std::uint64_t end)
{
    LogExtension e;
    e.devicePath = r.byteString(1 << 16);
    e.deviceIsImage = r.u8() != 0;
    e.deviceSectors = r.u64();
    e.sweptFileSystem = r.byteString(64);
    ScanSummary& s = e.summary;
    const std::uint8_t scanEnd = r.u8();
    s.paramsFromBootSector = r.u8() != 0;
    s.paramsFailed = r.u8() != 0;
    const std::uint8_t failure = r.u8();
    s.foundNothing = r.u8() != 0;
    s.mediumRemoved = r.u8() != 0;
    s.directoriesFound = r.u64();
    s.unreadableSectors = r.u64();
    if (!r.ok()) return;
    if (scanEnd > static_cast<std::uint8_t>(recovery::ScanEnd::Failed) ||
        failure > static_cast<std::uint8_t>(recovery::ParamsFailure::NotFatOrNtfs))
        return r.fail(FaultKind::Inconsistent, "the scan summary holds values no scan gives");
    s.end = static_cast<recovery::ScanEnd>(scanEnd);
    s.paramsFailure = static_cast<recovery::ParamsFailure>(failure);
    constexpr auto readParams = readRecord<volumes::VolumeParameters, paramsFields<FieldReader, volumes::VolumeParameters>>;
    constexpr auto readPartition = readRecord<recovery::DeepPartitionRecord, partitionFields<FieldReader, recovery::DeepPartitionRecord>>;
    constexpr auto readNtfsVolume = readRecord<recovery::NtfsVolumeGuess, ntfsVolumeFields<FieldReader, recovery::NtfsVolumeGuess>>;
    e.selectionParams = readParams(r);
    readList(r, r.u32(), end, e.volumes, readParams);
    readList(r, r.u32(), end, e.partitions, readPartition);
    readList(r, r.u32(), end, e.bootCandidates, readPartition);
    readList(r, r.u32(), end, e.ntfsVolumes, readNtfsVolume);
    e.ntfsRecordsFound = r.u64();
    e.decodedFromRoot = r.u8() != 0;
    if (!r.ok()) return;

    const std::uint64_t folders = r.u64();
    if (r.ok() && folders != log.folders.size())
        return r.fail(FaultKind::Inconsistent, "the results part names another number of folders than the tree");
    for (auto& f : log.folders) {
        f.item = r.u32();
        f.volume = r.u32();
        f.cluster0Start = static_cast<std::int64_t>(r.u64());
        f.visited = r.u8() != 0;
        if (!r.ok()) return;
    }
    const std::uint64_t rows = r.u64();
    if (r.ok() && rows != log.mftFiles.size())
        return r.fail(FaultKind::Inconsistent, "the results part names another number of file rows than the table");
    for (auto& row : log.mftFiles) {
        row.recordNumber = r.u64();
        row.volume = r.u32();
        row.parentLost = r.u8() != 0;
        if (!r.ok()) return;
    }
    if (r.ok() && r.offset() != end) return r.fail(FaultKind::Inconsistent, "the results part has another length than it says");
    if (r.ok()) log.extension = std::move(e);
}

void readExtension(LogReader& r, ParsedLog& log)
{
    if (r.atEnd()) return;
    if (r.string() != kExtensionMarker || !r.ok()) return;  // not ours: left alone
    const std::uint32_t version = r.u32();
    const std::uint64_t length = r.u64();
    if (!r.ok()) return;
    const std::uint64_t end = r.offset() + length;
    if (end < r.offset()) return r.fail(FaultKind::Inconsistent, "the results part has an impossible length");
    if (version != kExtensionVersion) return r.skip(length);  // a later layout: the classic part serves
    readPayload(r, log, end);
}

// Whether the extension gives every folder the tree item it had: items 2, 3, ... (1 is "Root"),
// each once, every folder after its parent.
bool itemsAreUsable(const ParsedLog& log)
{
    if (!log.extension) return false;
    const std::size_t n = log.folders.size();
    std::vector<bool> seen(n + 2, false);
    for (const auto& f : log.folders) {
        if (f.item < 2 || f.item > n + 1 || seen[f.item]) return false;
        seen[f.item] = true;
        if (f.parent >= 0 && log.folders[static_cast<std::size_t>(f.parent)].item >= f.item) return false;
    }
    return true;
}

}  // namespace

LogProbe probeRecoveryLog(ByteInput& input)
{
    LogProbe probe;
    LogReader r(input);
    r.string();  // the drive kind
    probe.signatureOk = r.string() == kSignature && r.ok();
    if (!probe.signatureOk) return probe;
    r.string();  // the disk model
    const std::uint32_t mode = r.u32();
    if (r.ok()) probe.mode = mode;
    return probe;
}

ParsedLog parseRecoveryLog(ByteInput& input, ScanObserver* observer)
{
    ParsedLog log;
    LogReader r(input);
    ProgressReporter progress(observer);
    if (readHeader(r, log)) {
        const LogHeader& h = log.header;
        const bool deep = h.mode == kDeep;
        if (deep && h.fileSystem != volumes::kNtfs) {
            const std::uint64_t rows = r.u64();
            for (std::uint64_t i = 0; i < rows && r.ok(); ++i) {
                const auto cells = readCells<12>(r);
                if (!r.ok()) break;
                auto row = deepPartitionFromColumns(cells);
                if (!row) r.fail(FaultKind::NotANumber, "a partition row holds a cell that is no number");
                else log.deepPartitions.push_back(std::move(*row));
            }
        }
        log.folderCounter = r.u64();
        if (r.ok()) readTree(r, log, progress);
        if (r.ok() && !log.treeRead) r.fail(FaultKind::Truncated);
        if (r.ok() && h.workingPartType == volumes::kNtfs) {
            const std::uint64_t rows = r.u64();
            for (std::uint64_t i = 0; i < rows && r.ok(); ++i) {
                const auto cells = readCells<6>(r);
                if (!r.ok()) break;
                auto row = mftFileFromColumns(cells);
                if (!row) r.fail(FaultKind::NotANumber, "a file row holds a cell that is no number");
                else log.mftFiles.push_back(std::move(*row));
            }
            log.ntfsScanValue = r.u32();
            if (deep) {
                const std::uint32_t drives = r.u32();
                for (std::uint32_t i = 0; i < drives && r.ok(); ++i) {
                    auto cells = readCells<6>(r);
                    if (r.ok()) log.drivePartitions.push_back(std::move(cells));
                }
            }
        }
        if (r.ok()) readExtension(r, log);
    }
    if (!r.ok()) log.fault = r.fault();
    return log;
}

void rebuildTree(const ParsedLog& log, recovery::FolderResults& results)
{
    recovery::clearResults(results);
    results.loadingLog = true;
    const recovery::ItemId root = results.tree.add(recovery::kNoItem, recovery::kRootName, 0);
    results.tree.item(root).expanded = true;

    std::vector<std::size_t> order(log.folders.size());
    for (std::size_t i = 0; i < order.size(); ++i) order[i] = i;
    if (itemsAreUsable(log))
        std::sort(order.begin(), order.end(), [&](std::size_t a, std::size_t b) { return log.folders[a].item < log.folders[b].item; });

    std::vector<recovery::ItemId> itemOf(log.folders.size(), recovery::kNoItem);
    for (std::size_t i : order) {
        const LoggedFolder& f = log.folders[i];
        const recovery::ItemId parent = f.parent < 0 ? root : itemOf[static_cast<std::size_t>(f.parent)];
        itemOf[i] = recovery::insertFolderNode(results, parent, f.name, f.self, f.parentCluster, f.date, f.time,
                                               f.deleted, f.cluster0Start, f.volume);
        results.nodeOf(itemOf[i])->visited = f.visited;
    }
    results.loadingLog = false;
}

LoadedLog loadRecoveryLog(ByteInput& input, const LoadContext& context)
{
    LoadedLog out;
    out.log = parseRecoveryLog(input, context.observer);
    const ParsedLog& log = out.log;
    if (!log.signatureOk) {
        out.verdict = log.fault ? LoadVerdict::Corrupt : LoadVerdict::NotALog;
        return out;
    }
    // The checks in the order the header is read: signature, mode, location.
    const std::uint32_t mode = log.header.mode;
    if (mode != 1 && mode != kDeep) {
        out.verdict = log.fault ? LoadVerdict::Corrupt : LoadVerdict::MediaMissing;
        return out;
    }
    if (context.screenMode && static_cast<std::uint32_t>(*context.screenMode) != mode) {
        out.verdict = LoadVerdict::OtherMode;
        return out;
    }
    if (!log.locationRead) {
        out.verdict = LoadVerdict::Corrupt;
        return out;
    }

    if (!context.namedSource.empty()) {
        auto named = storage::openSource(context.namedSource);
        if (!named) {
            out.verdict = LoadVerdict::MediaMissing;
            out.openError = named.error();
            return out;
        }
        out.medium = checkNamedMedium(log.header.location, context.namedSource, (*named)->sectorCount());
    } else {
        std::vector<std::string> images = context.imagePaths;
        if (images.empty() && log.extension && log.extension->deviceIsImage) images.push_back(log.extension->devicePath);
        const MediaListing media = context.listMedia ? context.listMedia(images) : listMedia({{}, {}, images});
        out.medium = checkMedia(log.header.location, media, context.prompt);
    }
    switch (out.medium.verdict) {
    case MediaVerdict::Declined: out.verdict = LoadVerdict::Declined; return out;
    case MediaVerdict::Missing: out.verdict = LoadVerdict::MediaMissing; return out;
    case MediaVerdict::Unchecked:
        // Nothing to check: the medium is read where the scan read it.
        if (!out.medium.devicePath.empty()) break;
        if (!log.extension || log.extension->devicePath.empty()) {
            out.verdict = LoadVerdict::MediaMissing;
            return out;
        }
        out.medium.devicePath = log.extension->devicePath;
        break;
    case MediaVerdict::Same:
    case MediaVerdict::Moved: break;
    }
    rebuildTree(log, out.folders);
    out.log.folders.clear();
    out.log.folders.shrink_to_fit();
    out.verdict = log.fault ? LoadVerdict::Corrupt : LoadVerdict::Loaded;
    return out;
}

LoadedLog loadRecoveryLog(const std::string& path, const LoadContext& context)
{
    auto input = FileInput::open(path);
    if (!input) {
        LoadedLog out;
        out.verdict = LoadVerdict::CannotOpen;
        out.openError = input.error();
        return out;
    }
    return loadRecoveryLog(**input, context);
}

}  // namespace kfr::recoverylog
