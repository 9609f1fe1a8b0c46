#include "ui/results_screen.h"

#include <QComboBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QMenu>
#include <QProgressBar>
#include <QPushButton>
#include <QtConcurrent/QtConcurrentRun>
#include <chrono>

#include "recovery/deep_scan.h"
#include "texts/list_columns.h"
#include "texts/log_texts.h"
#include "texts/messages.h"
#include "texts/screen_texts.h"
#include "texts/work_texts.h"
#include "ui/drive_stage_page.h"
#include "ui/ask_on_ui_thread.h"
#include "ui/qt_text.h"
#include "ui/results_page.h"
#include "ui/save_flow.h"
#include "ui/ui_texts.h"

namespace kfr::ui {

using recovery::ItemId;
using recovery::kNoItem;

namespace {

// The orphan folder's self cluster: it lists its subfolders but no files.
constexpr std::uint32_t kOrphanSelf = 268435455;

// Results of FAT volumes: the Deep screen's top item then says which volume each root file is of.
bool fatResults(const session::ScanResults& results)
{
    return results.scan.mftFiles.empty() && !results.scan.params.isNtfs();
}

}  // namespace

struct CResultsScreen::ScanOutcome {
    std::optional<Result<std::shared_ptr<session::ScanResults>>> result;
};

// Carries a scan's events from its worker to the page and the growing tree, through the UI
// thread's event queue. Batches come from the core already (folders by the thousand, progress
// coalesced), so each becomes one queued call.
class CResultsScreen::ScanEvents final : public recovery::DeepScanObserver {
public:
    explicit ScanEvents(CResultsScreen* screen) : m_screen(screen) {}

    void onStage(WorkStage stage) override
    {
        post([text = qs(texts::stageText(stage))](CResultsScreen& s) { s.m_page->stageLabel()->setText(text); });
    }
    void onStatus(StatusLine line, std::uint64_t value) override
    {
        post([text = qs(texts::statusText(line, value))](CResultsScreen& s) { s.m_page->statusLabel()->setText(text); });
    }
    void onProgress(std::uint64_t position, std::uint64_t low, std::uint64_t high) override
    {
        post([=](CResultsScreen& s) {
            s.m_page->setProgress(position, low, high);
            s.m_page->positionLabel()->setText(QString::number(position) + " / " + QString::number(high));
        });
    }
    void onFoldersFound(std::uint64_t count) override
    {
        post([count](CResultsScreen& s) { s.m_page->countsLabel()->setText(qs(texts::countsText(count, 0))); });
    }
    void onBootSectorsFound(std::uint64_t count) override
    {
        post([count](CResultsScreen& s) { s.m_page->bootSectorsLabel()->setText(qs(kBootSectorsFoundPrefix) + QString::number(count)); });
    }
    void onFoldersPlaced(std::span<const recovery::PlacedFolder> folders) override
    {
        post([batch = std::vector<recovery::PlacedFolder>(folders.begin(), folders.end())](CResultsScreen& s) {
            s.m_treeModel.addPlaced(batch);
            if (const QModelIndex top = s.m_treeModel.indexOf(s.m_treeModel.topItem()); top.isValid())
                s.m_page->tree()->expand(top);
        });
    }
    void onFoldersRenamed(std::span<const recovery::FolderRename> renames) override
    {
        post([batch = std::vector<recovery::FolderRename>(renames.begin(), renames.end())](CResultsScreen& s) {
            s.m_treeModel.rename(batch);
        });
    }

private:
    template <typename F>
    void post(F&& f)
    {
        postToUiThread(m_screen, std::forward<F>(f));
    }
    CResultsScreen* m_screen;
};

// Hands a listing's rows to the list as they are read. Rows of an earlier listing that arrive
// after a new one started are dropped.
class CResultsScreen::ListingSink final : public recovery::RowSink {
public:
    explicit ListingSink(CResultsScreen* screen) : m_screen(screen) {}
    void start(std::uint64_t generation, bool deepTop)
    {
        m_generation = generation;
        m_deepTop = deepTop;
    }
    std::uint64_t generation() const { return m_generation; }

    void onRows(std::span<const recovery::ItemRow> rows) override
    {
        CResultsScreen* screen = m_screen;
        QMetaObject::invokeMethod(
            screen,
            [screen, generation = m_generation, deepTop = m_deepTop,
             batch = std::vector<recovery::ItemRow>(rows.begin(), rows.end())] {
                if (screen->m_sink->generation() != generation) return;
                screen->m_listModel.append(batch, deepTop);
                for (const auto& row : batch) {
                    if (row.kind == recovery::RowKind::Folder) ++screen->m_rowsListed.folders;
                    else if (row.kind != recovery::RowKind::VolumeLabel) ++screen->m_rowsListed.files;
                }
                screen->m_page->countsLabel()->setText(
                    qs(texts::countsText(screen->m_rowsListed.folders, screen->m_rowsListed.files)));
            },
            Qt::QueuedConnection);
    }

private:
    CResultsScreen* m_screen;
    std::uint64_t m_generation = 0;
    bool m_deepTop = false;
};

// The loader's two questions about a medium found elsewhere, asked on the UI thread while the
// loader waits. A screen that is closing answers No, so the loader never waits for a window
// that will not come.
class CResultsScreen::MediaQuestions final : public recoverylog::MediaPrompt {
public:
    explicit MediaQuestions(CResultsScreen* screen) : m_screen(screen) {}
    bool continueWithDisk(std::uint32_t saved, std::uint32_t found) override
    {
        return ask(qs(texts::diskMovedQuestion(saved, found)));
    }
    bool continueWithVolume(const std::string& saved, const std::string& found) override
    {
        return ask(qs(texts::volumeMovedQuestion(saved, found)));
    }

private:
    bool ask(const QString& text)
    {
        CResultsScreen* screen = m_screen;
        return askOnUiThread(screen, screen->m_closing, false, [screen, text] { return screen->dialogs().ask(screen, text); });
    }
    CResultsScreen* m_screen;
};

CResultsScreen::CResultsScreen(ScreenMode mode, const QString& rangeIntro, AppContext& context, QWidget* parent)
    : CRecoveryScreen(mode, rangeIntro, context, parent),
      m_session(context.sourceOpener ? context.sourceOpener : session::fileSourceOpener())
{
    // The scan, a listing and a log's worker may run beside a partition search and the drive
    // listing: a pool of the screen's own, so none waits for a core to free up.
    m_pool.setMaxThreadCount(4);
    m_events = std::make_unique<ScanEvents>(this);
    m_sink = std::make_unique<ListingSink>(this);
    m_mediaQuestions = std::make_unique<MediaQuestions>(this);
    m_listModel.setColumns(deep() ? ListColumns::deepSearch() : ListColumns::basic());

    m_page = new CResultsPage(&m_treeModel, &m_listModel, this);
    addStage(m_page);
    m_page->list()->hideColumns(5, deep() ? 9 : 8);
    m_populate = new CPopulate(this);
    m_populate->hide();
    m_saveFlow = new SaveFlow(this, dialogs(), m_session);
    m_openFlow = new OpenFlow(this, dialogs(), m_session);

    if (deep()) {
        auto* row = new QWidget(this);
        auto* layout = new QHBoxLayout(row);
        layout->setContentsMargins(0, 0, 0, 0);
        layout->addWidget(new QLabel(qs(texts::kDeepFileSystemLabel), row));
        m_fileSystem = new QComboBox(row);
        m_fileSystem->setObjectName("deepFileSystem");
        m_fileSystem->addItems({qs(texts::kUnknownFileSystem), "FAT16", "FAT32", "NTFS"});
        layout->addWidget(m_fileSystem);
        layout->addStretch();
        drivePage()->addInputRow(row);
    }

    connect(m_page->backButton(), &QPushButton::clicked, this, &CRecoveryScreen::back);
    connect(m_page->stopButton(), &QPushButton::clicked, this, &CResultsScreen::stop);
    connect(m_page->saveButton(), &QPushButton::clicked, this, &CResultsScreen::save);
    connect(m_page->saveLogButton(), &QPushButton::clicked, this, &CResultsScreen::saveLog);
    connect(m_page->loadLogButton(), &QPushButton::clicked, this, &CRecoveryScreen::loadLog);
    connect(m_page->tree()->selectionModel(), &QItemSelectionModel::currentChanged, this,
            [this](const QModelIndex& current) { populate(m_treeModel.itemOf(current)); });
    connect(m_page->tree(), &QTreeView::expanded, this, &CResultsScreen::onExpanded);
    m_page->tree()->setContextMenuPolicy(Qt::CustomContextMenu);
    connect(m_page->tree(), &QWidget::customContextMenuRequested, this, &CResultsScreen::showTreeMenu);
    m_page->list()->setContextMenuPolicy(Qt::CustomContextMenu);
    connect(m_page->list(), &QWidget::customContextMenuRequested, this, &CResultsScreen::showListMenu);
    connect(m_page->list(), &QAbstractItemView::doubleClicked, this, [this] { openSelectedRow(); });
    connect(m_page->list()->header(), &QHeaderView::sectionClicked, this, [this](int column) {
        QHeaderView* header = m_page->list()->header();
        const bool descending = header->sortIndicatorSection() == column && header->sortIndicatorOrder() == Qt::AscendingOrder;
        header->setSortIndicator(column, descending ? Qt::DescendingOrder : Qt::AscendingOrder);
        m_listModel.sortRows(column, ItemListModel::numericColumn(column), descending);
    });
    connect(m_populate, &CPopulate::cancelled, this, [this] {
        m_populateStop = true;
        m_populate->hide();
    });
    connect(m_saveFlow, &SaveFlow::finished, this, [this](const exporting::SaveRunReport& report) {
        if (!m_results) return;
        m_session.applyChanges(m_results.get(), report.folderChanges);
        m_treeModel.rename(report.folderChanges.renames);
    });
    connect(&m_scanWatcher, &QFutureWatcherBase::finished, this, &CResultsScreen::finishScan);
    connect(&m_listWatcher, &QFutureWatcherBase::finished, this, &CResultsScreen::finishPopulation);
    connect(&m_loadWatcher, &QFutureWatcherBase::finished, this, &CResultsScreen::finishLogLoad);
    connect(&m_saveLogWatcher, &QFutureWatcherBase::finished, this, [this] {
        state().saveLogRunning = false;
        m_logWait.reset();
        m_page->setEnabled(true);
        const session::LogSaveOutcome outcome = *m_saveOutcome;
        if (outcome.end == session::LogSaveEnd::Saved) {
            m_logSaved = true;
            dialogs().inform(this, qs(texts::kLogSavedText));
        } else if (outcome.end == session::LogSaveEnd::OnSourceMedium) {
            dialogs().inform(this, qs(texts::kSameDriveText));
        } else {
            dialogs().inform(this, qs(texts::describeError(outcome.error)));
        }
        Q_EMIT logSaved();
    });
}

// Every worker reads through this screen's flags and observers: each is told to stop and
// waited for before they go.
CResultsScreen::~CResultsScreen()
{
    m_closing = true;
    m_stop = true;
    m_populateStop = true;
    for (QFutureWatcher<void>* w : {&m_scanWatcher, &m_listWatcher, &m_loadWatcher, &m_saveLogWatcher}) {
        w->disconnect();
        w->waitForFinished();
    }
    if (m_saveFlow) m_saveFlow->stop();
    if (m_openFlow) m_openFlow->removeCopies();
    m_pool.waitForDone();
}

bool CResultsScreen::working() const
{
    return m_scanWatcher.isRunning() || m_listWatcher.isRunning() || m_loadWatcher.isRunning() ||
           m_saveLogWatcher.isRunning();
}

std::string CResultsScreen::sourcePath() const
{
    return m_results ? m_results->selection.devicePath : std::string();
}

void CResultsScreen::beginScan(const ScanTarget& target)
{
    std::string fileSystem;
    if (deep()) {
        fileSystem = m_fileSystem->currentText().toStdString();
        if (fileSystem == texts::kUnknownFileSystem) {
            --state().resultsCount;
            dialogs().inform(this, qs(texts::kSelectFileSystemMessage));
            m_fileSystem->setFocus();
            return;
        }
    }
    clearResults();
    const session::SourceRequest request = target.request();
    const Status selected = deep() ? m_session.selectRange(request) : m_session.selectSource(request);
    if (!selected) {
        --state().resultsCount;
        dialogs().inform(this, qs(texts::describeError(selected.error())));
        return;
    }
    context().emptyNoticeShown = false;
    m_fromLog = false;
    m_logSaved = false;
    m_page->begin(target);
    showStage(m_page);
    setStatusText(qs(texts::kStepHelpScanRunning));
    state().scanRunning = true;
    m_stop = false;
    m_page->setRunning(true);

    m_outcome = std::make_unique<ScanOutcome>();
    const volumes::VolumeSelection range = m_session.selection();
    const session::DeepRequest deepRequest{range.firstSector, range.lastSector + 1, fileSystem};
    const bool isDeep = deep();
    m_scanWatcher.setFuture(QtConcurrent::run(&m_pool, [this, deepRequest, isDeep] {
        const session::ScanControl control{&m_stop, m_events.get()};
        m_outcome->result = isDeep ? m_session.deepScan(deepRequest, control) : m_session.scan(control);
    }));
}

void CResultsScreen::stop()
{
    if (!state().scanRunning) return;
    m_stop = true;
    m_page->stopButton()->setEnabled(false);
}

void CResultsScreen::finishScan()
{
    state().scanRunning = false;
    m_page->setRunning(false);
    m_page->stageLabel()->setText(qs(texts::kCompletedStatusText));
    m_fitColumns = true;
    setStatusText(qs(texts::kStepHelpBrowsing));
    auto outcome = std::move(m_outcome);
    if (!outcome || !outcome->result || !*outcome->result) {
        if (outcome && outcome->result) dialogs().inform(this, qs(texts::describeError(outcome->result->error())));
        Q_EMIT scanFinished();
        return;
    }
    std::shared_ptr<session::ScanResults> results = std::move(*outcome->result).value();
    const recovery::BasicScanResult& scan = results->scan;
    QString problem;
    if (scan.paramsFailed) problem = qs(texts::paramsFailureText(scan.paramsFailure));
    else if (scan.end == recovery::ScanEnd::Failed && !scan.problems.empty())
        problem = qs(texts::describeError(scan.problems.front()));
    showResults(std::move(results));
    if (!problem.isEmpty()) dialogs().inform(this, problem);
    Q_EMIT scanFinished();
}

void CResultsScreen::showResults(std::shared_ptr<session::ScanResults> results)
{
    m_session.adoptResults(std::move(results));
    m_results = m_session.results();
    m_lastListed = kNoItem;
    m_named.clear();
    m_listModel.clear();
    m_treeModel.setResults(m_results);
    const QModelIndex top = m_treeModel.indexOf(m_treeModel.topItem());
    if (!top.isValid()) {
        m_page->countsLabel()->setText(qs(texts::countsText(0, 0)));
        return;
    }
    m_page->tree()->expand(top);
    m_page->tree()->setCurrentIndex(top);
}

void CResultsScreen::setCurrentFolderText(ItemId item)
{
    if (!m_results) return;
    const recovery::ResultTree& tree = m_results->scan.folders.tree;
    m_page->currentFolderLabel()->setText(item == m_treeModel.topItem() ? qs(texts::kRootFolderText)
                                                                         : qs(texts::folderPathText(tree, item)));
    if (item == m_treeModel.topItem()) m_page->tree()->scrollTo(m_treeModel.indexOf(item));
}

void CResultsScreen::populate(ItemId item)
{
    if (state().partitionSearchRunning || state().listPopulating || item == kNoItem) return;
    if (state().scanRunning || state().logLoading) {
        m_page->tree()->selectionModel()->clearSelection();
        return;
    }
    if (!m_results || state().resultsCount == 0) return;
    if (item == m_treeModel.topItem() && item == m_lastListed) return;
    m_lastListed = item;

    state().listPopulating = true;
    m_populateStop = false;
    m_page->setEnabled(false);
    restoreWindow(this);
    m_populate->adjustSize();
    m_populate->move(geometry().center() - m_populate->rect().center());
    m_populate->show();
    m_populate->raise();

    m_listModel.clear();
    m_rowsListed = {};
    m_page->countsLabel()->setText(qs(texts::countsText(0, 0)));
    setCurrentFolderText(item);

    const bool deepTop = deep() && item == m_treeModel.topItem() && fatResults(*m_results);
    m_sink->start(m_sink->generation() + 1, deepTop);
    m_listing.reset();
    m_listingResults = m_results;
    m_listWatcher.setFuture(QtConcurrent::run(&m_pool, [this, item] {
        session::ListingControl control;
        control.stopRequested = &m_populateStop;
        control.sink = m_sink.get();
        m_listing = m_session.listFolder(*m_listingResults, item, control);
    }));
}

void CResultsScreen::finishPopulation()
{
    state().listPopulating = false;
    m_populate->hide();
    m_populateStop = false;
    m_page->setEnabled(true);
    m_page->tree()->setFocus();
    auto listing = std::move(m_listing);
    m_listing.reset();
    const auto results = std::move(m_listingResults);
    if (listing && *listing) {
        const recovery::FolderListing& done = listing->value();
        m_session.applyChanges(results.get(), done.changes);
        m_treeModel.rename(done.changes.renames);
        m_results = m_session.results();
        // Folder rows went out under the names known when they were read; the listing's own rows
        // carry the names its directory gave them.
        if (!done.changes.renames.empty() || m_listModel.size() != static_cast<int>(done.rows.size())) {
            const bool deepTop = deep() && m_lastListed == m_treeModel.topItem() && fatResults(*m_results);
            m_listModel.clear();
            m_listModel.append(done.rows, deepTop);
        }
        m_page->countsLabel()->setText(qs(texts::countsText(done.folders, done.files)));
        // The first listing of the results sets the columns to their texts, so dates and times
        // show whole; the user's widths stay after that.
        if (m_fitColumns) {
            m_fitColumns = false;
            m_page->list()->fitVisibleColumns();
        }
    } else if (listing) {
        dialogs().inform(this, qs(texts::describeError(listing->error())));
    }
    if (m_results && recovery::shouldShowEmptyResultNotice(m_results->scan.folders, m_fromLog, context().emptyNoticeShown)) {
        context().emptyNoticeShown = true;
        dialogs().emptyResultNotice(this, deep());
    }
    Q_EMIT populated();
}

void CResultsScreen::onExpanded(const QModelIndex& index)
{
    const ItemId item = m_treeModel.itemOf(index);
    if (!m_results || state().scanRunning || item == m_treeModel.topItem() || m_named.count(item)) return;
    const recovery::FolderNode* node = m_results->scan.folders.nodeOf(item);
    if (!node || node->self == kOrphanSelf) return;
    m_named.insert(item);
    auto changes = m_session.expandFolder(*m_results, item);
    if (!changes || changes->empty()) return;
    m_session.applyChanges(m_results.get(), *changes);
    m_treeModel.rename(changes->renames);
    m_results = m_session.results();
}

void CResultsScreen::save()
{
    const CommandAnswer answer = state().answer(Command::Save);
    if (answer.verdict == Verdict::Refuse) dialogs().inform(this, qs(answer.message));
    if (answer.verdict == Verdict::Run) saveTicked();
}

void CResultsScreen::saveTicked()
{
    if (!m_results) return;
    if (!m_treeModel.checks().anythingTicked(m_results->scan.folders.tree)) {
        dialogs().inform(this, qs(texts::kNothingSelectedText));
        return;
    }
    if (m_saveFlow->running()) return;
    m_saveFlow->start(m_results, m_treeModel.checks(), {}, sourcePath());
}

void CResultsScreen::saveSelectedRows(bool all)
{
    CHideColumn* list = m_page->list();
    if (all) list->selectAll();
    std::vector<exporting::SelectedRow> rows;
    for (const QModelIndex& index : list->selectionModel()->selectedRows()) {
        const recovery::ItemRow& row = m_listModel.row(index.row());
        if (row.kind == recovery::RowKind::VolumeLabel) continue;
        rows.push_back({m_lastListed, row});
    }
    list->clearSelection();
    if (!m_results || rows.empty() || state().busy() || m_saveFlow->running()) return;
    m_saveFlow->start(m_results, recovery::TreeChecks{}, std::move(rows), sourcePath());
}

void CResultsScreen::openSelectedRow()
{
    // A save run writes from the same results on its own worker: one medium reader at a time.
    if (!m_results || state().busy() || m_saveFlow->running()) return;
    const QModelIndexList selected = m_page->list()->selectionModel()->selectedRows();
    const QModelIndex first = selected.isEmpty() ? m_page->list()->currentIndex() : selected.front();
    if (!first.isValid()) return;
    const QString type = m_listModel.text(first.row(), 1).trimmed();
    if (type.isEmpty()) return;
    const recovery::ItemRow& row = m_listModel.row(first.row());
    if (type.right(6).compare("FOLDER", Qt::CaseInsensitive) == 0) {
        m_page->countsLabel()->setText(qs(texts::countsText(0, 0)));
        const QModelIndex folder = m_treeModel.indexOf(row.folderItem);
        if (folder.isValid()) m_page->tree()->setCurrentIndex(folder);
        return;
    }
    m_openFlow->open(m_results, row);
}

void CResultsScreen::showListMenu(const QPoint& pos)
{
    if (!m_results || state().resultsCount == 0 || state().busy()) return;
    QMenu menu(this);
    QAction* open = menu.addAction(qs(texts::kOpenMenuEntry));
    menu.addSeparator();
    QAction* saveRows = menu.addAction(qs(texts::kSaveMenuEntry));
    QAction* saveAll = menu.addAction(qs(texts::kSaveAllMenuEntry));
    QAction* chosen = menu.exec(m_page->list()->viewport()->mapToGlobal(pos));
    if (chosen == open) openSelectedRow();
    else if (chosen == saveRows) saveSelectedRows(false);
    else if (chosen == saveAll) saveSelectedRows(true);
}

void CResultsScreen::showTreeMenu(const QPoint& pos)
{
    if (!m_results || state().resultsCount == 0 || state().scanRunning) return;
    QMenu menu(this);
    QAction* saveEntry = menu.addAction(qs(texts::kSaveMenuEntry));
    if (menu.exec(m_page->tree()->viewport()->mapToGlobal(pos)) == saveEntry) saveTicked();
}

void CResultsScreen::saveLog()
{
    const CommandAnswer answer = state().answer(Command::SaveLog);
    if (answer.verdict == Verdict::Refuse) dialogs().inform(this, qs(answer.message));
    if (answer.verdict != Verdict::Run || !m_results || state().saveLogRunning) return;
    const QString path = dialogs().chooseSaveLogPath(this);
    if (path.isEmpty()) return;
    state().saveLogRunning = true;
    m_page->setEnabled(false);
    m_logWait = std::make_unique<CPleaseWaitModeless>(QStringList{qs(texts::kItMayTakeAWhileText)}, this);
    m_saveOutcome.reset();
    m_saveLogWatcher.setFuture(QtConcurrent::run(&m_pool, [this, results = m_results, path = path.toStdString()] {
        session::LogSaveRequest request;
        request.path = path;
        m_saveOutcome = m_session.saveLog(*results, request);
    }));
}

bool CResultsScreen::logUnsaved() const
{
    return m_results && !m_fromLog && !m_logSaved;
}

void CResultsScreen::saveLogBeforeClosing()
{
    if (!m_results) return;
    const QString path = dialogs().chooseSaveLogPath(this);
    if (path.isEmpty()) return;
    session::LogSaveRequest request;
    request.path = path.toStdString();
    const session::LogSaveOutcome outcome = m_session.saveLog(*m_results, request);
    if (outcome.end == session::LogSaveEnd::Saved) {
        m_logSaved = true;
        dialogs().inform(this, qs(texts::kLogSavedText));
    } else {
        dialogs().inform(this, qs(outcome.end == session::LogSaveEnd::OnSourceMedium ? texts::kSameDriveText
                                                                                    : texts::describeError(outcome.error)));
    }
}

void CResultsScreen::loadRecoveryLog(const std::string& path)
{
    if (state().logLoading) return;
    std::string chosen = path;
    // A log handed over (or named on the command line) is loaded once.
    context().commandLineLogPath.clear();
    if (chosen.empty()) {
        chosen = dialogs().chooseLoadLogPath(this).toStdString();
        if (chosen.empty()) return;
    }
    state().logLoading = true;
    drivePage()->setEnabled(false);
    setStatusText(qs(texts::kLoadingTreeText));
    m_loadPath = chosen;
    m_loadOutcome.reset();
    session::LogLoadRequest request;
    request.path = chosen;
    request.screenMode = deep() ? session::ScanMode::Deep : session::ScanMode::Basic;
    request.media.roots = context().listing.roots;
    request.media.imagePaths = context().listing.imagePaths;
    request.prompt = m_mediaQuestions.get();
    m_loadWatcher.setFuture(QtConcurrent::run(&m_pool, [this, request] { m_loadOutcome = m_session.loadLog(request); }));
}

void CResultsScreen::finishLogLoad()
{
    state().logLoading = false;
    drivePage()->setEnabled(true);
    setStatusText(qs(texts::kStepHelpDriveSelection));
    session::LogLoadOutcome outcome = std::move(*m_loadOutcome);
    m_loadOutcome.reset();
    using recoverylog::LoadVerdict;
    if (outcome.verdict == LoadVerdict::OtherMode && outcome.logMode) {
        if (dialogs().ask(this, qs(texts::switchModeQuestion(*outcome.logMode)))) {
            context().commandLineLogPath = m_loadPath;
            context().switchToMode = *outcome.logMode == session::ScanMode::Deep ? 2 : 1;
            done(kSwitchScreen);
        }
        Q_EMIT logLoaded();
        return;
    }
    const bool shown = (outcome.verdict == LoadVerdict::Loaded || outcome.verdict == LoadVerdict::Corrupt) && outcome.results;
    if (shown) {
        ++state().resultsCount;
        m_fromLog = true;
        m_logSaved = true;
        m_page->beginLoaded(qs(modeName(mode())));
        showStage(m_page);
        setStatusText(qs(texts::kStepHelpBrowsing));
        m_page->progress()->setRange(0, 1);
        m_page->progress()->setValue(1);
        m_page->setRunning(false);
        showResults(std::move(outcome.results));
        m_page->statusLabel()->setText(qs(texts::kCompletedStatusText));
        m_fitColumns = true;
    }
    if (outcome.verdict == LoadVerdict::Loaded) {
        dialogs().inform(this, qs(texts::kLogLoadedText));
    } else if (const std::string message = texts::loadOutcomeMessage(outcome); !message.empty()) {
        dialogs().inform(this, qs(message));
    }
    Q_EMIT logLoaded();
}

void CResultsScreen::clearResults()
{
    m_stop = true;
    m_populateStop = true;
    m_listWatcher.waitForFinished();
    m_listing.reset();
    m_populate->hide();
    state().listPopulating = false;
    m_page->setEnabled(true);
    m_results.reset();
    m_listingResults.reset();
    m_session.clearResults();
    m_treeModel.clear();
    m_listModel.clear();
    m_lastListed = kNoItem;
    m_named.clear();
    m_fromLog = false;
    m_logSaved = false;
}

}  // namespace kfr::ui
