// Copying extents of an image file into a saved file: the kernel copies what it can, or writes
// from the image mapped into memory where it declines to copy between files, and where either
// stops (the image ends inside a sector, a read fails, the image was cut short) the rest of the
// file is read and written here, with the same bytes in the same places as reading everything
// gives.
#include <gtest/gtest.h>

#include <cstdio>
#include <unistd.h>

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

bool writeImage(const std::string& path, const std::vector<std::uint8_t>& bytes)
{
    FILE* f = std::fopen(path.c_str(), "wb");
    if (!f) return false;
    const bool written = std::fwrite(bytes.data(), 1, bytes.size(), f) == bytes.size();
    return std::fclose(f) == 0 && written;
}

struct Saved {
    std::vector<std::uint8_t> bytes;
    FileResult result;
};

// image: the image mapped, written from where the kernel declines to copy (as it is told here).
Saved save(const storage::SectorSource& source, const std::string& target, std::vector<SectorExtent> extents,
           std::uint64_t size, MappedImage* image = nullptr)
{
    volumes::VolumeParameters params;
    params.partType = "FAT32";
    params.spc = 1;
    SaveRunState state;
    WriterContext ctx;
    ctx.source = &source;
    ctx.params = &params;
    ctx.state = &state;
    ctx.image = image;
    state.kernelCopyRefused = image != nullptr;
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
    ASSERT_TRUE(writeImage(image, bytes));
    const std::string digest = test::fileDigest(image);
    const auto file = storage::FileSectorSource::open(image);
    ASSERT_TRUE(file.ok());
    test::FaultySectorSource reading(**file);  // no image file behind it: read and written here
    MappedImage mapped;
    ASSERT_TRUE(mapped.window.map((*file)->imageFile()->fd, 0, bytes.size()));

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
        const Saved fromMemory = save(**file, dir.file("mapped"), c.extents, c.size, &mapped);
        const Saved read = save(reading, dir.file("read"), c.extents, c.size);
        for (const Saved* fast : {&kernel, &fromMemory}) {
            EXPECT_EQ(fast->bytes, read.bytes);
            EXPECT_EQ(fast->result.outcome, read.result.outcome);
            EXPECT_EQ(fast->result.reason, read.result.reason);
            EXPECT_EQ(fast->result.bytesWritten, read.result.bytesWritten);
            EXPECT_TRUE(fast->result.unreadable.empty());
        }
    }
    // The last sector's bytes past the image's end read as zeros.
    const Saved tail = save(**file, dir.file("tail"), {{3000, 1, false}}, 512);
    ASSERT_EQ(tail.bytes.size(), 512u);
    EXPECT_TRUE(std::equal(tail.bytes.begin(), tail.bytes.begin() + 300, bytes.begin() + 3000 * 512));
    EXPECT_EQ(std::count(tail.bytes.begin() + 300, tail.bytes.end(), 0), 212);
    EXPECT_EQ(test::fileDigest(image), digest);
}

TEST(FileCopy, AMappedImageCutShortWhileMappedEndsTheMemoryCopyWithoutACrash)
{
    // The pages past the new end can no longer be read through the mapping: the kernel refuses
    // them to the write, and the rest of the file is read, as reading alone would give it.
    test::TempDir dir;
    const std::string image = dir.file("cut.img");
    const std::vector<std::uint8_t> bytes = imageBytes();
    ASSERT_TRUE(writeImage(image, bytes));
    const auto file = storage::FileSectorSource::open(image);
    ASSERT_TRUE(file.ok());
    MappedImage mapped;
    ASSERT_TRUE(mapped.window.map((*file)->imageFile()->fd, 0, bytes.size()));
    ASSERT_EQ(::truncate(image.c_str(), 1000 * 512 + 100), 0);
    test::FaultySectorSource reading(**file);
    const std::vector<SectorExtent> extents{{900, 300, false}};
    const Saved fromMemory = save(**file, dir.file("mapped"), extents, 300 * 512, &mapped);
    const Saved read = save(reading, dir.file("read"), extents, 300 * 512);
    EXPECT_EQ(fromMemory.bytes, read.bytes);
    EXPECT_EQ(fromMemory.result.outcome, read.result.outcome);
    EXPECT_EQ(fromMemory.result.bytesWritten, read.result.bytesWritten);
    ASSERT_GE(fromMemory.bytes.size(), 100u * 512);
    EXPECT_TRUE(std::equal(fromMemory.bytes.begin(), fromMemory.bytes.begin() + 100 * 512, bytes.begin() + 900 * 512));
}
