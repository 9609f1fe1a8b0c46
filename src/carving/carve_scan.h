// The carving scan: a sector range read in 256 KiB blocks through one read-only handle, every
// sector start probed for the headers of the signature records; a header opens a carved file
// that ends at the next header, at its type's maximum size or at the end of the range. A
// search runs the General pass and, when asked, the Thorough pass over the same range.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
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

inline constexpr const char* kEndSectorMessage =
    "The value of \xE2\x80\x98" "End Sector\xE2\x80\x99 cannot be less than or equal to the \xE2\x80\x98" "Start "
    "Sector\xE2\x80\x99 of the Drive.";
inline constexpr const char* kSelectExtensionMessage =
    "Please select at least one Extension type to continue recovery process?";

// The media prompt: the device could not be opened or a block could not be read.
inline constexpr const char* kMediaRemovedText = "The selected storage device is no longer available.";
inline constexpr const char* kCancelSearchingButton = "Cancel Searching";
inline constexpr const char* kRetryButton = "Retry and Continue...";
inline constexpr const char* kApplyUntilDoneBox = "Apply this action until the searching completes";

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
    std::string ext;             // ".JPG"
    std::string maxSizeText;     // as in the record
    std::uint32_t matchNumber = 0;  // which match of its sector opened it, from 0
    std::string name;            // "JPG00001.JPG"
    std::string savedPath;       // where it is being written
    std::uint32_t startOffset = 0;  // block offset of its sector; 0 once past its first block
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

    // Where carved files go: sink, or when null a FolderSink over destination.
    std::string destination;
    CarvedFileSink* sink = nullptr;

    CarveObserver* observer = nullptr;
    MediaPrompt* mediaPrompt = nullptr;  // null: go on without the block (as "Closed")

    // Set by the front end to end the scan at its next block; Stop sets both.
    std::atomic<bool> stopRequested{false};
    std::atomic<bool> scanRunning{false};

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
};

// "(Searching files based on:  General Signature Recovery Procedure)" or the Thorough text.
std::string passTitle(CarvePass pass, std::string_view kind = "Signature");

// Starting a search: the per-type rows from the ticked types, the General records loaded, the
// flags set for a run. Fails with kEndSectorMessage, kSelectExtensionMessage or the signature
// file's open error.
Status prepareSignatureSearch(CarveContext& ctx);

// The worker: the General pass, then (unless stopped, and when the Thorough records are not
// empty) the Thorough pass. Clears stopRequested when done.
CarveOutcome runSignatureSearch(CarveContext& ctx);

// One pass over the range with the records in ctx.signatures.
CarveOutcome carveRange(CarveContext& ctx, CarvePass pass, std::string_view kind = "Signature");

// Going back from the scanning step: every table, list and counter emptied.
void resetSignatureSearch(CarveContext& ctx);

}  // namespace kfr::carving
