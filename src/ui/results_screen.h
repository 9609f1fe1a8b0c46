// CResultsScreen: what the Basic Search and Deep Search screens do after the drive stage. Next
// runs the scan on a worker while the results tree grows; Stop asks it to end and keeps what it
// found; selecting a folder lists it on a worker behind the wait window; expanding a folder names
// its subfolders; Save, Save Log and Load Log run by the screen's state; Back empties it all.
#pragma once

#include <QFutureWatcher>
#include <QPointer>
#include <QThreadPool>
#include <atomic>
#include <memory>
#include <optional>
#include <unordered_set>

#include "session/recovery_session.h"
#include "ui/recovery_screen.h"
#include "ui/results_models.h"

class QComboBox;
class QMenu;

namespace kfr::ui {

class CPleaseWaitModeless;
class CPopulate;
class CResultsPage;
class OpenFlow;
class SaveFlow;

class CResultsScreen : public CRecoveryScreen {
    Q_OBJECT
public:
    CResultsScreen(ScreenMode mode, const QString& rangeIntro, AppContext& context, QWidget* parent = nullptr);
    ~CResultsScreen() override;

    void stop();
    void save();
    void saveLog();
    // Lists a folder of the results (what selecting it in the tree does).
    void populate(recovery::ItemId item);
    // The list's menu entries and double-click.
    void openSelectedRow();
    void saveSelectedRows(bool all);
    // The tree's menu entry "Save".
    void saveTicked();

    CResultsPage* resultsPage() const { return m_page; }
    ResultsTreeModel& treeModel() { return m_treeModel; }
    ItemListModel& listModel() { return m_listModel; }
    session::RecoverySession& session() { return m_session; }
    std::shared_ptr<const session::ScanResults> results() const { return m_results; }
    CPopulate* populateWindow() const { return m_populate; }
    SaveFlow* saveFlow() const { return m_saveFlow; }
    OpenFlow* openFlow() const { return m_openFlow; }
    // The Deep screen's "Search selected Drive's file system as:" list (null on the Basic screen).
    QComboBox* fileSystemChoice() const { return m_fileSystem; }
    bool fromLog() const { return m_fromLog; }
    bool working() const;

Q_SIGNALS:
    // A scan, a listing or a log load ended (tests wait for these).
    void scanFinished();
    void populated();
    void logLoaded();
    void logSaved();

protected:
    void beginScan(const ScanTarget& target) override;
    void clearResults() override;
    void loadRecoveryLog(const std::string& path) override;
    bool logUnsaved() const override;
    void saveLogBeforeClosing() override;

private:
    class ScanEvents;
    class ListingSink;
    class MediaQuestions;
    struct ScanOutcome;

    bool deep() const { return mode() == ScreenMode::Deep; }
    void finishScan();
    void showResults(std::shared_ptr<session::ScanResults> results);
    void finishPopulation();
    void onExpanded(const QModelIndex& index);
    void showListMenu(const QPoint& pos);
    void showTreeMenu(const QPoint& pos);
    void startSave(std::vector<exporting::SelectedRow> rows);
    void finishLogLoad();
    std::string sourcePath() const;
    void setCurrentFolderText(recovery::ItemId item);

    QThreadPool m_pool;
    session::RecoverySession m_session;
    ResultsTreeModel m_treeModel;
    ItemListModel m_listModel;
    CResultsPage* m_page = nullptr;
    CPopulate* m_populate = nullptr;
    QComboBox* m_fileSystem = nullptr;
    SaveFlow* m_saveFlow = nullptr;
    OpenFlow* m_openFlow = nullptr;

    std::shared_ptr<const session::ScanResults> m_results;
    bool m_fromLog = false;
    bool m_logSaved = false;
    bool m_fitColumns = false;  // the next listing sets the column widths
    recovery::ItemId m_lastListed = recovery::kNoItem;
    std::unordered_set<recovery::ItemId> m_named;  // folders whose subfolders expansion named

    // The scan's worker: its stop flag, its events and what it left.
    std::atomic<bool> m_stop{false};
    std::unique_ptr<ScanEvents> m_events;
    std::unique_ptr<ScanOutcome> m_outcome;
    QFutureWatcher<void> m_scanWatcher;

    // The population's worker.
    std::atomic<bool> m_populateStop{false};
    struct {
        std::uint64_t folders = 0;
        std::uint64_t files = 0;
    } m_rowsListed;  // the counts text while rows come in
    std::unique_ptr<ListingSink> m_sink;
    std::optional<Result<recovery::FolderListing>> m_listing;
    std::shared_ptr<const session::ScanResults> m_listingResults;
    QFutureWatcher<void> m_listWatcher;

    // The log workers. A question the loader puts while the screen closes is answered No.
    std::atomic<bool> m_closing{false};
    std::unique_ptr<MediaQuestions> m_mediaQuestions;
    std::optional<session::LogLoadOutcome> m_loadOutcome;
    std::string m_loadPath;
    QFutureWatcher<void> m_loadWatcher;
    std::optional<session::LogSaveOutcome> m_saveOutcome;
    std::unique_ptr<CPleaseWaitModeless> m_logWait;
    QFutureWatcher<void> m_saveLogWatcher;
};

}  // namespace kfr::ui
