// What the start-up needs to know of a recovery log named on the command line: can it be opened,
// does its header carry the signature, and which screen (Basic or Deep) it belongs to.
#pragma once

#include <string>

namespace kfr::ui {

enum class LogHeaderVerdict {
    CannotOpen,  // the program ends without a message
    Invalid,     // wrong signature, a header cut short, or a mode other than 1 and 2
    Basic,
    Deep,
};

LogHeaderVerdict readLogHeader(const std::string& path);

}  // namespace kfr::ui
