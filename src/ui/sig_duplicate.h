// CSigDuplicate: the Signature Search screen. Its drive step carries the sector range controls;
// Next leads on to the extension step (the types to carve, the Thorough and exact-end options,
// the destination), whose Next carves the range on a worker while the list of carved files and
// the per-type table grow. Stop ends the search after finishing the files it holds; Back from
// the scanning step empties everything the search made and returns to the extension step.
#pragma once

#include <QFutureWatcher>
#include <QThreadPool>
#include <QTimer>
#include <atomic>
#include <memory>
#include <optional>

#include "carving/carve_scan.h"
#include "ui/recovery_screen.h"
#include "ui/sig_result_models.h"

namespace kfr::ui {

class CRawDlg;
class CSigExtensionPage;
class CSigScanPage;

class CSigDuplicate : public CRecoveryScreen {
    Q_OBJECT
public:
    // The steps after the drive step.
    enum class Step { Drive, Extensions, Scanning };

    explicit CSigDuplicate(AppContext& context, QWidget* parent = nullptr);
    ~CSigDuplicate() override;

    // Where the two signature files are looked for; empty: beside the program.
    void setSignatureFolder(const QString& folder) { m_signatureFolder = folder; }
    // How long the clearing window stays (1,000 ms).
    void setClearingDelay(int milliseconds) { m_clearingTimer.setInterval(milliseconds); }

    // Commands, as the buttons give them.
    void browseDestination();
    void startCarving();  // Next on the extension step
    void stop();
    void backToExtensions();  // Back on the scanning step
    void openContainingFolder();
    void openCarvedFile(int row);  // a double-click on the list of carved files

    Step step() const { return m_step; }
    CSigExtensionPage* extensionPage() const { return m_extensionPage; }
    CSigScanPage* carvePage() const { return m_carvePage; }
    const CarvedListModel& resultList() const { return m_resultList; }
    const FileTypesModel& fileTypes() const { return m_fileTypes; }
    // How the last search ended (set once its worker is gone).
    const std::optional<carving::CarveOutcome>& outcome() const { return m_finished; }
    bool carving() const { return m_watcher.isRunning(); }

Q_SIGNALS:
    // A search's worker ended and the screen shows how (tests wait for this).
    void carvingFinished();

protected:
    void beginScan(const ScanTarget& target) override;
    void clearResults() override;

private:
    class CarveEvents;
    class MediaQuestion;
    struct CarvedBatch;

    // Lists the files the search finished since the last call.
    void drainCarved();
    void applyBatch(const CarvedBatch& batch);
    void beginPass(carving::CarvePass pass);
    void showClearing();
    void endClearing();
    void finishCarving();
    // Ends a running search and waits for its worker (the screen closes).
    void stopWorker();
    // Everything a search made, emptied; the signature tables and the queue with it.
    void clearCarving();
    QString destination() const;

    QString m_signatureFolder;
    Step m_step = Step::Drive;
    CSigExtensionPage* m_extensionPage = nullptr;
    CSigScanPage* m_carvePage = nullptr;
    CRawDlg* m_clearingWindow = nullptr;
    QTimer m_clearingTimer;
    QTimer m_drainTimer;
    bool m_cursorHeld = false;
    TypeIcons m_icons;
    CarvedListModel m_resultList;
    FileTypesModel m_fileTypes;
    std::vector<Error> m_problems;  // what the search skipped or could not do, as it told it

    // The search: touched by its worker while it runs, by this thread only when none runs.
    QThreadPool m_pool;
    std::unique_ptr<carving::CarveContext> m_carve;
    std::atomic<bool> m_stopRequested{false};
    std::atomic<bool> m_closing{false};
    std::unique_ptr<CarveEvents> m_events;
    std::unique_ptr<MediaQuestion> m_mediaQuestion;
    std::optional<carving::CarveOutcome> m_workerOutcome;  // written by the worker
    std::optional<carving::CarveOutcome> m_finished;
    QFutureWatcher<void> m_watcher;
};

}  // namespace kfr::ui
