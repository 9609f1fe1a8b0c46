// The carving scan: a sector range read in 256 KiB blocks through one read-only handle, every
// sector start (or, when asked, every byte) probed for the headers of the signature records; a
// header opens a carved file that ends at the next header, at its type's maximum size or at the
// end of the range, or, with exact ends on, where its own structure says. A search runs the
// General pass and, when asked, the Thorough pass over the same range, and leaves a report of
// every file it carved.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "carving/carved_output.h"
#include "carving/signature_file.h"
#include "storage/result.h"
#include "storage/sector_source.h"

namespace kfr::carving {

inline constexpr std::uint32_t kBlockSectors = 512;
inline constexpr std::uint32_t kBlockBytes = kBlockSectors * storage::kSectorSize;  // 262,144
// A block lost this close to the end of the range (in sectors) is not worth asking about.
inline constexpr std::uint64_t kQuietFailureSectors = 262144;

enum class MediaAction {
    CancelSearching,   // stop the search; pending files are finished
    RetryAndContinue,  // reopen the device and read the block again
    Closed,            // neither: go on without the block's data
};

struct MediaAnswer {
    MediaAction action = MediaAction::CancelSearching;
    bool applyUntilDone = false;  // with RetryAndContinue: retry every later failure of the pass unasked
};

// Implemented by the front end (a dialog in the GUI, an option in the CLI). Called on the
// scan's thread.
class MediaPrompt {
public:
    virtual ~MediaPrompt() = default;
    virtual MediaAnswer askDeviceUnavailable(const Error& failure) = 0;
};

using SourceOpener = std::function<Result<std::unique_ptr<storage::SectorSource>>()>;

// A carved file opened by a match and not yet finished.
struct PendingCarve {
    std::string ext;             // ".JPG" (or the type the file's insides gave, ".DOCX")
    std::string maxSizeText;     // as in the record
    std::uint32_t matchNumber = 0;  // which match of its sector opened it, from 0
    std::string name;            // "JPG00001.JPG"
    std::string savedPath;       // where it is being written
    std::uint32_t startOffset = 0;  // block offset of its sector; 0 once past its first block
    std::uint64_t firstSector = 0;  // the sector its header was found in
    std::uint64_t firstByte = 0;    // where it starts on the medium
    std::uint64_t endByte = 0;      // where the bytes it has taken so far end
    std::int64_t maxSize = 0;
    bool inFirstBlock = true;
    bool full = false;  // cut to its maximum inside its first block: takes no further bytes
    std::unique_ptr<CarvedFile> file;
};

using PendingCarveQueue = std::vector<PendingCarve>;

// Everything a Signature Search holds, from the ticked types to the carved results.
struct CarveContext {
    // What to read. openDevice defaults to opening devicePath read-only.
    std::string devicePath;
    SourceOpener openDevice;
    std::uint64_t startSector = 0;
    std::uint64_t endSector = 0;  // inclusive

    // Signature files and the user's choices.
    std::string generalFile;
    std::string thoroughFile;
    bool thorough = true;
    ExtensionList extensions;
    // Cut files where their own structure ends and leave out candidates whose structure is
    // broken from the start (types without an end rule keep the next-header rule); records
    // marked "only" take part only then.
    bool exactEnds = false;
    // Probe every byte offset instead of sector starts only: files inside other files or in
    // containers that do not align them.
    bool anyOffset = false;
    // Write report.json and report.xml under the destination when the search ends.
    bool writeReport = true;

    // Where carved files go: sink, or when null a FolderSink over destination.
    std::string destination;
    CarvedFileSink* sink = nullptr;

    CarveObserver* observer = nullptr;
    MediaPrompt* mediaPrompt = nullptr;  // null: go on without the block (as "Closed")

    // Owned by the front end, which sets it to end the search at its next block; only read here.
    const std::atomic<bool>* stopRequested = nullptr;

    // State of the running search.
    SignatureTables signatures;
    PendingCarveQueue queue;
    CarvedResults results;
};

enum class CarveEnding { Finished, Stopped, Failed };

struct CarveOutcome {
    CarveEnding ending = CarveEnding::Finished;
    std::optional<Error> error;        // why it failed (Failed only)
    // Blocks of which no sector could be read, carried on as zeros by the prompt's (or the quiet
    // rule's) decision. Single bad sectors become zeros too, but are only reported as problems.
    std::uint64_t unreadableBlocks = 0;
    bool thoroughRan = false;
    // The reports written under the destination ("" when none could be written).
    std::string reportPath;
    std::string reportXmlPath;
};

// What keeps a search from starting.
enum class SearchCheck {
    Ready,
    EndNotAfterStart,  // the end sector is not beyond the start sector
    NothingTicked,     // no file type is ticked
};
SearchCheck checkSignatureSearch(const CarveContext& ctx);

// Starting a search: the per-type rows from the ticked types and the General records loaded.
// Fails (InvalidArgument) when checkSignatureSearch does not say Ready, or with the signature
// file's open error.
Status prepareSignatureSearch(CarveContext& ctx);

// The worker: the General pass, then (unless it stopped, and when the Thorough records are not
// empty) the Thorough pass.
CarveOutcome runSignatureSearch(CarveContext& ctx);

// One pass over the range with the records in ctx.signatures.
CarveOutcome carveRange(CarveContext& ctx, CarvePass pass);

// Going back from the scanning step: every table, list and counter emptied.
void resetSignatureSearch(CarveContext& ctx);

}  // namespace kfr::carving
