// Temporary copies for opening recovered files.
#include "export/temp_copies.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <set>
#include <sys/stat.h>
#include <unistd.h>

#include "export/destination.h"
#include "export/fat_writer.h"
#include "export/ntfs_writer.h"
#include "export/safe_names.h"
#include "storage/byte_size.h"
#include "storage/output_files.h"

namespace kfr::exporting {

namespace {

constexpr std::size_t kMaxExtensionBytes = 64;

}  // namespace

Result<std::string> temporaryFolder(const std::string& base)
{
    std::string root = base;
    if (root.empty()) {
        const char* env = std::getenv("TMPDIR");
        root = env && *env ? env : "/tmp";
    }
    while (root.size() > 1 && root.back() == '/') root.pop_back();
    const std::string folder = root + "/kestravon-fat-recovery-" + std::to_string(::geteuid());
    auto made = storage::makeRealFolder(folder, 0700);
    if (!made) return made.error();
    const struct stat& st = *made;
    if (st.st_uid != ::geteuid())
        return Error{ErrorKind::PermissionDenied, 0, folder, "exists but is not a private folder of this user"};
    if ((st.st_mode & 077) != 0 && ::chmod(folder.c_str(), 0700) != 0)
        return Error{ErrorKind::PermissionDenied, 0, folder, std::strerror(errno)};
    return folder;
}

std::string temporaryCopyName(std::uint32_t counter, const std::string& itemName)
{
    std::string name = "MRC" + std::to_string(counter);
    const auto dot = itemName.rfind('.');
    if (dot == std::string::npos) return name;
    std::string extension = storage::trimText(itemName.substr(dot + 1));
    if (extension.empty()) return name;
    extension = safeName(extension, kMaxExtensionBytes).name;
    return name + "." + extension;
}

std::string TemporaryCopies::nextPath(const std::string& itemName)
{
    std::lock_guard lock(m_mutex);
    for (;;) {
        std::string path = m_folder + "/" + temporaryCopyName(m_counter++, itemName);
        struct stat st {};
        if (::lstat(path.c_str(), &st) != 0 || m_counter == 0) return path;
    }
}

void TemporaryCopies::remember(const std::string& path)
{
    struct stat st {};
    if (::lstat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) return;
    std::lock_guard lock(m_mutex);
    m_copies.push_back({path, st.st_dev, st.st_ino, st.st_ctim});
}

std::size_t TemporaryCopies::count() const
{
    std::lock_guard lock(m_mutex);
    return m_copies.size();
}

std::size_t TemporaryCopies::removeAll()
{
    std::lock_guard lock(m_mutex);
    std::size_t removed = 0;
    for (const auto& copy : m_copies) {
        struct stat st {};
        // Only the very file written here: a file put under that name since is not ours.
        if (::lstat(copy.path.c_str(), &st) != 0 || !S_ISREG(st.st_mode) || st.st_dev != copy.device ||
            st.st_ino != copy.inode || st.st_ctim.tv_sec != copy.changed.tv_sec ||
            st.st_ctim.tv_nsec != copy.changed.tv_nsec)
            continue;
        if (::unlink(copy.path.c_str()) == 0) ++removed;
    }
    m_copies.clear();
    return removed;
}

std::size_t removeTemporaryCopies(TemporaryCopies& copies)
{
    return copies.removeAll();
}

namespace {

bool isCopyName(const std::string& name)
{
    if (name.size() < 4 || name.compare(0, 3, "MRC") != 0) return false;
    std::size_t i = 3;
    while (i < name.size() && name[i] >= '0' && name[i] <= '9') ++i;
    return i > 3 && (i == name.size() || name[i] == '.');
}

}  // namespace

std::size_t removeLeftoverCopies(const std::string& folder, const std::string& procRoot)
{
    namespace fs = std::filesystem;
    std::error_code ec;
    std::vector<std::pair<std::string, struct stat>> candidates;
    for (const auto& entry : fs::directory_iterator(folder, ec)) {
        const std::string name = entry.path().filename().string();
        struct stat st {};
        if (!isCopyName(name) || ::lstat(entry.path().c_str(), &st) != 0 || !S_ISREG(st.st_mode) ||
            st.st_uid != ::geteuid())
            continue;
        candidates.emplace_back(entry.path().string(), st);
    }
    if (candidates.empty()) return 0;
    // A viewer may still show a copy: anything some process holds open stays.
    std::set<std::pair<dev_t, ino_t>> held;
    for (const auto& process : fs::directory_iterator(procRoot, ec)) {
        std::error_code fdError;
        for (const auto& fd : fs::directory_iterator(process.path() / "fd", fdError)) {
            struct stat st {};
            if (::stat(fd.path().c_str(), &st) == 0 && S_ISREG(st.st_mode)) held.emplace(st.st_dev, st.st_ino);
        }
    }
    std::size_t removed = 0;
    for (const auto& [path, st] : candidates)
        if (!held.count({st.st_dev, st.st_ino}) && ::unlink(path.c_str()) == 0) ++removed;
    return removed;
}

OpenResult openThroughCopy(const WriterContext& ctx, const recovery::ItemRow& row, TemporaryCopies& copies,
                           const Opener& opener)
{
    OpenResult result;
    if (row.kind == recovery::RowKind::Folder) {
        result.action = OpenAction::ListFolder;
        result.folderItem = row.folderItem;
        return result;
    }
    if (row.kind == recovery::RowKind::VolumeLabel || !ctx.params || ctx.params->spc == 0) return result;

    const std::string& name = row.name;
    const std::string path = copies.nextPath(name);
    result.copyPath = path;
    makeDirectoryPath(copies.folder());
    OutputFiles& files = ctx.files ? *ctx.files : posixOutputFiles();

    // No progress window and no disk-full report for a copy: the please-wait window stands in.
    WriterContext opening = ctx;
    opening.openingMode = true;
    const auto& p = *ctx.params;
    FileOutcome outcome = FileOutcome::NoData;
    if (p.isFat()) {
        outcome = writeFatFile(opening, {path, name, row.size, row.firstCluster, false});
    } else if (p.isNtfs()) {
        outcome = writeNtfsFile(opening, {path, name, row.size, row.recordSector, false, row.recordNumber, row.streamName});
    }
    // A copy cut short by a full or failing disk is not the file: it must not be opened as one.
    if (outcome == FileOutcome::DiskFull || outcome == FileOutcome::WriteFailed) files.removeFile(path);

    struct stat st {};
    if (::lstat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) {
        result.action = OpenAction::Failed;
        result.error = Error{ErrorKind::NotFound, 0, path, "the copy was not written"};
        return result;
    }
    copies.remember(path);
    const Status opened = opener ? opener(path) : okStatus();
    if (!opened) {
        result.action = OpenAction::Failed;
        result.error = opened.error();
        return result;
    }
    result.action = OpenAction::Opened;
    return result;
}

}  // namespace kfr::exporting
