// sysfs, udev database and mountinfo readers.
#include "storage/system_tree.h"

#include <cctype>
#include <fstream>
#include <sstream>

#include "storage/byte_size.h"

namespace kfr::storage {

namespace {

// mountinfo writes space, tab, newline and backslash in paths as \ooo octal escapes.
std::string decodeOctalEscapes(const std::string& text)
{
    std::string out;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '\\' && i + 3 < text.size()) {
            const char a = text[i + 1], b = text[i + 2], c = text[i + 3];
            if (a >= '0' && a <= '3' && b >= '0' && b <= '7' && c >= '0' && c <= '7') {
                out.push_back(static_cast<char>((a - '0') * 64 + (b - '0') * 8 + (c - '0')));
                i += 3;
                continue;
            }
        }
        out.push_back(text[i]);
    }
    return out;
}

int hexValue(char c)
{
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

}  // namespace

std::optional<std::string> readAttribute(const std::string& path)
{
    std::ifstream in(path);
    if (!in) return std::nullopt;
    std::string line;
    std::getline(in, line);
    if (in.bad()) return std::nullopt;
    return trimText(line);
}

std::optional<std::uint64_t> readNumberAttribute(const std::string& path)
{
    const auto text = readAttribute(path);
    if (!text || text->empty() || text->size() > 20) return std::nullopt;
    std::uint64_t value = 0;
    for (char c : *text) {
        if (c < '0' || c > '9') return std::nullopt;
        const std::uint64_t digit = static_cast<std::uint64_t>(c - '0');
        if (value > (UINT64_MAX - digit) / 10) return std::nullopt;
        value = value * 10 + digit;
    }
    return value;
}

UdevProperties readUdevProperties(const SystemRoots& roots, const std::string& majorMinor)
{
    UdevProperties props;
    if (majorMinor.empty()) return props;
    std::ifstream in(roots.udevData + "/b" + majorMinor);
    std::string line;
    while (std::getline(in, line)) {
        if (line.rfind("E:", 0) != 0) continue;
        const auto eq = line.find('=');
        if (eq == std::string::npos || eq < 3) continue;
        props[line.substr(2, eq - 2)] = line.substr(eq + 1);
    }
    return props;
}

std::string decodeUdevText(const std::string& text)
{
    std::string out;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '\\' && i + 3 < text.size() && text[i + 1] == 'x') {
            const int hi = hexValue(text[i + 2]), lo = hexValue(text[i + 3]);
            if (hi >= 0 && lo >= 0) {
                out.push_back(static_cast<char>(hi * 16 + lo));
                i += 3;
                continue;
            }
        }
        out.push_back(text[i]);
    }
    return trimText(out);
}

std::vector<MountEntry> parseMountInfo(const std::string& text)
{
    // id parent major:minor root mount-point options [optional fields...] - fstype source super-options
    std::vector<MountEntry> entries;
    std::istringstream lines(text);
    std::string line;
    while (std::getline(lines, line)) {
        std::istringstream words(line);
        std::vector<std::string> fields;
        std::string word;
        while (words >> word) fields.push_back(word);
        std::size_t dash = 6;
        while (dash < fields.size() && fields[dash] != "-") ++dash;
        if (fields.size() < 6 || dash + 2 >= fields.size()) continue;
        MountEntry e;
        e.majorMinor = fields[2];
        e.mountPoint = decodeOctalEscapes(fields[4]);
        e.fsType = fields[dash + 1];
        e.source = decodeOctalEscapes(fields[dash + 2]);
        entries.push_back(std::move(e));
    }
    return entries;
}

std::vector<MountEntry> readMountTable(const SystemRoots& roots)
{
    std::ifstream in(roots.mountInfo);
    if (!in) return {};
    std::ostringstream text;
    text << in.rdbuf();
    return parseMountInfo(text.str());
}

std::string deviceNameOf(const std::string& sysfsEntryPath, const std::string& entryName)
{
    std::ifstream in(sysfsEntryPath + "/uevent");
    std::string line;
    while (std::getline(in, line)) {
        if (line.rfind("DEVNAME=", 0) == 0 && line.size() > 8) return line.substr(8);
    }
    std::string name = entryName;
    for (char& c : name)
        if (c == '!') c = '/';
    return name;
}

}  // namespace kfr::storage
