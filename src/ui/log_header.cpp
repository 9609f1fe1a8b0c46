// Which screen a recovery log named on the command line opens, read by the log reader itself.
#include "ui/log_header.h"

#include "recoverylog/recovery_log.h"

namespace kfr::ui {

LogHeaderVerdict readLogHeader(const std::string& path)
{
    auto input = recoverylog::FileInput::open(path);
    if (!input) return LogHeaderVerdict::CannotOpen;
    const recoverylog::LogProbe probe = recoverylog::probeRecoveryLog(**input);
    if (!probe.signatureOk || !probe.mode) return LogHeaderVerdict::Invalid;
    if (*probe.mode == 1) return LogHeaderVerdict::Basic;
    if (*probe.mode == 2) return LogHeaderVerdict::Deep;
    return LogHeaderVerdict::Invalid;
}

}  // namespace kfr::ui
