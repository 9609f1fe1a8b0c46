// fls/icat runner for oracle comparisons.
#include "sleuthkit_oracle.h"

#include "test_support.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <sstream>

namespace kfr::test {

namespace {

std::vector<std::uint8_t> runCapture(const std::string& command)
{
    std::vector<std::uint8_t> out;
    FILE* pipe = ::popen(command.c_str(), "r");
    if (!pipe) {
        ADD_FAILURE() << "cannot run: " << command;
        return out;
    }
    char buf[65536];
    std::size_t n;
    while ((n = std::fread(buf, 1, sizeof buf, pipe)) > 0) out.insert(out.end(), buf, buf + n);
    const int status = ::pclose(pipe);
    if (status != 0) ADD_FAILURE() << "command failed (" << status << "): " << command;
    return out;
}

}  // namespace

std::vector<FlsEntry> flsEntries(const std::string& image)
{
    const auto bytes = runCapture("fls -r -p -l " + shellQuote(image));
    std::vector<FlsEntry> entries;
    std::istringstream lines(std::string(bytes.begin(), bytes.end()));
    std::string line;
    while (std::getline(lines, line)) {
        // "r/r * 1415:\tDocuments/Work/_LDPLAN.TXT\t<mtime>\t<atime>\t<ctime>\t<crtime>\t<size>\t<uid>\t<gid>"
        std::vector<std::string> fields;
        std::istringstream cols(line);
        std::string f;
        while (std::getline(cols, f, '\t')) fields.push_back(f);
        if (fields.size() < 7) continue;
        const std::string& head = fields[0];
        if (head.rfind("v/v", 0) == 0 || head.rfind("V/V", 0) == 0) continue;
        if (fields[1].find("(Volume Label Entry)") != std::string::npos) continue;
        if (fields[1].find(':') != std::string::npos) continue;  // NTFS named streams ("$BadClus:$Bad")
        if (fields[1].rfind("$OrphanFiles", 0) == 0) continue;   // the tool's own virtual folder
        FlsEntry e;
        e.directory = head.size() > 2 && head[2] == 'd';
        e.deleted = head.find(" * ") != std::string::npos;
        const auto colon = head.rfind(':');
        const auto space = head.rfind(' ', colon);
        e.inode = head.substr(space + 1, colon - space - 1);
        e.path = fields[1];
        e.size = std::stoull(fields[6]);
        e.modified = fields[2].substr(0, 19);
        entries.push_back(e);
    }
    return entries;
}

std::vector<std::uint8_t> icatBytes(const std::string& image, const std::string& inode)
{
    return runCapture("icat " + shellQuote(image) + " " + shellQuote(inode));
}

}  // namespace kfr::test
