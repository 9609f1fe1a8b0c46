#include "ui/sig_duplicate.h"

#include <QApplication>
#include <QCheckBox>
#include <QFileInfo>
#include <QLabel>
#include <QLineEdit>
#include <QListView>
#include <QPushButton>
#include <QTableWidget>
#include <QtConcurrent/QtConcurrentRun>
#include <chrono>
#include <map>
#include <mutex>

#include "carving/carved_output.h"
#include "export/destination.h"
#include "session/carve_session.h"
#include "texts/messages.h"
#include "texts/screen_texts.h"
#include "texts/work_texts.h"
#include "ui/ask_on_ui_thread.h"
#include "ui/qt_text.h"
#include "ui/sig_extension_page.h"
#include "ui/sig_raw_dlg.h"
#include "ui/sig_scan_page.h"
#include "ui/sig_texts.h"

namespace kfr::ui {

namespace {

// The screen takes the files the search finished this often: a search that finds thousands of
// small files costs the screen a few updates a second, and a file found just before a slow read
// (a failing sector, a medium that answers slowly) is shown without waiting for that read.
constexpr auto kDrainInterval = std::chrono::milliseconds(100);
// The screen keeps the first problems a search reports (unreadable sectors can be many).
constexpr std::size_t kKeptProblems = 100;

QString closingText()
{
    return qs(texts::closingText());
}

}  // namespace

// Files finished since the screen last took them, in order; a file that the search listed after
// emptying its list carries clearBefore. rows: the per-type rows of those files as the search
// left them.
struct CSigDuplicate::CarvedBatch {
    struct Entry {
        carving::CarvedResult file;
        bool clearBefore = false;
    };
    std::vector<Entry> files;
    std::map<std::string, carving::FileTypeRow> rows;
};

// Carries a search's events from its worker to the screen. Finished files wait in a batch that
// the screen takes on its own timer (the one place both threads touch, behind a lock); passes,
// progress and problems go through the UI thread's event queue. The search's per-type table is
// read here, on the worker (where the search changes it): the screen gets copies only.
class CSigDuplicate::CarveEvents final : public carving::CarveObserver {
public:
    CarveEvents(CSigDuplicate* screen, const carving::FileTypesTable* table) : m_screen(screen), m_table(table) {}

    void onStage(WorkStage stage) override
    {
        if (stage != WorkStage::GeneralPass && stage != WorkStage::ThoroughPass) return;
        const carving::CarvePass pass =
            stage == WorkStage::GeneralPass ? carving::CarvePass::General : carving::CarvePass::Thorough;
        // The files of the pass before are listed before the new pass is shown.
        post([pass](CSigDuplicate& s) {
            s.drainCarved();
            s.beginPass(pass);
        });
    }
    void onProgress(std::uint64_t position, std::uint64_t low, std::uint64_t high) override
    {
        post([=](CSigDuplicate& s) {
            if (!s.m_stopRequested) s.m_carvePage->setProgress(position, low, high);
        });
    }
    void onProblem(const Error& problem) override
    {
        post([problem](CSigDuplicate& s) {
            if (s.m_problems.size() < kKeptProblems) s.m_problems.push_back(problem);
        });
    }
    void onCarved(const carving::CarvedResult& result) override
    {
        const carving::FileTypeRow* row = m_table->find(result.type);
        std::lock_guard lock(m_lock);
        m_batch.files.push_back({result, m_clearNext});
        m_clearNext = false;
        if (row) m_batch.rows[row->fileTypes] = *row;
    }
    void onResultsCleared() override
    {
        std::lock_guard lock(m_lock);
        m_clearNext = true;
    }

    // What the search finished since the last call (the UI thread).
    CarvedBatch take()
    {
        std::lock_guard lock(m_lock);
        CarvedBatch batch = std::move(m_batch);
        m_batch = {};
        return batch;
    }

private:
    template <typename F>
    void post(F&& f)
    {
        postToUiThread(m_screen, std::forward<F>(f));
    }

    CSigDuplicate* m_screen;
    const carving::FileTypesTable* m_table;
    std::mutex m_lock;
    CarvedBatch m_batch;
    bool m_clearNext = false;
};

// The media prompt, asked on the UI thread while the worker waits for the answer. A screen that
// is closing answers "Cancel Searching", so the worker never waits for a box that will not come.
class CSigDuplicate::MediaQuestion final : public carving::MediaPrompt {
public:
    explicit MediaQuestion(CSigDuplicate* screen) : m_screen(screen) {}

    carving::MediaAnswer askDeviceUnavailable(const Error&) override
    {
        CSigDuplicate* screen = m_screen;
        return askOnUiThread(screen, screen->m_closing,
                             carving::MediaAnswer{carving::MediaAction::CancelSearching, false}, [screen] {
                                 // What was carved so far is on the screen before the question is.
                                 screen->drainCarved();
                                 return screen->dialogs().mediaRemoved(screen);
                             });
    }

private:
    CSigDuplicate* m_screen;
};

CSigDuplicate::CSigDuplicate(AppContext& context, QWidget* parent)
    : CRecoveryScreen(ScreenMode::Signature, qs(texts::kSignatureRangeIntro), context, parent),
      m_resultList(m_icons),
      m_fileTypes(m_icons)
{
    // The search runs beside a partition search and the drive listing: a pool of its own.
    m_pool.setMaxThreadCount(1);
    m_mediaQuestion = std::make_unique<MediaQuestion>(this);
    m_extensionPage = new CSigExtensionPage(this);
    m_carvePage = new CSigScanPage(&m_resultList, &m_fileTypes, this);
    addStage(m_extensionPage);
    addStage(m_carvePage);
    m_clearingTimer.setSingleShot(true);
    m_clearingTimer.setInterval(1000);
    m_drainTimer.setInterval(kDrainInterval);
    connect(&m_drainTimer, &QTimer::timeout, this, &CSigDuplicate::drainCarved);

    connect(m_extensionPage->backButton(), &QPushButton::clicked, this, &CRecoveryScreen::back);
    connect(m_extensionPage->nextButton(), &QPushButton::clicked, this, &CSigDuplicate::startCarving);
    connect(m_extensionPage->browseButton(), &QPushButton::clicked, this, &CSigDuplicate::browseDestination);
    connect(m_carvePage->stopButton(), &QPushButton::clicked, this, &CSigDuplicate::stop);
    connect(m_carvePage->backButton(), &QPushButton::clicked, this, &CSigDuplicate::backToExtensions);
    connect(m_carvePage->openFolderButton(), &QPushButton::clicked, this, &CSigDuplicate::openContainingFolder);
    connect(m_carvePage->resultList(), &QAbstractItemView::doubleClicked, this,
            [this](const QModelIndex& index) { openCarvedFile(index.row()); });
    connect(&m_clearingTimer, &QTimer::timeout, this, &CSigDuplicate::endClearing);
    connect(&m_watcher, &QFutureWatcherBase::finished, this, &CSigDuplicate::finishCarving);
    // The program ends after this signal: the search is stopped and its files closed first.
    connect(this, &CRecoveryScreen::quitRequested, this, &CSigDuplicate::stopWorker);
}

// The worker reads through this screen's flag, observer and prompt: it is stopped and waited for.
CSigDuplicate::~CSigDuplicate()
{
    m_closing = true;
    m_stopRequested = true;
    m_watcher.disconnect();
    m_watcher.waitForFinished();
    m_pool.waitForDone();
    if (m_cursorHeld) QApplication::restoreOverrideCursor();
}

QString CSigDuplicate::destination() const
{
    if (m_carve) return qs(m_carve->destination);
    return m_extensionPage->destination()->text().trimmed();
}

void CSigDuplicate::beginScan(const ScanTarget&)
{
    auto extensions = session::loadExtensionList(m_signatureFolder.toStdString());
    if (!extensions) {
        // Without its signature files the screen has nothing to offer: it stays on the drive step.
        --state().resultsCount;
        const Error& e = extensions.error();
        dialogs().inform(this, qs(e.detail) + (e.path.empty() ? QString() : "\n\n" + qs(e.path)));
        return;
    }
    clearCarving();
    m_extensionPage->setExtensions(*extensions);
    m_extensionPage->thoroughOption()->setChecked(true);
    m_step = Step::Extensions;
    showStage(m_extensionPage);
    setStatusText(closingText());
    m_extensionPage->extensionList()->setFocus();
}

void CSigDuplicate::browseDestination()
{
    dialogs().saveNotice(this);
    // Cancelling the picker leaves the field empty.
    m_extensionPage->destination()->setText(dialogs().chooseCarveFolder(this));
}

void CSigDuplicate::startCarving()
{
    if (m_step != Step::Extensions || carving() || state().scanRunning || !target()) return;
    const ScanTarget& t = *target();
    if (t.lastSector <= t.firstSector) {
        dialogs().inform(this, qs(texts::kEndSectorMessage));
        return;
    }
    carving::ExtensionList extensions = m_extensionPage->extensions();
    if (extensions.tickedKeys().empty()) {
        dialogs().inform(this, qs(texts::kSelectExtensionMessage));
        return;
    }
    // Carved files are written under the destination: it must be a folder that can be written,
    // and not on the medium being searched, whose free space may hold the very files sought.
    const QString folder = m_extensionPage->destination()->text().trimmed();
    const exporting::DestinationVerdict verdict =
        folder.isEmpty() ? exporting::DestinationVerdict::NotUsable
                         : exporting::checkDestination(folder.toStdString(), t.devicePath);
    if (verdict != exporting::DestinationVerdict::Usable) {
        dialogs().inform(this, qs(texts::destinationMessage(verdict)));
        m_extensionPage->destination()->setFocus();
        return;
    }

    session::CarveSetup setup;
    setup.sourcePath = t.devicePath;
    setup.firstSector = t.firstSector;
    setup.lastSector = t.lastSector;
    setup.destination = folder.toStdString();
    setup.signatureFolder = m_signatureFolder.toStdString();
    setup.thorough = m_extensionPage->thoroughOption()->isChecked();
    setup.exactEnds = m_extensionPage->exactEndOption()->isChecked();
    session::CarvePreparation prepared = session::prepareCarve(
        setup, std::move(extensions), context().sourceOpener ? context().sourceOpener : session::fileSourceOpener());
    if (prepared.check != carving::SearchCheck::Ready) {
        dialogs().inform(this, qs(texts::searchCheckMessage(prepared.check)));
        return;
    }
    if (prepared.error || !prepared.context) {
        dialogs().inform(this, qs(prepared.error ? texts::describeError(*prepared.error) : std::string()));
        return;
    }

    clearCarving();
    m_carve = std::move(prepared.context);
    m_fileTypes.setRows(m_carve->results.fileTypes.rows);
    m_carvePage->begin(t);
    m_step = Step::Scanning;
    showStage(m_carvePage);
    setStatusText(qs(texts::kStepHelpScanRunning));
    state().scanRunning = true;
    m_stopRequested = false;
    m_events = std::make_unique<CarveEvents>(this, &m_carve->results.fileTypes);
    m_drainTimer.start();
    m_watcher.setFuture(QtConcurrent::run(&m_pool, [this, carve = m_carve.get(), events = m_events.get(),
                                                    prompt = m_mediaQuestion.get()] {
        m_workerOutcome = session::runCarve(*carve, &m_stopRequested, events, prompt);
    }));
}

void CSigDuplicate::beginPass(carving::CarvePass pass)
{
    if (!target()) return;
    m_carvePage->beginPass(qs(texts::passTitle(pass)), target()->firstSector, target()->lastSector);
    if (m_stopRequested) m_carvePage->setProgressShown(false);
}

void CSigDuplicate::drainCarved()
{
    if (m_events) applyBatch(m_events->take());
}

void CSigDuplicate::applyBatch(const CarvedBatch& batch)
{
    std::vector<carving::CarvedResult> run;
    run.reserve(batch.files.size());
    for (const auto& entry : batch.files) {
        if (entry.clearBefore) {
            // The search emptied its list before this file: so does the screen, and the file
            // becomes the first item of the new list.
            run.clear();
            m_resultList.clear();
            showClearing();
        }
        run.push_back(entry.file);
    }
    m_resultList.append(run);
    for (const auto& [key, row] : batch.rows) m_fileTypes.update(row);
    if (!run.empty()) m_carvePage->resultList()->scrollToBottom();
}

void CSigDuplicate::showClearing()
{
    m_carvePage->clearingNote()->show();
    if (!m_clearingWindow) m_clearingWindow = new CRawDlg(this);
    restoreWindow(this);
    m_clearingWindow->showOver(this);
    if (!m_cursorHeld) {
        QApplication::setOverrideCursor(Qt::WaitCursor);
        m_cursorHeld = true;
    }
    m_carvePage->setEnabled(false);
    m_clearingTimer.start();
}

void CSigDuplicate::endClearing()
{
    if (m_clearingWindow) m_clearingWindow->hide();
    if (m_cursorHeld) {
        QApplication::restoreOverrideCursor();
        m_cursorHeld = false;
    }
    if (!m_carvePage->isEnabled()) {
        m_carvePage->setEnabled(true);
        raise();
        activateWindow();
    }
}

void CSigDuplicate::stop()
{
    if (state().answer(Command::Stop).verdict != Verdict::Run || m_stopRequested) return;
    m_stopRequested = true;
    m_carvePage->stopButton()->setEnabled(false);
    m_carvePage->setProgressShown(false);
    m_carvePage->resultList()->setEnabled(true);
    setStatusText(closingText());
}

void CSigDuplicate::finishCarving()
{
    // The last files reach the screen before the end does.
    m_drainTimer.stop();
    drainCarved();
    state().scanRunning = false;
    m_finished = std::move(m_workerOutcome);
    m_workerOutcome.reset();
    m_carvePage->setProgressShown(false);
    m_carvePage->positionLabel()->clear();
    m_carvePage->stopButton()->setEnabled(false);
    m_carvePage->backButton()->setEnabled(true);
    m_carvePage->resultList()->setEnabled(true);
    m_carvePage->openFolderButton()->setVisible(m_step == Step::Scanning);
    setStatusText(closingText());
    m_stopRequested = false;

    QStringList lines;
    if (m_finished && m_carve) {
        const carving::CarveOutcome& outcome = *m_finished;
        if (!outcome.reportPath.empty()) {
            lines << qs(texts::carveReportText(outcome.reportPath, outcome.reportXmlPath));
        } else {
            for (const Error& e : m_problems)
                if (e.kind == ErrorKind::WriteFailed || e.kind == ErrorKind::DiskFull) {
                    lines << qs(texts::describeError(e));
                    break;
                }
        }
        if (outcome.unreadableBlocks) lines << qs(kUnreadableBlocksFormat).arg(outcome.unreadableBlocks);
        // The worker is gone: the search's own record of each file can be read now.
        std::uint64_t shortFiles = 0, notWritten = 0;
        for (const auto& f : m_carve->results.allFiles) {
            if (f.outcome == carving::CarvedOutcome::Incomplete) ++shortFiles;
            if (f.outcome == carving::CarvedOutcome::NotWritten) ++notWritten;
        }
        if (shortFiles || notWritten) lines << qs(kCarvedShortFormat).arg(shortFiles).arg(notWritten);
    }
    m_carvePage->reportLabel()->setText(lines.join('\n'));
    if (m_finished && m_finished->ending == carving::CarveEnding::Failed && m_finished->error)
        dialogs().inform(this, qs(texts::describeError(*m_finished->error)));
    Q_EMIT carvingFinished();
}

void CSigDuplicate::stopWorker()
{
    if (!carving()) return;
    m_closing = true;
    m_stopRequested = true;
    m_watcher.waitForFinished();
    m_closing = false;
}

void CSigDuplicate::backToExtensions()
{
    const CommandAnswer answer = state().answer(Command::Back);
    if (answer.verdict == Verdict::Refuse) dialogs().inform(this, qs(answer.message));
    if (answer.verdict != Verdict::Run || m_step != Step::Scanning || carving()) return;
    clearCarving();
    m_step = Step::Extensions;
    showStage(m_extensionPage);
    setStatusText(closingText());
    m_extensionPage->extensionList()->setFocus();
}

void CSigDuplicate::clearResults()
{
    clearCarving();
    m_extensionPage->clearExtensions();
    m_step = Step::Drive;
}

void CSigDuplicate::clearCarving()
{
    if (m_carve) carving::resetSignatureSearch(*m_carve);
    m_carve.reset();
    m_events.reset();
    m_resultList.clear();
    m_fileTypes.clear();
    m_problems.clear();
    m_finished.reset();
    m_clearingTimer.stop();
    endClearing();
    m_carvePage->clearingNote()->hide();
    m_carvePage->reportLabel()->clear();
    m_carvePage->openFolderButton()->hide();
}

void CSigDuplicate::openContainingFolder()
{
    if (m_step != Step::Scanning || carving()) return;
    const QString root = destination();
    QString folder = qs(carving::searchFolder(root.toStdString()));
    // Nothing carved: nothing was made under the destination either.
    if (!QFileInfo(folder).isDir()) folder = root;
    if (!dialogs().openWithDesktop(this, folder)) dialogs().inform(this, qs(kFolderNotOpenedPrefix) + folder);
}

void CSigDuplicate::openCarvedFile(int row)
{
    const carving::CarvedResult* file = m_resultList.file(row);
    if (!file || file->name.empty() || file->name.find('.') == std::string::npos) return;
    // The saved path is where the file was written (empty when it could not be).
    const QString path = qs(file->savedPath);
    if (path.isEmpty() || !QFileInfo(path).isFile()) {
        dialogs().inform(this, qs(texts::kDoesNotExistText));
        return;
    }
    if (!dialogs().openWithDesktop(this, path)) dialogs().inform(this, qs(kFileNotOpenedPrefix) + path);
}

}  // namespace kfr::ui
