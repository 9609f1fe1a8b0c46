// One carving pass and the two-pass search around it.
#include "carving/carve_scan.h"

#include <algorithm>
#include <array>
#include <cstring>

#include "carving/carve_report.h"
#include "carving/extent_writer.h"
#include "carving/header_anchors.h"
#include "carving/medium_bytes.h"
#include "storage/sector_sweep.h"

namespace kfr::carving {

namespace {

// Why the media prompt is asked; front ends show their own words for it.
constexpr const char* kDeviceUnavailable = "the storage device is not available";

// A name is taken when an earlier search wrote into the same destination; the numbering moves
// past taken names, but not forever.
constexpr int kMaxNameTries = 1000000;

// The records of one distinct offset, indexed by their first header byte, so a candidate costs
// one byte look-up per offset and only records whose first byte matches are compared in full.
struct OffsetGroup {
    std::int32_t offset = 0;
    std::array<std::uint32_t, 257> first{};  // records of byte b: indexes [first[b], first[b+1])
    std::vector<std::uint32_t> records;      // table indexes, table order within a byte
};

// Records marked "only" take part with exact ends on; without them the search is what it
// always was.
bool takesPart(const FileType1& rec, bool exactEnds) { return rec.headerLen > 0 && (exactEnds || !rec.exactOnly); }

std::vector<OffsetGroup> buildIndex(const SignatureTables& tables, bool exactEnds)
{
    std::vector<OffsetGroup> groups;
    const auto used = [exactEnds](const FileType1& rec) { return takesPart(rec, exactEnds); };
    for (const std::int32_t offset : tables.offsets) {
        OffsetGroup g;
        g.offset = offset;
        std::array<std::uint32_t, 256> counts{};
        for (const auto& rec : tables.table)
            if (rec.offset == offset && used(rec)) ++counts[rec.header[0]];
        for (int b = 0; b < 256; ++b) g.first[b + 1] = g.first[b] + counts[b];
        g.records.resize(g.first[256]);
        std::array<std::uint32_t, 256> fill{};
        for (std::uint32_t i = 0; i < tables.table.size(); ++i) {
            const auto& rec = tables.table[i];
            if (rec.offset != offset || !used(rec)) continue;
            g.records[g.first[rec.header[0]] + fill[rec.header[0]]++] = i;
        }
        if (!g.records.empty()) groups.push_back(std::move(g));
    }
    return groups;
}

// The device as the sweep sees it: whichever device the pass holds at the moment, which a retry
// from the media prompt replaces between two reads. Without a device every read fails and the
// size is unknown, so each block comes to the prompt as lost.
class HeldDevice final : public storage::SectorSource {
public:
    HeldDevice(const std::shared_ptr<storage::SectorSource>& device, const std::string& path)
        : m_device(device), m_path(path)
    {
    }
    bool read(std::uint64_t sector, std::uint32_t count, std::span<std::uint8_t> buffer) const override
    {
        return m_device && m_device->read(sector, count, buffer);
    }
    std::uint64_t sectorCount() const override { return m_device ? m_device->sectorCount() : 0; }
    const std::string& path() const override { return m_path; }

private:
    const std::shared_ptr<storage::SectorSource>& m_device;
    const std::string& m_path;
};

class PassRunner {
public:
    PassRunner(CarveContext& ctx, CarvePass pass, CarvedFileSink& sink)
        : m_ctx(ctx), m_pass(pass), m_sink(sink), m_reporter(ctx.observer), m_held(m_device, ctx.devicePath),
          m_fileBytes(m_held)
    {
    }

    CarveOutcome run()
    {
        CarveOutcome outcome;
        m_reporter.stage(m_pass == CarvePass::General ? WorkStage::GeneralPass : WorkStage::ThoroughPass);
        if (m_ctx.signatures.table.empty()) return outcome;
        m_index = buildIndex(m_ctx.signatures, m_ctx.exactEnds);
        if (m_ctx.anyOffset)
            m_anchors = std::make_unique<HeaderAnchors>(
                m_ctx.signatures, [this](const FileType1& rec) { return takesPart(rec, m_ctx.exactEnds); });

        bool stopped = false;
        if (!openDevice()) {
            const Error e{ErrorKind::OpenFailed, m_ctx.startSector, m_ctx.devicePath, kDeviceUnavailable};
            if (ask(e) == MediaAction::CancelSearching) stopped = true;
        }
        if (!stopped) {
            // [start, end] in whole blocks: the last block is read in full even past the end sector.
            storage::SweepContext sweep;
            sweep.source = &m_held;
            sweep.ranges = {storage::inclusiveRange(m_ctx.startSector, m_ctx.endSector)};
            sweep.blockSectors = kBlockSectors;
            sweep.wholeBlocks = true;
            sweep.stopRequested = m_ctx.stopRequested;
            sweep.progress = &m_reporter;
            sweep.onLostBlock = [this](const storage::SweepBlock& block) { return decideLostBlock(block); };
            const auto swept = storage::sweepSectors(sweep, [this](const storage::SweepBlock& block) { return carve(block); });
            // The pending files keep their size and the place of every later byte: a block lost
            // whole stands in their content as zeros.
            outcome.unreadableBlocks = swept.lostBlocks;
            stopped = swept.end == storage::SweepEnd::Stopped;
        }
        finishAll();
        // Every file is queued: wait for the writer, and tell the report what did not reach
        // the destination.
        m_writer.finish();
        if (!m_failure) m_failure = m_writer.failure();
        for (const auto& [index, outcome] : m_writer.shortfalls()) m_ctx.results.allFiles[index].outcome = outcome;
        m_device.reset();

        if (m_failure) {
            outcome.ending = CarveEnding::Failed;
            outcome.error = m_failure;
        } else if (stopped) {
            outcome.ending = CarveEnding::Stopped;
        }
        return outcome;
    }

private:
    bool openDevice()
    {
        auto opened = m_ctx.openDevice ? m_ctx.openDevice() : storage::openSource(m_ctx.devicePath);
        if (!opened) {
            m_device.reset();
            m_reporter.problem(opened.error());
            return false;
        }
        m_device = std::shared_ptr<storage::SectorSource>(std::move(opened).value());
        return true;
    }

    MediaAction ask(const Error& failure)
    {
        if (m_standingRetry) return MediaAction::RetryAndContinue;
        if (!m_ctx.mediaPrompt) return MediaAction::Closed;
        const MediaAnswer answer = m_ctx.mediaPrompt->askDeviceUnavailable(failure);
        if (answer.action == MediaAction::RetryAndContinue && answer.applyUntilDone) m_standingRetry = true;
        return answer.action;
    }

    // No sector of a block could be read: without a device, or far from the end of the range,
    // the media prompt decides; a retry reopens the device and reads the block once more.
    storage::LostBlockAction decideLostBlock(const storage::SweepBlock& block)
    {
        using storage::LostBlockAction;
        const std::uint64_t current = block.firstSector;
        Error failure{ErrorKind::OpenFailed, current, m_ctx.devicePath, kDeviceUnavailable};
        if (m_device) {
            // So close to the end of the range a failure is not worth asking about.
            if (m_ctx.endSector - current < kQuietFailureSectors) return LostBlockAction::CarryOnWithZeros;
            failure = Error{ErrorKind::ReadFailed, current, m_ctx.devicePath, "the block could not be read"};
        }
        switch (ask(failure)) {
        case MediaAction::CancelSearching: return LostBlockAction::Stop;
        case MediaAction::Closed: return LostBlockAction::CarryOnWithZeros;
        case MediaAction::RetryAndContinue: openDevice(); return LostBlockAction::Retry;
        }
        return LostBlockAction::CarryOnWithZeros;
    }

    // One block: probe its sectors for headers, then let the pending files take their share.
    bool carve(const storage::SweepBlock& block)
    {
        if (!m_failure) m_failure = m_writer.failure();
        if (m_failure) return false;
        m_block = block.bytes;
        m_blockFirstSector = block.firstSector;
        const std::uint32_t valid = block.mediumSectors * storage::kSectorSize;
        m_validBytes = valid;
        // The end rules read the block only up to its first unreadable sector: zeros there are
        // not the file's bytes, and must not make a file look broken (or whole).
        m_readableBytes = valid;
        if (!block.unreadable.empty() && block.unreadable.front().firstSector >= block.firstSector)
            m_readableBytes = static_cast<std::uint32_t>(std::min<std::uint64_t>(
                valid, (block.unreadable.front().firstSector - block.firstSector) * storage::kSectorSize));
        if (block.lost) m_readableBytes = 0;
        if (!block.lost) probe(block, valid);
        if (!m_failure) walk(valid);
        ++m_blockIndex;
        return !m_failure;
    }

    void probe(const storage::SweepBlock& sweptBlock, std::uint32_t valid)
    {
        const std::uint8_t* block = m_block.data();
        const auto& table = m_ctx.signatures.table;
        if (m_anchors) {
            m_anchors->find(table, m_block, valid, m_matches);
            std::uint32_t matchNumber = 0;
            for (std::size_t i = 0; i < m_matches.size(); ++i) {
                const HeaderMatch& m = m_matches[i];
                if (i == 0 || m_matches[i - 1].candidate != m.candidate) matchNumber = 0;
                if (!sweptBlock.unreadable.empty() &&
                    !sweptBlock.readable(sweptBlock.firstSector + m.candidate / storage::kSectorSize, 1))
                    continue;
                openCarvedFile(table[m.record], m.candidate, matchNumber++);
                if (m_failure) return;
            }
            return;
        }
        for (std::uint32_t candidate = 0; candidate < valid; candidate += storage::kSectorSize) {
            // A sector that could not be read is zeros, not a header.
            if (!sweptBlock.unreadable.empty() &&
                !sweptBlock.readable(sweptBlock.firstSector + candidate / storage::kSectorSize, 1))
                continue;
            std::uint32_t matchNumber = 0;
            for (const OffsetGroup& g : m_index) {
                const std::int64_t pos = static_cast<std::int64_t>(candidate) + g.offset - 1;
                if (pos < 0 || pos >= valid) continue;  // probes never leave the block
                const std::uint8_t b = block[pos];
                for (std::uint32_t k = g.first[b]; k < g.first[b + 1]; ++k) {
                    const FileType1& rec = table[g.records[k]];
                    if (pos + rec.headerLen > valid) continue;
                    if (std::memcmp(block + pos, rec.header.data(), static_cast<std::size_t>(rec.headerLen)) != 0)
                        continue;
                    openCarvedFile(rec, candidate, matchNumber++);
                    if (m_failure) return;
                }
            }
        }
    }

    // The file takes the block's bytes from..to: a file is one run of the medium, so taking
    // bytes only moves its end (the writer copies the run once the file is finished).
    void take(PendingCarve& entry, std::uint32_t from, std::uint32_t to)
    {
        if (to <= from) return;
        entry.endByte = blockFirstByte() + to;
    }

    std::uint64_t blockFirstByte() const { return storage::byteOffsetOf(m_blockFirstSector); }

    // How far a file starting at firstByte may reach: its maximum size, the last block of the
    // range (read whole, as the next-header rule reads it) and the medium.
    std::uint64_t reachOf(std::uint64_t firstByte, std::int64_t maxSize) const
    {
        const std::uint64_t sectors = m_ctx.endSector - m_ctx.startSector + 1;
        const std::uint64_t blocks = (sectors + kBlockSectors - 1) / kBlockSectors;
        std::uint64_t areaEnd = storage::byteOffsetOf(m_ctx.startSector + blocks * kBlockSectors);
        if (m_validBytes < kBlockBytes) areaEnd = std::min(areaEnd, blockFirstByte() + m_validBytes);  // the medium ends here
        if (const std::uint64_t known = m_held.sectorCount()) areaEnd = std::min(areaEnd, storage::byteOffsetOf(known));
        if (areaEnd <= firstByte) return 0;
        return std::min<std::uint64_t>(areaEnd - firstByte, static_cast<std::uint64_t>(std::max<std::int64_t>(maxSize, 0)));
    }

    void openCarvedFile(const FileType1& rec, std::uint32_t candidate, std::uint32_t matchNumber)
    {
        const std::uint64_t firstByte = blockFirstByte() + candidate;
        std::string key = rec.key();
        FileEnd end;
        if (m_ctx.exactEnds && rec.endRule != EndRule::None) {
            m_fileBytes.reset(firstByte, reachOf(firstByte, rec.maxSize()), m_block.first(m_readableBytes), blockFirstByte());
            end = findFileEnd(rec.endRule, m_fileBytes);
            // Random bytes that happen to match a short header are no file at all: they neither
            // make one nor end the files still open.
            if (end.verdict == EndVerdict::Invalid) return;
            if (!end.refinedKey.empty() && !extensionKey(end.refinedKey).empty()) key = end.refinedKey;
        }
        // A header in a later sector ends every file still open: each takes this block's bytes
        // up to the new header's sector, whatever its maximum size.
        if (!m_ctx.queue.empty() && !(m_queueBlock == m_blockIndex && m_queueCandidate == candidate)) {
            for (auto& entry : m_ctx.queue)
                if (!entry.full) take(entry, entry.inFirstBlock ? entry.startOffset : 0, candidate);
            finishAll();
            if (m_failure) return;
        }
        m_running = 0;
        PendingCarve entry;
        for (int tries = 0;; ++tries) {
            if (tries == kMaxNameTries) {
                m_failure = Error{ErrorKind::WriteFailed, 0, passFolder(m_ctx.destination, m_pass) + key,
                                  "no free file name is left for this type"};
                return;
            }
            entry.name = nameCarvedFile(m_ctx.results.fileTypes, key);
            auto created = m_sink.create(m_pass, key, entry.name);
            if (!created) {
                m_failure = created.error();
                return;
            }
            if (created->file) {
                entry.file = std::move(created->file);
                entry.savedPath = std::move(created->savedPath);
                break;
            }
        }
        entry.ext = "." + key;
        entry.maxSizeText = rec.maxSizeText;
        entry.maxSize = rec.maxSize();
        entry.matchNumber = matchNumber;
        entry.startOffset = candidate;
        entry.firstSector = m_blockFirstSector + candidate / storage::kSectorSize;
        entry.firstByte = entry.endByte = firstByte;
        entry.inFirstBlock = true;
        m_queueBlock = m_blockIndex;
        m_queueCandidate = candidate;
        if (end.verdict == EndVerdict::Found) {
            // Its end is known: it is finished now, and headers inside it open files of their own
            // (pictures in a document) without cutting it.
            entry.endByte = firstByte + end.length;
            finish(entry, true);
            return;
        }
        m_ctx.queue.push_back(std::move(entry));
    }

    // After the last candidate of a block: every pending file takes its share of the block
    // and those whose maximum size the running size now exceeds are finished.
    void walk(std::uint32_t valid)
    {
        auto& queue = m_ctx.queue;
        std::size_t i = 0;
        while (i < queue.size()) {
            PendingCarve& entry = queue[i];
            const auto maxSize = static_cast<std::uint64_t>(entry.maxSize);
            if (i == 0) m_running += std::min<std::uint64_t>(kBlockBytes - entry.startOffset, maxSize);
            const bool exceeded = m_running > maxSize;
            if (entry.inFirstBlock) {
                // The first block counts from the file's sector on, cut to the maximum size.
                const std::uint64_t end = std::min<std::uint64_t>(valid, entry.startOffset + maxSize);
                take(entry, entry.startOffset, static_cast<std::uint32_t>(std::max<std::uint64_t>(end, entry.startOffset)));
                // A file cut inside its block is complete: taking bytes from a later block would
                // leave a hole in it.
                if (entry.startOffset + maxSize < kBlockBytes) entry.full = true;
            } else if (!exceeded && !entry.full) {
                take(entry, 0, valid);
            }
            if (exceeded) {
                finish(entry);
                queue.erase(queue.begin() + static_cast<std::ptrdiff_t>(i));
                continue;
            }
            entry.startOffset = 0;
            entry.inFirstBlock = false;
            ++i;
        }
    }

    void finish(PendingCarve& entry, bool endFound = false)
    {
        if (m_pass == CarvePass::General) {
            ++m_ctx.results.generalFound;
            ++m_ctx.results.generalTotal;
        } else {
            ++m_ctx.results.thoroughFound;
            ++m_ctx.results.thoroughTotal;
        }
        CarvedResult result;
        result.name = entry.name;
        result.savedPath = entry.savedPath;
        result.pass = m_pass;
        result.firstSector = entry.firstSector;
        result.type = entry.ext.empty() ? entry.ext : entry.ext.substr(1);
        result.byteOffset = entry.firstByte;
        result.length = entry.endByte - entry.firstByte;
        result.endFound = endFound;
        const std::size_t index = m_ctx.results.allFiles.size();
        addCarvedResult(m_ctx.results, std::move(result), m_ctx.observer);
        if (entry.file)
            m_writer.submit(ExtentJob{m_device, std::move(entry.file), entry.firstByte, entry.endByte - entry.firstByte, index});
    }

    void finishAll()
    {
        for (auto& entry : m_ctx.queue) finish(entry);
        m_ctx.queue.clear();
    }

    CarveContext& m_ctx;
    CarvePass m_pass;
    CarvedFileSink& m_sink;
    ProgressReporter m_reporter;
    std::shared_ptr<storage::SectorSource> m_device;  // null while the device is missing
    HeldDevice m_held;
    MediumFileBytes m_fileBytes;
    ExtentWriter m_writer;
    Bytes m_block;  // the block being carved
    std::uint32_t m_validBytes = 0;
    std::uint32_t m_readableBytes = 0;  // of the block, before its first unreadable sector
    std::uint64_t m_blockFirstSector = 0;
    std::vector<OffsetGroup> m_index;
    std::unique_ptr<HeaderAnchors> m_anchors;  // with anyOffset
    std::vector<HeaderMatch> m_matches;
    bool m_standingRetry = false;
    std::uint64_t m_running = 0;  // bytes counted for the pending files since the last match
    std::uint64_t m_blockIndex = 0;
    std::uint64_t m_queueBlock = UINT64_MAX;
    std::uint32_t m_queueCandidate = 0;
    std::optional<Error> m_failure;
};

}  // namespace

SearchCheck checkSignatureSearch(const CarveContext& ctx)
{
    if (ctx.endSector <= ctx.startSector) return SearchCheck::EndNotAfterStart;
    if (ctx.extensions.tickedKeys().empty()) return SearchCheck::NothingTicked;
    return SearchCheck::Ready;
}

Status prepareSignatureSearch(CarveContext& ctx)
{
    if (checkSignatureSearch(ctx) == SearchCheck::EndNotAfterStart)
        return Error{ErrorKind::InvalidArgument, 0, {}, "the end sector is not beyond the start sector"};
    for (const auto& row : ctx.extensions.rows) {
        if (!row.ticked || ctx.results.fileTypes.find(row.key)) continue;
        FileTypeRow fresh;
        fresh.fileTypes = row.key;
        fresh.folderName = row.key;
        ctx.results.fileTypes.rows.push_back(std::move(fresh));
    }
    if (checkSignatureSearch(ctx) == SearchCheck::NothingTicked)
        return Error{ErrorKind::InvalidArgument, 0, {}, "no file type is ticked"};
    ctx.signatures.clear();
    if (auto loaded = loadSignatureFile(ctx.generalFile, ctx.extensions, ctx.signatures); !loaded)
        return loaded.error();
    return okStatus();
}

CarveOutcome carveRange(CarveContext& ctx, CarvePass pass)
{
    std::unique_ptr<FolderSink> folder;
    CarvedFileSink* sink = ctx.sink;
    if (!sink) {
        folder = std::make_unique<FolderSink>(ctx.destination);
        sink = folder.get();
    }
    PassRunner runner(ctx, pass, *sink);
    return runner.run();
}

CarveOutcome runSignatureSearch(CarveContext& ctx)
{
    CarveOutcome outcome;
    if (ctx.endSector <= ctx.startSector) {
        outcome.ending = CarveEnding::Failed;
        outcome.error = Error{ErrorKind::InvalidArgument, 0, {}, "the end sector is not beyond the start sector"};
        return outcome;
    }
    outcome = carveRange(ctx, CarvePass::General);
    ctx.signatures.clear();
    if (outcome.ending == CarveEnding::Finished && ctx.thorough) {
        if (auto loaded = loadSignatureFile(ctx.thoroughFile, ctx.extensions, ctx.signatures); !loaded) {
            outcome.ending = CarveEnding::Failed;
            outcome.error = loaded.error();
        } else if (!ctx.signatures.table.empty() && !ctx.signatures.offsets.empty()) {
            for (auto& row : ctx.results.fileTypes.rows) {
                row.count = 0;
                row.folderName = row.fileTypes;
            }
            const CarveOutcome thorough = carveRange(ctx, CarvePass::Thorough);
            outcome.ending = thorough.ending;
            outcome.error = thorough.error;
            outcome.unreadableBlocks += thorough.unreadableBlocks;
            outcome.thoroughRan = true;
        }
    }
    if (ctx.writeReport && !ctx.destination.empty()) {
        auto written = writeCarveReport(ctx, outcome);
        if (written) {
            outcome.reportPath = written->json;
            outcome.reportXmlPath = written->xml;
        } else if (ctx.observer) {
            ctx.observer->onProblem(written.error());
        }
    }
    return outcome;
}

void resetSignatureSearch(CarveContext& ctx)
{
    ctx.results.clear();
    ctx.signatures.clear();
    ctx.queue.clear();
}

}  // namespace kfr::carving
