// Collision rules and "_dd_" renaming.
#include "export/collision.h"

#include "export/safe_names.h"

namespace kfr::exporting {

bool isStandingAnswer(CollisionAnswer answer)
{
    return answer == CollisionAnswer::OverwriteAll || answer == CollisionAnswer::SkipAll ||
           answer == CollisionAnswer::RenameAll;
}

void applyReplaceReply(const ReplaceReply& reply, CollisionState& collisions)
{
    switch (reply.button) {
    case ReplaceButton::Overwrite:
        collisions.collisionAnswer = reply.applyToAll ? CollisionAnswer::OverwriteAll : CollisionAnswer::Overwrite;
        collisions.collisionPath = reply.fileNameText;
        break;
    case ReplaceButton::Rename:
        collisions.collisionAnswer = reply.applyToAll ? CollisionAnswer::RenameAll : CollisionAnswer::Rename;
        collisions.collisionPath = reply.newFileNameText;
        break;
    case ReplaceButton::Skip:
        collisions.collisionAnswer = reply.applyToAll ? CollisionAnswer::SkipAll : CollisionAnswer::Skip;
        break;
    case ReplaceButton::Cancel:
        collisions.collisionAnswer = CollisionAnswer::SkipAll;
        collisions.runCancelled = true;
        break;
    }
}

std::string autoRenamePath(const std::string& path, const std::function<bool(const std::string&)>& exists,
                           std::size_t maxNameBytes, std::uint64_t* nextNumber)
{
    const auto slash = path.rfind('/');
    const std::string folder = slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
    const std::string file = slash == std::string::npos ? path : path.substr(slash + 1);
    const auto dot = file.rfind('.');
    const bool hasExtension = dot != std::string::npos;
    const std::string base = hasExtension ? file.substr(0, dot) : file;
    const std::string extension = hasExtension ? "." + file.substr(dot + 1) : std::string();

    for (std::uint64_t n = nextNumber ? *nextNumber : 0;; ++n) {
        const std::string tail = "_dd_" + std::to_string(n) + extension;
        std::string head = base;
        // Keep the new name within what the destination accepts: the number must survive.
        if (head.size() + tail.size() > maxNameBytes)
            head = head.substr(0, characterBoundary(head, maxNameBytes > tail.size() ? maxNameBytes - tail.size() : 0));
        std::string candidate = folder + head + tail;
        if (!exists(candidate) || n == UINT64_MAX) {
            if (nextNumber) *nextNumber = n + 1;
            return candidate;
        }
    }
}

std::string autoRenamePath(const std::string& path)
{
    return autoRenamePath(path, [](const std::string& p) { return posixOutputFiles().exists(p); });
}

CollisionOutcome collisionStep(const std::string& targetPath, CollisionState& collisions, CollisionPrompt* prompt,
                               const OutputFiles& files, std::size_t maxNameBytes)
{
    auto exists = [&files](const std::string& p) { return files.exists(p); };
    CollisionOutcome out;
    collisions.collisionPath = targetPath;
    std::string target = targetPath;
    switch (collisions.collisionAnswer) {
    case CollisionAnswer::SkipAll:
        return out;
    case CollisionAnswer::RenameAll:
        target = autoRenamePath(target, exists, maxNameBytes, &collisions.nextRenameNumber[targetPath]);
        break;
    case CollisionAnswer::OverwriteAll:
        break;
    default: {
        const ReplaceReply reply = prompt ? prompt->ask(collisions.collisionPath,
                                                        autoRenamePath(collisions.collisionPath, exists, maxNameBytes))
                                          : ReplaceReply{};
        applyReplaceReply(reply, collisions);
        switch (collisions.collisionAnswer) {
        case CollisionAnswer::Skip:
        case CollisionAnswer::SkipAll:
            return out;
        case CollisionAnswer::Rename:
        case CollisionAnswer::RenameAll:
            // Taken as typed: a new name that is also taken is overwritten.
            target = collisions.collisionPath;
            break;
        default:
            break;
        }
    }
    }
    out.proceed = true;
    out.targetPath = target;
    out.displayName = fileNamePart(target);
    return out;
}

}  // namespace kfr::exporting
