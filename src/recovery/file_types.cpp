// Type descriptions by extension. Matching is exact, dot and letter case included: only the
// spellings listed below match, anything else is described by its upper-cased extension.
#include "recovery/file_types.h"

#include <array>
#include <cctype>
#include <initializer_list>
#include <string_view>
#include <unordered_map>

namespace kfr::recovery {

namespace {

struct TypeDescription {
    const char* description;
    std::initializer_list<const char*> extensions;
};

const std::array<TypeDescription, 37>& typeDescriptionTable()
{
    static const std::array<TypeDescription, 37> table = {{
        {"Microsoft Word File", {".DOC", ".doc", ".docx", ".DOCX"}},
        {"Microsoft Power Point File", {".PPT", ".ppt", ".PPTX", ".pptx", ".PPSX", ".ppsx", ".PPS", ".pps"}},
        {"Microsoft Excel File", {".XLS", ".xls", ".XLSX", ".xlsx"}},
        {"Icon file", {".ICO", ".ico"}},
        {"PDF file", {".PDF", ".pdf"}},
        {"Executable file", {".EXE", ".exe", ".bat", ".BAT", ".com", ".COM"}},
        {"Font file", {".TTF", ".ttf", ".FON", ".fon", ".FNT", ".fnt", ".OTF", ".otf"}},
        {"Image File", {".PS",  ".ps",  ".AI",  ".ai",  ".BMP", ".bmp", ".GIF", ".gif", ".PNG",  ".png",  ".PSD", ".psd",
                        ".PSP", ".psp", ".THM", ".thm", ".TIF", ".tif", ".DRW", ".drw", ".DXF",  ".dxf",  ".EPS", ".eps",
                        ".SVG", ".svg", ".JPG", ".jpg", ".MNG", ".mng", ".PCT", ".pct", ".JPEG", ".jpeg"}},
        {"Winzip File", {".ZIP", ".zip", ".RAR", ".rar", ".7Z", ".7z", ".DEB", ".deb", ".GZ", ".gz", ".PKG", ".pkg",
                         ".SEA", ".sea", ".SIT", ".sit", ".SITX", ".sitx"}},
        {"Web file", {".htm", ".HTM", ".HTML", ".html", ".ASP", ".asp", ".ASPX", ".aspx", ".CSS", ".css", ".JS", ".js",
                      ".JSP", ".jsp", ".PHP", ".php", ".XHTML", ".xhtml"}},
        {"Help File", {".chm", ".CHM"}},
        {"Registry file", {".REG", ".reg"}},
        {"Sound file", {".WAV", ".wav", ".AU", ".au", ".MP3", ".mp3", ".M4A", ".m4a", ".MID", ".mid", ".MIDI", ".midi",
                        ".MPA", ".mpa", ".WMA", ".wma", ".AMR", ".amr", ".RA", ".ra", ".RAM", ".ram", ".M3U", ".m3u",
                        ".IFF", ".iff", ".AIF", ".aif", ".AAC", ".aac"}},
        {"Video File", {".AVI", ".avi", ".MOV", ".mov", ".MKV", ".mkv", ".FLV", ".flv", ".ASX", ".asx", ".ASF", ".asf",
                        ".3GP", ".3gp", ".3G2", ".3g2", ".MP4", ".mp4", ".MPG", ".mpg", ".SWF", ".swf", ".VOB", ".vob",
                        ".WMV", ".wmv", ".QT", ".qt", ".RM", ".rm"}},
        {"C++ file", {".CPP", ".cpp", ".C", ".c"}},
        {"Backup File", {".BAK", ".bak", ".BUP", ".bup", ".GHO", ".gho", ".OLD", ".old", ".ORI", ".ori"}},
        {"Scripting File", {".VB", ".vb", ".WS", ".ws"}},
        {"System File", {".LNK", ".lnk", ".SYS", ".sys"}},
        {"Disk File", {".ISO", ".iso", ".VCD", ".vcd"}},
        {"Database File", {".MDBX", ".mdbx", ".SQL", ".sql", ".MDB", ".mdb", ".DB", ".db"}},
        {"Java Source Code File", {".JAVA", ".java"}},
        {"Program Information File", {".PIF", ".pif"}},
        {"BitTorrent File", {".TORRENT", ".torrent"}},
        {"Perl Script File", {".PL", ".pl"}},
        {"Temporary File", {".TMP", ".tmp"}},
        {"Header file", {".H", ".h"}},
        {"Windows Installer Package File", {".MSI", ".msi"}},
        {"Rich Text Format File", {".RTF", ".rtf"}},
        {"Mail Message File", {".MSG", ".msg"}},
        {"Comma Separated Values File", {".CSV", ".csv"}},
        {"Data File", {".DAT", ".dat"}},
        {"Dynamic Link Library File", {".DLL", ".dll"}},
        {"XML File", {".XML", ".xml"}},
        {"Microsoft Works Spreadsheet File", {".WKS", ".wks"}},
        {"Text file", {".TXT", ".txt", ".LOG", ".log"}},
        {"vCard File", {".vcf", ".VCF"}},
        {"Contact File", {".contact", ".CONTACT"}},
    }};
    return table;
}

}  // namespace

std::string describeFileType(const std::string& extension)
{
    const auto a = extension.find_first_not_of(" \t");
    if (a == std::string::npos) return "File";
    const std::string ext = extension.substr(a, extension.find_last_not_of(" \t") - a + 1);
    // Looked up for every file a listing shows: the table's spellings are indexed once (the first
    // description listing a spelling keeps it, as a walk of the table would find).
    static const std::unordered_map<std::string_view, const char*> byExtension = [] {
        std::unordered_map<std::string_view, const char*> index;
        for (const auto& entry : typeDescriptionTable())
            for (const char* e : entry.extensions) index.emplace(e, entry.description);
        return index;
    }();
    if (const auto it = byExtension.find(ext); it != byExtension.end()) return it->second;
    std::string upper;
    for (std::size_t i = 1; i < ext.size(); ++i) upper += static_cast<char>(std::toupper(static_cast<unsigned char>(ext[i])));
    return upper + " File";
}

std::string extensionOf(const std::string& name)
{
    const auto dot = name.rfind('.');
    return dot == std::string::npos ? std::string() : name.substr(dot);
}

}  // namespace kfr::recovery
