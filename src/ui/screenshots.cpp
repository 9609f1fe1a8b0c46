#include "ui/screenshots.h"

#include <QApplication>
#include <QEventLoop>
#include <QPixmap>
#include <QTimer>
#include <QTreeWidget>

#include "ui/drive_stage_page.h"
#include "ui/main_window.h"
#include "ui/recovery_screen.h"

namespace kfr::ui {

namespace {

// Lets the window settle (layout, first paint) before it is grabbed.
void settle(int ms)
{
    QEventLoop loop;
    QTimer::singleShot(ms, &loop, &QEventLoop::quit);
    loop.exec();
}

bool grabTo(QWidget* widget, const QString& path)
{
    settle(300);
    return widget->grab().save(path, "PNG");
}

bool screenPicture(CMainWindow& window, ScreenMode mode, const QString& path)
{
    window.launchMode(mode);
    CRecoveryScreen* screen = window.screen();
    if (!screen) return false;
    QEventLoop loop;
    QObject::connect(screen, &CRecoveryScreen::drivesListed, &loop, &QEventLoop::quit);
    QTimer::singleShot(20000, &loop, &QEventLoop::quit);
    if (screen->listing()) loop.exec();
    const auto partitions = screen->driveStage().tree().itemsOfKind(DriveItemKind::Partition);
    if (!partitions.empty()) screen->drivePage()->selectItem(partitions.front());
    const bool ok = grabTo(screen, path);
    screen->done(CRecoveryScreen::kBackToLauncher);
    settle(100);
    return ok;
}

}  // namespace

int takeScreenshots(CMainWindow& window, const QString& prefix)
{
    window.show();
    bool ok = grabTo(&window, prefix + "launcher.png");
    ok = screenPicture(window, ScreenMode::Basic, prefix + "basic-drive-stage.png") && ok;
    ok = screenPicture(window, ScreenMode::Deep, prefix + "deep-drive-stage.png") && ok;
    return ok ? 0 : 1;
}

}  // namespace kfr::ui
