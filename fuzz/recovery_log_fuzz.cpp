// Recovery logs of arbitrary bytes: read, the tree rebuilt, written again and read back, and the
// whole load with the medium the log names attached at another disk number or device, so the
// moved-medium path and the tree rebuild run too. What a log claims (lengths, counts) must never
// crash, hang or allocate its size.
#include <cstdint>
#include <cstdlib>

#include "recoverylog/recovery_log.h"

namespace {

using namespace kfr::recoverylog;

struct AnswerYes final : MediaPrompt {
    bool continueWithDisk(std::uint32_t, std::uint32_t) override { return true; }
    bool continueWithVolume(const std::string&, const std::string&) override { return true; }
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const kfr::Bytes bytes(data, size);
    MemoryInput input(bytes);
    const ParsedLog log = parseRecoveryLog(input);
    kfr::recovery::FolderResults folders;
    rebuildTree(log, folders);
    if (folders.folderCount != log.folders.size()) std::abort();

    // What was read, written again, reads back as the same tree.
    LogContents contents;
    contents.header = log.header;
    contents.folders = &folders;
    contents.deepPartitions = &log.deepPartitions;
    contents.mftFiles = &log.mftFiles;
    contents.drivePartitions = &log.drivePartitions;
    contents.ntfsScanValue = log.ntfsScanValue;
    if (log.extension) contents.extension = &*log.extension;
    MemorySink sink;
    if (log.headerRead && writeRecoveryLog(sink, contents).ok()) {
        MemoryInput written(sink.bytes());
        const ParsedLog again = parseRecoveryLog(written);
        if (again.fault) std::abort();
        kfr::recovery::FolderResults rebuilt;
        rebuildTree(again, rebuilt);
        const auto before = folders.tree.preOrder();
        const auto after = rebuilt.tree.preOrder();
        if (before.size() != after.size()) std::abort();
        for (std::size_t i = 0; i < before.size(); ++i) {
            const auto& a = folders.tree.item(before[i]);
            const auto& b = rebuilt.tree.item(after[i]);
            if (a.name != b.name || (a.parent == kfr::recovery::kNoItem) != (b.parent == kfr::recovery::kNoItem)) std::abort();
        }
    }

    AnswerYes yes;
    LoadContext context;
    context.prompt = &yes;
    const Location where = log.header.location;
    context.listMedia = [&where](const std::vector<std::string>&) {
        MediaListing media;
        media.disks.push_back({where.diskNumber + 1, where.diskIdentity, "/nonexistent/disk"});
        media.volumes.push_back({"/nonexistent/volume", where.volumeSectors});
        return media;
    };
    MemoryInput whole(bytes);
    (void)loadRecoveryLog(whole, context);
    return 0;
}
