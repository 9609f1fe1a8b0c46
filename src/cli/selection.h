// The options that pick what to read: a source (disk, partition, volume or image), a sector
// range and a file system, turned into the session's source request.
#pragma once

#include <cstdint>
#include <string>

#include "session/recovery_session.h"

namespace CLI {
class App;
}

namespace kfr::cli {

struct SelectionOptions {
    std::string source;
    std::uint64_t first = 0;
    std::uint64_t last = 0;   // 0: the source's last sector
    bool lastGiven = false;
    std::string fileSystem = "auto";
    std::uint32_t partition = 0;  // 1.. picks a partition of a disk or disk image; 0: none
};

// Adds --source/-s, --partition, --first, --last and --fs to a command.
void addSelectionOptions(CLI::App& command, SelectionOptions& options);

session::SourceRequest sourceRequest(const SelectionOptions& options);

}  // namespace kfr::cli
