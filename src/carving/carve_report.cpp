// Writing the Signature Search reports.
#include "carving/carve_report.h"

#include <cerrno>
#include <cstdio>
#include <unistd.h>

#include "storage/output_files.h"

namespace kfr::carving {

namespace {

const char* endingWord(CarveEnding ending)
{
    switch (ending) {
    case CarveEnding::Finished: return "finished";
    case CarveEnding::Stopped: return "stopped";
    case CarveEnding::Failed: return "failed";
    }
    return "finished";
}

// Names come from the medium's owner only through the signature files' extension keys, but
// paths hold whatever the user chose as destination.
std::string jsonText(const std::string& text)
{
    std::string out = "\"";
    for (const unsigned char c : text) {
        if (c == '"' || c == '\\') {
            out += '\\';
            out += static_cast<char>(c);
        } else if (c < 0x20) {
            char escaped[8];
            std::snprintf(escaped, sizeof escaped, "\\u%04x", c);
            out += escaped;
        } else {
            out += static_cast<char>(c);
        }
    }
    return out + "\"";
}

std::string xmlText(const std::string& text)
{
    std::string out;
    for (const unsigned char c : text) {
        switch (c) {
        case '&': out += "&amp;"; break;
        case '<': out += "&lt;"; break;
        case '>': out += "&gt;"; break;
        case '"': out += "&quot;"; break;
        case '\'': out += "&apos;"; break;
        default:
            if (c < 0x20 && c != '\t' && c != '\n') out += '?';  // not allowed in XML 1.0
            else out += static_cast<char>(c);
        }
    }
    return out;
}

std::string number(std::uint64_t n) { return std::to_string(n); }

// A carved file's path from the report's folder on ("General/JPG/JPG00001.JPG").
std::string relativeToReport(const CarveContext& ctx, const std::string& path)
{
    const std::string folder = searchFolder(ctx.destination);
    return path.compare(0, folder.size(), folder) == 0 ? path.substr(folder.size()) : path;
}

Status writeWhole(const std::string& path, const std::string& text, bool& taken)
{
    auto created = storage::createOutputFile(path, storage::CreateMode::Exclusive);
    if (!created) return created.error();
    taken = !*created;
    if (taken) return okStatus();
    std::size_t done = 0;
    while (done < text.size()) {
        const ssize_t n = ::write(created->get(), text.data() + done, text.size() - done);
        if (n <= 0) {
            if (n < 0 && errno == EINTR) continue;
            return storage::outputError(path, n < 0 ? errno : ENOSPC, ErrorKind::WriteFailed);
        }
        done += static_cast<std::size_t>(n);
    }
    if (const int err = created->close(); err != 0) return storage::outputError(path, err, ErrorKind::WriteFailed);
    return okStatus();
}

}  // namespace

const char* carvedOutcomeWord(CarvedOutcome outcome)
{
    switch (outcome) {
    case CarvedOutcome::Written: return "written";
    case CarvedOutcome::Incomplete: return "incomplete";
    case CarvedOutcome::NotWritten: return "not_written";
    }
    return "written";
}

const char* carvePassWord(CarvePass pass) { return pass == CarvePass::General ? "general" : "thorough"; }

std::string carveReportJson(const CarveContext& ctx, const CarveOutcome& outcome)
{
    std::string out = "{\n  \"format_version\": 1,\n";
    out += "  \"source\": {\"path\": " + jsonText(ctx.devicePath) + ", \"first_sector\": " + number(ctx.startSector) +
           ", \"last_sector\": " + number(ctx.endSector) + "},\n";
    out += std::string("  \"options\": {\"exact_end\": ") + (ctx.exactEnds ? "true" : "false") +
           ", \"any_offset\": " + (ctx.anyOffset ? "true" : "false") + ", \"thorough\": " + (ctx.thorough ? "true" : "false") +
           "},\n";
    out += std::string("  \"end\": \"") + endingWord(outcome.ending) + "\",\n";
    out += "  \"files\": [";
    const char* separator = "\n";
    for (const CarvedResult& f : ctx.results.allFiles) {
        out += separator;
        separator = ",\n";
        out += "    {\"name\": " + jsonText(f.name) + ", \"path\": " + jsonText(f.savedPath) + ", \"type\": " +
               jsonText(f.type) + ", \"pass\": \"" + carvePassWord(f.pass) + "\", \"first_sector\": " + number(f.firstSector) +
               ", \"byte_offset\": " + number(f.byteOffset) + ", \"length\": " + number(f.length) +
               ", \"end_found\": " + (f.endFound ? "true" : "false") + ", \"outcome\": \"" + carvedOutcomeWord(f.outcome) + "\"}";
    }
    out += ctx.results.allFiles.empty() ? "]\n}\n" : "\n  ]\n}\n";
    return out;
}

std::string carveReportXml(const CarveContext& ctx, const CarveOutcome& outcome)
{
    std::string out = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n";
    out += "<dfxml version=\"1.0\" xmlns=\"http://www.forensicswiki.org/wiki/Category:Digital_Forensics_XML\" "
           "xmlns:dc=\"http://purl.org/dc/elements/1.1/\" xmlns:kfr=\"urn:kestravon:signature-search\">\n";
    out += "  <metadata>\n    <dc:type>Carve Report</dc:type>\n  </metadata>\n";
    out += "  <creator>\n    <program>kestravon</program>\n  </creator>\n";
    out += "  <source>\n    <image_filename>" + xmlText(ctx.devicePath) + "</image_filename>\n";
    out += "    <kfr:first_sector>" + number(ctx.startSector) + "</kfr:first_sector>\n    <kfr:last_sector>" +
           number(ctx.endSector) + "</kfr:last_sector>\n  </source>\n";
    out += std::string("  <kfr:options exact_end=\"") + (ctx.exactEnds ? "1" : "0") + "\" any_offset=\"" +
           (ctx.anyOffset ? "1" : "0") + "\" thorough=\"" + (ctx.thorough ? "1" : "0") + "\" end=\"" +
           endingWord(outcome.ending) + "\"/>\n";
    for (const CarvedResult& f : ctx.results.allFiles) {
        out += "  <fileobject>\n";
        out += "    <filename>" + xmlText(relativeToReport(ctx, f.savedPath)) + "</filename>\n";
        out += "    <filesize>" + number(f.length) + "</filesize>\n";
        out += "    <byte_runs>\n      <byte_run file_offset=\"0\" img_offset=\"" + number(f.byteOffset) + "\" len=\"" +
               number(f.length) + "\"/>\n    </byte_runs>\n";
        out += "    <kfr:type>" + xmlText(f.type) + "</kfr:type>\n";
        out += std::string("    <kfr:pass>") + carvePassWord(f.pass) + "</kfr:pass>\n";
        out += "    <kfr:first_sector>" + number(f.firstSector) + "</kfr:first_sector>\n";
        out += std::string("    <kfr:end_found>") + (f.endFound ? "1" : "0") + "</kfr:end_found>\n";
        out += std::string("    <kfr:outcome>") + carvedOutcomeWord(f.outcome) + "</kfr:outcome>\n";
        out += "  </fileobject>\n";
    }
    out += "</dfxml>\n";
    return out;
}

Result<ReportPaths> writeCarveReport(const CarveContext& ctx, const CarveOutcome& outcome)
{
    std::string folder = ctx.destination;
    while (folder.size() > 1 && folder.back() == '/') folder.pop_back();
    for (const char* part : {kOutputRootFolder, kSignatureSearchFolder}) {
        folder += std::string("/") + part;
        if (auto made = storage::makeRealFolder(folder); !made) return made.error();
    }
    const std::string json = carveReportJson(ctx, outcome), xml = carveReportXml(ctx, outcome);
    for (int n = 1; n < 10000; ++n) {
        const std::string stem = folder + "/report" + (n == 1 ? std::string() : "-" + std::to_string(n));
        ReportPaths paths{stem + ".json", stem + ".xml"};
        bool taken = false;
        if (auto w = writeWhole(paths.json, json, taken); !w) return w.error();
        if (taken) continue;
        if (auto w = writeWhole(paths.xml, xml, taken); !w) return w.error();
        if (taken) {
            ::unlink(paths.json.c_str());
            continue;
        }
        return paths;
    }
    return Error{ErrorKind::WriteFailed, 0, folder + "/report.json", "no free report name is left"};
}

}  // namespace kfr::carving
