// The progress-bar rule for 64-bit ranges, coalesced reports and count texts.
#include <gtest/gtest.h>

#include "storage/progress.h"
#include "test_support.h"

using namespace kfr;

TEST(Progress, BarRuleForSmallAndHugeRanges)
{
    ProgressBarModel small;
    small.start(1000, 1000 + 4096, 512);
    EXPECT_EQ(small.maximum(), 4096);
    small.advance(0);
    small.advance(0);
    EXPECT_EQ(small.position(), 1024);  // stepped, whatever the position passed
    for (int i = 0; i < 20; ++i) small.advance(0);
    EXPECT_EQ(small.position(), 4096);  // never past the end

    ProgressBarModel huge;  // more than 2,147,483,646 units: shown in percent
    huge.start(0, 10'000'000'000ULL, 512);
    EXPECT_EQ(huge.maximum(), 100);
    huge.advance(2'500'000'000ULL);
    EXPECT_EQ(huge.position(), 25);
    huge.advance(1'000'000'000ULL);  // never goes back
    EXPECT_EQ(huge.position(), 25);
    huge.advance(10'000'000'000ULL);
    EXPECT_EQ(huge.position(), 100);

    ProgressBarModel edge;
    edge.start(0, 2147483646ULL, 1);
    EXPECT_EQ(edge.maximum(), 2147483646);
    edge.start(0, 2147483647ULL, 1);
    EXPECT_EQ(edge.maximum(), 100);
}

TEST(Progress, ReportsAreCoalescedButTheEndAlwaysArrives)
{
    test::RecordingObserver observer;
    ProgressReporter report(&observer);
    report.begin(0, 1'000'000);
    for (std::uint64_t i = 0; i <= 1'000'000; i += 10) report.update(i);
    report.finish();
    EXPECT_LT(observer.progressCalls, 1000u);  // about one per percent, not one per update
    EXPECT_GE(observer.progressCalls, 100u);
    EXPECT_EQ(observer.lastPosition, 1'000'000u);
}

TEST(Progress, CountTextNeverShowsMoreDoneThanTotal)
{
    EXPECT_EQ(countText(3, 10), "3 / 10");
    EXPECT_EQ(countText(12, 10), "10 / 10");
    EXPECT_EQ(countText(0, 0), "0 / 0");
}
