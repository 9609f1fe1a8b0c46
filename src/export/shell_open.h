// Handing a recovered file to the desktop, which opens it with the program associated with its
// type (what a double-click on a result does).
#pragma once

#include <string>

#include "storage/result.h"

namespace kfr::exporting {

// Starts launcher (normally xdg-open) with the path as its only argument, without a shell, and
// returns once the launcher has started and, for at most three seconds, not given up; it does
// not end with this process. In mode 0 a missing file is reported first as NotFound with the
// detail "Does not exist."; mode 1 hands the path over unchecked. A launcher that cannot be
// started gives OpenFailed with the system's reason; one that ends at once with a failure (the
// desktop has no program for this type of file) gives NotFound with its exit status.
Status openWithShell(int mode, const std::string& path, const std::string& launcher = "xdg-open");

}  // namespace kfr::exporting
