// Runs The Sleuth Kit's fls and icat on a fixture image as an independent reader to compare with.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace kfr::test {

struct FlsEntry {
    bool directory = false;
    bool deleted = false;
    std::string path;   // "Documents/Work/todo.txt"
    std::string inode;  // "1416" or "75-128-2"
    std::uint64_t size = 0;
    std::string modified;  // "2023-06-01 08:15:30" as fls prints it (FAT: the entry's own date and time)
};

// Every entry of `fls -r -p -l image`, without the tool's virtual entries ($MBR, $FAT1,
// $OrphanFiles, ...) and volume labels. Fails the test when fls cannot run.
std::vector<FlsEntry> flsEntries(const std::string& image);

// The bytes `icat image inode` prints.
std::vector<std::uint8_t> icatBytes(const std::string& image, const std::string& inode);

}  // namespace kfr::test
