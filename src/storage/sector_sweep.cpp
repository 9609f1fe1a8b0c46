// The block sweep shared by every scan.
#include "storage/sector_sweep.h"

#include <algorithm>

namespace kfr::storage {

namespace {

class Sweeper {
public:
    Sweeper(const SweepContext& ctx, const SweepCallback& onBlock)
        : m_ctx(ctx), m_source(*ctx.source), m_onBlock(onBlock),
          m_buffer(static_cast<std::size_t>(ctx.blockSectors) * kSectorSize)
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
                block.bytes = m_buffer;
                block.unreadable = m_unreadable;
                if (!m_onBlock(block)) return ended(SweepEnd::EndedByCallback);
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
        std::fill(m_buffer.begin(), m_buffer.end(), 0);
        m_unreadable.clear();
        if (block.mediumSectors) m_unreadable.push_back({block.firstSector, block.mediumSectors});
        block.lost = true;
    }

    void readBlock(SweepBlock& block)
    {
        m_unreadable.clear();
        const std::size_t readBytes = static_cast<std::size_t>(block.mediumSectors) * kSectorSize;
        // A read that reaches the medium's end leaves the buffer's tail as it was, and a medium
        // of unknown size may end anywhere: clear what may not be overwritten, so no earlier
        // block's bytes are handed over twice.
        if (m_source.sectorCount() == 0) std::fill(m_buffer.begin(), m_buffer.end(), 0);
        else std::fill(m_buffer.begin() + static_cast<std::ptrdiff_t>(readBytes), m_buffer.end(), 0);
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
    std::vector<std::uint8_t> m_buffer;
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
