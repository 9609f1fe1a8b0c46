// Copying extents of an image file into a saved file: the kernel copies what it can, and where it
// stops (the image ends inside a sector, a read fails, it declines) the rest of the file is read
// and written here, with the same bytes in the same places as reading everything gives.
#include <gtest/gtest.h>

#include <cstdio>

#include "export/file_writer.h"
#include "test_support.h"

using namespace kfr;
using namespace kfr::exporting;

namespace {

// An image of 3000 whole sectors and 300 bytes of one more, every byte telling its offset.
std::vector<std::uint8_t> imageBytes()
{
    std::vector<std::uint8_t> bytes(3000 * 512 + 300);
    for (std::size_t i = 0; i < bytes.size(); ++i) bytes[i] = static_cast<std::uint8_t>((i / 512 * 7 + i) % 251);
    return bytes;
}

struct Saved {
    std::vector<std::uint8_t> bytes;
    FileResult result;
};

Saved save(const storage::SectorSource& source, const std::string& target, std::vector<SectorExtent> extents,
           std::uint64_t size)
{
    volumes::VolumeParameters params;
    params.partType = "FAT32";
    params.spc = 1;
    SaveRunState state;
    WriterContext ctx;
    ctx.source = &source;
    ctx.params = &params;
    ctx.state = &state;
    Saved saved;
    {
        FileSession file(ctx, target, "f", size, false);
        EXPECT_TRUE(file.create());
        file.copy(extents);
        file.finish();
        saved.result = file.result();
    }
    saved.bytes = test::readFileBytes(target);
    return saved;
}

}  // namespace

TEST(FileCopy, AnImageFileCopiedInTheKernelGivesWhatReadingItGives)
{
    test::TempDir dir;
    const std::string image = dir.file("image.img");
    const std::vector<std::uint8_t> bytes = imageBytes();
    {
        FILE* f = std::fopen(image.c_str(), "wb");
        ASSERT_NE(f, nullptr);
        std::fwrite(bytes.data(), 1, bytes.size(), f);
        std::fclose(f);
    }
    const std::string digest = test::fileDigest(image);
    const auto file = storage::FileSectorSource::open(image);
    ASSERT_TRUE(file.ok());
    test::FaultySectorSource reading(**file);  // no image file behind it: read and written here

    struct Case {
        const char* name;
        std::vector<SectorExtent> extents;
        std::uint64_t size;
    } cases[] = {
        {"fragments, one of them longer than a batch", {{10, 3, false}, {100, 2500, false}, {5, 1, false}}, 4 * 512 + 2400 * 512 + 77},
        {"a hole between fragments", {{10, 3, false}, {0, 4, true}, {40, 8, false}}, 15 * 512},
        {"the image ending inside the last sector", {{2000, 1001, false}}, 1001 * 512},
        {"the image ending inside a batch, past it nothing", {{1500, 2000, false}}, 2000 * 512},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const Saved kernel = save(**file, dir.file("kernel"), c.extents, c.size);
        const Saved read = save(reading, dir.file("read"), c.extents, c.size);
        EXPECT_EQ(kernel.bytes, read.bytes);
        EXPECT_EQ(kernel.result.outcome, read.result.outcome);
        EXPECT_EQ(kernel.result.reason, read.result.reason);
        EXPECT_EQ(kernel.result.bytesWritten, read.result.bytesWritten);
        EXPECT_TRUE(kernel.result.unreadable.empty());
    }
    // The last sector's bytes past the image's end read as zeros.
    const Saved tail = save(**file, dir.file("tail"), {{3000, 1, false}}, 512);
    ASSERT_EQ(tail.bytes.size(), 512u);
    EXPECT_TRUE(std::equal(tail.bytes.begin(), tail.bytes.begin() + 300, bytes.begin() + 3000 * 512));
    EXPECT_EQ(std::count(tail.bytes.begin() + 300, tail.bytes.end(), 0), 212);
    EXPECT_EQ(test::fileDigest(image), digest);
}
