// Signature Search through the session: the checks before a search (signature files, the
// source's size, the range, the destination, the ticked types) and the search itself.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>

#include "carving/carve_scan.h"
#include "session/recovery_session.h"

namespace kfr::session {

struct CarveSetup {
    std::string sourcePath;                    // disk, partition or image: raw sectors, no file system
    std::optional<std::uint64_t> firstSector;  // default 0
    std::optional<std::uint64_t> lastSector;   // default: the source's last sector (inclusive)
    std::string destination;                   // an existing folder
    std::string signatureFolder;               // "" : as signatureFolderOf finds it
    bool thorough = true;                      // run the Thorough pass after the General one
    bool exactEnds = false;                    // cut files where their structure ends; drop broken ones
    bool anyOffset = false;                    // probe every byte offset, not sector starts only
};

// The folder holding the two signature files. "" gives the program's own folder, or, when the
// files are not there, ../share/kestravon beside it, where an installed program finds them.
std::string signatureFolderOf(const std::string& folder);

// The file types the signature files know, every one ticked. Fails when either file cannot be
// opened (the error names the file).
Result<carving::ExtensionList> loadExtensionList(const std::string& signatureFolder);

struct CarvePreparation {
    std::unique_ptr<carving::CarveContext> context;              // ready to run when set
    carving::SearchCheck check = carving::SearchCheck::Ready;    // a refusal with the screen's message
    std::optional<Error> error;                                  // any other reason it cannot start
};

// Checks everything a search needs and loads the General records. extensions carries the
// user's ticks.
CarvePreparation prepareCarve(const CarveSetup& setup, carving::ExtensionList extensions,
                              const SourceOpener& opener = fileSourceOpener());

// Runs the prepared search on the calling thread.
carving::CarveOutcome runCarve(carving::CarveContext& context, const std::atomic<bool>* stopRequested,
                               carving::CarveObserver* observer, carving::MediaPrompt* prompt);

}  // namespace kfr::session
