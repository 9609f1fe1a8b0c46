// Names from the medium made safe for the destination, and the progress window's texts.
#include <gtest/gtest.h>

#include "export/safe_names.h"
#include "export/save_state.h"

using namespace kfr::exporting;

TEST(SafeNames, UnusableNamesAreReplacedUsableOnesKept)
{
    struct Case {
        std::string name;
        std::string expected;
        bool changed;
    };
    const std::string accents = "\xC3\xA9";  // é, two bytes
    const std::vector<Case> cases{
        {"Holiday Photos List.txt", "Holiday Photos List.txt", false},
        {"写真.jpg", "写真.jpg", false},
        {"...", "...", false},
        {".hidden", ".hidden", false},
        {".", "_", true},
        {"..", "__", true},
        {"", "_", true},
        {"../../etc/passwd", ".._.._etc_passwd", true},
        {std::string("a\0b", 3), "a_b", true},
        {"tab\there\x1F\x7F", "tab_here__", true},
        {std::string(300, 'a') + ".txt", std::string(251, 'a') + ".txt", true},
        // Cut at a character boundary: 127 two-byte characters fit into 255 bytes, not 127.5.
        [&] {
            std::string n;
            for (int i = 0; i < 200; ++i) n += accents;
            std::string e;
            for (int i = 0; i < 127; ++i) e += accents;
            return Case{n, e, true};
        }(),
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const SafeName s = safeName(c.name);
        EXPECT_EQ(s.name, c.expected);
        EXPECT_EQ(s.changed, c.changed);
        EXPECT_LE(s.name.size(), 255u);
    }
    EXPECT_EQ(safeName("a-rather-long-name.txt", 12).name, "a-rather.txt");
}

