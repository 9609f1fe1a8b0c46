// The start-up steps of the desktop program that do not need a window: the recovery log named on
// the command line, the check of the signature files, the per-user association of ".MFT" files
// with the program, the help document, and restarting through pkexec.
#pragma once

#include <QString>
#include <QStringList>

class QObject;

namespace kfr::ui {
struct AppContext;
}
#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace kfr::ui {

// The command line's log path: the arguments joined by spaces (a desktop may pass a path with
// blanks as several), trimmed, with one leading and one trailing double quote removed.
std::string commandLineLogPath(const std::vector<std::string>& arguments);

// Opens both signature files in folder for reading. nullopt when both open; otherwise the
// message that ends the program: "Couldn't open source file: " and the system's reason.
std::optional<std::string> checkSignatureFiles(const std::string& folder);

// Where the per-user association lives: $XDG_DATA_HOME (~/.local/share) and $XDG_CONFIG_HOME
// (~/.config).
struct XdgFolders {
    QString dataHome;
    QString configHome;
    static XdgFolders fromEnvironment();
};

inline constexpr const char* kLogMimeType = "application/x-kestravon-recovery-log";
inline constexpr const char* kDesktopEntryName = "kestravon-recovery.desktop";

// Associates ".MFT" files with programPath for this user: the MIME type (glob *.MFT, comment
// "Log File"), a desktop entry that opens them with the program, and the default application for
// the type in mimeapps.list. Written at every start; false when a file cannot be written.
bool registerLogFileType(const QString& programPath, const XdgFolders& folders);

// The help document: "Software Guide.html" beside the program, else in ../share/kestravon.
// Empty when neither exists.
QString helpFilePath(const QString& programDir);

// True when this process may offer a restart with administrator rights: it does not run as
// root and pkexec is installed.
bool canRestartWithPrivileges();
// Starts programPath again through pkexec with arguments, as a child of owner. False with the
// reason when pkexec cannot be started. Otherwise ended is called once it is over: refused when
// no privileged program ran (the password dialog was dismissed, or the user may not), else with
// the privileged program's exit code. The caller keeps its windows hidden meanwhile, so that a
// dismissed password dialog brings the user back where they were.
// Lets the screens offer a restart through pkexec: sets context.restartWithPrivileges to start
// program again with the image files listed so far, keeping this program's windows hidden until
// the restarted one ends (this one then ends too) or the password is not given (they come back).
void offerPkexecRestart(AppContext& context, const QString& program, QObject* owner);
bool restartWithPkexec(const QString& programPath, const QStringList& arguments, QObject* owner,
                       std::function<void(bool refused, int exitCode)> ended, QString* error);

}  // namespace kfr::ui
