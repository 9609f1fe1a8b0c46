// Saving everything from small images that each show one way a medium is hard to read right: a
// cut-off image, clusters so large that cluster 0 lies before the volume, accented and long
// names, deleted files among live ones, lower-case 8.3 names, a volume label. What lands in the
// destination is compared with the original files, and the report with what really happened.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <map>
#include <nlohmann/json.hpp>
#include <sstream>
#include <sys/stat.h>

#include "export/export_test_util.h"
#include "test_support.h"

namespace {

namespace fs = std::filesystem;
using kfr::test::fileDigest;

using Planted = kfr::test::ManifestEntry;

// The planted files of a fault image, as its manifest lists them.
std::vector<Planted> plantedFiles(const std::string& image)
{
    std::vector<Planted> out;
    for (auto& e : kfr::test::manifest(image))
        if (e.kind == "file") out.push_back(std::move(e));
    return out;
}

struct Saved {
    nlohmann::json report;
    int exitCode = -1;
    std::map<std::string, std::string> digests;  // relative path -> digest
};

Saved saveAll(const std::string& image, const std::string& dest)
{
    const std::string path = kfr::test::fixturePath(image + ".img");
    const std::string before = fileDigest(path);
    // FAT times are local times: read them in a fixed zone.
    const auto r = kfr::test::runCommand("TZ=UTC " + kfr::test::shellQuote(KFR_CLI_PATH) + " --json save --all -s " +
                                             kfr::test::shellQuote(path) + " -d " + kfr::test::shellQuote(dest),
                                         false);
    EXPECT_EQ(fileDigest(path), before) << "the image was changed";
    Saved s;
    s.exitCode = r.exitCode;
    s.report = nlohmann::json::parse(r.out, nullptr, false);
    for (const auto& e : fs::recursive_directory_iterator(dest))
        if (e.is_regular_file()) s.digests[fs::relative(e.path(), dest).string()] = fileDigest(e.path().string());
    return s;
}

// The saved name of a planted file: a deleted entry without a long name has lost its first
// character to the deleted mark, shown as "_".
std::string savedName(const Saved& s, const Planted& p)
{
    if (s.digests.count(p.path)) return p.path;
    const auto slash = p.path.rfind('/');
    std::string marked = p.path;
    marked[slash == std::string::npos ? 0 : slash + 1] = '_';
    return marked;
}

TEST(FaultImages, SavedFilesEqualTheOriginalsAndTheReportSaysWhatWasShort)
{
    struct Case {
        const char* image;
        int exitCode;
        std::set<std::string> incomplete;  // planted paths written short
    };
    const Case cases[] = {
        {"fat_truncated", 1,
         {"Panorama.jpg", "todo.txt", "Album/photo2.jpg", "Album/photo3.jpg", "Report final.pdf", "log.txt", "zz_last.txt"}},
        {"fat16_large_clusters", 0, {}},
        {"fat32_large_clusters", 0, {}},
        {"fat_accented_deleted", 0, {}},
        {"fat_long_names_fragmented", 0, {}},
        {"fat_deleted_fragmented", 0, {}},
        {"fat_lowercase_names", 0, {}},
        {"fat_volume_label", 0, {}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.image);
        kfr::test::TempDir out;
        const Saved s = saveAll(c.image, out.path());
        ASSERT_TRUE(s.report.is_object());
        EXPECT_EQ(s.exitCode, c.exitCode);
        EXPECT_EQ(s.report["files_incomplete"], c.incomplete.size());
        std::set<std::string> reportedShort;
        for (const auto& f : s.report["files"])
            if (f["outcome"] == "incomplete") {
                reportedShort.insert(fs::relative(f["path"].get<std::string>(), out.path()).string());
                EXPECT_LT(f["written"].get<std::uint64_t>(), f["size"].get<std::uint64_t>());
                EXPECT_EQ(f["reason"], "past_medium_end");
            }
        EXPECT_EQ(reportedShort, c.incomplete);
        for (const auto& p : plantedFiles(c.image)) {
            if (p.state != "live" && p.state != "deleted") continue;  // overwritten spacers hold other data now
            SCOPED_TRACE(p.path);
            const std::string name = savedName(s, p);
            ASSERT_TRUE(s.digests.count(name)) << "not saved";
            if (c.incomplete.count(p.path)) continue;
            EXPECT_EQ(s.digests.at(name), p.digest);
        }
    }
}

TEST(FaultImages, WhatOnlyTheFileSystemKnowsComesBackToo)
{
    // The part of a cut-off file that the image still holds is saved, and only that.
    kfr::test::TempDir cut;
    const Saved truncated = saveAll("fat_truncated", cut.path());
    EXPECT_EQ(truncated.digests.at("Panorama.jpg"), "7bb4079d65f80f7b:117760");

    // Names as the system that wrote them showed them, and the label is no file.
    kfr::test::TempDir names;
    const Saved lower = saveAll("fat_lowercase_names", names.path());
    for (const char* name : {"january.csv", "README.txt", "NOTES.TXT", "receipts/march.CSV", "receipts/FEB.csv",
                             "receipts/_pril.csv"})
        EXPECT_TRUE(lower.digests.count(name)) << name;
    kfr::test::TempDir labelled;
    const Saved label = saveAll("fat_volume_label", labelled.path());
    for (const auto& [path, digest] : label.digests) EXPECT_EQ(path.find("CHS_FAT"), std::string::npos) << path;
    const auto listed = kfr::test::runCli("--json list -s " + kfr::test::fixturePath("fat_volume_label.img"));
    const auto listing = nlohmann::json::parse(listed.out, nullptr, false);
    ASSERT_TRUE(listing.is_object()) << listed.out;
    bool labelListed = false;
    for (const auto& row : listing["folders"][0]["entries"])
        if (row["kind"] == "volume_label") labelListed = row["name"] == "CHS_FAT32";
    EXPECT_TRUE(labelListed);

    // Saved files and folders keep the times their entries hold.
    struct Dated {
        const char* path;
        std::time_t modified;
    };
    const Dated dated[] = {
        {"Report.txt", 1562247462},      // 2019-07-04 13:37:42 UTC
        {"NEWYEAR.TXT", 978307200},      // 2001-01-01 00:00:00 UTC
        {"Dates/leap day.txt", 1709251198},  // 2024-02-29 23:59:58 UTC
        {"Dates", 1710498030},               // the folder's own entry: 2024-03-15 10:20:30 UTC
    };
    for (const auto& d : dated) {
        struct stat st {};
        ASSERT_EQ(::stat((labelled.path() + "/" + d.path).c_str(), &st), 0) << d.path;
        EXPECT_EQ(st.st_mtime, d.modified) << d.path;
    }
}

}  // namespace
