// Safe output names.
#include "export/safe_names.h"

#include <unistd.h>

namespace kfr::exporting {

namespace {

constexpr std::size_t kKeptExtensionBytes = 16;

}  // namespace

std::size_t characterBoundary(const std::string& text, std::size_t limit)
{
    if (limit >= text.size()) return text.size();
    std::size_t cut = limit;
    while (cut > 0 && (static_cast<unsigned char>(text[cut]) & 0xC0) == 0x80) --cut;
    return cut;
}

std::string shortenName(const std::string& name, std::size_t maxBytes)
{
    if (name.size() <= maxBytes) return name;
    std::string extension;
    const auto dot = name.rfind('.');
    if (dot != std::string::npos && dot > 0 && name.size() - dot <= kKeptExtensionBytes &&
        name.size() - dot < maxBytes)
        extension = name.substr(dot);
    const std::string base = name.substr(0, name.size() - extension.size());
    return base.substr(0, characterBoundary(base, maxBytes - extension.size())) + extension;
}

SafeName safeName(const std::string& name, std::size_t maxBytes)
{
    if (maxBytes < 2) maxBytes = 2;
    SafeName out;
    if (name.empty()) return {"_", true};
    if (name == ".") return {"_", true};
    if (name == "..") return {"__", true};
    out.name.reserve(name.size());
    for (char ch : name) {
        const auto c = static_cast<unsigned char>(ch);
        if (c == '/' || c < 0x20 || c == 0x7F) {
            out.name += '_';
            out.changed = true;
        } else {
            out.name += ch;
        }
    }
    if (out.name.size() > maxBytes) {
        out.name = shortenName(out.name, maxBytes);
        out.changed = true;
    }
    return out;
}

std::string fileNamePart(const std::string& path)
{
    const auto slash = path.rfind('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

std::size_t nameMaxBytes(const std::string& folder)
{
    const long max = ::pathconf(folder.c_str(), _PC_NAME_MAX);
    if (max <= 0) return kDefaultNameMaxBytes;
    return static_cast<std::size_t>(max);
}

}  // namespace kfr::exporting
