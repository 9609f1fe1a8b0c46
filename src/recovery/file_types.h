// The Type text of a file row: a short description derived from the name's extension.
#pragma once

#include <string>

namespace kfr::recovery {

// extension is the text from the name's last dot on ("" when there is none). Every description
// ends in "File" or "file", which is how a row is recognised as a file that can be opened.
std::string describeFileType(const std::string& extension);

// The text from the last '.' of name on, or "" when name has no dot.
std::string extensionOf(const std::string& name);

}  // namespace kfr::recovery
