// Names of file outcomes.
#include "export/save_state.h"

namespace kfr::exporting {

const char* fileOutcomeName(FileOutcome outcome)
{
    switch (outcome) {
    case FileOutcome::Written: return "written";
    case FileOutcome::Skipped: return "skipped";
    case FileOutcome::Cancelled: return "cancelled";
    case FileOutcome::Declined: return "declined";
    case FileOutcome::NotCreated: return "not-created";
    case FileOutcome::NoData: return "no-data";
    case FileOutcome::WriteFailed: return "write-failed";
    case FileOutcome::DiskFull: return "disk-full";
    }
    return "written";
}

}  // namespace kfr::exporting
