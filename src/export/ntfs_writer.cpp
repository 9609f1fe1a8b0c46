// NTFS file writer.
#include "export/ntfs_writer.h"

#include <algorithm>
#include <array>
#include <optional>

#include "export/file_times.h"
#include "recovery/mft_record.h"

namespace kfr::exporting {

namespace {

constexpr std::uint32_t kRecordSectors = 2;
constexpr std::size_t kRealSizeField = 0x30;        // non-resident attribute: bytes of data
constexpr std::size_t kInitializedSizeField = 0x38; // non-resident attribute: bytes actually written
// Sectors of zeros one sparse run may stand for: far beyond any real file, small enough that
// byte counts never overflow.
constexpr std::uint64_t kMaxSparseSectors = 1ULL << 54;

// The first unnamed data attribute, or nothing.
std::optional<recovery::AttributeRef> unnamedData(Bytes record)
{
    for (const auto& attr : recovery::listAttributes(record))
        if (attr.type == recovery::kAttrData && attr.nameLength == 0) return attr;
    return std::nullopt;
}

}  // namespace

std::vector<SectorExtent> runListExtents(const recovery::RunList& runs, const volumes::VolumeParameters& params,
                                         std::uint64_t volumeEndSector, bool* clipped)
{
    std::vector<SectorExtent> extents;
    bool cut = false;
    const std::uint64_t spc = params.spc;
    const std::uint64_t volumeClusters = volumes::clustersBefore(params, volumeEndSector);
    if (clipped) *clipped = false;
    if (volumeClusters == 0) {
        if (clipped) *clipped = !runs.empty();
        return extents;
    }
    std::uint64_t dataClusters = 0;
    for (const auto& run : runs) {
        if (run.length == 0) continue;
        if (run.sparse) {
            const std::uint64_t sectors = run.length > kMaxSparseSectors / spc ? kMaxSparseSectors : run.length * spc;
            extents.push_back({0, sectors, true});
            continue;
        }
        if (run.startCluster >= volumeClusters) {
            cut = true;
            break;
        }
        std::uint64_t count = std::min(run.length, volumeClusters - run.startCluster);
        if (count < run.length) cut = true;
        count = std::min(count, volumeClusters - dataClusters);
        if (count > 0) extents.push_back({params.clusterSector(run.startCluster), count * spc, false});
        dataClusters += count;
        if (count < run.length || dataClusters >= volumeClusters) break;
    }
    if (clipped) *clipped = cut;
    return extents;
}

void writeRunList(const WriterContext& ctx, FileSession& file, const recovery::RunList& runs,
                  std::uint64_t initializedSize)
{
    if (!file.create()) return;
    bool clipped = false;
    const auto extents = runListExtents(runs, *ctx.params, volumeEndOf(ctx), &clipped);
    if (clipped) file.setShortReason(pastEndReason(ctx));
    file.copy(extents, initializedSize);
    file.finish();
}

FileOutcome writeNtfsFile(const WriterContext& ctx, const NtfsSaveRequest& request)
{
    std::array<std::uint8_t, recovery::kMftRecordBytes> record{};
    const bool readable = ctx.source->read(request.recordSector, kRecordSectors, record) &&
                          recovery::applyFixup(record) == recovery::RecordVerdict::Usable;
    const auto data = readable ? unnamedData(record) : std::nullopt;
    const bool resident = data && data->nonResident == 0;
    const bool nonResident = data && data->nonResident == 1;

    std::uint64_t size = request.size;
    std::optional<Bytes> value;
    recovery::RunList runs;
    std::uint64_t initialized = UINT64_MAX;
    if (resident) {
        value = recovery::residentValue(record, *data);
        if (value) size = value->size();
    } else if (nonResident) {
        auto decoded = recovery::decodeRunList(record, data->offset);
        if (decoded) runs = std::move(decoded).value();
        if (size == 0) {
            size = 4096;  // as the FAT writer does for an entry without a size
        } else if (readLe64(record, data->offset + kRealSizeField) == size) {
            initialized = readLe64(record, data->offset + kInitializedSizeField);
        }
    } else if (readable) {
        size = 0;
    }

    FileSession file(ctx, request.targetPath, request.displayName, size, request.checkExisting);
    if (file.ended()) return file.outcome();
    if (readable)
        if (const auto stamp = recovery::modificationTime(record))
            if (const auto modified = ntfsStampTime(*stamp)) file.setModifiedTime(*modified);
    if (!readable) {
        if (ctx.observer && !ctx.openingMode)
            ctx.observer->onProblem(Error{ErrorKind::ReadFailed, request.recordSector, request.targetPath,
                                          "the file record cannot be read"});
        file.finish(FileOutcome::NoData);
    } else if (resident) {
        if (!value) {
            file.finish(FileOutcome::NoData);
        } else if (file.create()) {
            file.writeBytes(*value);
        }
    } else if (nonResident) {
        if (runs.empty()) {
            file.finish(FileOutcome::NoData);
        } else {
            writeRunList(ctx, file, runs, initialized);
        }
    } else {
        // No unnamed data attribute (only named streams, or none): an empty file.
        file.create();
    }
    file.finish();
    return file.outcome();
}

}  // namespace kfr::exporting
