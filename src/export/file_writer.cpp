// Shared writer steps and the extent copy.
#include "export/file_writer.h"

#include <algorithm>
#include <chrono>
#include <optional>

namespace kfr::exporting {

namespace {

// Sectors read per request: large reads keep the medium streaming; an unreadable batch is read
// again chunk by chunk so that only the chunks that fail become zeros.
constexpr std::uint64_t kBatchSectors = 2048;  // 1 MiB
constexpr std::int64_t kReportIntervalMs = 100;

std::int64_t nowMs()
{
    return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

}  // namespace

std::uint32_t chunkBytesFor(std::uint32_t sectorsPerCluster)
{
    return sectorsPerCluster >= 8 ? 4096 : 512;
}

std::uint64_t volumeEndOf(const WriterContext& ctx)
{
    std::uint64_t end = ctx.volumeEndSector ? ctx.volumeEndSector : UINT64_MAX;
    if (ctx.source && ctx.source->sectorCount()) end = std::min(end, ctx.source->sectorCount());
    return end;
}

ShortReason pastEndReason(const WriterContext& ctx)
{
    // The medium ends no later than the volume: a cut-off image or a failing disk.
    const std::uint64_t medium = ctx.source ? ctx.source->sectorCount() : 0;
    const bool mediumEnds = medium && volumeEndOf(ctx) >= medium;
    return mediumEnds ? ShortReason::PastMediumEnd : ShortReason::PastVolumeEnd;
}

FileSession::FileSession(const WriterContext& context, const std::string& targetPath, const std::string& displayName,
                         std::uint64_t size, bool checkExisting)
    : m_ctx(context), m_files(context.files ? *context.files : posixOutputFiles())
{
    SaveRunState& state = *m_ctx.state;
    m_skipBaseline = state.skipRequested.load();
    m_info.targetPath = targetPath;
    m_info.displayName = displayName;
    m_info.size = size;
    m_info.barStep = chunkBytesFor(m_ctx.params ? m_ctx.params->spc : 0);
    m_info.totalFiles = state.totalFilesToSave;
    SaveObserver* observer = this->observer();

    // The name is taken by creating the file: only when that finds it taken are the collision
    // rules asked. Any other failure is met again, and reported, by create().
    bool taken = false;
    if (checkExisting) {
        auto fresh = m_files.createNew(targetPath);
        taken = fresh && !*fresh;
        if (fresh && *fresh) m_pending = std::move(fresh).value();
    }
    if (taken) {
        CollisionState fallback;  // nobody to ask and no answers kept: the file is skipped
        CollisionState& collisions = m_ctx.collisions ? *m_ctx.collisions : fallback;
        const CollisionOutcome c = collisionStep(targetPath, collisions, m_ctx.prompt, m_files, m_ctx.maxNameBytes);
        if (!c.proceed) {
            m_ended = true;
            m_result.outcome = FileOutcome::Declined;
            if (observer) observer->onFileFinished(m_result);
            return;
        }
        m_info.targetPath = c.targetPath;
        m_info.displayName = c.displayName;
    }
    m_info.fileNumber = ++state.filesWritten;
    if (observer) {
        observer->onFileStarted(m_info);
        m_lastReportedBytes = 0;
        observer->onFileBytes(0, m_info.size);
    }
}

FileSession::~FileSession()
{
    finish(m_out ? FileOutcome::Written : FileOutcome::NoData);
}

SaveObserver* FileSession::observer() const
{
    return m_ctx.openingMode ? nullptr : m_ctx.observer;
}

void FileSession::reportDiskFull()
{
    if (SaveObserver* o = observer()) o->onDiskFull();
}

bool FileSession::create()
{
    if (m_ended) return false;
    if (m_pending) {
        m_out = std::move(m_pending);
        return true;
    }
    auto out = m_files.create(m_info.targetPath);
    if (!out) {
        const Error& e = out.error();
        if (e.kind == ErrorKind::DiskFull) {
            reportDiskFull();
            end(FileOutcome::DiskFull);
        } else {
            if (SaveObserver* o = observer()) o->onProblem(e);
            end(FileOutcome::NotCreated);
        }
        return false;
    }
    m_out = std::move(out).value();
    return true;
}

bool FileSession::stopRequested()
{
    SaveRunState& state = *m_ctx.state;
    if (state.cancelRequested) {
        end(FileOutcome::Cancelled);
        return true;
    }
    if (state.skipRequested.load() != m_skipBaseline) {
        end(FileOutcome::Skipped);
        return true;
    }
    return false;
}

bool FileSession::writeOut(const std::uint8_t* data, std::uint64_t length)
{
    const Status s = data ? m_out->write({data, static_cast<std::size_t>(length)}) : m_out->writeZeros(length);
    if (s.ok()) {
        m_written += length;
        reportBytes(false);
        return true;
    }
    failWrite(s.error());
    return false;
}

void FileSession::failWrite(const Error& error)
{
    if (error.kind == ErrorKind::DiskFull) {
        reportDiskFull();
        end(FileOutcome::DiskFull);
    } else {
        if (SaveObserver* o = observer()) o->onProblem(error);
        end(FileOutcome::WriteFailed);
    }
}

void FileSession::reportBytes(bool force)
{
    SaveObserver* observer = this->observer();
    if (!observer) return;
    const std::uint64_t size = m_info.size;
    const std::uint64_t percent =
        size ? static_cast<std::uint64_t>(static_cast<long double>(std::min(m_written, size)) * 100 / size) : 100;
    const std::int64_t now = nowMs();
    if (force && m_written == m_lastReportedBytes) return;
    if (force || percent != m_lastPercent || now - m_lastReportMs >= kReportIntervalMs) {
        m_lastPercent = percent;
        m_lastReportMs = now;
        m_lastReportedBytes = m_written;
        observer->onFileBytes(m_written, size);
    }
}

void FileSession::copy(const std::vector<SectorExtent>& extents, std::uint64_t initializedSize)
{
    if (m_ended || !m_out) return;
    const storage::SectorSource& source = *m_ctx.source;
    const std::uint64_t chunkSectors = chunkBytesFor(m_ctx.params->spc) / storage::kSectorSize;
    const std::uint64_t volumeEnd = volumeEndOf(m_ctx);
    const std::uint64_t size = m_info.size;
    std::vector<std::uint8_t> buffer;
    // An image file's bytes go from file to file inside the kernel; a device, a source that is
    // not a plain file and anything the kernel declines are read and written here.
    const std::optional<storage::ImageFile> image = source.imageFile();
    bool kernelCopy = image.has_value() && !(m_ctx.state && m_ctx.state->kernelCopyRefused.load());
    MappedImage* mapped = image ? m_ctx.image : nullptr;
    for (const SectorExtent& extent : extents)
        if (!extent.zeros && extent.sectorCount) {
            m_result.firstSector = extent.firstSector;
            break;
        }
    // Running out of extents before the size is a chain or run list that ends early.
    if (m_result.reason == ShortReason::None) m_result.reason = ShortReason::ChainEnded;

    for (const SectorExtent& extent : extents) {
        std::uint64_t sector = extent.firstSector;
        std::uint64_t left = extent.sectorCount;
        while (left > 0) {
            if (m_written >= size) return finish();
            if (stopRequested()) return;
            const std::uint64_t wanted = size - m_written;
            const std::uint64_t neededSectors = wanted / storage::kSectorSize + (wanted % storage::kSectorSize != 0);
            if (extent.zeros) {
                const std::uint64_t sectors = std::min(left, neededSectors);
                const std::uint64_t bytes =
                    sectors > UINT64_MAX / storage::kSectorSize ? wanted : std::min(wanted, sectors * storage::kSectorSize);
                if (!writeOut(nullptr, bytes)) return;
                left -= sectors;
                continue;
            }
            // Data beyond the volume (or the medium) does not exist: the file ends here.
            if (sector >= volumeEnd) {
                m_result.reason = pastEndReason(m_ctx);
                return finish();
            }
            std::uint64_t count = std::min({left, kBatchSectors, volumeEnd - sector});
            count = std::min(count, (neededSectors + chunkSectors - 1) / chunkSectors * chunkSectors);
            const std::size_t bytes = static_cast<std::size_t>(count * storage::kSectorSize);
            std::size_t take = static_cast<std::size_t>(std::min<std::uint64_t>(bytes, wanted));
            std::size_t copied = 0;  // bytes of this batch appended without reading them here
            if (initializedSize >= m_written + take) {
                const std::uint64_t offset = storage::byteOffsetOf(sector);
                if (kernelCopy) {
                    const Result<std::uint64_t> c = m_out->appendFrom(image->fd, offset, take);
                    if (!c) return failWrite(c.error());
                    copied = static_cast<std::size_t>(*c);
                    if (copied < take) kernelCopy = false;  // the rest of the file goes another way
                    if (copied == 0 && m_written == 0 && m_ctx.state) m_ctx.state->kernelCopyRefused = true;
                }
                if (copied == 0 && mapped && mapped->window.covers(offset, take)) {
                    const Result<std::uint64_t> c = m_out->appendMapped(mapped->window.bytes(offset, take));
                    if (!c) return failWrite(c.error());
                    copied = static_cast<std::size_t>(*c);
                    mapped->noteCopied(copied);
                    if (copied < take) mapped = nullptr;  // a page that cannot be read: the rest is read here
                }
                if (copied == take) {
                    m_written += take;
                    reportBytes(false);
                    sector += count;
                    left -= count;
                    continue;
                }
            }
            buffer.assign(bytes, 0);
            if (!source.read(sector, static_cast<std::uint32_t>(count), buffer)) {
                // A medium that went away gives nothing more: zeros would only pretend.
                if (!source.present()) {
                    m_result.reason = ShortReason::MediumRemoved;
                    return finish();
                }
                for (std::uint64_t c = 0; c < count; c += chunkSectors) {
                    const std::uint64_t n = std::min(chunkSectors, count - c);
                    auto piece = std::span<std::uint8_t>(buffer).subspan(static_cast<std::size_t>(c * storage::kSectorSize),
                                                                        static_cast<std::size_t>(n * storage::kSectorSize));
                    if (source.read(sector + c, static_cast<std::uint32_t>(n), piece)) continue;
                    std::fill(piece.begin(), piece.end(), 0);
                    // Bytes the kernel already copied were read then: only what follows is lost.
                    const std::uint64_t from = std::max<std::uint64_t>(c * storage::kSectorSize, copied);
                    const std::uint64_t to = std::min<std::uint64_t>((c + n) * storage::kSectorSize, take);
                    if (from < to) noteUnreadable(m_written + from, to - from);
                }
            }
            // Past the valid data length the file reads as zeros.
            if (initializedSize < m_written + take) {
                const std::uint64_t keep = initializedSize > m_written ? initializedSize - m_written : 0;
                std::fill(buffer.begin() + static_cast<std::ptrdiff_t>(keep), buffer.begin() + static_cast<std::ptrdiff_t>(take), 0);
            }
            m_written += copied;
            if (!writeOut(buffer.data() + copied, take - copied)) return;
            sector += count;
            left -= count;
        }
    }
    finish();
}

void FileSession::writeBytes(std::span<const std::uint8_t> bytes)
{
    if (m_ended || !m_out) return;
    if (stopRequested()) return;
    writeOut(bytes.data(), bytes.size());
}

void FileSession::writeZeros(std::uint64_t length)
{
    if (m_ended || !m_out) return;
    if (stopRequested()) return;
    writeOut(nullptr, length);
}

void FileSession::finish(FileOutcome outcome)
{
    if (m_ended) return;
    if (outcome == FileOutcome::Written && m_written < m_info.size) {
        outcome = FileOutcome::Incomplete;
        if (m_result.reason == ShortReason::None) m_result.reason = ShortReason::ChainEnded;
    }
    end(outcome);
}

void FileSession::noteUnreadable(std::uint64_t offset, std::uint64_t length)
{
    auto& ranges = m_result.unreadable;
    if (!ranges.empty() && ranges.back().offset + ranges.back().length == offset)
        ranges.back().length += length;
    else
        ranges.push_back({offset, length});
}

void FileSession::end(FileOutcome outcome)
{
    if (m_ended) return;
    m_ended = true;
    if (m_pending) {
        // Made when the name was taken, but the file ended before any data: no file, as if the
        // name had only been tested.
        m_pending->close();
        m_pending.reset();
        m_files.removeFile(m_info.targetPath);
    }
    if (m_out) {
        if (m_hasModified) m_out->setModifiedTime(m_modified);
        const Status closed = m_out->close();
        m_out.reset();
        if (!closed.ok() && outcome == FileOutcome::Written) {
            if (closed.error().kind == ErrorKind::DiskFull) {
                outcome = FileOutcome::DiskFull;
                reportDiskFull();
            } else {
                outcome = FileOutcome::WriteFailed;
                if (SaveObserver* o = observer()) o->onProblem(closed.error());
            }
        }
    }
    if (outcome != FileOutcome::Incomplete) m_result.reason = ShortReason::None;
    m_result.outcome = outcome;
    m_result.bytesWritten = m_written;
    reportBytes(true);
    if (SaveObserver* o = observer()) o->onFileFinished(m_result);
}

}  // namespace kfr::exporting
