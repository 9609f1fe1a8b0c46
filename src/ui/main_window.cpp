#include "ui/main_window.h"

#include <QAction>
#include <QCloseEvent>
#include <QFrame>
#include <QFutureWatcher>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QMessageBox>
#include <QPushButton>
#include <QScreen>
#include <QVBoxLayout>
#include <QtConcurrent/QtConcurrentRun>

#include "export/shell_open.h"
#include "texts/messages.h"
#include "texts/screen_texts.h"
#include "ui/basic_search.h"
#include "ui/deep_search.h"
#include "ui/launch_window.h"
#include "ui/log_header.h"
#include "ui/qt_text.h"
#include "ui/screen_header.h"
#include "ui/sig_duplicate.h"
#include "ui/startup.h"
#include "ui/ui_texts.h"
#include "ui/widget_parts.h"

namespace kfr::ui {

namespace {

// One mode: its name, its description and its "Go" button.
QPushButton* addModeRow(QGridLayout* grid, int row, ScreenMode mode, const char* description, const char* tooltip,
                        QWidget* parent)
{
    auto* name = new QLabel(qs(modeName(mode)), parent);
    makeBold(name);
    QFont larger = name->font();
    larger.setPointSizeF(larger.pointSizeF() * 1.15);
    name->setFont(larger);
    auto* text = new QLabel(qs(description), parent);
    text->setWordWrap(true);
    auto* go = plainButton(texts::kGoButton, "go", parent);
    go->setObjectName(QStringLiteral("go") + QString::number(static_cast<int>(mode)));
    go->setToolTip(qs(tooltip));
    go->setMinimumWidth(80);
    grid->addWidget(name, row * 2, 0);
    grid->addWidget(text, row * 2 + 1, 0);
    grid->addWidget(go, row * 2, 1, 2, 1, Qt::AlignVCenter);
    return go;
}

// A group of modes in a frame; the group's name is not shown.
QGridLayout* modeGroup(QVBoxLayout* layout, const char* name, QWidget* parent)
{
    auto* frame = new QFrame(parent);
    frame->setObjectName(qs(name));
    frame->setFrameShape(QFrame::StyledPanel);
    auto* grid = new QGridLayout(frame);
    grid->setColumnStretch(0, 1);
    layout->addWidget(frame);
    return grid;
}

}  // namespace

CMainWindow::CMainWindow(AppContext& context, QWidget* parent) : QDialog(parent), m_context(context)
{
    setObjectName("mainWindow");
    setWindowTitle(qs(texts::kProductName));
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 10);
    layout->addWidget(new CScreenHeader(QString(), this));
    auto* body = new QVBoxLayout;
    body->setContentsMargins(14, 8, 14, 0);
    layout->addLayout(body);

    QGridLayout* standard = modeGroup(body, texts::kStandardSearchesGroup, this);
    m_basicGo = addModeRow(standard, 0, ScreenMode::Basic, texts::kBasicSearchDescription, texts::kBasicGoTooltip, this);
    m_deepGo = addModeRow(standard, 1, ScreenMode::Deep, texts::kDeepSearchDescription, texts::kDeepGoTooltip, this);
    QGridLayout* specific = modeGroup(body, texts::kFileSpecificSearchesGroup, this);
    m_signatureGo = addModeRow(specific, 0, ScreenMode::Signature, texts::kSignatureSearchDescription,
                               texts::kSignatureGoTooltip, this);

    auto* buttons = new QHBoxLayout;
    buttons->setContentsMargins(14, 6, 14, 0);
    auto* about = plainButton(texts::kAboutUsButton, "aboutUs", this);
    auto* help = plainButton(texts::kNeedHelpButton, "needHelp", this);
    auto* exit = plainButton(texts::kExitButton, "exit", this);
    buttons->addWidget(about);
    buttons->addWidget(help);
    buttons->addStretch();
    buttons->addWidget(exit);
    layout->addLayout(buttons);
    setMinimumWidth(640);
    // The about entry lives in the window's own menu (right click): a Linux desktop draws the
    // title bar's menu itself and takes no entries from programs.
    auto* aboutEntry = new QAction(qs(texts::kAboutMenuEntry), this);
    aboutEntry->setObjectName("aboutEntry");
    addAction(aboutEntry);
    setContextMenuPolicy(Qt::ActionsContextMenu);
    connect(aboutEntry, &QAction::triggered, this, &CMainWindow::showAbout);

    connect(m_basicGo, &QPushButton::clicked, this, [this] { launchMode(ScreenMode::Basic); });
    connect(m_deepGo, &QPushButton::clicked, this, [this] { launchMode(ScreenMode::Deep); });
    connect(m_signatureGo, &QPushButton::clicked, this, [this] { launchMode(ScreenMode::Signature); });
    connect(about, &QPushButton::clicked, this, &CMainWindow::showAbout);
    connect(help, &QPushButton::clicked, this, &CMainWindow::showHelp);
    connect(exit, &QPushButton::clicked, this, &CMainWindow::confirmExit);
    m_launchTimer.setInterval(80);
    connect(&m_launchTimer, &QTimer::timeout, this, [this] {
        if (m_launchWindow) m_launchWindow->step();
    });
}

CMainWindow::~CMainWindow()
{
    delete m_screen.data();
}

QPushButton* CMainWindow::goButton(ScreenMode mode) const
{
    switch (mode) {
    case ScreenMode::Basic: return m_basicGo;
    case ScreenMode::Deep: return m_deepGo;
    case ScreenMode::Signature: return m_signatureGo;
    }
    return nullptr;
}

void CMainWindow::launchMode(ScreenMode mode)
{
    const bool scanRunning = m_screen && m_screen->state().scanRunning;
    if (!m_launcher.request(mode, scanRunning)) return;
    m_context.commandLineLogPath.clear();
    openScreen(mode);
}

bool CMainWindow::openLogFromCommandLine()
{
    if (m_context.commandLineLogPath.empty()) return true;
    const LogHeaderVerdict verdict = readLogHeader(m_context.commandLineLogPath);
    if (verdict == LogHeaderVerdict::CannotOpen) return false;
    // The launcher is up before the message or the log's screen, as at any other start.
    show();
    if (verdict == LogHeaderVerdict::Invalid) {
        m_context.commandLineLogPath.clear();
        Q_EMIT commandLineLogDropped();
        m_context.dialogs->inform(this, qs(texts::kInvalidLogText));
        return true;
    }
    const ScreenMode mode = verdict == LogHeaderVerdict::Deep ? ScreenMode::Deep : ScreenMode::Basic;
    if (m_launcher.request(mode, false)) openScreen(mode);
    return true;
}

void CMainWindow::openScreen(ScreenMode mode)
{
    m_launchWindow = new CLaunchWindow(this);
    m_launchWindow->adjustSize();
    m_launchWindow->move(geometry().center() - m_launchWindow->rect().center());
    m_launchWindow->show();
    m_launchTimer.start();
    setEnabled(false);

    // The screen is a window of its own (no parent), so hiding the main window leaves it shown.
    CRecoveryScreen* screen = nullptr;
    switch (mode) {
    case ScreenMode::Basic: screen = new CBasicSearch(m_context); break;
    case ScreenMode::Deep: screen = new CDeepSearch(m_context); break;
    case ScreenMode::Signature: screen = new CSigDuplicate(m_context); break;
    }
    m_screen = screen;
    // Once its drive tree is filled the screen takes over: the launch window closes and the main
    // window hides until the screen returns to it.
    connect(screen, &CRecoveryScreen::drivesListed, this, [this, screen] {
        if (m_screen != screen || screen->isVisible()) return;
        m_launchTimer.stop();
        delete m_launchWindow;
        m_launchWindow = nullptr;
        hide();
        screen->show();
    });
    connect(screen, &QDialog::finished, this, &CMainWindow::onScreenFinished);
    connect(screen, &CRecoveryScreen::quitRequested, this, &CMainWindow::exitConfirmed);
    Q_EMIT screenOpened(screen);
    screen->startOpening();
}

void CMainWindow::onScreenFinished()
{
    m_launchTimer.stop();
    delete m_launchWindow;
    m_launchWindow = nullptr;
    const bool switching = m_screen && m_screen->result() == CRecoveryScreen::kSwitchScreen && m_context.switchToMode != 0;
    if (m_screen) m_screen->deleteLater();
    m_screen = nullptr;
    m_launcher.screenClosed();
    if (switching) {
        // A recovery log of the other mode: that mode's screen loads it as it opens.
        const auto mode = static_cast<ScreenMode>(m_context.switchToMode);
        m_context.switchToMode = 0;
        if (m_launcher.request(mode, false)) {
            openScreen(mode);
            return;
        }
    }
    setEnabled(true);
    show();
    activateWindow();
}

void CMainWindow::confirmExit()
{
    restoreWindow(this);
    if (!m_context.dialogs->ask(this, qs(texts::kExitQuestion))) return;
    if (m_launchWindow) m_launchWindow->hide();
    Q_EMIT exitConfirmed();
}

void CMainWindow::showAbout()
{
    QMessageBox::about(this, qs(texts::kAboutUsButton),
                       QStringLiteral("<b>%1</b><br>%2%3<br><br>%4")
                           .arg(qs(texts::kProductName), qs(texts::kVersionPrefix), QStringLiteral(KFR_VERSION),
                                qs(kAboutText)));
}

void CMainWindow::showHelp()
{
    QDialog help(this);
    help.setWindowTitle(qs(kHelpCaption));
    auto* layout = new QVBoxLayout(&help);
    layout->addWidget(new CScreenHeader(QString(), &help));
    auto* launch = new QPushButton(qs(texts::kLaunchHelpFileButton), &help);
    launch->setObjectName("launchHelpFile");
    layout->addWidget(launch);
    connect(launch, &QPushButton::clicked, &help, [this, &help] {
        const QString path = helpFilePath(m_programDir);
        if (path.isEmpty()) {
            m_context.dialogs->inform(&help, qs(texts::kDoesNotExistText));
            return;
        }
        // The desktop's opener may take a moment to answer; the window stays responsive.
        auto* watcher = new QFutureWatcher<Status>(this);
        connect(watcher, &QFutureWatcher<Status>::finished, this, [this, watcher] {
            const Status status = watcher->result();
            if (!status) m_context.dialogs->inform(this, qs(status.error().detail));
            watcher->deleteLater();
        });
        watcher->setFuture(QtConcurrent::run([p = path.toStdString()] { return exporting::openWithShell(0, p); }));
    });
    help.exec();
}

// Escape does not close the main window; F1 asks for help.
void CMainWindow::keyPressEvent(QKeyEvent* event)
{
    if (event->key() == Qt::Key_F1) {
        showHelp();
        return;
    }
    if (event->key() == Qt::Key_Escape) {
        event->accept();
        return;
    }
    QDialog::keyPressEvent(event);
}

void CMainWindow::reject() {}

void CMainWindow::closeEvent(QCloseEvent* event)
{
    event->ignore();
    confirmExit();
}

}  // namespace kfr::ui
