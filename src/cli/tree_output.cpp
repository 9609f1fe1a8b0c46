// Printing the folder tree without recursion.
#include "cli/tree_output.h"

#include <string>
#include <vector>

#include "cli/terminal_text.h"
#include "recovery/folder_table.h"

namespace kfr::cli {

using recovery::ItemId;
using recovery::kNoItem;

namespace {

// Visits the items in pre-order with their depth (the top item has depth 0).
template <typename Visit>
void walkWithDepth(const recovery::ResultTree& tree, Visit&& visit)
{
    std::vector<std::size_t> depth(tree.itemCount() + 1, 0);
    for (ItemId id : tree.preOrder()) {
        const ItemId parent = tree.item(id).parent;
        depth[id] = parent == kNoItem ? 0 : depth[parent] + 1;
        visit(id, depth[id]);
    }
}

}  // namespace

void walkFolderPaths(const recovery::ResultTree& tree,
                     const std::function<void(ItemId, std::size_t, const std::string*)>& visit)
{
    std::string path;
    std::vector<std::size_t> lengthAt;  // the path's length at each depth on the way down
    std::size_t tooLongFrom = SIZE_MAX;  // the depth from which paths are too long
    walkWithDepth(tree, [&](ItemId id, std::size_t depth) {
        if (depth == 0) {
            path.assign(1, '/');
            lengthAt.assign(1, 0);
            tooLongFrom = SIZE_MAX;
            visit(id, 0, &path);
            return;
        }
        if (depth <= tooLongFrom) tooLongFrom = SIZE_MAX;
        lengthAt.resize(depth);
        const std::string& name = tree.item(id).name;
        if (tooLongFrom == SIZE_MAX && lengthAt[depth - 1] + 1 + name.size() <= kMaxPathBytes) {
            path.resize(lengthAt[depth - 1]);
            path += "/" + name;
            lengthAt.push_back(path.size());
            visit(id, depth, &path);
            return;
        }
        if (tooLongFrom == SIZE_MAX) tooLongFrom = depth;
        lengthAt.push_back(lengthAt[depth - 1]);
        visit(id, depth, nullptr);
    });
}

void printFolderTree(std::ostream& out, const recovery::FolderResults& r)
{
    walkWithDepth(r.tree, [&](ItemId id, std::size_t depth) {
        const std::size_t shown = std::min(depth, kMaxIndentDepth);
        out << std::string(shown * 2, ' ');
        if (depth > kMaxIndentDepth) out << "[depth " << depth << "] ";
        out << escapeForTerminal(r.tree.item(id).name);
        if (const recovery::FolderNode* n = r.nodeOf(id); n && n->deleted) out << "  [deleted]";
        out << '\n';
    });
}

nlohmann::json foldersJson(const recovery::FolderResults& r, const recovery::VolumeSet& volumes, bool debug)
{
    nlohmann::json folders = nlohmann::json::array();
    walkWithDepth(r.tree, [&](ItemId id, std::size_t depth) {
        const auto& item = r.tree.item(id);
        const recovery::FolderNode* n = r.nodeOf(id);
        const bool lostAndFound = n && n->self == recovery::kOrphanCluster;
        nlohmann::json f{{"id", id},
                         {"parent_id", item.parent == kNoItem ? nlohmann::json(nullptr) : nlohmann::json(item.parent)},
                         {"name", item.name},
                         {"depth", depth},
                         {"kind", item.parent == kNoItem ? "root" : lostAndFound ? "lost_and_found" : "folder"},
                         {"deleted", n && n->deleted}};
        if (n && !lostAndFound) {
            f[volumes.isNtfs(n->volume) ? "mft_record" : "cluster"] = n->self;
            if (volumes.list && volumes.list->size() > 1) f["volume"] = n->volume;
        }
        if (debug && n) f["debug"] = {{"self", n->self}, {"parent", n->parent}, {"visited", n->visited}};
        folders.push_back(std::move(f));
    });
    return folders;
}

}  // namespace kfr::cli
