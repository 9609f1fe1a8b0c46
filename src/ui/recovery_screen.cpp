#include "ui/recovery_screen.h"

#include <QCloseEvent>
#include <QFileDialog>
#include <QFileInfo>
#include <QKeyEvent>
#include <QLabel>
#include <QPointer>
#include <QProgressBar>
#include <QPushButton>
#include <QStackedWidget>
#include <QTreeWidget>
#include <QVBoxLayout>
#include <QtConcurrent/QtConcurrentRun>

#include "texts/messages.h"
#include "texts/search_texts.h"
#include "texts/screen_texts.h"
#include "ui/drive_stage_page.h"
#include "ui/qt_text.h"
#include "ui/scan_stage_page.h"
#include "ui/screen_header.h"
#include "ui/sector_range_panel.h"
#include "ui/ui_texts.h"

namespace kfr::ui {

CRecoveryScreen::CRecoveryScreen(ScreenMode mode, const QString& rangeIntro, AppContext& context, QWidget* parent)
    : QDialog(parent), m_context(context), m_drive(mode)
{
    const QString title = qs(modeName(mode));
    setObjectName(title);
    setWindowTitle(qs(texts::kProductName) + qs(texts::kProductTitleSeparator) + title);
    setSizeGripEnabled(true);
    resize(900, 640);

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 6);
    m_header = new CScreenHeader(title, this);
    layout->addWidget(m_header);
    m_stages = new QStackedWidget(this);
    layout->addWidget(m_stages, 1);
    m_status = new QLabel(this);
    m_status->setObjectName("statusLine");
    m_status->setWordWrap(true);
    m_status->setContentsMargins(10, 0, 10, 0);
    layout->addWidget(m_status);

    m_drivePage = new CDriveStagePage(rangeIntro, dialogs(), this);
    m_scanPage = new CScanStagePage(this);
    addStage(m_drivePage);
    addStage(m_scanPage);
    showStage(m_drivePage);
    setStatusText(qs(texts::kStepHelpDriveSelection));

    connect(m_drivePage, &CDriveStagePage::itemSelected, this, &CRecoveryScreen::onItemSelected);
    connect(m_drivePage->nextButton(), &QPushButton::clicked, this, &CRecoveryScreen::next);
    connect(m_drivePage->backButton(), &QPushButton::clicked, this, &CRecoveryScreen::back);
    connect(m_drivePage->refreshButton(), &QPushButton::clicked, this, &CRecoveryScreen::refreshTree);
    connect(m_drivePage->searchMoreButton(), &QPushButton::clicked, this, &CRecoveryScreen::searchMorePartitions);
    connect(m_drivePage->loadLogButton(), &QPushButton::clicked, this, &CRecoveryScreen::loadLog);
    connect(m_drivePage->addImageButton(), &QPushButton::clicked, this, [this] {
        const QString path = QFileDialog::getOpenFileName(this, qs(kAddImageCaption), QString(), qs(kImageFilter));
        if (!path.isEmpty()) addImage(path);
    });
    connect(m_scanPage->backButton(), &QPushButton::clicked, this, &CRecoveryScreen::back);
    connect(&m_listing, &QFutureWatcher<DriveSnapshot>::finished, this, [this] { showListing(m_listing.result()); });
    connect(m_drivePage->stopSearchButton(), &QPushButton::clicked, this, &CRecoveryScreen::stopPartitionSearch);
    connect(&m_searchWatcher, &QFutureWatcherBase::finished, this, &CRecoveryScreen::finishPartitionSearch);
    m_searchProgress = std::make_unique<SearchProgress>(m_drivePage->searchProgress());
}

// Carries a search's progress from its worker to the bar, through the UI thread's event queue.
class CRecoveryScreen::SearchProgress final : public ScanObserver {
public:
    explicit SearchProgress(QProgressBar* bar) : m_bar(bar) {}
    void onProgress(std::uint64_t position, std::uint64_t low, std::uint64_t high) override
    {
        // The bar counts in thousandths, so disks past 2^31 sectors fit its int range.
        const int value = high > low ? static_cast<int>((position - low) * 1000 / (high - low)) : 0;
        QMetaObject::invokeMethod(m_bar, [bar = m_bar, value] { bar->setValue(value); }, Qt::QueuedConnection);
    }

private:
    QPointer<QProgressBar> m_bar;
};

// A listing still running on the pool finishes on its own; its result is dropped with the watcher.
// A partition search reads through this screen's stop flag and observer: it is stopped and waited for.
CRecoveryScreen::~CRecoveryScreen()
{
    m_searchStop = true;
    m_searchWatcher.disconnect();
    m_searchWatcher.waitForFinished();
}

int CRecoveryScreen::addStage(QWidget* page)
{
    return m_stages->addWidget(page);
}

void CRecoveryScreen::showStage(QWidget* page)
{
    m_stages->setCurrentWidget(page);
}

QWidget* CRecoveryScreen::currentStage() const
{
    return m_stages->currentWidget();
}

void CRecoveryScreen::setStatusText(const QString& text)
{
    m_status->setText(text);
}

DriveListRequest CRecoveryScreen::listingRequest() const
{
    DriveListRequest request = m_context.listing;
    request.modeName = modeName(mode());
    return request;
}

void CRecoveryScreen::startOpening()
{
    refreshDrives();
}

void CRecoveryScreen::refreshDrives()
{
    if (m_state.drivesListing) return;
    m_state.drivesListing = true;
    // The screen is held while the lists are filled: clicks on it are swallowed.
    m_drivePage->setEnabled(false);
    m_listing.setFuture(QtConcurrent::run(m_context.listDrives, listingRequest()));
}

bool CRecoveryScreen::refreshDrivesNow()
{
    m_state.drivesListing = true;
    showListing(m_context.listDrives(listingRequest()));
    return !m_drive.tree().empty();
}

void CRecoveryScreen::addImage(const QString& path)
{
    const std::string absolute = QFileInfo(path).absoluteFilePath().toStdString();
    auto& images = m_context.listing.imagePaths;
    if (std::find(images.begin(), images.end(), absolute) == images.end()) images.push_back(absolute);
    if (m_state.answer(Command::RefreshTree).verdict == Verdict::Run) refreshDrives();
}

void CRecoveryScreen::showListing(DriveSnapshot snapshot)
{
    const auto problems = snapshot.problems;
    m_drive.setSnapshot(std::move(snapshot));
    m_drivePage->showTree(m_drive.tree());
    m_drivePage->setEnabled(true);
    m_state.drivesListing = false;
    Q_EMIT drivesListed();
    for (const Error& e : problems)
        dialogs().inform(this, qs(kImageUnreadablePrefix) + qs(e.path) + (e.detail.empty() ? QString() : ": " + qs(e.detail)));
    afterListing();
}

void CRecoveryScreen::afterListing()
{
    if (m_drive.tree().empty()) {
        // The dialog is shown once at a time: a Retry that finds nothing leaves it open.
        if (m_noDeviceShowing) return;
        m_noDeviceShowing = true;
        const bool found = dialogs().noDevice(this, [this] { return refreshDrivesNow(); });
        m_noDeviceShowing = false;
        // Exit leaves the screen for the mode launcher; a Retry that found drives has already
        // gone on from here.
        if (!found) done(kBackToLauncher);
        return;
    }
    offerPrivilegedRestart();
    if (!m_opened) {
        m_opened = true;
        if (!m_context.commandLineLogPath.empty()) {
            loadRecoveryLog(m_context.commandLineLogPath);
        } else if (const int medium = m_drive.firstBareRemovableMedium(); medium >= 0) {
            startRemovableMediaSearch(medium);
        }
    }
    m_drivePage->selectItem(DriveTree::kMyComputer);
    m_drivePage->tree()->setFocus();
}

void CRecoveryScreen::offerPrivilegedRestart()
{
    const auto unreadable = m_drive.unreadableDisks();
    if (unreadable.empty() || m_context.privilegeOffered) return;
    m_context.privilegeOffered = true;
    QStringList names;
    for (const auto& disk : unreadable) names << qs(disk.itemText) + "  " + qs(disk.devicePath);
    if (!m_context.restartWithPrivileges) {
        dialogs().inform(this, qs(kUnreadableDisksFormat).arg(names.join('\n')));
        return;
    }
    if (!dialogs().ask(this, qs(kPrivilegeQuestionFormat).arg(names.join('\n')))) return;
    QString error;
    if (!m_context.restartWithPrivileges(&error)) dialogs().inform(this, qs(kPrivilegeRestartFailed) + error);
}

void CRecoveryScreen::onItemSelected(int index)
{
    const SelectionView view = m_drive.select(index, !m_state.onDriveStage());
    m_drivePage->showProperties(view.rows);
    if (view.range)
        if (CSectorRangePanel* panel = m_drivePage->rangePanel()) panel->setChoice(*view.range);
}

std::optional<RangeFields> CRecoveryScreen::rangeFields() const
{
    if (const CSectorRangePanel* panel = m_drivePage->rangePanel()) return panel->fields();
    return std::nullopt;
}

void CRecoveryScreen::next()
{
    if (m_state.answer(Command::Next).verdict != Verdict::Run) return;
    const NextCheck check = m_drive.checkNext();
    DriveChoice choice = DriveChoice::None;
    switch (check.step) {
    case NextStep::Refuse:
        dialogs().inform(this, qs(check.message));
        return;
    case NextStep::AskWholeDisk:
        if (!dialogs().wholeDisk(this)) return;
        choice = DriveChoice::WholeDisk;
        break;
    case NextStep::AskLogicalScan: {
        const int answer = dialogs().logicalChoice(this, qs(check.driveDesignator));
        if (answer != 1 && answer != 2) return;
        choice = answer == 1 ? DriveChoice::LogicalScan : DriveChoice::PhysicalScan;
        break;
    }
    case NextStep::Resolve:
        break;
    }
    const NextResolution resolution = m_drive.resolveNext(choice, rangeFields());
    if (!resolution.target) {
        if (resolution.message) dialogs().inform(this, qs(resolution.message));
        return;
    }
    m_target = resolution.target;
    ++m_state.resultsCount;
    beginScan(*m_target);
}

void CRecoveryScreen::beginScan(const ScanTarget& target)
{
    m_scanPage->begin(target);
    showStage(m_scanPage);
    setStatusText(qs(kScanUnavailable));
}

void CRecoveryScreen::back()
{
    const CommandAnswer answer = m_state.answer(Command::Back);
    if (answer.verdict == Verdict::Refuse) dialogs().inform(this, qs(answer.message));
    if (answer.verdict != Verdict::Run) return;
    if (m_state.onDriveStage()) {
        done(kBackToLauncher);
        return;
    }
    returnToDriveStage();
}

void CRecoveryScreen::returnToDriveStage()
{
    clearResults();
    m_target.reset();
    m_state.resultsCount = 0;
    showStage(m_drivePage);
    setStatusText(qs(texts::kStepHelpDriveSelection));
    m_drivePage->selectItem(DriveTree::kMyComputer);
    m_drivePage->tree()->setFocus();
}

void CRecoveryScreen::refreshTree()
{
    const CommandAnswer answer = m_state.answer(Command::RefreshTree);
    if (answer.verdict == Verdict::Refuse) dialogs().inform(this, qs(answer.message));
    if (answer.verdict == Verdict::Run) refreshDrives();
}

void CRecoveryScreen::searchMorePartitions()
{
    if (m_state.answer(Command::SearchMorePartitions).verdict != Verdict::Run) return;
    const SearchMoreCheck check = m_drive.checkSearchMore();
    if (check.step == SearchMoreStep::Refuse) {
        dialogs().inform(this, qs(check.message));
        if (check.selectPhysicalDrives) m_drivePage->selectItem(DriveTree::kPhysicalDrives);
        return;
    }
    const std::optional<int> searchMode = dialogs().searchMode(this);
    if (!searchMode) return;
    m_context.partitionSearchMode = *searchMode;
    startPartitionSearch(*searchMode);
}

void CRecoveryScreen::startPartitionSearch(int searchMode)
{
    runPartitionSearch(m_drive.selected(), searchMode == static_cast<int>(volumes::SearchMode::Advanced)
                                               ? volumes::SearchMode::Advanced
                                               : volumes::SearchMode::Standard,
                       false);
}

void CRecoveryScreen::startRemovableMediaSearch(int diskItem)
{
    // A screen opened to load a log does not tell the search's result.
    runPartitionSearch(diskItem, volumes::SearchMode::Standard, !m_context.commandLineLogPath.empty());
}

void CRecoveryScreen::runPartitionSearch(int diskItem, volumes::SearchMode mode, bool quiet)
{
    const volumes::DiskEntry* entry = m_drive.diskEntryOf(diskItem);
    if (!entry || m_state.partitionSearchRunning) return;
    m_state.partitionSearchRunning = true;
    m_partitionSearch = {diskItem, storage::diskNumberFromItemText(m_drive.tree().item(diskItem).text).value_or(entry->disk.number),
                         quiet};
    m_searchStop = false;
    m_drivePage->searchProgress()->setRange(0, 1000);
    m_drivePage->searchProgress()->setValue(0);
    m_drivePage->setPartitionSearchShown(true);
    m_drivePage->stopSearchButton()->setFocus();
    m_searchWatcher.setFuture(QtConcurrent::run([disk = *entry, mode, stop = &m_searchStop, observer = m_searchProgress.get()] {
        return session::searchListedDisk(disk, mode, stop, observer);
    }));
}

void CRecoveryScreen::stopPartitionSearch()
{
    if (!m_state.partitionSearchRunning) return;
    // The search goes on while the question is open; what it finds before a Yes is kept.
    if (dialogs().ask(this, qs(texts::kStopPartitionSearchQuestion))) m_searchStop = true;
}

void CRecoveryScreen::finishPartitionSearch()
{
    m_state.partitionSearchRunning = false;
    m_drivePage->setPartitionSearchShown(false);
    const auto outcome = m_searchWatcher.result();
    if (!outcome) {
        dialogs().inform(this, qs(texts::formatSearchResult(0, "Disk", m_partitionSearch.diskNumber, {})));
        return;
    }
    const int first = m_drive.addFoundPartitions(m_partitionSearch.diskItem, *outcome);
    m_drivePage->showTree(m_drive.tree());
    if (first >= 0) m_drivePage->selectItem(first);
    if (!m_partitionSearch.quiet)
        dialogs().inform(this, qs(texts::formatSearchResult(outcome->foundCount(), "Disk", m_partitionSearch.diskNumber, {})));
}

void CRecoveryScreen::loadLog()
{
    const CommandAnswer answer = m_state.answer(Command::LoadLog);
    if (answer.verdict == Verdict::Refuse) dialogs().inform(this, qs(answer.message));
    if (answer.verdict == Verdict::Run) loadRecoveryLog({});
}

void CRecoveryScreen::loadRecoveryLog(const std::string&)
{
    // Without a log reader the pending log is dropped, which also lets the splash window close.
    m_context.commandLineLogPath.clear();
    dialogs().inform(this, qs(kLogLoadingUnavailable));
}

// Enter and Escape neither close the screen nor press a button.
void CRecoveryScreen::keyPressEvent(QKeyEvent* event)
{
    switch (event->key()) {
    case Qt::Key_Return:
    case Qt::Key_Enter:
    case Qt::Key_Escape:
    case Qt::Key_Cancel:  // Ctrl+Break
        event->accept();
        return;
    default:
        QDialog::keyPressEvent(event);
    }
}

void CRecoveryScreen::reject() {}

void CRecoveryScreen::closeEvent(QCloseEvent* event)
{
    event->ignore();
    if (m_state.resultsCount > 0 && logUnsaved() && !m_state.scanRunning && !m_state.logLoading &&
        dialogs().ask(this, qs(texts::kSaveLogOnCloseQuestion)))
        saveLogBeforeClosing();
    if (!dialogs().ask(this, qs(texts::kExitQuestion))) return;
    Q_EMIT quitRequested();
}

}  // namespace kfr::ui
