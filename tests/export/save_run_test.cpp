// Save runs on the fixture images: what lands under the destination, byte for byte against an
// independent reader (The Sleuth Kit's icat) and the planted originals; folder structure of the
// selection; Skip, Stop and Cancel; a full destination; hostile names; the medium unchanged.
#include <gtest/gtest.h>

#include <filesystem>
#include <set>

#include "export/save_run.h"
#include "texts/work_texts.h"
#include "export_test_util.h"
#include "sleuthkit_oracle.h"

using namespace kfr;
using namespace kfr::exporting;
using namespace kfr::recovery;

namespace {

// The saved file for a planted path: deleted short-name entries lose their first letter to "_".
std::string savedFileFor(const std::map<std::string, std::string>& files, const std::string& plantedPath)
{
    std::string key = test::lower(plantedPath);
    if (auto it = files.find(key); it != files.end()) return it->second;
    const auto slash = key.rfind('/');
    key[slash == std::string::npos ? 0 : slash + 1] = '_';
    if (auto it = files.find(key); it != files.end()) return it->second;
    return {};
}

// Records what the progress window would show, and can raise the request flags on cue.
struct ScriptedObserver : SaveObserver {
    SaveRunState* state = nullptr;
    std::string skipWhenWriting;    // press Skip once this file has bytes written
    std::uint64_t cancelAtFile = 0; // raise cancelRequested when this file number starts
    bool cancelWhileCounting = false;

    std::vector<std::string> started;
    std::vector<std::pair<std::string, FileOutcome>> finished;
    std::vector<std::string> summaries;
    std::uint64_t diskFull = 0;
    bool skipped = false;
    std::vector<std::string> fileCountTexts;
    std::uint64_t foldersFinished = 0;
    std::uint64_t countingCalls = 0;

    void onCounting(std::uint64_t, std::uint64_t) override
    {
        ++countingCalls;
        if (cancelWhileCounting) state->cancelRequested = true;
    }
    void onSelectedTotals(std::uint64_t files, std::uint64_t folders) override
    {
        summaries.push_back(texts::selectedSummaryText(files, folders));
    }
    void onSavedTotals(std::uint64_t files, std::uint64_t folders) override
    {
        summaries.push_back(texts::savedSummaryText(files, folders));
    }
    void onFileStarted(const SaveFileInfo& f) override
    {
        started.push_back(f.displayName);
        fileCountTexts.push_back(countText(f.fileNumber, f.totalFiles));
        if (cancelAtFile && f.fileNumber == cancelAtFile) state->cancelRequested = true;
    }
    void onFileBytes(std::uint64_t written, std::uint64_t) override
    {
        if (written > 0 && !started.empty() && started.back() == skipWhenWriting && !skipped) {
            ++state->skipRequested;
            skipped = true;
        }
    }
    void onFileFinished(const FileResult& r) override { finished.emplace_back(r.info.displayName, r.outcome); }
    void onFolderFinished(std::uint64_t, std::uint64_t) override { ++foldersFinished; }
    void onDiskFull() override { ++diskFull; }
};

// An output file system that fills up: creation fails after `createsAllowed` files, or writing
// fails once `bytesAllowed` bytes were written in all. Real files underneath.
struct FillingOutputFiles : OutputFiles {
    std::uint64_t createsAllowed = UINT64_MAX;
    std::uint64_t bytesAllowed = UINT64_MAX;
    ErrorKind createFailure = ErrorKind::DiskFull;
    std::string refuseName;  // this file name fails to be created, for another reason
    std::uint64_t creates = 0;
    std::uint64_t bytes = 0;

    struct File : OutputFile {
        FillingOutputFiles& owner;
        std::unique_ptr<OutputFile> inner;
        File(FillingOutputFiles& o, std::unique_ptr<OutputFile> f) : owner(o), inner(std::move(f)) {}
        Status write(std::span<const std::uint8_t> b) override
        {
            if (owner.bytes + b.size() > owner.bytesAllowed) return Error{ErrorKind::DiskFull, 0, "", "No space left on device"};
            owner.bytes += b.size();
            return inner->write(b);
        }
        Status writeZeros(std::uint64_t n) override { return inner->writeZeros(n); }
        Status close() override { return inner->close(); }
    };

    Result<std::unique_ptr<OutputFile>> create(const std::string& path) override
    {
        if (!refuseName.empty() && fileNamePart(path) == refuseName)
            return Error{ErrorKind::OpenFailed, 0, path, "Invalid argument"};
        if (creates >= createsAllowed) return Error{createFailure, 0, path, "No space left on device"};
        ++creates;
        auto f = posixOutputFiles().create(path);
        if (!f) return f.error();
        return std::unique_ptr<OutputFile>(std::make_unique<File>(*this, std::move(f).value()));
    }
    bool exists(const std::string& path) const override { return posixOutputFiles().exists(path); }
    bool removeFile(const std::string& path) override { return posixOutputFiles().removeFile(path); }
};

}  // namespace

TEST(SaveRun, SavingEverythingGivesWhatAnIndependentReaderReads)
{
    struct Case {
        const char* image;
        const char* type;
    };
    for (const Case c : {Case{"fat16_basic.img", "FAT16"}, Case{"fat32_basic.img", "FAT32"},
                         Case{"ntfs_basic.img", "NTFS"}}) {
        SCOPED_TRACE(c.image);
        const std::string imagePath = test::fixturePath(c.image);
        const std::string before = test::fileDigest(imagePath);
        auto s = test::scanImage(c.image, c.type);
        s->checks.toggleCheck(s->result.folders.tree, s->result.folders.tree.firstTopLevel());
        test::TempDir out;
        test::SaveSetup setup(*s, out.path());
        ScriptedObserver observer;
        setup.ctx.observer = &observer;
        const SaveRunReport report = runSave(setup.ctx);

        EXPECT_EQ(report.end, SaveEnd::Finished);
        EXPECT_GT(report.filesTotal, 50u);
        EXPECT_EQ(report.filesWritten, report.filesTotal);
        EXPECT_EQ(report.filesFailed, 0u);
        EXPECT_EQ(report.foldersDone, report.foldersTotal);
        EXPECT_EQ(observer.foldersFinished, report.foldersTotal);
        ASSERT_EQ(observer.summaries.size(), 2u);
        EXPECT_EQ(observer.summaries[0], texts::selectedSummaryText(report.filesTotal, report.foldersTotal));
        EXPECT_EQ(observer.summaries[1], texts::savedSummaryText(report.filesWritten, report.foldersDone));
        EXPECT_EQ(observer.fileCountTexts.back(), countText(report.filesTotal, report.filesTotal));

        const auto files = test::filesUnder(out.path());
        std::size_t compared = 0;
        for (const auto& e : test::flsEntries(imagePath)) {
            if (e.directory || e.deleted) continue;
            SCOPED_TRACE(e.path);
            const auto it = files.find(test::lower(e.path));
            // The volume's own NTFS files stay out of "save everything" unless asked for.
            if (std::string(c.type) == "NTFS" && (std::stoull(e.inode) < 16 || e.path.rfind("$Extend/", 0) == 0)) {
                EXPECT_EQ(it, files.end()) << "system file saved without being asked for";
                continue;
            }
            ASSERT_NE(it, files.end()) << "live file not saved";
            EXPECT_EQ(test::readFileBytes(it->second), test::icatBytes(imagePath, e.inode)) << "bytes differ";
            ++compared;
        }
        EXPECT_GT(compared, 50u);
        std::size_t deleted = 0;
        for (const auto& m : test::manifest(std::filesystem::path(c.image).stem().string())) {
            if (m.kind != "file" || m.state != "deleted") continue;
            SCOPED_TRACE(m.path);
            const std::string saved = savedFileFor(files, m.path);
            ASSERT_FALSE(saved.empty()) << "deleted file not saved";
            EXPECT_EQ(test::fileDigest(saved), m.digest) << "deleted file differs from the original";
            ++deleted;
        }
        EXPECT_GE(deleted, 4u);
        EXPECT_EQ(test::fileDigest(imagePath), before) << "the medium was changed";
    }
}

TEST(SaveRun, TickedFoldersAndSelectedFilesKeepTheirPlaceUnderTheDestination)
{
    auto s = test::scanImage("fat16_basic.img", "FAT16");
    auto& tree = s->result.folders.tree;
    s->checks.toggleCheck(tree, test::itemAt(s->result.folders, "Documents/Work"));
    test::TempDir out;
    test::SaveSetup setup(*s, out.path());
    const ItemId camera = test::itemAt(s->result.folders, "Pictures/Camera");
    setup.ctx.selectedRows.push_back({camera, test::fileRow(*s, "Pictures/Camera", "IMG_0002.JPG")});
    // The same row twice, and a row of a ticked folder, are saved once.
    setup.ctx.selectedRows.push_back(setup.ctx.selectedRows.back());
    setup.ctx.selectedRows.push_back({test::itemAt(s->result.folders, "Documents/Work"),
                                      test::fileRow(*s, "Documents/Work", "todo.txt")});
    ScriptedObserver observer;
    setup.ctx.observer = &observer;
    const SaveRunReport report = runSave(setup.ctx);

    const std::set<std::string> expected{"documents/work/todo.txt", "documents/work/_ldplan.txt",
                                         "documents/work/reports/budget.csv",
                                         "documents/work/reports/2023/quarterly summary q3.txt",
                                         "pictures/camera/img_0002.jpg"};
    std::set<std::string> saved;
    for (const auto& [rel, path] : test::filesUnder(out.path())) saved.insert(rel);
    EXPECT_EQ(saved, expected);
    EXPECT_EQ(report.filesTotal, 5u);
    EXPECT_EQ(report.foldersTotal, 3u);  // Work, Reports, 2023
    EXPECT_EQ(report.filesWritten, 5u);
    EXPECT_GT(observer.countingCalls, 0u);

    // Only deleted files: the one deleted file of Work.
    test::TempDir deletedOut;
    setup.ctx.destination = deletedOut.path();
    setup.ctx.selectedRows.clear();
    setup.ctx.deletedOnly = true;
    const SaveRunReport onlyDeleted = runSave(setup.ctx);
    EXPECT_EQ(onlyDeleted.filesWritten, 1u);
    EXPECT_EQ(test::filesUnder(deletedOut.path()).count("documents/work/_ldplan.txt"), 1u);
}

TEST(SaveRun, AFileNamedLikeAFolderBesideItMeetsTheFolderInTheCollisionStep)
{
    // Documents/Work's folder "Reports" renamed in its long-name entry to "todo.txt", the name of
    // the file beside it (as a damaged or reused directory can hold). Folders are made before the
    // files that stand beside them, so the folder keeps its name and its files, and the file is
    // renamed by the standing answer.
    test::TempDir dir;
    const std::string image = dir.file("same_name.img");
    std::vector<std::uint8_t> bytes = test::readFileBytes(test::fixturePath("fat16_basic.img"));
    const std::uint8_t reports[] = {'R', 0, 'e', 0, 'p', 0, 'o', 0, 'r', 0};
    const auto at = std::search(bytes.begin(), bytes.end(), std::begin(reports), std::end(reports));
    ASSERT_NE(at, bytes.end());
    // The name's 13 characters lie at bytes 1-10, 14-25 and 28-31 of the entry.
    const std::size_t entry = static_cast<std::size_t>(at - bytes.begin()) - 1;
    const std::u16string name = u"todo.txt";
    std::size_t i = 0;
    for (std::size_t offset : {1, 3, 5, 7, 9, 14, 16, 18, 20, 22, 24, 28, 30}) {
        const char16_t c = i < name.size() ? name[i] : i == name.size() ? u'\0' : u'\xFFFF';
        bytes[entry + offset] = static_cast<std::uint8_t>(c & 0xFF);
        bytes[entry + offset + 1] = static_cast<std::uint8_t>(c >> 8);
        ++i;
    }
    test::writeText(image, std::string(bytes.begin(), bytes.end()));

    auto s = test::scanImage(image, "FAT16");
    s->checks.toggleCheck(s->result.folders.tree, s->result.folders.tree.firstTopLevel());
    test::TempDir out;
    test::SaveSetup setup(*s, out.path());
    const SaveRunReport report = runSave(setup.ctx);
    EXPECT_EQ(report.end, SaveEnd::Finished);
    EXPECT_EQ(report.filesFailed, 0u);
    const std::string work = out.path() + "/Documents/Work";
    ASSERT_TRUE(std::filesystem::is_directory(work + "/todo.txt"));
    EXPECT_TRUE(std::filesystem::is_regular_file(work + "/todo.txt/budget.csv"));
    std::size_t renamed = 0;
    for (const auto& e : std::filesystem::directory_iterator(work))
        if (e.is_regular_file() && e.path().filename().string().rfind("todo", 0) == 0) ++renamed;
    EXPECT_EQ(renamed, 1u);
}

TEST(SaveRun, AFolderThatItsParentsListingFindsDeletedHasItsFilesSavedAsDeleted)
{
    // Documents/Work/Reports deleted in Work's directory, and the results not yet knowing it (as
    // results read before the folder was named can be): Work's listing marks it deleted, so
    // saving only deleted files takes the files inside it, whichever thread listed it.
    test::TempDir dir;
    const std::string image = dir.file("deleted_folder.img");
    std::vector<std::uint8_t> bytes = test::readFileBytes(test::fixturePath("fat16_basic.img"));
    const std::string shortName = "REPORTS    ";
    bool marked = false;
    for (std::size_t at = 0; at + 32 <= bytes.size() && !marked; at += 32)
        if (std::equal(shortName.begin(), shortName.end(), bytes.begin() + static_cast<std::ptrdiff_t>(at)) &&
            bytes[at + 11] == 0x10) {
            bytes[at] = 0xE5;
            marked = true;
        }
    ASSERT_TRUE(marked);
    test::writeText(image, std::string(bytes.begin(), bytes.end()));

    auto s = test::scanImage(image, "FAT16");
    FolderResults& results = s->result.folders;
    const ItemId work = test::itemAt(results, "Documents/Work");
    ASSERT_NE(work, kNoItem);
    ASSERT_EQ(results.tree.children(work).size(), 1u);
    FolderNode* reports = results.nodeOf(results.tree.children(work)[0]);
    ASSERT_NE(reports, nullptr);
    ASSERT_TRUE(reports->deleted);
    reports->deleted = false;
    results.nodeOf(work)->visited = false;
    s->checks.toggleCheck(results.tree, results.tree.firstTopLevel());
    test::TempDir out;
    test::SaveSetup setup(*s, out.path());
    setup.ctx.deletedOnly = true;
    const SaveRunReport report = runSave(setup.ctx);
    EXPECT_EQ(report.end, SaveEnd::Finished);
    std::set<std::string> saved;
    for (const auto& [rel, path] : test::filesUnder(out.path())) saved.insert(rel.substr(rel.rfind('/') + 1));
    EXPECT_EQ(saved.count("budget.csv"), 1u);
    EXPECT_EQ(saved.count("quarterly summary q3.txt"), 1u);
}

TEST(SaveRun, SkipKeepsThePartWrittenAndGoesOnCancelStops)
{
    auto s = test::scanImage("fat32_basic.img", "FAT32");
    auto& tree = s->result.folders.tree;
    s->checks.toggleCheck(tree, tree.firstTopLevel());

    // Skip during the 1.3 MB file: it keeps a part, every other file is written.
    test::TempDir skipOut;
    test::SaveSetup skip(*s, skipOut.path());
    ScriptedObserver skipper;
    skipper.state = &skip.state;
    skipper.skipWhenWriting = "Large Fragmented Log.txt";
    skip.ctx.observer = &skipper;
    const SaveRunReport skipped = runSave(skip.ctx);
    EXPECT_EQ(skipped.end, SaveEnd::Finished);
    EXPECT_EQ(skipped.filesSkipped, 1u);
    EXPECT_EQ(skipped.filesWritten + 1, skipped.filesTotal);
    EXPECT_EQ(skip.state.skipRequested, 1u);  // the front end's count: the run only read it
    const auto partial = std::filesystem::file_size(skipOut.file("Large Fragmented Log.txt"));
    EXPECT_GT(partial, 0u);
    EXPECT_LT(partial, 1300000u);
    const auto whole = test::readFileBytes(skipOut.file("Large Fragmented Log.txt"));
    EXPECT_EQ(std::string(whole.begin(), whole.begin() + 40), "Large Fragmented Log.txt line 000001: Ke");

    // Cancel as the third file starts: it and every later file are abandoned.
    test::TempDir cancelOut;
    test::SaveSetup cancel(*s, cancelOut.path());
    ScriptedObserver canceller;
    canceller.state = &cancel.state;
    canceller.cancelAtFile = 3;
    cancel.ctx.observer = &canceller;
    const SaveRunReport cancelled = runSave(cancel.ctx);
    EXPECT_EQ(cancelled.end, SaveEnd::Stopped);
    EXPECT_EQ(cancelled.filesWritten, 2u);
    EXPECT_EQ(canceller.started.size(), 3u);
    EXPECT_LE(test::filesUnder(cancelOut.path()).size(), 3u);

    // Stop while counting: nothing is written.
    test::TempDir countOut;
    test::SaveSetup count(*s, countOut.path());
    ScriptedObserver stopper;
    stopper.state = &count.state;
    stopper.cancelWhileCounting = true;
    count.ctx.observer = &stopper;
    const SaveRunReport stopped = runSave(count.ctx);
    EXPECT_EQ(stopped.end, SaveEnd::Stopped);
    EXPECT_TRUE(stopper.started.empty());
    EXPECT_TRUE(test::filesUnder(countOut.path()).empty());
}

TEST(SaveRun, FullDestinationIsReportedOnceAndStopsTheRun)
{
    auto s = test::scanImage("fat16_basic.img", "FAT16");
    s->checks.toggleCheck(s->result.folders.tree, s->result.folders.tree.firstTopLevel());
    struct Case {
        const char* name;
        std::uint64_t createsAllowed;
        std::uint64_t bytesAllowed;
    };
    for (const Case c : {Case{"full when the fourth file is created", 3, UINT64_MAX},
                         Case{"full while a file is written", UINT64_MAX, 20000}}) {
        SCOPED_TRACE(c.name);
        test::TempDir out;
        test::SaveSetup setup(*s, out.path());
        FillingOutputFiles files;
        files.createsAllowed = c.createsAllowed;
        files.bytesAllowed = c.bytesAllowed;
        setup.ctx.files = &files;
        ScriptedObserver observer;
        setup.ctx.observer = &observer;
        const SaveRunReport report = runSave(setup.ctx);
        EXPECT_EQ(report.end, SaveEnd::DiskFull);
        EXPECT_EQ(observer.diskFull, 1u);
        EXPECT_FALSE(setup.state.cancelRequested);  // a full disk is the run's outcome, not a request
        EXPECT_EQ(observer.finished.back().second, FileOutcome::DiskFull);
        EXPECT_LT(observer.started.size(), report.filesTotal);
    }

    // Any other failure to create a file skips that file only.
    test::TempDir out;
    test::SaveSetup setup(*s, out.path());
    FillingOutputFiles files;
    files.refuseName = "NOTES.TXT";
    setup.ctx.files = &files;
    const SaveRunReport report = runSave(setup.ctx);
    EXPECT_EQ(report.end, SaveEnd::Finished);
    EXPECT_EQ(report.filesFailed, 1u);
    EXPECT_EQ(report.filesWritten + 1, report.filesTotal);
    ASSERT_EQ(report.problems.size(), 1u);
    EXPECT_EQ(fileNamePart(report.problems[0].path), "NOTES.TXT");
}

TEST(SaveRun, HostileNamesNeverLeaveTheDestination)
{
    auto s = test::scanImage("fat16_basic.img", "FAT16");
    auto& results = s->result.folders;
    // Names as a damaged or forged medium may carry them (NTFS names are taken as they stand).
    // Top-level folders keep the names given here: listing Root does not rename its subfolders.
    const ItemId documents = test::itemAt(results, "Documents");
    const ItemId pictures = test::itemAt(results, "Pictures");
    results.tree.item(documents).name = "..";
    results.tree.item(pictures).name = "../../escaped";
    s->checks.toggleCheck(results.tree, documents);
    s->checks.toggleCheck(results.tree, pictures);
    const ItemRow readme = test::fileRow(*s, "", "README.TXT");
    const std::vector<std::string> names{".",     "..",          "../../../outside.txt", "a/b/c.txt",
                                         std::string("nul\0byte.txt", 12), "tab\tand\x7f.txt",
                                         std::string(300, 'x') + ".txt", "",  "/etc/passwd",
                                         "__"};  // the name Documents' folder gets: the folder keeps it
    test::TempDir sandbox;
    const std::string dest = sandbox.file("dest");
    std::filesystem::create_directory(dest);
    test::SaveSetup setup(*s, dest);
    for (const auto& n : names) {
        ItemRow row = readme;
        row.name = n;
        setup.ctx.selectedRows.push_back({results.tree.firstTopLevel(), row});
    }
    const SaveRunReport report = runSave(setup.ctx);
    EXPECT_EQ(report.end, SaveEnd::Finished);
    EXPECT_EQ(report.filesFailed, 0u);
    EXPECT_EQ(report.filesWritten, report.filesTotal);
    EXPECT_EQ(report.filesTotal, names.size() + 8);  // + the files of Documents and Pictures
    EXPECT_EQ(report.replacedNames.size(), 11u);  // all but "__", and the two folders

    // Only "dest" in the sandbox, and every saved file inside it.
    std::vector<std::string> top;
    for (const auto& e : std::filesystem::directory_iterator(sandbox.path())) top.push_back(e.path().filename());
    EXPECT_EQ(top, std::vector<std::string>{"dest"});
    std::size_t files = 0;
    for (const auto& e : std::filesystem::recursive_directory_iterator(dest)) {
        const auto rel = std::filesystem::relative(e.path(), dest).lexically_normal();
        EXPECT_NE(*rel.begin(), "..") << rel;
        EXPECT_LE(e.path().filename().string().size(), 255u);
        if (e.is_regular_file()) {
            ++files;
            if (e.path().parent_path() == dest) {
                EXPECT_EQ(test::fileDigest(e.path()), "9dc1937036e82b90:1234");
            }
        }
    }
    EXPECT_EQ(files, report.filesWritten);
    EXPECT_TRUE(std::filesystem::exists(dest + "/__/Work/todo.txt"));
    EXPECT_TRUE(std::filesystem::is_regular_file(dest + "/___dd_0"));
    EXPECT_TRUE(std::filesystem::exists(dest + "/.._.._escaped/Camera/IMG_0001.JPG"));
}

TEST(SaveRun, UnusableDestinationOrNothingTickedWritesNothing)
{
    auto s = test::scanImage("fat16_basic.img", "FAT16");
    test::TempDir out;
    test::writeText(out.file("plain"), "x");
    for (const std::string& dest : {out.file("missing"), out.file("plain"), std::string()}) {
        SCOPED_TRACE(dest);
        s->checks.toggleCheck(s->result.folders.tree, s->result.folders.tree.firstTopLevel());
        test::SaveSetup setup(*s, dest);
        const SaveRunReport report = runSave(setup.ctx);
        EXPECT_EQ(report.end, SaveEnd::Refused);
        EXPECT_EQ(report.verdict, DestinationVerdict::NotUsable);
        s->checks.toggleCheck(s->result.folders.tree, s->result.folders.tree.firstTopLevel());
    }
    test::SaveSetup setup(*s, out.path());
    EXPECT_EQ(runSave(setup.ctx).end, SaveEnd::Nothing);
    EXPECT_EQ(test::filesUnder(out.path()).size(), 1u);
}
