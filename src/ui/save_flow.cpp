#include "ui/save_flow.h"

#include <QApplication>
#include <QPushButton>
#include <QtConcurrent/QtConcurrentRun>
#include <chrono>

#include "export/destination.h"
#include "export/shell_open.h"
#include "texts/messages.h"
#include "texts/work_texts.h"
#include "ui/qt_text.h"
#include "ui/save_windows.h"
#include "ui/ui_texts.h"
#include "ui/ask_on_ui_thread.h"

namespace kfr::ui {

namespace {

using Clock = std::chrono::steady_clock;

}  // namespace

// Carries the run's progress to its windows through the UI thread's queue. Byte counts of one
// file come about ten times a second, not once per chunk.
class SaveFlow::Events final : public exporting::SaveObserver {
public:
    explicit Events(SaveFlow* flow) : m_flow(flow) {}

    void onCounting(std::uint64_t files, std::uint64_t folders) override
    {
        const auto now = Clock::now();
        if (now - m_lastCount < std::chrono::milliseconds(100)) return;
        m_lastCount = now;
        post([=](SaveFlow& f) {
            if (f.m_counting) f.m_counting->setCounts(files, folders);
        });
    }
    void onSelectedTotals(std::uint64_t files, std::uint64_t folders) override
    {
        post([=](SaveFlow& f) {
            if (f.m_counting) f.m_counting->hide();
            if (!f.m_saving) return;
            f.m_saving->setSummary(qs(texts::selectedSummaryText(files, folders)));
            f.m_saving->setFiles(0, files);
            f.m_saving->setFolders(0, folders);
            f.m_saving->show();
        });
    }
    void onFileStarted(const exporting::SaveFileInfo& file) override
    {
        m_lastBytes = {};
        post([file](SaveFlow& f) {
            if (!f.m_saving) return;
            f.m_saving->setFile(qs(file.displayName), qs(file.targetPath), file.size);
            f.m_saving->setFiles(file.fileNumber, file.totalFiles);
        });
    }
    void onFileBytes(std::uint64_t written, std::uint64_t size) override
    {
        const auto now = Clock::now();
        if (written != size && now - m_lastBytes < std::chrono::milliseconds(100)) return;
        m_lastBytes = now;
        post([=](SaveFlow& f) {
            if (f.m_saving) f.m_saving->setFileBytes(written, size);
        });
    }
    void onFolderFinished(std::uint64_t done, std::uint64_t total) override
    {
        post([=](SaveFlow& f) {
            if (f.m_saving) f.m_saving->setFolders(done, total);
        });
    }

private:
    template <typename F>
    void post(F&& f)
    {
        postToUiThread(m_flow, std::forward<F>(f));
    }
    SaveFlow* m_flow;
    Clock::time_point m_lastCount{};
    Clock::time_point m_lastBytes{};
};

// The Replace dialog, asked on the UI thread while the writer waits; a closing screen skips.
class SaveFlow::Question final : public exporting::CollisionPrompt {
public:
    explicit Question(SaveFlow* flow) : m_flow(flow) {}
    exporting::ReplaceReply ask(const std::string& collisionPath, const std::string& suggestedPath) override
    {
        exporting::ReplaceReply skip;
        skip.button = exporting::ReplaceButton::Skip;
        SaveFlow* flow = m_flow;
        return askOnUiThread<exporting::ReplaceReply>(flow, flow->m_closing, skip, [flow, collisionPath, suggestedPath] {
            return flow->m_dialogs.replace(flow->m_saving ? static_cast<QWidget*>(flow->m_saving) : flow->m_screen,
                                           qs(collisionPath), qs(suggestedPath));
        });
    }

private:
    SaveFlow* m_flow;
};

SaveFlow::SaveFlow(QWidget* screen, Dialogs& dialogs, session::RecoverySession& session)
    : QObject(screen), m_screen(screen), m_dialogs(dialogs), m_session(session)
{
    qRegisterMetaType<exporting::SaveRunReport>();
    m_pool.setMaxThreadCount(1);
    m_events = std::make_unique<Events>(this);
    m_question = std::make_unique<Question>(this);
    connect(&m_watcher, &QFutureWatcherBase::finished, this, &SaveFlow::finish);
}

SaveFlow::~SaveFlow()
{
    stop();
    delete m_counting;
    delete m_saving;
}

void SaveFlow::stop()
{
    m_closing = true;
    m_state.cancelRequested = true;
    m_watcher.disconnect();
    m_watcher.waitForFinished();
    m_pool.waitForDone();
}

bool SaveFlow::start(std::shared_ptr<const session::ScanResults> results, recovery::TreeChecks checks,
                     std::vector<exporting::SelectedRow> rows, std::string sourcePath)
{
    if (running() || !results) return false;
    m_dialogs.saveNotice(m_screen);
    const auto check = [sourcePath](const QString& path) {
        if (path.trimmed().isEmpty()) return qs(texts::kInvalidDestinationText);
        return qs(texts::destinationMessage(exporting::checkDestination(path.trimmed().toStdString(), sourcePath)));
    };
    const std::optional<QString> destination = m_dialogs.chooseDestination(m_screen, m_lastDestination, check);
    if (!destination) return false;
    m_lastDestination = *destination;

    // A standing answer of an earlier run does not decide this one's collisions unasked.
    m_collisions = {};
    m_state.cancelRequested = false;
    m_closing = false;
    delete m_counting;
    delete m_saving;
    m_counting = new CCountingDlg(m_screen);
    m_saving = new CSavingDlg(m_screen);
    connect(m_counting->stopButton(), &QPushButton::clicked, this, [this] { m_state.cancelRequested = true; });
    connect(m_saving->stopButton(), &QPushButton::clicked, this, [this] {
        if (m_active) m_state.cancelRequested = true;
        else m_saving->hide();
    });
    connect(m_saving->skipButton(), &QPushButton::clicked, this, [this] { ++m_state.skipRequested; });
    m_counting->adjustSize();
    m_counting->move(m_screen->window()->geometry().center() - m_counting->rect().center());
    m_counting->show();

    session::SaveRequest request;
    request.destination = destination->trimmed().toStdString();
    request.checks = std::move(checks);
    request.selectedRows = std::move(rows);
    request.state = &m_state;
    request.collisions = &m_collisions;
    request.prompt = m_question.get();
    request.observer = m_events.get();
    request.files = m_files;
    m_results = std::move(results);
    m_report.reset();
    m_active = true;
    m_watcher.setFuture(QtConcurrent::run(&m_pool, [this, request = std::move(request)] {
        m_report = m_session.save(*m_results, request);
    }));
    return true;
}

void SaveFlow::finish()
{
    m_active = false;
    exporting::SaveRunReport report = std::move(*m_report);
    m_report.reset();
    m_results.reset();
    if (m_counting) m_counting->hide();
    using exporting::SaveEnd;
    switch (report.end) {
    case SaveEnd::Refused:
        if (m_saving) m_saving->hide();
        m_dialogs.inform(m_screen, qs(texts::destinationMessage(report.verdict)));
        break;
    case SaveEnd::Nothing:
        if (m_saving) m_saving->hide();
        m_dialogs.inform(m_screen, qs(texts::kNothingSelectedText));
        break;
    case SaveEnd::Failed:
        if (m_saving) m_saving->hide();
        m_dialogs.inform(m_screen, qs(texts::describeError(report.error)));
        break;
    default: {
        if (!m_saving) break;
        m_saving->show();
        m_saving->setFiles(report.filesWritten, report.filesTotal);
        m_saving->setFolders(report.foldersDone, report.foldersTotal);
        // Only files written whole count as saved; the others are listed with the reason.
        QString summary = qs(texts::savedSummaryText(report.filesWritten, report.foldersDone));
        const std::uint64_t notSaved = report.filesIncomplete + report.filesFailed;
        if (notSaved > 0) summary += "\n" + qs(kNotSavedWholeFormat).arg(notSaved);
        m_saving->setSummary(summary);
        for (const exporting::FileResult& file : report.files) {
            using exporting::FileOutcome;
            if (file.outcome == FileOutcome::Written || file.outcome == FileOutcome::Declined ||
                file.outcome == FileOutcome::Skipped || file.outcome == FileOutcome::Cancelled)
                continue;
            QString line = qs(file.info.targetPath) + " - " + qs(texts::fileOutcomeText(file.outcome));
            if (file.outcome == FileOutcome::Incomplete)
                line += QString(" (%1 of %2 bytes: %3)").arg(file.bytesWritten).arg(file.info.size).arg(qs(texts::shortReasonText(file.reason)));
            m_saving->addProblem(line);
        }
        m_saving->finish();
        if (report.end == SaveEnd::DiskFull) m_dialogs.inform(m_saving, qs(texts::kDiskFullText));
    }
    }
    Q_EMIT finished(report);
}

OpenFlow::OpenFlow(QWidget* screen, Dialogs& dialogs, session::RecoverySession& session)
    : QObject(screen), m_screen(screen), m_dialogs(dialogs), m_session(session)
{
    qRegisterMetaType<exporting::OpenResult>();
    m_pool.setMaxThreadCount(1);
    m_opener = [](const std::string& path) { return exporting::openWithShell(0, path); };
    connect(&m_watcher, &QFutureWatcherBase::finished, this, &OpenFlow::finish);
}

OpenFlow::~OpenFlow()
{
    m_state.cancelRequested = true;
    m_watcher.disconnect();
    m_watcher.waitForFinished();
    m_pool.waitForDone();
    m_wait.reset();
    removeCopies();
}

bool OpenFlow::open(std::shared_ptr<const session::ScanResults> results, const recovery::ItemRow& row)
{
    if (running() || !results) return false;
    if (!m_copies) {
        auto folder = exporting::temporaryFolder();
        if (!folder) {
            m_dialogs.inform(m_screen, qs(texts::describeError(folder.error())));
            return false;
        }
        m_copies = std::make_unique<exporting::TemporaryCopies>(*folder);
    }
    QStringList lines;
    for (const std::string& line : texts::openingLines(row)) lines << qs(line);
    QApplication::setOverrideCursor(Qt::WaitCursor);
    m_wait = std::make_unique<CPleaseWaitModeless>(lines, m_screen);
    m_state.cancelRequested = false;
    m_result.reset();
    m_active = true;
    m_watcher.setFuture(QtConcurrent::run(&m_pool, [this, results, row] {
        m_result = m_session.openFile(*results, row, *m_copies, m_opener, m_state);
    }));
    return true;
}

void OpenFlow::finish()
{
    m_active = false;
    QApplication::restoreOverrideCursor();
    m_wait.reset();
    const exporting::OpenResult result = *m_result;
    m_result.reset();
    if (result.action == exporting::OpenAction::Failed)
        m_dialogs.inform(m_screen, result.error.kind == ErrorKind::NotFound ? qs(texts::kDoesNotExistText)
                                                                             : qs(texts::describeError(result.error)));
    Q_EMIT opened(result);
}

void OpenFlow::removeCopies()
{
    if (m_copies) exporting::removeTemporaryCopies(*m_copies);
}

}  // namespace kfr::ui
