// Numbered output names.
#include "storage/output_names.h"

namespace kfr::storage {

std::string numberedName(std::string_view prefix, std::uint64_t n, std::string_view suffix, std::string_view extension)
{
    if (!extension.empty() && extension.front() == '.') extension.remove_prefix(1);
    std::string digits = std::to_string(n);
    if (digits.size() < 5) digits.insert(0, 5 - digits.size(), '0');
    std::string name;
    name.reserve(prefix.size() + digits.size() + suffix.size() + 1 + extension.size());
    name.append(prefix).append(digits).append(suffix).append(".").append(extension);
    return name;
}

}  // namespace kfr::storage
