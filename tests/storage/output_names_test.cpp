// Numbered output names: at least five digits, the extension's dot dropped.
#include <gtest/gtest.h>

#include "storage/output_names.h"

using kfr::storage::numberedName;

TEST(NumberedName, PadsToFiveDigitsAndGrowsBeyond)
{
    struct Case {
        const char* prefix;
        std::uint64_t n;
        const char* suffix;
        const char* extension;
        const char* name;
    } cases[] = {
        {"JPG", 7, "", ".jpg", "JPG00007.jpg"},
        {"JPG", 9, "", "JPG", "JPG00009.JPG"},
        {"JPG", 10, "", "JPG", "JPG00010.JPG"},
        {"JPG", 9999, "", "JPG", "JPG09999.JPG"},
        {"JPG", 10000, "", "JPG", "JPG10000.JPG"},
        {"JPG", 99999, "", "JPG", "JPG99999.JPG"},
        {"JPG", 100000, "", "JPG", "JPG100000.JPG"},
        {"JPG", 123456, "", ".jpg", "JPG123456.jpg"},
        {"JPG", 4294967296ULL, "", "JPG", "JPG4294967296.JPG"},
        {"JPG", 0, "", "JPG", "JPG00000.JPG"},
        {"A", 5, "_b", "txt", "A00005_b.txt"},
        {"X", 1, "", "", "X00001."},
        {"X", 1, "", "..x", "X00001..x"},  // only one leading dot is dropped
    };
    for (const auto& c : cases) EXPECT_EQ(numberedName(c.prefix, c.n, c.suffix, c.extension), c.name) << c.name;
}
