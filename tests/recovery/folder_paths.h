// The folder tree of scan results as lower-cased "a/b/c" paths, for comparing trees with each
// other and with an independent reader.
#pragma once

#include <cctype>
#include <map>
#include <string>

#include "recovery/folder_tree.h"

namespace kfr::test {

inline std::string lower(std::string s)
{
    for (auto& c : s) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return s;
}

// Lower-cased path of an item below the top item.
inline std::string folderPath(const recovery::FolderResults& r, recovery::ItemId item)
{
    std::string path;
    for (recovery::ItemId cur = item; r.tree.item(cur).parent != recovery::kNoItem; cur = r.tree.item(cur).parent)
        path = lower(r.tree.item(cur).name) + (path.empty() ? "" : "/" + path);
    return path;
}

// Lower-cased path of every folder item below the top item, with its deleted mark.
inline std::map<std::string, bool> folderPaths(const recovery::FolderResults& r)
{
    std::map<std::string, bool> out;
    for (const auto& n : r.nodes) out[folderPath(r, n.item)] = n.deleted;
    return out;
}

}  // namespace kfr::test
