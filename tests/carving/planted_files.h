// The files planted in the carving fixture images, as their manifests list them, and the digest
// the manifests give (shared by the carving, CLI and desktop suites).
#pragma once

#include <cstdint>
#include <cstdio>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

namespace kfr::carving::test {

// A file planted in a carving fixture image, as its manifest under carving_originals lists it:
// name, type, byte offset, length, (manifest.txt only) whether the next-header rule carves it
// as exactly its bytes plus slack, and its FNV-1a 64 digest.
struct PlantedFile {
    std::string name;
    std::string type;
    std::uint64_t offset = 0;
    std::uint64_t length = 0;
    bool exact = false;
    std::string digest;
};

inline std::vector<PlantedFile> plantedFiles(const std::string& manifestName)
{
    std::ifstream in(std::string(KFR_FIXTURE_SOURCE_DIR) + "/carving_originals/" + manifestName);
    std::vector<PlantedFile> files;
    std::string line;
    while (std::getline(in, line)) {
        if (line.empty() || line[0] == '#') continue;
        std::istringstream row(line);
        PlantedFile f;
        std::vector<std::string> rest;
        row >> f.name >> f.type >> f.offset >> f.length;
        for (std::string word; row >> word;) rest.push_back(word);
        if (rest.size() == 2) f.exact = rest[0] != "0";
        if (!rest.empty()) f.digest = rest.back();
        files.push_back(f);
    }
    return files;
}

// FNV-1a 64 of the first length bytes, as the manifests write it (16 hex digits).
inline std::string fnv1a(const std::vector<std::uint8_t>& bytes, std::size_t length)
{
    std::uint64_t h = 1469598103934665603ULL;
    for (std::size_t i = 0; i < length && i < bytes.size(); ++i) {
        h ^= bytes[i];
        h *= 1099511628211ULL;
    }
    char text[17];
    std::snprintf(text, sizeof text, "%016llx", static_cast<unsigned long long>(h));
    return text;
}

}  // namespace kfr::carving::test
