#include "ui/screenshots.h"

#include <QApplication>
#include <QDir>
#include <QEventLoop>
#include <QPixmap>
#include <QTemporaryDir>
#include <QTimer>
#include <QTreeWidget>

#include "ui/app_context.h"
#include "ui/drive_stage_page.h"
#include "ui/main_window.h"
#include "ui/recovery_screen.h"
#include "ui/results_models.h"
#include "ui/results_page.h"
#include "ui/results_screen.h"
#include "ui/save_flow.h"
#include "ui/sig_duplicate.h"
#include "ui/sig_extension_page.h"
#include "ui/sig_scan_page.h"

#include <QAbstractItemModel>
#include <QLineEdit>
#include <QListView>
#include <QPushButton>

#include "session/recovery_session.h"
#include "ui/held_source.h"

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

// Waits for a signal of sender, at most ms.
template <typename Signal>
bool waitFor(const typename QtPrivate::FunctionPointer<Signal>::Object* sender, Signal signal, int ms)
{
    QEventLoop loop;
    bool fired = false;
    const auto connection = QObject::connect(sender, signal, &loop, [&] {
        fired = true;
        loop.quit();
    });
    QTimer::singleShot(ms, &loop, &QEventLoop::quit);
    loop.exec();
    QObject::disconnect(connection);
    return fired;
}

CRecoveryScreen* openListed(CMainWindow& window, ScreenMode mode)
{
    window.launchMode(mode);
    CRecoveryScreen* screen = window.screen();
    if (!screen) return nullptr;
    if (screen->listing()) waitFor(screen, &CRecoveryScreen::drivesListed, 20000);
    return screen;
}

bool screenPicture(CMainWindow& window, ScreenMode mode, const QString& path)
{
    CRecoveryScreen* screen = openListed(window, mode);
    if (!screen) return false;
    const auto partitions = screen->driveStage().tree().itemsOfKind(DriveItemKind::Partition);
    if (!partitions.empty()) screen->drivePage()->selectItem(partitions.front());
    const bool ok = grabTo(screen, path);
    screen->done(CRecoveryScreen::kBackToLauncher);
    settle(100);
    return ok;
}

// Answers the boxes a scripted recovery meets: the whole-disk box with a scan of the disk, the
// destination with a folder of its own; the second collision of the second save is where the
// saving window is pictured; the first file is renamed, the rest skipped.
class ScreenshotDialogs final : public Dialogs {
public:
    QString destination;
    QString savingPicture;
    bool saving = false;
    bool savingTaken = false;
    int questions = 0;

    void inform(QWidget*, const QString&) override {}
    bool wholeDisk(QWidget*) override { return true; }
    void saveNotice(QWidget*) override {}
    std::optional<QString> chooseDestination(QWidget*, const QString&, const std::function<QString(const QString&)>&) override
    {
        return destination;
    }
    exporting::ReplaceReply replace(QWidget*, const QString& collisionPath, const QString& suggestedPath) override
    {
        // The second question: the window then shows the file before it.
        if (++questions == 2) {
            for (QWidget* w : QApplication::topLevelWidgets())
                if (w->isVisible() && w->objectName() == "savingDialog") savingTaken = grabTo(w, savingPicture);
        }
        // The first file is written under a new name, so the window has a file to show.
        exporting::ReplaceReply reply;
        reply.button = questions == 1 ? exporting::ReplaceButton::Rename : exporting::ReplaceButton::Skip;
        reply.applyToAll = questions >= 2;
        reply.fileNameText = collisionPath.toStdString();
        reply.newFileNameText = suggestedPath.toStdString();
        return reply;
    }
};

// A Basic Search of the volume image: the results stage with a folder ticked, then the same
// folder saved twice into one destination; the second save is pictured while it asks about the
// first file that is already there.
bool resultsPictures(CMainWindow& window, AppContext& context, const QString& prefix)
{
    ScreenshotDialogs dialogs;
    Dialogs* previous = context.dialogs;
    context.dialogs = &dialogs;
    QTemporaryDir destination;
    dialogs.destination = destination.path();
    dialogs.savingPicture = prefix + "basic-saving.png";
    bool ok = false;
    if (auto* screen = dynamic_cast<CResultsScreen*>(openListed(window, ScreenMode::Basic))) {
        const auto& tree = screen->driveStage().tree();
        const auto disks = tree.itemsOfKind(DriveItemKind::Disk);
        // The last image added is the volume image.
        if (!disks.empty()) screen->drivePage()->selectItem(disks.back());
        screen->next();
        waitFor(screen, &CResultsScreen::scanFinished, 60000);
        if (screen->state().listPopulating) waitFor(screen, &CResultsScreen::populated, 60000);
        ResultsTreeModel& model = screen->treeModel();
        const QModelIndex top = model.indexOf(model.topItem());
        for (int r = 0; r < model.rowCount(top); ++r) {
            const QModelIndex folder = model.index(r, 0, top);
            if (model.data(folder, Qt::DisplayRole).toString() != "Documents") continue;
            model.setData(folder, Qt::Checked, Qt::CheckStateRole);
            screen->resultsPage()->tree()->expand(folder);
        }
        ok = grabTo(screen, prefix + "basic-results.png");
        for (int run = 0; run < 2; ++run) {
            screen->save();
            waitFor(screen->saveFlow(), &SaveFlow::finished, 60000);
        }
        ok = ok && dialogs.savingTaken;
        screen->done(CRecoveryScreen::kBackToLauncher);
        settle(100);
    }
    context.dialogs = previous;
    return ok;
}

// A Signature Search of the planted carving image (the second image listed), pictured during
// its General pass.
bool carvingPicture(CMainWindow& window, AppContext& context, const QString& prefix)
{
    ScreenshotDialogs dialogs;
    Dialogs* previous = context.dialogs;
    context.dialogs = &dialogs;
    // The fixture is carved in a blink: its reads from the middle on wait until the picture is
    // taken, so the picture shows the search at work (the files of the first half listed, the
    // bar half way).
    auto gate = std::make_shared<ReadGate>(0);
    session::SourceOpener previousOpener = context.sourceOpener;
    context.sourceOpener = [gate](const std::string& path) -> Result<std::shared_ptr<const storage::SectorSource>> {
        auto opened = storage::openSource(path);
        if (!opened) return opened.error();
        gate->fromSector = (*opened)->sectorCount() / 2;
        return std::shared_ptr<const storage::SectorSource>(std::make_shared<HeldSource>(std::move(opened).value(), gate));
    };
    QTemporaryDir destination;
    bool ok = false;
    if (auto* screen = dynamic_cast<CSigDuplicate*>(openListed(window, ScreenMode::Signature))) {
        const auto disks = screen->driveStage().tree().itemsOfKind(DriveItemKind::Disk);
        if (disks.size() >= 2) screen->drivePage()->selectItem(disks[1]);
        screen->drivePage()->nextButton()->click();
        if (screen->step() == CSigDuplicate::Step::Extensions) {
            screen->extensionPage()->destination()->setText(destination.path());
            screen->startCarving();
            // Wait for the reads to reach the middle and the files before it to be listed.
            for (int i = 0; i < 600 && !(gate->reached && screen->resultList().rowCount() > 0); ++i) settle(50);
            settle(300);
            ok = gate->reached && grabTo(screen, prefix + "signature-carving.png");
        }
        gate->released = true;
        if (screen->carving()) waitFor(screen, &CSigDuplicate::carvingFinished, 60000);
        screen->done(CRecoveryScreen::kBackToLauncher);
        settle(100);
    }
    gate->released = true;
    context.sourceOpener = previousOpener;
    context.dialogs = previous;
    return ok;
}

}  // namespace

int takeScreenshots(CMainWindow& window, AppContext& context, const QString& prefix)
{
    window.show();
    bool ok = grabTo(&window, prefix + "launcher.png");
    ok = screenPicture(window, ScreenMode::Basic, prefix + "basic-drive-stage.png") && ok;
    ok = screenPicture(window, ScreenMode::Deep, prefix + "deep-drive-stage.png") && ok;
    ok = resultsPictures(window, context, prefix) && ok;
    ok = carvingPicture(window, context, prefix) && ok;
    return ok ? 0 : 1;
}

}  // namespace kfr::ui
