// Opening a recovered file: a temporary copy named "MRC<n>.<extension>" is written to the
// user's temporary folder and handed to the desktop's opener; the copies this program made are
// removed again when the screen that made them closes.
#pragma once

#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <ctime>
#include <sys/types.h>
#include <vector>

#include "export/file_writer.h"
#include "recovery/folder_listing.h"
#include "storage/result.h"

namespace kfr::exporting {

// The folder the copies go to: a folder of this user's own ("kestravon-fat-recovery-<uid>",
// mode 0700) inside base ($TMPDIR, else /tmp, when base is empty). A shared /tmp would let
// another user plant a file or link under a predictable "MRC0.jpg" and read or redirect what is
// opened. Fails when the folder cannot be made or is not this user's private folder.
Result<std::string> temporaryFolder(const std::string& base = "");

// "MRC<counter>." + the name's extension (from its last dot, without it, blanks trimmed); the
// trailing dot is dropped when the name has none: Holiday.JPG -> MRC0.JPG, README -> MRC0.
// Characters that cannot be in a file name are replaced, as in safeName.
std::string temporaryCopyName(std::uint32_t counter, const std::string& itemName);

// The open counter and the copies made with it; owned by the main window (or one CLI call).
// Thread-safe: the open thread adds copies while the screen may be closing.
class TemporaryCopies {
public:
    explicit TemporaryCopies(std::string folder) : m_folder(std::move(folder)) {}

    const std::string& folder() const { return m_folder; }
    // The next copy's path; increases the counter, passing over names still taken (a copy an
    // earlier run left for a viewer that may still have it open).
    std::string nextPath(const std::string& itemName);
    // Remembers a file this program wrote, by its identity, so only that file is ever removed.
    void remember(const std::string& path);
    std::size_t count() const;

    // Removes every remembered copy that is still the file this program wrote; returns how many.
    std::size_t removeAll();

private:
    struct Copy {
        std::string path;
        dev_t device = 0;
        ino_t inode = 0;
        struct timespec changed {};  // an inode number may be reused; its change time with it is not
    };
    mutable std::mutex m_mutex;
    std::string m_folder;
    std::uint32_t m_counter = 0;
    std::vector<Copy> m_copies;
};

// Removes the temporary copies (run when a recovery screen or the main window closes).
std::size_t removeTemporaryCopies(TemporaryCopies& copies);

// Removes the copies ("MRC<n>...") an earlier run left in this user's private folder (a run
// that crashed, or a command-line `open` that handed its copy over and ended) once no process
// holds them open any more; procRoot is where the processes' open files are read ("/proc").
// Returns how many were removed.
std::size_t removeLeftoverCopies(const std::string& folder, const std::string& procRoot = "/proc");

enum class OpenAction {
    Nothing,     // a volume label, or no volume parameters (no cluster size)
    ListFolder,  // a folder row: list that folder (folderItem) instead
    Opened,      // a copy was written and handed to the opener
    Failed,      // the copy is missing (NotFound) or the opener could not start
};

struct OpenResult {
    OpenAction action = OpenAction::Nothing;
    recovery::ItemId folderItem = recovery::kNoItem;
    std::string copyPath;
    Error error;  // for Failed
};

// Hands a file to the desktop (openWithShell with mode 0 and xdg-open by default).
using Opener = std::function<Status(const std::string& path)>;

// Opens a row of the item list: a folder row asks for the folder to be listed; a file row is
// written (in opening mode, no collision rules) to copies.nextPath() and passed to opener. The
// writer context's observer is not used. A copy left under the same name by an earlier run is
// removed first; a copy cut short by a full or failing disk is removed and reported as missing.
OpenResult openThroughCopy(const WriterContext& context, const recovery::ItemRow& row, TemporaryCopies& copies,
                           const Opener& opener);

}  // namespace kfr::exporting
