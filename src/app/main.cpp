// kestravon-recovery: the desktop program. Start-up in its order: the application and its
// settings name, the per-user association of recovery logs, the log named on the command line
// (with the splash window while it opens), the signature files, then the mode launcher.
#include <QApplication>
#include <QCommandLineParser>
#include <QDir>
#include <QFileInfo>
#include <QPointer>
#include <QTimer>
#include <memory>

#include "session/carve_session.h"
#include "texts/messages.h"
#include "ui/recovery_screen.h"
#include "texts/screen_texts.h"
#include "ui/app_context.h"
#include "ui/dialogs.h"
#include "ui/log_header.h"
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

    if (canRestartWithPrivileges()) {
        // The restarted program lists the image files added so far, the ones added on its
        // screens included; the log, if any, has been opened or dropped by then.
        context.restartWithPrivileges = [program, &context, &app](QString* error) {
            QStringList arguments{QStringLiteral("--no-register")};
            if (!context.listing.listSystemMedia) arguments << QStringLiteral("--images-only");
            for (const std::string& image : context.listing.imagePaths) arguments << QStringLiteral("--image") << qs(image);
            // This process waits out of sight: it ends with the privileged one, or comes back
            // when the password was not given.
            auto shared = std::make_shared<QList<QPointer<QWidget>>>();
            if (!restartWithPkexec(program, arguments, &app,
                                   [shared](bool refused, int exitCode) {
                                       if (!refused) {
                                           QCoreApplication::exit(exitCode);
                                           return;
                                       }
                                       for (const auto& w : *shared)
                                           if (w) w->show();
                                   },
                                   error))
                return false;
            for (QWidget* w : QApplication::topLevelWidgets())
                if (w->isVisible()) {
                    shared->append(w);
                    w->hide();
                }
            return true;
        };
    }

    CMainWindow window(context);
    window.setProgramDir(QCoreApplication::applicationDirPath());
    QObject::connect(&window, &CMainWindow::exitConfirmed, &app, &QCoreApplication::quit, Qt::QueuedConnection);

    if (parser.isSet(screenshotOption)) return takeScreenshots(window, parser.value(screenshotOption));

    if (!context.commandLineLogPath.empty()) {
        switch (readLogHeader(context.commandLineLogPath)) {
        case LogHeaderVerdict::CannotOpen:
            return 1;
        case LogHeaderVerdict::Invalid:
            if (splash) splash->hide();
            context.commandLineLogPath.clear();
            dialogs.inform(nullptr, qs(texts::kInvalidLogText));
            break;
        case LogHeaderVerdict::Basic:
            window.show();
            window.openLogScreen(ScreenMode::Basic);
            return app.exec();
        case LogHeaderVerdict::Deep:
            window.show();
            window.openLogScreen(ScreenMode::Deep);
            return app.exec();
        }
    }
    window.show();
    return app.exec();
}
