// Reading sector ranges front to back in blocks through one held source: the loop every scan
// shares (directory-cluster search, geometry inference, MFT records, carving). It owns the
// awkward parts once: the medium ending inside a block, bad sectors inside a good block, a block
// that cannot be read at all, the stop flag and coalesced progress.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "storage/progress.h"
#include "storage/result.h"
#include "storage/sector_source.h"

namespace kfr::storage {

struct SectorRange {
    std::uint64_t firstSector = 0;
    std::uint64_t sectorCount = 0;
};

// The sectors first to last, both included; empty when last is below first.
SectorRange inclusiveRange(std::uint64_t first, std::uint64_t last);

// One block as the sweep hands it over. bytes is always blockSectors * 512 long; whatever was not
// read (past the medium's end, past the range when blocks are not whole, unreadable sectors)
// reads as zeros, never as an earlier block's bytes. The bytes of an image file may be its mapped
// pages: they are only valid during the handler's call and only on the sweep's thread, where a
// page that fails is caught and reported after the handler returns.
struct SweepBlock {
    std::uint64_t firstSector = 0;    // absolute
    std::uint32_t sectorCount = 0;    // sectors of the block inside its range
    std::uint32_t mediumSectors = 0;  // sectors of the block that lie on the medium and were read or tried
    std::size_t rangeIndex = 0;
    std::uint64_t offsetInRange = 0;  // sectors from the range's first sector
    std::span<const std::uint8_t> bytes;
    std::span<const SectorRange> unreadable;  // runs that could not be read, in order; zeros in bytes
    bool lost = false;                        // no sector of it could be read: all zeros

    // Whether every one of count sectors from first was read (none lies in an unreadable run).
    bool readable(std::uint64_t first, std::uint64_t count) const;
};

enum class SweepEnd {
    Finished,
    Stopped,
    EndedByCallback,
    MediumGone,  // a block could not be read at all and the medium is no longer there
};

// What a handler decides when no sector of a block could be read.
enum class LostBlockAction {
    Retry,             // read the block once more (the handler may have reopened the device)
    CarryOnWithZeros,  // hand the block over as zeros
    Stop,              // end the sweep; the block is not handed over
};

struct SweepReport {
    SweepEnd end = SweepEnd::Finished;
    std::uint64_t unreadableSectors = 0;  // sectors handed over as zeros because they could not be read
    std::uint64_t lostBlocks = 0;         // blocks handed over with no sector read
};

struct ProgressBounds {
    std::uint64_t low = 0;
    std::uint64_t high = 0;
};

// What the progress position counts.
enum class ProgressPosition {
    Natural,      // the block's first sector for a single range, SectorsDone for several
    SectorsDone,  // range sectors handed over before the block
};

// How the blocks of an image file held in the page cache are taken.
enum class ImageReading {
    // Each way on alternate blocks until both have handled a few MiB, then the faster one. Which
    // is faster depends on the machine: mapped pages spare the handler a copy, but where a page
    // fault costs many times a page copy (seen on virtual machines) reading ran five times faster.
    Measured,
    Mapped,  // through the mapping wherever every page of a block is cached
    Read,    // always copied into the sweep's buffer
};

// Called with a block whose every sector failed (bytes are all zeros, unreadable covers it).
using LostBlockHandler = std::function<LostBlockAction(const SweepBlock& block)>;
// Called for every block read; returning false ends the sweep.
using SweepCallback = std::function<bool(const SweepBlock& block)>;

struct SweepContext {
    const SectorSource* source = nullptr;  // held for the whole sweep; only read
    std::vector<SectorRange> ranges;       // swept in order, each from its first sector
    std::uint32_t blockSectors = 512;
    // Whole blocks: a range's last block is read in full even where it runs past the range's end
    // (scans that examine every block the same way); otherwise it stops at the range's end.
    bool wholeBlocks = false;
    const std::atomic<bool>* stopRequested = nullptr;  // tested before every block
    // Gets begin, one update per block and, when the sweep finishes, finish; and one problem per
    // unreadable run. Bounds default to the range's first and last sector for an absolute
    // position, and to 0 and the sectors of all ranges for a count.
    ProgressReporter* progress = nullptr;
    ProgressPosition progressPosition = ProgressPosition::Natural;
    std::optional<ProgressBounds> progressBounds;
    // Without a handler a lost block is carried on as zeros (and reported).
    LostBlockHandler onLostBlock;
    ImageReading imageReading = ImageReading::Measured;
};

// Sweeps the ranges. A block that lies wholly past the medium's end (when its size is known)
// ends its range: those sectors do not exist. A failed block read is retried sector by sector,
// so only the sectors that fail are lost; each run of them is reported as one problem. A lost
// block goes to onLostBlock; after a retry the block is handed over whatever the second read gave.
SweepReport sweepSectors(const SweepContext& context, const SweepCallback& onBlock);

// The problem reported for an unreadable run of source.
Error unreadableRunError(const SectorSource& source, const SectorRange& run);

}  // namespace kfr::storage
