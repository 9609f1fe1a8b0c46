// Saving and opening from the results of a screen. SaveFlow leads a save run through its windows
// (the notice, the destination, counting, the progress window, the collision question) while the
// run writes on a worker; OpenFlow writes a temporary copy of one file on a worker behind its
// please-wait window and hands it to the desktop. The screen keeps one of each for its life.
#pragma once

#include <QFutureWatcher>
#include <QObject>
#include <QPointer>
#include <QThreadPool>
#include <atomic>
#include <functional>
#include <memory>
#include <optional>

#include "export/save_run.h"
#include "export/temp_copies.h"
#include "session/recovery_session.h"
#include "ui/dialogs.h"
#include "ui/save_windows.h"

class QWidget;

namespace kfr::ui {


class SaveFlow : public QObject {
    Q_OBJECT
public:
    SaveFlow(QWidget* screen, Dialogs& dialogs, session::RecoverySession& session);
    ~SaveFlow() override;

    // Asks for the destination and starts the run; false when a run is going or the user
    // cancelled (nothing is written then).
    bool start(std::shared_ptr<const session::ScanResults> results, recovery::TreeChecks checks,
               std::vector<exporting::SelectedRow> rows, std::string sourcePath);
    // From start until its end is shown (the worker may be done a moment before that).
    bool running() const { return m_active; }
    // Ends a running run after its current chunk and waits for it (the screen is closing).
    void stop();
    CSavingDlg* savingWindow() const { return m_saving; }
    CCountingDlg* countingWindow() const { return m_counting; }
    const exporting::SaveRunState& runState() const { return m_state; }
    // Where the run writes; nullptr (the default): the real file systems. Tests put a full or
    // failing destination here.
    void setOutputFiles(exporting::OutputFiles* files) { m_files = files; }

Q_SIGNALS:
    void finished(const exporting::SaveRunReport& report);

private:
    class Events;
    class Question;
    void finish();

    QWidget* m_screen;
    Dialogs& m_dialogs;
    session::RecoverySession& m_session;
    QThreadPool m_pool;
    exporting::SaveRunState m_state;
    exporting::CollisionState m_collisions;
    std::atomic<bool> m_closing{false};
    std::unique_ptr<Events> m_events;
    std::unique_ptr<Question> m_question;
    QString m_lastDestination;
    QPointer<CCountingDlg> m_counting;
    QPointer<CSavingDlg> m_saving;
    std::shared_ptr<const session::ScanResults> m_results;
    std::optional<exporting::SaveRunReport> m_report;
    bool m_active = false;
    exporting::OutputFiles* m_files = nullptr;
    QFutureWatcher<void> m_watcher;
};

class OpenFlow : public QObject {
    Q_OBJECT
public:
    OpenFlow(QWidget* screen, Dialogs& dialogs, session::RecoverySession& session);
    ~OpenFlow() override;

    // Writes a copy of a file row and hands it to the desktop; ignored while a copy is made.
    bool open(std::shared_ptr<const session::ScanResults> results, const recovery::ItemRow& row);
    bool running() const { return m_active; }
    // Removes the copies this flow made (also when it goes).
    void removeCopies();
    // What hands a copy to the desktop (tests record it instead).
    void setOpener(exporting::Opener opener) { m_opener = std::move(opener); }
    const exporting::TemporaryCopies* copies() const { return m_copies.get(); }

Q_SIGNALS:
    void opened(const exporting::OpenResult& result);

private:
    void finish();

    QWidget* m_screen;
    Dialogs& m_dialogs;
    session::RecoverySession& m_session;
    QThreadPool m_pool;
    exporting::SaveRunState m_state;
    exporting::Opener m_opener;
    std::unique_ptr<exporting::TemporaryCopies> m_copies;
    std::unique_ptr<CPleaseWaitModeless> m_wait;
    std::optional<exporting::OpenResult> m_result;
    bool m_active = false;
    exporting::OutputFiles* m_files = nullptr;
    QFutureWatcher<void> m_watcher;
};

}  // namespace kfr::ui

Q_DECLARE_METATYPE(kfr::exporting::SaveRunReport)
Q_DECLARE_METATYPE(kfr::exporting::OpenResult)
