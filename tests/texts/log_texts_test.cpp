// The recovery log's questions and the message that ends each kind of load.
#include <gtest/gtest.h>

#include "texts/log_texts.h"

namespace kfr::texts {
namespace {

using recoverylog::LoadVerdict;

TEST(LogTexts, MovedMediumQuestionsNameTheSavedAndTheFoundMedium)
{
    EXPECT_EQ(diskMovedQuestion(1, 2),
              "Original Media connection order on Disk number '1' has been replaced with media of disk number '2' "
              "since you saved the selected recovery Log.\n\nDo you want to continue?");
    EXPECT_EQ(volumeMovedQuestion("/dev/sdb1", "/dev/sdc1"),
              "Original Media connection order on Drive letter '/dev/sdb1' has been replaced with media of drive "
              "letter '/dev/sdc1' since you saved the selected recovery Log.\n\nDo you want to continue?");
    EXPECT_STREQ(switchModeQuestion(session::ScanMode::Basic), kSwitchToBasicQuestion);
    EXPECT_STREQ(switchModeQuestion(session::ScanMode::Deep), kSwitchToDeepQuestion);
}

TEST(LogTexts, EachEndOfALoadHasItsMessage)
{
    session::LogLoadOutcome cut;
    cut.verdict = LoadVerdict::Corrupt;
    cut.fault = recoverylog::ReadFault{recoverylog::FaultKind::Truncated, 1234, {}};
    // The read error's text directly followed by the corrupt-log message.
    EXPECT_EQ(loadOutcomeMessage(cut), "The file ends in the middle of an item (at byte 1234).\n" + std::string(kCorruptLogText));

    const struct {
        LoadVerdict verdict;
        std::string message;
    } cases[] = {
        {LoadVerdict::Loaded, kLogLoadedText},
        {LoadVerdict::NotALog, kNotALogText},
        {LoadVerdict::MediaMissing, kMediaMovedOrRemovedText},
        {LoadVerdict::OtherMode, ""},   // a question instead
        {LoadVerdict::Declined, ""},    // the user said No: nothing more is said
        {LoadVerdict::CannotOpen, ""},
    };
    for (const auto& c : cases) {
        session::LogLoadOutcome out;
        out.verdict = c.verdict;
        EXPECT_EQ(loadOutcomeMessage(out), c.message) << static_cast<int>(c.verdict);
    }
}

}  // namespace
}  // namespace kfr::texts
