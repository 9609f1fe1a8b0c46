// The block sweep shared by every scan.
#include "storage/sector_sweep.h"

#include <algorithm>
#include <chrono>
#include <optional>
#include <vector>

#include "storage/mapped_window.h"

namespace kfr::storage {

namespace {

// Bytes of an image file mapped at a time: large enough that mapping costs nothing next to the
// reading, small enough that the mapped pages a sweep has touched stay a small part of its memory.
constexpr std::size_t kWindowBytes = std::size_t{16} << 20;

// Each way of taking cached image blocks handles at least this many blocks and bytes before
// the faster one is kept.
constexpr std::size_t kTrialBlocks = 16;
constexpr std::uint64_t kTrialBytes = std::uint64_t{4} << 20;

// Settles how cached image blocks are taken: given a way, that way; measured, mapped and read
// blocks alternate, each timed from its read to the handler's return (the handler is where mapped
// pages fault in), and the way with the lower median time per byte is kept. The median, because
// the handler's own work now and then costs a block far more (a table it fills growing).
class ReadingTrial {
public:
    explicit ReadingTrial(ImageReading given) : m_way(given) {}

    bool measuring() const { return m_way == ImageReading::Measured; }
    // Whether the next block is to be taken through the mapping.
    bool mapNext() const { return m_way == ImageReading::Mapped || (measuring() && m_mapTurn); }

    // One block of bytes taken one way (mapped or read) took this long. True when it settled the way.
    bool add(bool mapped, std::uint64_t bytes, std::chrono::steady_clock::duration took)
    {
        Way& way = m_ways[mapped ? 1 : 0];
        way.bytes += bytes;
        way.perByte.push_back(std::chrono::duration<double>(took).count() / static_cast<double>(bytes));
        m_mapTurn = !mapped;
        for (const Way& w : m_ways)
            if (w.perByte.size() < kTrialBlocks || w.bytes < kTrialBytes) return false;
        m_way = m_ways[1].median() <= m_ways[0].median() ? ImageReading::Mapped : ImageReading::Read;
        return true;
    }

private:
    struct Way {
        std::uint64_t bytes = 0;
        std::vector<double> perByte;  // seconds per byte of each block

        double median()
        {
            const auto middle = perByte.begin() + static_cast<std::ptrdiff_t>(perByte.size() / 2);
            std::nth_element(perByte.begin(), middle, perByte.end());
            return *middle;
        }
    };
    ImageReading m_way;
    Way m_ways[2];  // read, mapped
    bool m_mapTurn = true;
};

class Sweeper {
public:
    Sweeper(const SweepContext& ctx, const SweepCallback& onBlock)
        : m_ctx(ctx), m_source(*ctx.source), m_onBlock(onBlock), m_image(ctx.source->imageFile()),
          m_buffer(static_cast<std::size_t>(ctx.blockSectors) * kSectorSize), m_trial(ctx.imageReading)
    {
    }

    SweepReport run()
    {
        const bool counting = m_ctx.ranges.size() != 1 || m_ctx.progressPosition == ProgressPosition::SectorsDone;
        const ProgressBounds bounds = m_ctx.progressBounds.value_or(defaultBounds(counting));
        if (m_ctx.progress) m_ctx.progress->begin(bounds.low, bounds.high);

        std::uint64_t done = 0;  // range sectors before the current block
        for (std::size_t index = 0; index < m_ctx.ranges.size(); ++index) {
            const SectorRange& range = m_ctx.ranges[index];
            for (std::uint64_t offset = 0; offset < range.sectorCount; offset += m_ctx.blockSectors) {
                if (m_ctx.stopRequested && m_ctx.stopRequested->load()) return ended(SweepEnd::Stopped);
                if (offset > UINT64_MAX - range.firstSector) break;
                SweepBlock block;
                block.firstSector = range.firstSector + offset;
                block.rangeIndex = index;
                block.offsetInRange = offset;
                block.sectorCount =
                    static_cast<std::uint32_t>(std::min<std::uint64_t>(m_ctx.blockSectors, range.sectorCount - offset));
                const std::uint32_t length = m_ctx.wholeBlocks ? m_ctx.blockSectors : block.sectorCount;
                // Sectors past a known end do not exist: the rest of this range is not there.
                if (!fitToMedium(block, length)) break;
                if (m_ctx.progress) m_ctx.progress->update(counting ? done : block.firstSector);

                const auto began = m_trial.measuring() ? std::chrono::steady_clock::now()
                                                       : std::chrono::steady_clock::time_point{};
                readBlock(block);
                // A whole block lost on a medium that is gone: every later read would fail too,
                // and counting them as unreadable sectors would hide what happened.
                if (block.lost && !m_ctx.onLostBlock && !m_source.present()) return ended(SweepEnd::MediumGone);
                if (block.lost) {
                    const LostBlockAction action = m_ctx.onLostBlock ? m_ctx.onLostBlock(block)
                                                                     : LostBlockAction::CarryOnWithZeros;
                    if (action == LostBlockAction::Stop) return ended(SweepEnd::Stopped);
                    if (action == LostBlockAction::Retry) {
                        // The source may now be another device (reopened behind it): measure again.
                        // Whatever this read gives is handed over; nobody is asked twice.
                        if (fitToMedium(block, length)) readBlock(block);
                        else markAbsent(block);
                    }
                }
                if (block.lost) ++m_report.lostBlocks;
                for (const SectorRange& run : m_unreadable) {
                    m_report.unreadableSectors += run.sectorCount;
                    if (m_ctx.progress) m_ctx.progress->problem(unreadableRunError(m_source, run));
                }
                block.bytes = m_mapped.empty() ? std::span<const std::uint8_t>(m_buffer) : m_mapped;
                block.unreadable = m_unreadable;
                const bool mapped = !m_mapped.empty();
                if (!handOver(block)) return ended(SweepEnd::EndedByCallback);
                if (m_timed && m_unreadable.empty() &&
                    m_trial.add(mapped, m_buffer.size(), std::chrono::steady_clock::now() - began) &&
                    !m_trial.mapNext())
                    m_window.unmap();
                done += block.sectorCount;
            }
        }
        if (m_ctx.progress) m_ctx.progress->finish();
        return ended(SweepEnd::Finished);
    }

private:
    ProgressBounds defaultBounds(bool counting) const
    {
        if (!counting) {
            const SectorRange& only = m_ctx.ranges.front();
            const std::uint64_t count = std::max<std::uint64_t>(only.sectorCount, 1);
            return {only.firstSector, only.firstSector + std::min(count - 1, UINT64_MAX - only.firstSector)};
        }
        std::uint64_t total = 0;
        for (const SectorRange& r : m_ctx.ranges) total += std::min(r.sectorCount, UINT64_MAX - total);
        return {0, total};
    }

    // Sets how many of the block's sectors lie on the medium; false when none does.
    bool fitToMedium(SweepBlock& block, std::uint32_t length) const
    {
        const std::uint64_t known = m_source.sectorCount();
        block.mediumSectors = 0;
        if (known != 0 && block.firstSector >= known) return false;
        std::uint64_t onMedium = std::min<std::uint64_t>(length, UINT64_MAX - block.firstSector);
        if (known != 0) onMedium = std::min(onMedium, known - block.firstSector);
        block.mediumSectors = static_cast<std::uint32_t>(onMedium);
        return true;
    }

    void markAbsent(SweepBlock& block)
    {
        m_mapped = {};
        m_timed = false;
        std::fill(m_buffer.begin(), m_buffer.end(), 0);
        m_unreadable.clear();
        if (block.mediumSectors) m_unreadable.push_back({block.firstSector, block.mediumSectors});
        block.lost = true;
    }

    // Hands a block over; a mapped block under the guard, whose faults are reported after it.
    bool handOver(const SweepBlock& block)
    {
        if (m_mapped.empty()) return m_onBlock(block);
        std::optional<MappedFaultGuard> guard(std::in_place, m_window);
        const bool more = m_onBlock(block);
        const MappedFaultGuard::Faults faults = guard->takeFaults();
        guard.reset();
        if (!faults.pageOffsets.empty() || faults.overflowed) reportLateFaults(block, faults);
        return more;
    }

    // Pages that failed while the handler read them (the file was cut short, or a page left the
    // cache and could not be read again): the handler saw zeros there. The block has been handed
    // over, so its sectors can only be reported now; the window, which holds pages of zeros now,
    // is dropped.
    void reportLateFaults(const SweepBlock& block, const MappedFaultGuard::Faults& faults)
    {
        const std::uint64_t first = block.firstSector;
        const std::uint64_t end = first + block.mediumSectors;
        std::vector<SectorRange> runs;
        auto add = [&](std::uint64_t from, std::uint64_t to) {
            from = std::max(from, first);
            to = std::min(to, end);
            if (from < to) runs.push_back({from, to - from});
        };
        if (faults.overflowed) {
            add(first, end);
        } else {
            for (std::uint64_t offset : faults.pageOffsets)
                add(offset / kSectorSize, (offset + pageBytes() + kSectorSize - 1) / kSectorSize);
        }
        std::sort(runs.begin(), runs.end(), [](const SectorRange& a, const SectorRange& b) { return a.firstSector < b.firstSector; });
        std::vector<SectorRange> merged;
        for (const SectorRange& run : runs) {
            if (!merged.empty() && merged.back().firstSector + merged.back().sectorCount >= run.firstSector) {
                const std::uint64_t runEnd = std::max(merged.back().firstSector + merged.back().sectorCount,
                                                      run.firstSector + run.sectorCount);
                merged.back().sectorCount = runEnd - merged.back().firstSector;
            } else {
                merged.push_back(run);
            }
        }
        for (const SectorRange& run : merged) {
            m_report.unreadableSectors += run.sectorCount;
            if (m_ctx.progress) m_ctx.progress->problem(unreadableRunError(m_source, run));
        }
        m_window.unmap();
    }

    // Whether the block is a whole block of an image file whose every page is in the page cache;
    // the window then covers it.
    bool cached(const SweepBlock& block)
    {
        if (!m_image || block.mediumSectors != m_ctx.blockSectors) return false;
        const std::size_t length = m_buffer.size();
        if (block.firstSector > (UINT64_MAX >> 9)) return false;
        const std::uint64_t offset = byteOffsetOf(block.firstSector);
        if (offset > m_image->byteSize || length > m_image->byteSize - offset) return false;
        if (!m_window.covers(offset, length)) {
            const std::uint64_t start = offset - offset % pageBytes();
            const std::uint64_t want = std::max<std::uint64_t>(kWindowBytes, offset - start + length);
            if (!m_window.map(m_image->fd, start, static_cast<std::size_t>(std::min(want, m_image->byteSize - start))))
                return false;
        }
        return m_window.resident(offset, length);
    }

    // A cached block may be handed over from the mapping itself: no copy, and the handler touches
    // only the bytes it tests. Anything else (a partial block at the medium's end, pages not
    // cached, a failed mapping) is read. Only cached blocks are timed for the trial: a read from
    // the disk says nothing about the two ways.
    void readBlock(SweepBlock& block)
    {
        m_mapped = {};
        m_timed = false;
        if ((m_trial.mapNext() || m_trial.measuring()) && cached(block)) {
            m_timed = m_trial.measuring();
            if (m_trial.mapNext()) {
                m_mapped = m_window.bytes(byteOffsetOf(block.firstSector), m_buffer.size());
                m_unreadable.clear();
                block.lost = false;
                return;
            }
        }
        m_unreadable.clear();
        const std::size_t readBytes = static_cast<std::size_t>(block.mediumSectors) * kSectorSize;
        // A read that reaches the medium's end leaves the buffer's tail as it was, and a medium
        // of unknown size may end anywhere: clear what may not be overwritten, so no earlier
        // block's bytes are handed over twice.
        // The medium's last sector may be partial, so it is cleared as well.
        const bool reachesEnd = block.firstSector + block.mediumSectors >= m_source.sectorCount();
        const std::size_t keep = reachesEnd && readBytes > 0 ? readBytes - kSectorSize : readBytes;
        if (m_source.sectorCount() == 0) std::fill(m_buffer.begin(), m_buffer.end(), 0);
        else std::fill(m_buffer.begin() + static_cast<std::ptrdiff_t>(keep), m_buffer.end(), 0);
        block.lost = false;
        if (block.mediumSectors == 0 ||
            m_source.read(block.firstSector, block.mediumSectors, std::span(m_buffer).first(readBytes)))
            return;
        // One bad sector must not cost its whole block: take the block sector by sector.
        std::uint64_t failed = 0;
        for (std::uint32_t i = 0; i < block.mediumSectors; ++i) {
            const auto slot = std::span(m_buffer).subspan(static_cast<std::size_t>(i) * kSectorSize, kSectorSize);
            const std::uint64_t sector = block.firstSector + i;
            if (m_source.read(sector, 1, slot)) continue;
            std::fill(slot.begin(), slot.end(), 0);
            ++failed;
            if (!m_unreadable.empty() && m_unreadable.back().firstSector + m_unreadable.back().sectorCount == sector)
                ++m_unreadable.back().sectorCount;
            else
                m_unreadable.push_back({sector, 1});
        }
        block.lost = failed == block.mediumSectors;
        block.bytes = m_buffer;  // as the lost-block handler sees it
        block.unreadable = m_unreadable;
    }

    SweepReport ended(SweepEnd end)
    {
        m_report.end = end;
        return m_report;
    }

    const SweepContext& m_ctx;
    const SectorSource& m_source;
    const SweepCallback& m_onBlock;
    const std::optional<ImageFile> m_image;
    MappedWindow m_window;
    std::span<const std::uint8_t> m_mapped;  // the current block's bytes when it is mapped
    std::vector<std::uint8_t> m_buffer;
    ReadingTrial m_trial;
    bool m_timed = false;  // the current block counts in the trial
    std::vector<SectorRange> m_unreadable;
    SweepReport m_report;
};

}  // namespace

SectorRange inclusiveRange(std::uint64_t first, std::uint64_t last)
{
    if (last < first) return {first, 0};
    const std::uint64_t span = last - first;
    return {first, span == UINT64_MAX ? span : span + 1};  // all of a 64-bit space is one short
}

bool SweepBlock::readable(std::uint64_t first, std::uint64_t count) const
{
    for (const SectorRange& run : unreadable)
        if (first < run.firstSector + run.sectorCount && run.firstSector < first + count) return false;
    return true;
}

SweepReport sweepSectors(const SweepContext& context, const SweepCallback& onBlock)
{
    if (!context.source || context.blockSectors == 0) return {};
    Sweeper sweeper(context, onBlock);
    return sweeper.run();
}

Error unreadableRunError(const SectorSource& source, const SectorRange& run)
{
    const std::string detail =
        run.sectorCount == 1 ? "unreadable sector" : "unreadable run of " + std::to_string(run.sectorCount) + " sectors";
    return Error{ErrorKind::ReadFailed, run.firstSector, source.path(), detail};
}

}  // namespace kfr::storage
