// CMainWindow: the mode launcher. Three modes with their descriptions and "Go" buttons, "About
// Us", "Need Help" (also F1) and "Exit"; Escape does not close it. "Go" shows the launch window
// and opens the mode's screen, one at a time; the main window hides while a screen is open and
// comes back when the screen returns to it.
#pragma once

#include <QDialog>
#include <QPointer>
#include <QTimer>
#include <functional>

#include "ui/app_context.h"
#include "ui/launcher.h"
#include "ui/recovery_screen.h"

class QPushButton;

namespace kfr::ui {

class CLaunchWindow;
class CRecoveryScreen;

class CMainWindow : public QDialog {
    Q_OBJECT
public:
    explicit CMainWindow(AppContext& context, QWidget* parent = nullptr);
    ~CMainWindow() override;

    // A "Go" press for a mode: ignored while a launch is in progress or a scan runs.
    void launchMode(ScreenMode mode);
    // The log named on the command line: opens the Basic or Deep screen its header names (the
    // path stays in the context for the screen to load). A file that is not a log, or one of
    // another mode, gives the invalid-log message and leaves the launcher, the path emptied.
    // False when the file cannot be opened at all: the program then ends without a message.
    bool openLogFromCommandLine();
    // "Exit" and the close box: asks, then ends the program.
    void confirmExit();
    void showAbout();
    void showHelp();

    const Launcher& launcher() const { return m_launcher; }
    CRecoveryScreen* screen() const { return m_screen; }
    CLaunchWindow* launchWindow() const { return m_launchWindow; }
    QPushButton* goButton(ScreenMode mode) const;

    // The folder of the program, where the help document is looked for.
    void setProgramDir(const QString& dir) { m_programDir = dir; }

Q_SIGNALS:
    // The user confirmed leaving the program.
    void exitConfirmed();
    // A screen was opened for a mode.
    void screenOpened(kfr::ui::CRecoveryScreen* screen);
    // The log named on the command line was refused; the splash goes before the message.
    void commandLineLogDropped();

protected:
    void keyPressEvent(QKeyEvent* event) override;
    void closeEvent(QCloseEvent* event) override;
    void reject() override;

private:
    void openScreen(ScreenMode mode);
    void onScreenFinished();

    AppContext& m_context;
    Launcher m_launcher;
    QPointer<CRecoveryScreen> m_screen;
    CLaunchWindow* m_launchWindow = nullptr;
    QTimer m_launchTimer;  // drives the launch window's bar every 80 ms
    QPushButton* m_basicGo = nullptr;
    QPushButton* m_deepGo = nullptr;
    QPushButton* m_signatureGo = nullptr;
    QString m_programDir;
};

}  // namespace kfr::ui
