// NTFS file writer.
#include "export/ntfs_writer.h"

#include <algorithm>
#include <array>
#include <optional>

#include "export/file_times.h"
#include "recovery/lznt1.h"
#include "recovery/mft_reader.h"
#include "recovery/mft_record.h"
#include "storage/sector_sweep.h"

namespace kfr::exporting {

namespace {

constexpr std::uint32_t kRecordSectors = 2;
// Sectors of zeros one sparse run may stand for: far beyond any real file, small enough that
// byte counts never overflow.
constexpr std::uint64_t kMaxSparseSectors = 1ULL << 54;
// NTFS compresses in units of 16 clusters; a unit stated larger than 256 clusters is damaged.
constexpr std::uint8_t kUsualCompressionUnit = 4;
constexpr std::uint8_t kMaxCompressionUnit = 8;

// Walks a run list cluster by cluster range, in VCN order.
class RunCursor {
public:
    explicit RunCursor(const recovery::RunList& runs) : m_runs(runs) {}

    // Up to count clusters from here on, as pieces of runs; fewer when the runs end.
    std::vector<recovery::DataRun> take(std::uint64_t count)
    {
        std::vector<recovery::DataRun> pieces;
        while (count > 0 && m_index < m_runs.size()) {
            const recovery::DataRun& run = m_runs[m_index];
            const std::uint64_t n = std::min(count, run.length - m_offset);
            pieces.push_back({run.sparse ? 0 : run.startCluster + m_offset, n, run.sparse});
            count -= n;
            advance(n);
        }
        return pieces;
    }
    // Clusters left in the current run when it is sparse, else 0.
    std::uint64_t sparseAhead() const
    {
        if (m_index >= m_runs.size() || !m_runs[m_index].sparse) return 0;
        return m_runs[m_index].length - m_offset;
    }
    void advance(std::uint64_t n)
    {
        m_offset += n;
        while (m_index < m_runs.size() && m_offset >= m_runs[m_index].length) {
            m_offset -= m_runs[m_index].length;
            ++m_index;
        }
    }

private:
    const recovery::RunList& m_runs;
    std::size_t m_index = 0;
    std::uint64_t m_offset = 0;
};

// Reads the allocated pieces one after the other into buffer; the byte ranges of buffer that
// could not be read are zeros and listed in unreadable. False when a piece lies past the volume.
bool readPieces(const WriterContext& ctx, const std::vector<recovery::DataRun>& pieces, std::vector<std::uint8_t>& buffer,
                std::vector<ByteRange>& unreadable)
{
    const auto& p = *ctx.params;
    const std::uint64_t volumeClusters = volumes::clustersBefore(p, volumeEndOf(ctx));
    storage::SweepContext sweep;
    sweep.source = ctx.source;
    std::vector<std::uint64_t> rangeOffsets;
    std::uint64_t bytes = 0;
    for (const auto& piece : pieces) {
        if (piece.sparse) continue;
        if (piece.startCluster >= volumeClusters || piece.length > volumeClusters - piece.startCluster) return false;
        rangeOffsets.push_back(bytes);
        sweep.ranges.push_back({p.clusterSector(piece.startCluster), piece.length * p.spc});
        bytes += piece.length * p.spc * storage::kSectorSize;
    }
    buffer.assign(static_cast<std::size_t>(bytes), 0);
    unreadable.clear();
    sweep.blockSectors = static_cast<std::uint32_t>(std::max<std::uint64_t>(1, std::min<std::uint64_t>(bytes / storage::kSectorSize, 2048)));
    storage::sweepSectors(sweep, [&](const storage::SweepBlock& block) {
        const std::uint64_t at = rangeOffsets[block.rangeIndex] + block.offsetInRange * storage::kSectorSize;
        std::copy_n(block.bytes.begin(), static_cast<std::size_t>(block.sectorCount) * storage::kSectorSize,
                    buffer.begin() + static_cast<std::ptrdiff_t>(at));
        for (const auto& run : block.unreadable)
            unreadable.push_back({at + (run.firstSector - block.firstSector) * storage::kSectorSize,
                                  run.sectorCount * storage::kSectorSize});
        return true;
    });
    return true;
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

void writeCompressedStream(const WriterContext& ctx, FileSession& file, const recovery::DataStream& stream,
                           std::uint64_t initializedSize)
{
    if (!file.create()) return;
    const std::uint8_t unitLog = stream.compressionUnit ? stream.compressionUnit : kUsualCompressionUnit;
    if (unitLog > kMaxCompressionUnit) {
        // No unit to decompress by: the clusters as they lie are the best there is.
        file.copy(runListExtents(stream.runs, *ctx.params, volumeEndOf(ctx)), initializedSize);
        return file.finish();
    }
    const std::uint64_t unitClusters = 1ULL << unitLog;
    const std::uint64_t unitBytes = unitClusters * ctx.params->spc * storage::kSectorSize;
    const std::uint64_t size = file.info().size;
    RunCursor cursor(stream.runs);
    std::vector<std::uint8_t> stored, unit(static_cast<std::size_t>(unitBytes));
    std::vector<ByteRange> unreadable;
    std::uint64_t written = 0;
    // As for uncompressed data: runs that give more clusters than the volume holds are damaged.
    const std::uint64_t volumeClusters = volumes::clustersBefore(*ctx.params, volumeEndOf(ctx));
    std::uint64_t clustersRead = 0;
    while (written < size && !file.ended()) {
        const std::uint64_t want = std::min(unitBytes, size - written);
        // Whole units of a sparse run are zeros, however many: one write.
        if (const std::uint64_t sparseUnits = cursor.sparseAhead() / unitClusters; sparseUnits > 0) {
            const std::uint64_t zeros =
                sparseUnits > (size - written) / unitBytes ? size - written : sparseUnits * unitBytes;
            cursor.advance(zeros / unitBytes * unitClusters);
            file.writeZeros(zeros);
            written += zeros;
            continue;
        }
        const auto pieces = cursor.take(unitClusters);
        std::uint64_t clusters = 0, allocated = 0;
        for (const auto& piece : pieces) {
            clusters += piece.length;
            if (!piece.sparse) allocated += piece.length;
        }
        if (clusters == 0) break;  // the runs end before the size: the file is short
        clustersRead += allocated;
        if (clustersRead > volumeClusters || !readPieces(ctx, pieces, stored, unreadable)) {
            file.setShortReason(pastEndReason(ctx));
            break;
        }
        Bytes data = stored;
        if (allocated == 0) {
            std::fill(unit.begin(), unit.end(), 0);
            data = unit;
        } else if (allocated < unitClusters) {
            // LZNT1 in the allocated clusters. Decompressed from unreadable input it would be
            // garbage: such a unit is zeros, all of it unreadable; damaged data gives zeros from
            // where it fails.
            const recovery::Lznt1Result r = recovery::decompressLznt1(stored, unit);
            const std::uint64_t good = !unreadable.empty() ? 0 : r.damaged ? r.produced : unitBytes;
            std::fill(unit.begin() + static_cast<std::ptrdiff_t>(good), unit.end(), 0);
            unreadable.clear();
            if (good < want) unreadable.push_back({good, unitBytes - good});
            data = unit;
        }
        const std::uint64_t take = std::min<std::uint64_t>(want, data.size());
        std::vector<std::uint8_t> out(data.begin(), data.begin() + static_cast<std::ptrdiff_t>(take));
        // Past the valid data length the file reads as zeros.
        if (initializedSize < written + take) {
            const std::uint64_t keep = initializedSize > written ? initializedSize - written : 0;
            std::fill(out.begin() + static_cast<std::ptrdiff_t>(keep), out.end(), 0);
        }
        for (const ByteRange& r : unreadable)
            if (r.offset < take) file.noteUnreadable(written + r.offset, std::min(r.length, take - r.offset));
        file.writeBytes(out);
        written += take;
        if (clusters < unitClusters) break;  // the runs ended inside this unit
    }
    file.finish();
}

FileOutcome writeNtfsFile(const WriterContext& ctx, const NtfsSaveRequest& request)
{
    recovery::MftRecordBytes record{};
    const bool readable = ctx.source->read(request.recordSector, kRecordSectors, record) &&
                          recovery::applyFixup(record) == recovery::RecordVerdict::Usable;
    std::optional<recovery::DataStream> data;
    if (readable) {
        const std::uint64_t number =
            request.recordNumber == kRecordNumberFromRecord ? recovery::statedRecordNumber(record) : request.recordNumber;
        recovery::FileRecords records;
        const auto attrs = recovery::listAttributes(record);
        const bool hasList = std::any_of(attrs.begin(), attrs.end(), [](const recovery::AttributeRef& a) {
            return a.type == recovery::kAttrAttributeList;
        });
        if (hasList) {
            // Only a file with a list needs the $MFT's map, to find its extension records.
            const recovery::MftReader reader(*ctx.source, *ctx.params, volumeEndOf(ctx));
            records = reader.fileRecords(number, record);
        } else {
            records.numbers.push_back(number);
            records.records.push_back(record);
        }
        data = recovery::findDataStream(records, request.streamName);
    }
    const bool resident = data && data->resident;
    const bool nonResident = data && !data->resident;
    // A stream asked for by name that the record does not hold has no data to give.
    const bool missingStream = readable && !data && !request.streamName.empty();

    std::uint64_t size = request.size;
    std::uint64_t initialized = UINT64_MAX;
    if (resident) {
        size = data->value.size();
    } else if (nonResident) {
        if (size == 0) {
            size = 4096;  // as the FAT writer does for an entry without a size
        } else if (data->size == size) {
            initialized = data->initializedSize;
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
    } else if (missingStream) {
        file.finish(FileOutcome::NoData);
    } else if (resident) {
        if (data->valueBroken) {
            file.finish(FileOutcome::NoData);
        } else if (file.create()) {
            file.writeBytes(data->value);
        }
    } else if (nonResident) {
        if (data->encrypted()) {
            file.setEncrypted();
            if (ctx.observer && !ctx.openingMode)
                ctx.observer->onProblem(Error{ErrorKind::Implausible, request.recordSector, request.targetPath,
                                              "the file is encrypted: saved as stored, readable only with its "
                                              "owner's key"});
        }
        if (data->runs.empty()) {
            file.finish(FileOutcome::NoData);
        } else if (data->compressed() && !data->encrypted()) {
            writeCompressedStream(ctx, file, *data, initialized);
        } else {
            writeRunList(ctx, file, data->runs, initialized);
        }
    } else {
        // No unnamed data attribute (only named streams, or none): an empty file.
        file.create();
    }
    file.finish();
    return file.outcome();
}

}  // namespace kfr::exporting
