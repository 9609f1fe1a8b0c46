// The "a directory starts here" test that the directory-cluster scan and geometry inference
// both rely on.
#include <gtest/gtest.h>

#include <vector>

#include "volumes/fat_entry.h"

using namespace kfr;
using namespace kfr::volumes;

TEST(FatEntry, DirectoryStartNeedsDotThenDotDotEachEndedBySpace)
{
    struct Case {
        const char* name;
        std::size_t size;
        std::vector<std::pair<std::size_t, char>> bytes;
        bool start;
    } cases[] = {
        {"dot, dot-dot", 64, {{0, '.'}, {1, ' '}, {32, '.'}, {33, '.'}, {34, ' '}}, true},
        {"a name that begins with a dot", 64, {{0, '.'}, {1, 'X'}, {32, '.'}, {33, '.'}, {34, ' '}}, false},
        {"second entry is a dot-name", 64, {{0, '.'}, {1, ' '}, {32, '.'}, {33, '.'}, {34, 'X'}}, false},
        {"second entry is a single dot", 64, {{0, '.'}, {1, ' '}, {32, '.'}, {33, ' '}, {34, ' '}}, false},
        {"too short to hold two entries", 63, {{0, '.'}, {1, ' '}, {32, '.'}, {33, '.'}, {34, ' '}}, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        std::vector<std::uint8_t> sector(c.size, 0);
        for (auto [at, value] : c.bytes) sector[at] = static_cast<std::uint8_t>(value);
        EXPECT_EQ(isDirectoryStart(sector), c.start);
    }
}
