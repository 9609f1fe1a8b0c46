// Helpers shared by the carving tests: hand-written signature files, hand-made images in
// memory, a search set up over them, and an observer that records what the search reports.
#pragma once

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "carving/carve_scan.h"
#include "carving/planted_files.h"
#include "storage/memory_source.h"
#include "test_support.h"

namespace kfr::carving::test {

struct Sig {
    std::string ext;  // "aaa"
    std::string maxSize;
    std::string headerHex;
    std::string offset;
    std::string description = "test type";
    std::string exactEnd = "";  // line 5: an end rule's name, maybe followed by "only"
};

inline void writeSignatures(const std::string& path, const std::vector<Sig>& sigs)
{
    std::ofstream out(path, std::ios::binary);
    for (const auto& s : sigs)
        out << "Extension:." << s.ext << "\nMax:" << s.maxSize << "\nHeader:" << s.headerHex << "\nOffset:" << s.offset
            << "\nExact end:" << s.exactEnd << "\nDescription:" << s.description << "\n";
}

// An image of the given number of sectors, filled with a byte that matches no test header.
inline std::vector<std::uint8_t> blankImage(std::size_t sectors, std::uint8_t fill = 0x11)
{
    return std::vector<std::uint8_t>(sectors * 512, fill);
}

inline void plant(std::vector<std::uint8_t>& image, std::size_t byteOffset, const std::string& bytes)
{
    ASSERT_LE(byteOffset + bytes.size(), image.size());
    std::copy(bytes.begin(), bytes.end(), image.begin() + static_cast<std::ptrdiff_t>(byteOffset));
}

class RecordingCarveObserver : public CarveObserver {
public:
    void onStage(WorkStage stage) override { stages.push_back(stage); }
    void onProblem(const Error& e) override { problems.push_back(e); }
    void onCarved(const CarvedResult& r) override
    {
        carved.push_back(r);
        if (stopAfter && carved.size() == stopAfter && stopFlag) stopFlag->store(true);
    }
    void onResultsCleared() override { ++clearings; }

    std::vector<WorkStage> stages;
    std::vector<Error> problems;
    std::vector<CarvedResult> carved;
    int clearings = 0;
    std::size_t stopAfter = 0;
    std::atomic<bool>* stopFlag = nullptr;
};

// A search over an image in memory, with its own signature files and destination.
class Search {
public:
    Search(const std::vector<Sig>& general, const std::vector<Sig>& thorough, std::vector<std::uint8_t> image)
        : m_image(std::move(image))
    {
        ctx.generalFile = m_dir.file("MFTSig.dll");
        ctx.thoroughFile = m_dir.file("MFTSigAdv.dll");
        writeSignatures(ctx.generalFile, general);
        writeSignatures(ctx.thoroughFile, thorough);
        std::filesystem::create_directories(m_dir.file("out"));
        ctx.destination = m_dir.file("out");
        ctx.devicePath = "memory";
        ctx.openDevice = [this]() -> Result<std::unique_ptr<storage::SectorSource>> {
            return std::unique_ptr<storage::SectorSource>(std::make_unique<storage::MemorySectorSource>(m_image));
        };
        ctx.startSector = 0;
        ctx.endSector = m_image.size() / 512 - 1;
        ctx.thorough = false;
        ctx.observer = &observer;
        ctx.stopRequested = &stop;
        EXPECT_TRUE(fillExtensionList(ctx.extensions, ctx.generalFile, ctx.thoroughFile).ok());
    }

    CarveOutcome run()
    {
        auto prepared = prepareSignatureSearch(ctx);
        EXPECT_TRUE(prepared.ok()) << (prepared.ok() ? "" : prepared.error().detail);
        return runSignatureSearch(ctx);
    }

    // Bytes of a carved file by pass, type folder and name.
    std::vector<std::uint8_t> carved(CarvePass pass, const std::string& type, const std::string& name) const
    {
        const std::string path = passFolder(ctx.destination, pass) + type + "/" + name;
        EXPECT_TRUE(std::filesystem::exists(path)) << path;
        return kfr::test::readFileBytes(path);
    }

    std::vector<std::uint8_t> slice(std::size_t from, std::size_t length) const
    {
        return std::vector<std::uint8_t>(m_image.begin() + static_cast<std::ptrdiff_t>(from),
                                         m_image.begin() + static_cast<std::ptrdiff_t>(from + length));
    }

    std::vector<std::uint8_t>& image() { return m_image; }
    const kfr::test::TempDir& dir() const { return m_dir; }

    CarveContext ctx;
    RecordingCarveObserver observer;
    std::atomic<bool> stop{false};  // the front end's Stop

private:
    kfr::test::TempDir m_dir;
    std::vector<std::uint8_t> m_image;
};

// A General-pass search of an image file with the signature files the build ships.
struct ShippedSearch {
    explicit ShippedSearch(const std::string& image, bool exactEnds)
    {
        ctx.devicePath = image;
        ctx.generalFile = signatureFilePath(KFR_BIN_DIR, kGeneralSignatureFile);
        ctx.thoroughFile = signatureFilePath(KFR_BIN_DIR, kThoroughSignatureFile);
        ctx.destination = dir.path();
        ctx.startSector = 0;
        ctx.endSector = std::filesystem::file_size(image) / 512 - 1;
        ctx.thorough = false;
        ctx.exactEnds = exactEnds;
        ctx.observer = &observer;
        EXPECT_TRUE(fillExtensionList(ctx.extensions, ctx.generalFile, ctx.thoroughFile).ok());
        EXPECT_TRUE(prepareSignatureSearch(ctx).ok());
    }
    kfr::test::TempDir dir;
    CarveContext ctx;
    RecordingCarveObserver observer;
};

}  // namespace kfr::carving::test
