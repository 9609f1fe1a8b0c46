// Generating the manual page and the bash completion script from the command table.
#include "cli/manual.h"

#include <CLI/CLI.hpp>
#include <sstream>
#include <vector>

#ifndef KFR_VERSION
#define KFR_VERSION "0"
#endif

namespace kfr::cli {

namespace {

// Text as roff reads it: backslashes doubled, a line that starts with a dot or a quote kept as
// text, hyphens as minus signs so options can be searched and copied.
std::string roff(const std::string& text)
{
    std::string out;
    bool lineStart = true;
    for (char c : text) {
        if (lineStart && (c == '.' || c == '\'')) out += "\\&";
        if (c == '\\')
            out += "\\e";
        else if (c == '-')
            out += "\\-";
        else
            out += c;
        lineStart = c == '\n';
    }
    return out;
}

std::vector<const CLI::App*> commandsOf(const CLI::App& app)
{
    return app.get_subcommands([](const CLI::App*) { return true; });
}

// Options shown to users: hidden ones (group "") and --help are left out.
std::vector<const CLI::Option*> visibleOptions(const CLI::App& app)
{
    std::vector<const CLI::Option*> out;
    for (const CLI::Option* o : app.get_options())
        if (!o->get_group().empty() && o->get_name() != "--help" && o->get_name() != "-h,--help") out.push_back(o);
    return out;
}

std::vector<std::string> namesOf(const CLI::Option* o)
{
    std::vector<std::string> names;
    for (const auto& n : o->get_snames()) names.push_back("-" + n);
    for (const auto& n : o->get_lnames()) names.push_back("--" + n);
    return names;
}

// "{auto,FAT16,FAT32,NTFS}" in an option's type name: the values it takes.
std::vector<std::string> choicesOf(const CLI::Option* o)
{
    const std::string type = o->get_type_name();
    const auto open = type.find('{'), close = type.find('}');
    std::vector<std::string> out;
    if (open == std::string::npos || close == std::string::npos || close < open) return out;
    std::stringstream list(type.substr(open + 1, close - open - 1));
    std::string value;
    while (std::getline(list, value, ',')) out.push_back(value);
    return out;
}

void optionEntries(std::ostringstream& out, const CLI::App& app)
{
    for (const CLI::Option* o : visibleOptions(app)) {
        std::string names;
        if (o->get_positional() && !o->nonpositional()) names = o->get_name(true);
        for (const auto& n : namesOf(o)) names += (names.empty() ? "" : ", ") + n;
        if (o->get_positional() && o->nonpositional()) names = "[" + o->get_name(true) + "], " + names;
        const bool takesValue = o->get_items_expected_max() != 0;
        out << ".TP\n.B " << roff(names) << (takesValue ? " \\fIVALUE\\fR" : "") << "\n"
            << roff(o->get_description()) << "\n";
    }
}

}  // namespace

std::string manPage(const CLI::App& app, const std::string& exitStatusText)
{
    std::ostringstream out;
    out << ".TH KESTRAVON\\-CLI 1 \"\" \"kestravon-cli " << KFR_VERSION << "\" \"User Commands\"\n"
        << ".SH NAME\nkestravon\\-cli \\- find and save lost folders and files on FAT16, FAT32 and NTFS media\n"
        << ".SH SYNOPSIS\n.B kestravon\\-cli\n[\\fIGLOBAL OPTIONS\\fR] \\fICOMMAND\\fR [\\fISOURCE\\fR] [\\fIOPTIONS\\fR]\n"
        << ".SH DESCRIPTION\n" << roff(app.get_description()) << "\n.PP\n"
        << "The source is a whole disk (/dev/sdb), a partition (/dev/sdb1, or the disk with \\-\\-partition 1), the "
           "device behind a mounted volume, the folder it is mounted at, or an image file. The source is opened "
           "read\\-only and never written.\n"
        << ".SH GLOBAL OPTIONS\nThese may stand anywhere on the command line.\n";
    optionEntries(out, app);
    out << ".SH COMMANDS\n";
    for (const CLI::App* sub : commandsOf(app)) {
        out << ".SS " << roff(sub->get_name()) << "\n" << roff(sub->get_description()) << "\n";
        optionEntries(out, *sub);
    }
    out << ".SH EXIT STATUS\n.nf\n" << roff(exitStatusText) << "\n.fi\n"
        << ".SH FILES\n.TP\n.I /usr/share/kestravon/MFTSig.dll, MFTSigAdv.dll\n"
           "The signature files of Signature Search (carve), looked for beside the program first.\n"
           ".TP\n.I /usr/share/doc/kestravon-cli/json.md\n"
           "The JSON documents that \\-\\-json prints, key by key, with their schema beside them.\n"
        << ".SH EXAMPLES\n.nf\n"
        << roff("kestravon-cli disks\n"
                "kestravon-cli scan /dev/sdb --partition 1\n"
                "kestravon-cli list disk.img --all --deleted-only\n"
                "kestravon-cli save disk.img --all --dest /mnt/usb/recovered\n"
                "kestravon-cli --json scan disk.img > tree.json\n"
                "kestravon-cli carve disk.img -d /mnt/usb/carved\n")
        << ".fi\n.SH SEE ALSO\n.BR ddrescue (1),\n.BR lsblk (8)\n";
    return out.str();
}

std::string bashCompletion(const CLI::App& app)
{
    std::ostringstream out;
    std::string commands, globals;
    for (const CLI::App* sub : commandsOf(app)) commands += (commands.empty() ? "" : " ") + sub->get_name();
    for (const CLI::Option* o : visibleOptions(app))
        for (const auto& n : namesOf(o)) globals += (globals.empty() ? "" : " ") + n;
    globals += " --help --version";

    std::ostringstream choices, perCommand;
    for (const CLI::App* sub : commandsOf(app)) {
        std::string opts;
        for (const CLI::Option* o : visibleOptions(*sub)) {
            const auto names = namesOf(o);
            for (const auto& n : names) opts += (opts.empty() ? "" : " ") + n;
            const auto values = choicesOf(o);
            if (names.empty() || values.empty()) continue;
            std::string joined;
            for (const auto& v : values) joined += (joined.empty() ? "" : " ") + v;
            for (const auto& n : names) choices << "        " << sub->get_name() << ":" << n << ") words=\"" << joined << "\";;\n";
        }
        perCommand << "        " << sub->get_name() << ") opts=\"" << opts << "\";;\n";
    }
    out << "# bash completion for kestravon-cli                                -*- shell-script -*-\n"
        << "_kestravon_cli()\n{\n"
        << "    local cur=\"${COMP_WORDS[COMP_CWORD]}\" prev=\"${COMP_WORDS[COMP_CWORD-1]}\"\n"
        << "    local commands=\"" << commands << "\" globals=\"" << globals << "\"\n"
        << "    local cmd=\"\" i words=\"\" opts=\"\"\n"
        << "    for ((i = 1; i < COMP_CWORD; i++)); do\n"
        << "        case \"${COMP_WORDS[i]}\" in -*) ;; *) cmd=\"${COMP_WORDS[i]}\"; break ;; esac\n"
        << "    done\n"
        << "    if [[ -z $cmd ]]; then\n"
        << "        COMPREPLY=($(compgen -W \"$commands $globals\" -- \"$cur\"))\n"
        << "        return\n"
        << "    fi\n"
        << "    if [[ $cmd == help ]]; then\n"
        << "        COMPREPLY=($(compgen -W \"$commands\" -- \"$cur\"))\n"
        << "        return\n"
        << "    fi\n"
        << "    case \"$cmd:$prev\" in\n"
        << choices.str()
        << "        *:-d|*:--dest|*:--signatures) COMPREPLY=($(compgen -d -- \"$cur\")); return ;;\n"
        << "        *:--image|*:--mountinfo|*:--log|*:--save-log) COMPREPLY=($(compgen -f -- \"$cur\")); return ;;\n"
        << "    esac\n"
        << "    if [[ -n $words ]]; then\n"
        << "        COMPREPLY=($(compgen -W \"$words\" -- \"$cur\"))\n"
        << "        return\n"
        << "    fi\n"
        << "    case \"$cmd\" in\n"
        << perCommand.str()
        << "    esac\n"
        << "    if [[ $cur == -* ]]; then\n"
        << "        COMPREPLY=($(compgen -W \"$opts $globals\" -- \"$cur\"))\n"
        << "    else\n"
        << "        COMPREPLY=($(compgen -f -- \"$cur\"))\n"
        << "    fi\n"
        << "}\n"
        << "complete -o filenames -F _kestravon_cli kestravon-cli\n";
    return out.str();
}

}  // namespace kfr::cli
