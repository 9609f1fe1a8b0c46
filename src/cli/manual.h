// The manual page and the bash completion script, made from the same option table and help texts
// that --help prints, so neither can fall behind the program.
#pragma once

#include <string>

namespace CLI {
class App;
}

namespace kfr::cli {

// kestravon-cli(1) in roff, for `man`.
std::string manPage(const CLI::App& app, const std::string& exitStatusText);

// A bash completion script: commands, their options, the choices of options that take a fixed
// set of values, folders for destinations, files and devices for sources.
std::string bashCompletion(const CLI::App& app);

}  // namespace kfr::cli
