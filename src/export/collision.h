// What happens when a recovered file's target name is taken: the answers of the Replace dialog,
// the standing answers that stop it from asking again, and the automatic "_dd_" renaming.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <unordered_map>

#include "export/output_file.h"
#include "export/safe_names.h"
#include "export/save_state.h"

namespace kfr::exporting {

// The Replace dialog's answers, by their stored codes.
enum class CollisionAnswer : int {
    Overwrite = 0,     // "Overwrite"
    Skip = 1,          // "Skip"
    OverwriteAll = 2,  // "Overwrite" with "Apply the answer to all the files"
    SkipAll = 3,       // "Skip" with the box ticked, and "Cancel"
    Rename = 4,        // "Rename"
    RenameAll = 5,     // "Rename" with the box ticked
};

// Standing answers (2, 3 and 5) hold for every later collision without asking.
bool isStandingAnswer(CollisionAnswer answer);

// Shared by the writer and the dialog. Owned by the front end, so a standing answer can outlive
// one run when the front end wants it to.
struct CollisionState {
    CollisionAnswer collisionAnswer = CollisionAnswer::Overwrite;
    // Where "_dd_" numbering goes on for each path renamed in this run: a thousand files of one
    // name try each number once, not a thousand times.
    std::unordered_map<std::string, std::uint64_t> nextRenameNumber;
    bool runCancelled = false;  // "Cancel" was answered: the run ends after the current file
    std::string collisionPath;  // the colliding target; "Overwrite" and "Rename" put their edit box back
};

enum class ReplaceButton { Overwrite, Rename, Skip, Cancel };

// What the user did in the Replace dialog. Enter answers Overwrite; Esc and the close box Skip.
struct ReplaceReply {
    ReplaceButton button = ReplaceButton::Skip;
    bool applyToAll = false;
    std::string fileNameText;     // first edit box (read-only: the colliding path)
    std::string newFileNameText;  // second edit box (editable: opens with autoRenamePath)
};

// Implemented by the front end (the GUI's Replace dialog, the CLI's terminal question). Called on
// the writing thread, which waits for the answer.
class CollisionPrompt {
public:
    virtual ~CollisionPrompt() = default;
    virtual ReplaceReply ask(const std::string& collisionPath, const std::string& suggestedPath) = 0;
};

// Stores a reply the way the dialog's buttons do: the answer code, collisionPath from the edit
// box of "Overwrite" or "Rename", and runCancelled for "Cancel", which ends the whole run.
void applyReplaceReply(const ReplaceReply& reply, CollisionState& collisions);

// The first free "_dd_" variant of path: "report.doc" -> "report_dd_0.doc", then _dd_1, ...;
// "README" -> "README_dd_0"; ".profile" -> "_dd_0.profile". The number starts at 0 for every
// call. A file-name part that would grow past maxNameBytes is shortened before its number.
std::string autoRenamePath(const std::string& path, const std::function<bool(const std::string&)>& exists,
                           std::size_t maxNameBytes = kDefaultNameMaxBytes, std::uint64_t* nextNumber = nullptr);
std::string autoRenamePath(const std::string& path);

struct CollisionOutcome {
    bool proceed = false;     // false: abandon the file (nothing written, nothing counted)
    std::string targetPath;   // the final target
    std::string displayName;  // its file-name part
};

// The collision step for a target that exists. Without a prompt a question is answered "Skip",
// so a front end that cannot ask never destroys a file.
CollisionOutcome collisionStep(const std::string& targetPath, CollisionState& collisions, CollisionPrompt* prompt,
                               const OutputFiles& files, std::size_t maxNameBytes = kDefaultNameMaxBytes);

}  // namespace kfr::exporting
