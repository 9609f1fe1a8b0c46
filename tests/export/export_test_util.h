// Helpers for the export tests: scanning a fixture, a ready save-run context, the fixture
// manifests, and the files a run left under a folder.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <filesystem>
#include <fstream>
#include <map>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "export/save_run.h"
#include "recovery/basic_scan.h"
#include "recovery/folder_listing.h"
#include "storage/sector_source.h"
#include "test_support.h"

namespace kfr::test {

inline std::string lower(std::string s)
{
    for (auto& c : s) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return s;
}

struct ScannedImage {
    std::string path;
    std::unique_ptr<storage::SectorSource> source;
    recovery::BasicScanResult result;
    recovery::DirNamer namer;
    recovery::TreeChecks checks;  // what the user ticked
};

// image: a fixture's name, or a path of its own (starting with '/').
inline std::unique_ptr<ScannedImage> scanImage(const std::string& image, const std::string& type)
{
    auto s = std::make_unique<ScannedImage>();
    s->path = image.rfind('/', 0) == 0 ? image : fixturePath(image);
    auto src = storage::openSource(s->path);
    EXPECT_TRUE(src) << s->path;
    if (!src) return s;
    s->source = std::move(src).value();
    recovery::BasicScanContext ctx;
    ctx.source = s->source.get();
    ctx.selection = {s->path, 0, s->source->sectorCount() - 1, type};
    ctx.namer = &s->namer;
    s->result = recovery::runBasicScan(ctx);
    EXPECT_EQ(s->result.end, recovery::ScanEnd::Finished);
    return s;
}

// The results-tree item at a path of names under Root ("" for Root), compared without case.
inline recovery::ItemId itemAt(const recovery::FolderResults& r, const std::string& path)
{
    recovery::ItemId cur = r.tree.firstTopLevel();
    std::stringstream parts(path);
    std::string part;
    while (std::getline(parts, part, '/')) {
        recovery::ItemId next = recovery::kNoItem;
        for (recovery::ItemId c : r.tree.children(cur))
            if (lower(r.tree.item(c).name) == lower(part)) next = c;
        if (next == recovery::kNoItem) return next;
        cur = next;
    }
    return cur;
}

// A save run of the scanned image into destination with standing answer RenameAll.
struct SaveSetup {
    exporting::SaveRunState state;
    exporting::CollisionState collisions;
    exporting::SaveRunContext ctx;

    SaveSetup(ScannedImage& s, const std::string& destination)
    {
        ctx.source = s.source.get();
        ctx.params = &s.result.params;
        ctx.mftFiles = &s.result.mftFiles;
        ctx.results = &s.result.folders;
        ctx.checks = &s.checks;
        ctx.destination = destination;
        ctx.state = &state;
        ctx.collisions = &collisions;
        ctx.startAnswer = exporting::CollisionAnswer::RenameAll;
    }
};

// The rows of a folder's listing.
inline recovery::FolderListing listFolder(ScannedImage& s, recovery::ItemId item)
{
    recovery::ListingContext ctx;
    ctx.source = s.source.get();
    ctx.params = &s.result.params;
    ctx.mftFiles = &s.result.mftFiles;
    return recovery::populateItemList(ctx, s.result.folders, item);
}

inline recovery::ItemRow fileRow(ScannedImage& s, const std::string& folder, const std::string& name)
{
    const auto listing = listFolder(s, itemAt(s.result.folders, folder));
    for (const auto& row : listing.rows)
        if (row.kind != recovery::RowKind::Folder && lower(row.name) == lower(name)) return row;
    ADD_FAILURE() << "no row " << folder << "/" << name;
    return {};
}

// Every regular file under root, by its path relative to root, lower-cased.
inline std::map<std::string, std::string> filesUnder(const std::string& root)
{
    std::map<std::string, std::string> out;
    for (const auto& e : std::filesystem::recursive_directory_iterator(root)) {
        if (!e.is_regular_file()) continue;
        out[lower(std::filesystem::relative(e.path(), root).string())] = e.path().string();
    }
    return out;
}

struct ManifestEntry {
    std::string kind, state, digest, path;
    std::uint64_t size = 0;
};

inline std::vector<ManifestEntry> manifest(const std::string& image)
{
    std::vector<ManifestEntry> out;
    std::ifstream in(std::string(KFR_FIXTURE_SOURCE_DIR) + "/originals/" + image + "/MANIFEST.tsv");
    EXPECT_TRUE(in) << "manifest of " << image;
    std::string line;
    while (std::getline(in, line)) {
        if (line.empty() || line[0] == '#') continue;
        std::vector<std::string> f;
        std::stringstream cols(line);
        std::string c;
        while (std::getline(cols, c, '\t')) f.push_back(c);
        if (f.size() < 5) continue;
        out.push_back({f[0], f[1], f[3], f[4], std::stoull(f[2])});
    }
    return out;
}

inline std::string fileText(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

inline void writeText(const std::string& path, const std::string& text)
{
    std::ofstream(path, std::ios::binary) << text;
}

}  // namespace kfr::test
