// The options that pick what to read: a source (disk, partition, volume device, image, or the
// folder a volume is mounted at), a partition or sector range, and a file system, turned into
// the session's source request.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "cli/command_registry.h"
#include "session/recovery_session.h"
#include "storage/result.h"

namespace CLI {
class App;
class Option;
}

namespace kfr::cli {

struct SelectionOptions {
    std::string source;
    std::optional<std::uint64_t> first;
    std::optional<std::uint64_t> last;
    std::string fileSystem = "auto";
    std::uint32_t partition = 0;  // the N of /dev/sdbN; 0: none
    bool deep = false;            // Deep Search of the range instead of Basic Search
    std::string log;              // --log: the results of a recovery log instead of a scan
    std::string mountInfo = "/proc/self/mountinfo";  // where mount points are looked up
};

// Adds the source (positional, or -s/--source), -p/--partition, --first, --last and, unless
// withFileSystem is false, --fs and --deep to a command. Returns the source option, which is
// required unless withLog adds --log (the source then names a medium the log's one moved to).
CLI::Option* addSelectionOptions(CLI::App& command, SelectionOptions& options, bool withFileSystem = true,
                                 bool withLog = false);

// The request the options name. A folder that a volume is mounted at stands for that volume's
// device (a note says so); any other folder is refused with the device that holds it. A
// partition and a sector range together are refused.
Result<session::SourceRequest> sourceRequest(const SelectionOptions& options, const GlobalOptions& global);

// What Deep Search looks for when the options ask for it (--fs FAT16, FAT32, FAT, NTFS, or both
// FAT and NTFS by default); nothing for Basic Search.
std::optional<std::string> deepFileSystem(const SelectionOptions& options);

}  // namespace kfr::cli
