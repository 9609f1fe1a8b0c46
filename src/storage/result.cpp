// Names of error kinds, for logs and machine-readable output.
#include "storage/result.h"

namespace kfr {

std::string errorKindName(ErrorKind kind)
{
    switch (kind) {
    case ErrorKind::OpenFailed: return "open-failed";
    case ErrorKind::PermissionDenied: return "permission-denied";
    case ErrorKind::ReadFailed: return "read-failed";
    case ErrorKind::Implausible: return "implausible";
    case ErrorKind::NotFound: return "not-found";
    case ErrorKind::InvalidArgument: return "invalid-argument";
    case ErrorKind::WriteFailed: return "write-failed";
    case ErrorKind::DiskFull: return "disk-full";
    case ErrorKind::Stopped: return "stopped";
    case ErrorKind::MediumRemoved: return "medium-removed";
    }
    return "unknown";
}

}  // namespace kfr
