// Questions and messages of saving and loading recovery logs.
#include "texts/log_texts.h"

namespace kfr::texts {

const char* switchModeQuestion(session::ScanMode logMode)
{
    return logMode == session::ScanMode::Basic ? kSwitchToBasicQuestion : kSwitchToDeepQuestion;
}

std::string diskMovedQuestion(std::uint32_t savedNumber, std::uint32_t foundNumber)
{
    return "Original Media connection order on Disk number '" + std::to_string(savedNumber) +
           "' has been replaced with media of disk number '" + std::to_string(foundNumber) +
           "' since you saved the selected recovery Log.\n\nDo you want to continue?";
}

std::string volumeMovedQuestion(const std::string& savedVolume, const std::string& foundVolume)
{
    return "Original Media connection order on Drive letter '" + savedVolume +
           "' has been replaced with media of drive letter '" + foundVolume +
           "' since you saved the selected recovery Log.\n\nDo you want to continue?";
}

std::string readFaultText(const recoverylog::ReadFault& fault)
{
    // Like the system's own error texts, it ends with a line break.
    const std::string at = " (at byte " + std::to_string(fault.offset) + ").\n";
    switch (fault.kind) {
    case recoverylog::FaultKind::Truncated: return "The file ends in the middle of an item" + at;
    case recoverylog::FaultKind::ReadFailed: return "The file could not be read: " + fault.detail + at;
    case recoverylog::FaultKind::LengthTooLong: return "A text in the file claims a length no text has" + at;
    case recoverylog::FaultKind::NotANumber: return "A table in the file holds a cell that is no number" + at;
    case recoverylog::FaultKind::Inconsistent: return "Parts of the file contradict each other: " + fault.detail + at;
    }
    return {};
}

std::string loadOutcomeMessage(const session::LogLoadOutcome& outcome)
{
    using recoverylog::LoadVerdict;
    switch (outcome.verdict) {
    case LoadVerdict::NotALog: return kNotALogText;
    case LoadVerdict::MediaMissing: return kMediaMovedOrRemovedText;
    case LoadVerdict::Corrupt: return (outcome.fault ? readFaultText(*outcome.fault) : std::string()) + kCorruptLogText;
    case LoadVerdict::Loaded: return kLogLoadedText;
    case LoadVerdict::OtherMode:
    case LoadVerdict::Declined:
    case LoadVerdict::CannotOpen: return {};
    }
    return {};
}

}  // namespace kfr::texts
