// Saving and opening from the results (the windows follow).
#pragma once
#include <QObject>
#include <memory>
#include "session/recovery_session.h"
#include "ui/dialogs.h"
namespace kfr::ui {
class SaveFlow : public QObject {
    Q_OBJECT
public:
    SaveFlow(QWidget* screen, Dialogs& dialogs, session::RecoverySession& session) : QObject(screen) {(void)dialogs;(void)session;}
    bool start(std::shared_ptr<const session::ScanResults>, recovery::TreeChecks, std::vector<exporting::SelectedRow>, std::string) { return false; }
    bool running() const { return false; }
    void stop() {}
Q_SIGNALS:
    void finished(const exporting::SaveRunReport& report);
};
class OpenFlow : public QObject {
    Q_OBJECT
public:
    OpenFlow(QWidget* screen, Dialogs& dialogs, session::RecoverySession& session) : QObject(screen) {(void)dialogs;(void)session;}
    bool open(std::shared_ptr<const session::ScanResults>, const recovery::ItemRow&) { return false; }
    void removeCopies() {}
};
}
