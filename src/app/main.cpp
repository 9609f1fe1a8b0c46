// kestravon-recovery: the desktop program. Start-up in its order: the application and its
// settings name, the per-user association of recovery logs, the log named on the command line
// (with the splash window while it opens), the signature files, then the mode launcher.
#include <QApplication>
#include <QCommandLineParser>
#include <QDir>
#include <QFileInfo>
#include <QTimer>
#include <memory>

#include "session/carve_session.h"
#include "texts/messages.h"
#include "ui/recovery_screen.h"
#include "texts/screen_texts.h"
#include "ui/app_context.h"
#include "ui/dialogs.h"
#include "ui/main_window.h"
#include "ui/qt_text.h"
#include "ui/screenshots.h"
#include "ui/splash_window.h"
#include "ui/startup.h"

using namespace kfr;
using namespace kfr::ui;

int main(int argc, char* argv[])
{
    QApplication app(argc, argv);
    QCoreApplication::setOrganizationName(qs(texts::kSettingsKey));
    QCoreApplication::setApplicationName(QStringLiteral("kestravon-recovery"));
    QCoreApplication::setApplicationVersion(QStringLiteral(KFR_VERSION));
    QGuiApplication::setDesktopFileName(QStringLiteral("kestravon-recovery"));

    QCommandLineParser parser;
    parser.setApplicationDescription(qs(texts::kProductName));
    parser.addHelpOption();
    parser.addVersionOption();
    const QCommandLineOption imageOption(QStringList{"i", "image"},
                                         "List an image file as a disk of its own (repeatable).", "FILE");
    const QCommandLineOption imagesOnlyOption("images-only", "List only the image files, not the machine's disks.");
    const QCommandLineOption noRegisterOption("no-register", "Do not associate .MFT files with this program.");
    QCommandLineOption screenshotOption("screenshot", "Save pictures of the windows under this prefix and end.",
                                        "PREFIX");
    screenshotOption.setFlags(QCommandLineOption::HiddenFromHelp);
    parser.addOptions({imageOption, imagesOnlyOption, noRegisterOption, screenshotOption});
    parser.addPositionalArgument("log", "A recovery log (.MFT file) to open.", "[LOG]");
    parser.process(app);

    Dialogs dialogs;
    AppContext context;
    context.dialogs = &dialogs;
    context.listing.listSystemMedia = !parser.isSet(imagesOnlyOption);
    for (const QString& image : parser.values(imageOption))
        context.listing.imagePaths.push_back(QFileInfo(image).absoluteFilePath().toStdString());

    const QString program = QCoreApplication::applicationFilePath();
    // Under pkexec the program runs as root for the disks' sake; the association belongs to the
    // user's own session and is left alone.
    const bool restartedByPkexec = qEnvironmentVariableIsSet("PKEXEC_UID");
    if (!parser.isSet(noRegisterOption) && !restartedByPkexec &&
        !registerLogFileType(program, XdgFolders::fromEnvironment()))
        dialogs.inform(nullptr, qs(texts::kRegistryKeyFailedText));

    std::vector<std::string> positional;
    for (const QString& a : parser.positionalArguments()) positional.push_back(a.toStdString());
    context.commandLineLogPath = commandLineLogPath(positional);

    // The splash stays until the pending log is dropped or loaded.
    std::unique_ptr<CSplashWindow> splash;
    if (!context.commandLineLogPath.empty()) {
        splash = std::make_unique<CSplashWindow>([&context] { return context.commandLineLogPath.empty(); });
        splash->show();
    }

    if (const auto problem = checkSignatureFiles(session::signatureFolderOf(""))) {
        if (splash) splash->hide();
        dialogs.inform(nullptr, qs(*problem));
        return 1;
    }

    if (canRestartWithPrivileges()) offerPkexecRestart(context, program, &app);

    CMainWindow window(context);
    window.setProgramDir(QCoreApplication::applicationDirPath());
    QObject::connect(&window, &CMainWindow::exitConfirmed, &app, &QCoreApplication::quit, Qt::QueuedConnection);

    if (parser.isSet(screenshotOption)) return takeScreenshots(window, context, parser.value(screenshotOption));

    if (splash) QObject::connect(&window, &CMainWindow::commandLineLogDropped, splash.get(), &QWidget::hide);
    if (!window.openLogFromCommandLine()) return 1;
    window.show();
    return app.exec();
}
