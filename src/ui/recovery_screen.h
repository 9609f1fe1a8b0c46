// CRecoveryScreen: what the Basic Search, Deep Search and Signature Search screens share: the
// header, the drive stage (drive tree, properties, Next's checks and boxes, Refresh Tree, Search
// More Partitions, the no-device dialog, the offer to restart with administrator rights), the
// stage pages and the closing questions. The stages after the drive stage plug in by overriding
// the protected hooks and adding pages of their own.
#pragma once

#include <QDialog>
#include <QFutureWatcher>
#include <atomic>
#include <memory>
#include <optional>

#include "ui/app_context.h"
#include "ui/drive_stage.h"
#include "ui/screen_state.h"

class QLabel;
class QStackedWidget;

namespace kfr::ui {

class CDriveStagePage;
class CScanStagePage;
class CScreenHeader;

class CRecoveryScreen : public QDialog {
    Q_OBJECT
public:
    // How a screen ends (its QDialog result): back to the mode launcher, or the program ends.
    static constexpr int kBackToLauncher = 10;
    static constexpr int kEndProgram = 11;
    // The screen handed a recovery log to the other mode's screen (AppContext::switchToMode).
    static constexpr int kSwitchScreen = 12;

    CRecoveryScreen(ScreenMode mode, const QString& rangeIntro, AppContext& context, QWidget* parent = nullptr);
    ~CRecoveryScreen() override;

    // Opening: fills the drive tree on a worker; drivesListed() follows, then (first time) the
    // pending log is loaded or the removable-media search starts.
    void startOpening();
    // Lists the drives again on a worker (Refresh Tree does this after its check).
    void refreshDrives();
    // Lists the drives on the calling thread (the no-device dialog's Retry); true when any was found.
    bool refreshDrivesNow();
    // Lists an image file as a disk of its own, on this screen and every later one.
    void addImage(const QString& path);

    // Commands, as the buttons give them.
    void next();
    void back();
    void refreshTree();
    void searchMorePartitions();
    void loadLog();
    // "Stop Searching Partitions": asks first; a Yes ends the search, keeping what it found.
    void stopPartitionSearch();

    ScreenMode mode() const { return m_drive.mode(); }
    const DriveStage& driveStage() const { return m_drive; }
    ScreenState& state() { return m_state; }
    const ScreenState& state() const { return m_state; }
    const std::optional<ScanTarget>& target() const { return m_target; }
    CDriveStagePage* drivePage() const { return m_drivePage; }
    CScanStagePage* scanPage() const { return m_scanPage; }
    CScreenHeader* header() const { return m_header; }
    QLabel* statusLine() const { return m_status; }
    QWidget* currentStage() const;
    bool listing() const { return m_state.drivesListing; }

Q_SIGNALS:
    // A listing of the drives has been shown in the tree.
    void drivesListed();
    // The user chose to leave the program from this screen.
    void quitRequested();

protected:
    // --- Hooks for the stages after the drive stage ---
    // Next settled the target and counted a new scan: start it. The default shows the scanning
    // page for it and says that scanning is not available.
    virtual void beginScan(const ScanTarget& target);
    // Back after a scan: drop the results before the drive stage shows again.
    virtual void clearResults() {}
    // The sector fields the Deep and Signature screens read; the Basic screen has none.
    virtual std::optional<RangeFields> rangeFields() const;
    // Search More Partitions after its checks and the mode dialog (5 Standard, 10 Advanced).
    virtual void startPartitionSearch(int searchMode);
    // The removable-media search on a disk item without partitions, when the screen opens.
    virtual void startRemovableMediaSearch(int diskItem);
    // Load Log (path empty: ask for the file), or the log named on the command line.
    virtual void loadRecoveryLog(const std::string& path);
    // The closing questions: has a scan's log not been saved yet, and saving it.
    virtual bool logUnsaved() const { return false; }
    virtual void saveLogBeforeClosing() {}

    int addStage(QWidget* page);
    void showStage(QWidget* page);
    void setStatusText(const QString& text);
    AppContext& context() { return m_context; }
    Dialogs& dialogs() { return *m_context.dialogs; }

    void keyPressEvent(QKeyEvent* event) override;
    void closeEvent(QCloseEvent* event) override;
    void reject() override;

private:
    DriveListRequest listingRequest() const;
    void showListing(DriveSnapshot snapshot);
    void onItemSelected(int index);
    void afterListing();
    void offerPrivilegedRestart();
    void returnToDriveStage();
    // Runs the partition search of a disk item on a worker; quiet: no result message (the
    // removable-media search of a screen opened with a log).
    void runPartitionSearch(int diskItem, volumes::SearchMode mode, bool quiet);
    void finishPartitionSearch();

    AppContext& m_context;
    DriveStage m_drive;
    ScreenState m_state;
    std::optional<ScanTarget> m_target;
    bool m_opened = false;
    bool m_noDeviceShowing = false;
    CScreenHeader* m_header = nullptr;
    QStackedWidget* m_stages = nullptr;
    CDriveStagePage* m_drivePage = nullptr;
    CScanStagePage* m_scanPage = nullptr;
    QLabel* m_status = nullptr;
    QFutureWatcher<DriveSnapshot> m_listing;

    // The running partition search: its disk item, whether its result is told, its stop flag
    // (read by the worker) and the observer that carries its progress to the bar.
    class SearchProgress;
    struct PartitionSearchRun {
        int diskItem = -1;
        std::uint32_t diskNumber = 0;
        bool quiet = false;
    };
    PartitionSearchRun m_partitionSearch;
    std::atomic<bool> m_searchStop{false};
    std::unique_ptr<SearchProgress> m_searchProgress;
    QFutureWatcher<Result<session::PartitionSearchOutcome>> m_searchWatcher;
};

}  // namespace kfr::ui
