// Names of file outcomes.
#include "export/save_state.h"

namespace kfr::exporting {

const char* fileOutcomeName(FileOutcome outcome)
{
    switch (outcome) {
    case FileOutcome::Written: return "written";
    case FileOutcome::Incomplete: return "incomplete";
    case FileOutcome::Skipped: return "skipped";
    case FileOutcome::Cancelled: return "cancelled";
    case FileOutcome::Declined: return "declined";
    case FileOutcome::NotCreated: return "not-created";
    case FileOutcome::NoData: return "no-data";
    case FileOutcome::WriteFailed: return "write-failed";
    case FileOutcome::DiskFull: return "disk-full";
    case FileOutcome::PathTooLong: return "path-too-long";
    }
    return "written";
}

const char* shortReasonName(ShortReason reason)
{
    switch (reason) {
    case ShortReason::None: return "";
    case ShortReason::PastMediumEnd: return "past-medium-end";
    case ShortReason::PastVolumeEnd: return "past-volume-end";
    case ShortReason::ChainEnded: return "chain-ended";
    case ShortReason::NoDataCluster: return "no-data-cluster";
    case ShortReason::MediumRemoved: return "medium-removed";
    }
    return "";
}

}  // namespace kfr::exporting
