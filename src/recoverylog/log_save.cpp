// Writing a recovery log: the classic layout, then the extension.
#include <algorithm>

#include "recoverylog/log_fields.h"
#include "recoverylog/recovery_log.h"

namespace kfr::recoverylog {

namespace {

void writeLocation(LogWriter& w, const LogHeader& h)
{
    const Location& l = h.location;
    if (formNameDecides(h.driveKind, h.mode) && l.form != LocationForm::Physical) {
        if (l.form == LocationForm::Logical) {
            w.string(kLogicalForm);
            w.string(l.volumePath);
            w.u64(l.volumeSectors);
        } else {
            // No medium: an empty form name. (Writing nothing at all, as older writers did, makes
            // a reader take the disk number that follows for the form name.)
            w.string("");
        }
        return;
    }
    // Every other kind is followed by a disk, whatever the form says.
    w.string(kPhysicalForm);
    w.string(l.diskIdentity);
    w.u16(static_cast<std::uint16_t>(l.diskNumber));
}

void writeHeader(LogWriter& w, const LogHeader& h)
{
    w.string(h.driveKind);
    w.string(kSignature);
    w.string(h.diskModel);
    w.u32(h.mode);
    writeLocation(w, h);
    w.u16(h.diskNumber);
    w.u32(h.selector);
    w.string(h.fileSystem);
    w.string(h.searchModeName);
    w.u64(h.rangeFirst);
    w.u64(h.rangeLast);
    w.u64(h.volumeFirst);
    w.u64(h.volumeSectors);
    FieldWriter fields(w);
    classicParamsFields(fields, h.selectionParams);
    classicParamsFields(fields, h.workingParams);
    w.string(h.workingPartType);
}

// A tree Line only gives the depth (its leading tabs) and ends at CR LF: control characters a
// name may hold on NTFS are written as "_" there. The record keeps the name as it is.
std::string lineText(const std::string& name)
{
    std::string out = name;
    for (char& c : out)
        if (static_cast<unsigned char>(c) < 0x20) c = '_';
    return out;
}

void writeRecord(LogWriter& w, const std::string& name, const recovery::FolderNode* node, bool deep)
{
    w.string(node ? name : std::string());
    w.u32(node ? node->self : 0);
    w.u32(node ? node->parent : 0);
    w.u64(node ? node->date : 0);
    w.u64(node ? node->time : 0);
    w.u32(node && node->deleted ? 1 : 0);
    if (deep) w.u64(node ? static_cast<std::uint64_t>(node->cluster0Start) : 0);
}

// The items below "Root" in pre-order, each with its depth (the children of "Root" have 1).
template <typename Visit>
void forEachBelowRoot(const recovery::ResultTree& tree, Visit visit)
{
    std::vector<std::uint32_t> depth(tree.itemCount() + 1, 0);
    const recovery::ItemId root = tree.firstTopLevel();
    for (recovery::ItemId id : tree.preOrder()) {
        if (id == root) continue;
        const recovery::ItemId parent = tree.item(id).parent;
        const std::uint32_t d = parent == recovery::kNoItem ? 1 : std::max<std::uint32_t>(depth[parent] + 1, 1);
        depth[id] = d;
        if (!visit(id, d)) return;
    }
}

void writeTree(LogWriter& w, const recovery::FolderResults& folders, bool deep)
{
    w.line(recovery::kRootName);
    w.string(kRootItemName);
    w.u32(0);
    w.u32(0);
    w.u64(0);
    w.u64(0);
    w.u32(0);
    if (deep) w.u64(0);
    forEachBelowRoot(folders.tree, [&](recovery::ItemId id, std::uint32_t d) {
        w.line(std::string(d, '\t') + lineText(folders.tree.item(id).name));
        writeRecord(w, folders.tree.item(id).name, folders.nodeOf(id), deep);
        return w.ok();
    });
    w.line(endMarker());
}

void writeNtfsSection(LogWriter& w, const LogContents& c, bool deep)
{
    const std::size_t rows = c.mftFiles ? c.mftFiles->size() : 0;
    w.u64(rows);
    for (std::size_t i = 0; i < rows && w.ok(); ++i)
        for (const auto& cell : mftFileColumns((*c.mftFiles)[i])) w.string(cell);
    w.u32(c.ntfsScanValue);
    if (!deep) return;
    const std::size_t drives = c.drivePartitions ? c.drivePartitions->size() : 0;
    w.u32(static_cast<std::uint32_t>(drives));
    for (std::size_t i = 0; i < drives && w.ok(); ++i)
        for (const auto& cell : (*c.drivePartitions)[i]) w.string(cell);
}

// --- Extension ---

void writePayload(LogWriter& w, const LogContents& c)
{
    const LogExtension& e = *c.extension;
    w.byteString(e.devicePath);
    w.u8(e.deviceIsImage ? 1 : 0);
    w.u64(e.deviceSectors);
    w.byteString(e.sweptFileSystem);
    const ScanSummary& s = e.summary;
    w.u8(static_cast<std::uint8_t>(s.end));
    w.u8(s.paramsFromBootSector ? 1 : 0);
    w.u8(s.paramsFailed ? 1 : 0);
    w.u8(static_cast<std::uint8_t>(s.paramsFailure));
    w.u8(s.foundNothing ? 1 : 0);
    w.u8(s.mediumRemoved ? 1 : 0);
    w.u64(s.directoriesFound);
    w.u64(s.unreadableSectors);
    FieldWriter fields(w);
    paramsFields(fields, e.selectionParams);
    w.u32(static_cast<std::uint32_t>(e.volumes.size()));
    for (const auto& p : e.volumes) paramsFields(fields, p);
    w.u32(static_cast<std::uint32_t>(e.partitions.size()));
    for (const auto& r : e.partitions) partitionFields(fields, r);
    w.u32(static_cast<std::uint32_t>(e.bootCandidates.size()));
    for (const auto& r : e.bootCandidates) partitionFields(fields, r);
    w.u32(static_cast<std::uint32_t>(e.ntfsVolumes.size()));
    for (const auto& v : e.ntfsVolumes) ntfsVolumeFields(fields, v);
    w.u64(e.ntfsRecordsFound);
    w.u8(e.decodedFromRoot ? 1 : 0);

    // Per folder, in the order of the tree section: its tree item, volume, Cluster0Start, and
    // whether its directory was read to name its children.
    const recovery::FolderResults& f = *c.folders;
    std::uint64_t count = 0;
    forEachBelowRoot(f.tree, [&](recovery::ItemId, std::uint32_t) { return ++count, true; });
    w.u64(count);
    forEachBelowRoot(f.tree, [&](recovery::ItemId id, std::uint32_t) {
        const recovery::FolderNode* node = f.nodeOf(id);
        w.u32(id);
        w.u32(node ? node->volume : 0);
        w.u64(node ? static_cast<std::uint64_t>(node->cluster0Start) : 0);
        w.u8(node && node->visited ? 1 : 0);
        return w.ok();
    });

    // The rows of the NTFS section, which is there only when the working PartType is NTFS.
    const bool ntfsSection = c.header.workingPartType == volumes::kNtfs;
    const std::size_t rows = ntfsSection && c.mftFiles ? c.mftFiles->size() : 0;
    w.u64(rows);
    for (std::size_t i = 0; i < rows && w.ok(); ++i) {
        const recovery::MftFileRow& row = (*c.mftFiles)[i];
        w.u64(row.recordNumber);
        w.u32(row.volume);
        w.u8(row.parentLost ? 1 : 0);
    }
}

// Counts bytes and keeps none: the payload is written twice, once to learn its length.
class CountingSink final : public ByteSink {
public:
    Status write(Bytes) override { return okStatus(); }
};

}  // namespace

bool formNameDecides(const std::string& driveKind, std::uint32_t mode)
{
    return driveKind == kLogicalKind || (mode == static_cast<std::uint32_t>(LogMode::Deep) && driveKind == kRecognisedKind);
}

Status writeRecoveryLog(ByteSink& sink, const LogContents& c)
{
    LogWriter w(sink);
    const LogHeader& h = c.header;
    const bool deep = h.mode == static_cast<std::uint32_t>(LogMode::Deep);
    writeHeader(w, h);
    if (deep && h.fileSystem != volumes::kNtfs) {
        const std::size_t rows = c.deepPartitions ? c.deepPartitions->size() : 0;
        w.u64(rows);
        for (std::size_t i = 0; i < rows && w.ok(); ++i)
            for (const auto& cell : deepPartitionColumns((*c.deepPartitions)[i])) w.string(cell);
    }
    w.u64(c.folders->folderCount);
    writeTree(w, *c.folders, deep);
    if (h.workingPartType == volumes::kNtfs) writeNtfsSection(w, c, deep);
    if (c.extension && w.ok()) {
        CountingSink counter;
        LogWriter measure(counter);
        writePayload(measure, c);
        w.string(kExtensionMarker);
        w.u32(kExtensionVersion);
        w.u64(measure.written());
        writePayload(w, c);
    }
    return w.finish();
}

Status saveRecoveryLog(const std::string& path, const LogContents& contents)
{
    auto sink = FileSink::create(path);
    if (!sink) return sink.error();
    return writeRecoveryLog(**sink, contents);
}

}  // namespace kfr::recoverylog
