// Reading the signature files: the extension list a user ticks, and the records a pass uses.
#include "carving/signature_file.h"

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstring>
#include <memory>
#include <unistd.h>

namespace kfr::carving {

namespace {

// Signature files are a few kilobytes; a line longer than this is cut, so a damaged or hostile
// file cannot make the reader hold it whole.
constexpr std::size_t kMaxLineLength = 4096;

bool isSpace(unsigned char c)
{
    return c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '\v' || c == '\f';
}

char upper(char c)
{
    return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c;
}

std::string upperCase(std::string_view text)
{
    std::string out(text);
    for (char& c : out) c = upper(c);
    return out;
}

bool sameText(std::string_view a, std::string_view b)
{
    if (a.size() != b.size()) return false;
    for (std::size_t i = 0; i < a.size(); ++i)
        if (upper(a[i]) != upper(b[i])) return false;
    return true;
}

struct FileCloser {
    void operator()(std::FILE* f) const
    {
        if (f) std::fclose(f);
    }
};
using FilePtr = std::unique_ptr<std::FILE, FileCloser>;

// Lines end at LF; a CR before it is dropped and is not part of the line.
class LineReader {
public:
    explicit LineReader(std::FILE* file) : m_file(file) {}

    // False at the end of the file when no character is left.
    bool next(std::string& line)
    {
        line.clear();
        bool any = false;
        int c;
        while ((c = std::getc(m_file)) != EOF) {
            any = true;
            if (c == '\n') break;
            if (line.size() < kMaxLineLength) line.push_back(static_cast<char>(c));
        }
        if (!any) return false;
        if (!line.empty() && line.back() == '\r') line.pop_back();
        return true;
    }

    // A missing line of a record cut short reads as empty.
    std::string nextOrEmpty()
    {
        std::string line;
        next(line);
        return line;
    }

    void skip(int lines)
    {
        std::string ignored;
        for (int i = 0; i < lines; ++i) next(ignored);
    }

private:
    std::FILE* m_file;
};

Result<FilePtr> openSignatureFile(const std::string& path)
{
    FilePtr file(std::fopen(path.c_str(), "r"));
    if (!file) return signatureOpenError(path, errno);
    return file;
}

bool keyCharacterAllowed(char c)
{
    return (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || std::strchr("-+~!#$%&@", c) != nullptr;
}

int hexDigit(char c)
{
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    return 0;
}

}  // namespace

std::int64_t FileType1::maxSize() const
{
    return std::max<std::int64_t>(0, parseLeadingInteger(maxSizeText));
}

ExtensionRow* ExtensionList::find(std::string_view key)
{
    for (auto& row : rows)
        if (sameText(row.key, key)) return &row;
    return nullptr;
}

const ExtensionRow* ExtensionList::find(std::string_view key) const
{
    for (const auto& row : rows)
        if (sameText(row.key, key)) return &row;
    return nullptr;
}

void ExtensionList::checkAll(bool ticked)
{
    for (auto& row : rows) row.ticked = ticked;
}

std::vector<std::string> ExtensionList::tickedKeys() const
{
    std::vector<std::string> keys;
    for (const auto& row : rows)
        if (row.ticked) keys.push_back(row.key);
    return keys;
}

std::string lineValue(std::string_view line)
{
    const auto colon = line.rfind(':');
    if (colon != std::string_view::npos) line.remove_prefix(colon + 1);
    while (!line.empty() && isSpace(static_cast<unsigned char>(line.front()))) line.remove_prefix(1);
    while (!line.empty() && isSpace(static_cast<unsigned char>(line.back()))) line.remove_suffix(1);
    return std::string(line);
}

std::string extensionKey(std::string_view value)
{
    if (!value.empty() && value.front() == '.') value.remove_prefix(1);
    std::string key = upperCase(value);
    // The key names a folder and every carved file of the type, so it stays a plain word.
    if (key.empty() || key.size() > 32) return {};
    for (char c : key)
        if (!keyCharacterAllowed(c)) return {};
    return key;
}

std::int64_t parseLeadingInteger(std::string_view text)
{
    std::size_t i = 0;
    while (i < text.size() && isSpace(static_cast<unsigned char>(text[i]))) ++i;
    bool negative = false;
    if (i < text.size() && (text[i] == '+' || text[i] == '-')) negative = text[i++] == '-';
    std::int64_t value = 0;
    for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i) {
        const int digit = text[i] - '0';
        if (value > (INT64_MAX - digit) / 10) return negative ? INT64_MIN : INT64_MAX;
        value = value * 10 + digit;
    }
    return negative ? -value : value;
}

void parseEndRuleField(std::string_view value, FileType1& record)
{
    const auto space = value.find_first_of(" \t");
    std::string_view rest = space == std::string_view::npos ? std::string_view() : value.substr(space);
    while (!rest.empty() && isSpace(static_cast<unsigned char>(rest.front()))) rest.remove_prefix(1);
    record.endRule = endRuleNamed(value.substr(0, space));
    record.exactOnly = record.endRule != EndRule::None && sameText(rest, "only");
}

void convertHeaderHex(std::string_view hexUpper, FileType1& record)
{
    record.header.fill(0);
    int count = 0;
    for (std::size_t i = 0; i < hexUpper.size() && count < kMaxHeaderBytes; i += 2) {
        const int high = hexDigit(hexUpper[i]);
        if (i + 1 < hexUpper.size())
            record.header[count++] = static_cast<std::uint8_t>(high * 16 + hexDigit(hexUpper[i + 1]));
        else
            record.header[count++] = static_cast<std::uint8_t>(high);  // a lone last digit is a byte of its own
    }
    record.headerLen = count;
    record.firstByte = count > 0 ? record.header[0] : 0;
}

std::string programFolder()
{
    char buf[4096];
    const ssize_t n = ::readlink("/proc/self/exe", buf, sizeof buf - 1);
    if (n <= 0) return "/";
    const std::string exe(buf, static_cast<std::size_t>(n));
    const auto slash = exe.rfind('/');
    if (slash == std::string::npos || slash == 0) return "/";
    return exe.substr(0, slash);
}

std::string signatureFilePath(const std::string& folder, const char* name)
{
    if (!folder.empty() && folder.back() == '/') return folder + name;
    return folder + "/" + name;
}

Error signatureOpenError(const std::string& path, int err)
{
    std::string text = std::string("Couldn't open source file: ") + std::strerror(err);
    if (text.size() > 1024) text.resize(1024);
    return Error{err == EACCES || err == EPERM ? ErrorKind::PermissionDenied : ErrorKind::OpenFailed, 0, path, text};
}

Status checkSignatureFiles(const std::string& folder)
{
    for (const char* name : {kGeneralSignatureFile, kThoroughSignatureFile}) {
        auto file = openSignatureFile(signatureFilePath(folder, name));
        if (!file) return file.error();
    }
    return okStatus();
}

Status fillExtensionList(ExtensionList& list, const std::string& generalFile, const std::string& thoroughFile)
{
    for (const std::string* path : {&generalFile, &thoroughFile}) {
        auto file = openSignatureFile(*path);
        if (!file) return file.error();
        LineReader reader(file->get());
        std::string line;
        while (reader.next(line)) {
            const std::string key = extensionKey(lineValue(line));
            const bool added = !key.empty() && list.find(key) == nullptr;
            if (added) list.rows.push_back(ExtensionRow{key, {}, true});
            reader.skip(4);
            const std::string description = lineValue(reader.nextOrEmpty());
            if (added) list.rows.back().description = description;
        }
    }
    std::stable_sort(list.rows.begin(), list.rows.end(),
                     [](const ExtensionRow& a, const ExtensionRow& b) { return upperCase(a.key) < upperCase(b.key); });
    return okStatus();
}

Status loadSignatureFile(const std::string& path, const ExtensionList& list, SignatureTables& tables)
{
    auto file = openSignatureFile(path);
    if (!file) return file.error();
    LineReader reader(file->get());
    std::string line;
    while (reader.next(line)) {
        const std::string key = extensionKey(lineValue(upperCase(line)));
        const ExtensionRow* row = key.empty() ? nullptr : list.find(key);
        if (key.empty() || (row && !row->ticked)) {
            reader.skip(5);
            continue;
        }
        FileType1 record;
        record.ext = "." + key;
        record.maxSizeText = lineValue(reader.nextOrEmpty());
        record.headerHex = upperCase(lineValue(reader.nextOrEmpty()));
        convertHeaderHex(record.headerHex, record);
        const std::int64_t offset = parseLeadingInteger(lineValue(reader.nextOrEmpty()));
        record.offset = static_cast<std::int32_t>(std::clamp<std::int64_t>(offset, INT32_MIN, INT32_MAX));
        if (std::find(tables.offsets.begin(), tables.offsets.end(), record.offset) == tables.offsets.end())
            tables.offsets.push_back(record.offset);
        parseEndRuleField(lineValue(reader.nextOrEmpty()), record);
        reader.skip(1);
        tables.table.push_back(std::move(record));
    }
    return okStatus();
}

}  // namespace kfr::carving
