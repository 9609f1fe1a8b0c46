// Every question and message a screen or the main window puts to the user goes through Dialogs,
// so tests can answer them without a display; the default shows the real modal boxes.
#pragma once

#include <QString>
#include <functional>
#include <optional>

#include "carving/carve_scan.h"
#include "export/collision.h"

class QWidget;

namespace kfr::ui {

class Dialogs {
public:
    virtual ~Dialogs() = default;
    // A message box with the caption "Message" and the information icon; the window it belongs
    // to is restored first.
    virtual void inform(QWidget* parent, const QString& text);
    // The same with the question-mark icon and an OK button (the sector range help).
    virtual void explain(QWidget* parent, const QString& text);
    // The recovery log's file dialogs: the path chosen, or empty for Cancel.
    virtual QString chooseSaveLogPath(QWidget* parent);
    virtual QString chooseLoadLogPath(QWidget* parent);
    // The notice that a scan recovered nothing (deep: the Deep screen's first line).
    virtual void emptyResultNotice(QWidget* parent, bool deep);
    // The save windows: the destination notice; the destination dialog (check gives the refusal
    // for a path, or empty; nullopt for Cancel); the collision question.
    virtual void saveNotice(QWidget* parent);
    virtual std::optional<QString> chooseDestination(QWidget* parent, const QString& initial,
                                                     const std::function<QString(const QString&)>& check);
    virtual exporting::ReplaceReply replace(QWidget* parent, const QString& collisionPath, const QString& suggestedPath);
    // Yes/No with the question icon, No the default. True for Yes.
    virtual bool ask(QWidget* parent, const QString& text);
    // The whole-disk box: true for "Search Entire Drive as a single Partition".
    virtual bool wholeDisk(QWidget* parent);
    // The logical-drive choice: 1 logical scan, 2 physical scan, 0 Cancel.
    virtual int logicalChoice(QWidget* parent, const QString& designator);
    // The mode dialog of Search More Partitions: 5 Standard, 10 Advanced, nullopt for Cancel.
    virtual std::optional<int> searchMode(QWidget* parent);
    // The no-device dialog: retry lists the drives again and says whether any was found. True
    // when a retry found drives, false for Exit.
    virtual bool noDevice(QWidget* parent, const std::function<bool()>& retry);
    // Opens a file or a folder with the desktop's program for it (QDesktopServices::openUrl);
    // false when it could not.
    virtual bool openWithDesktop(QWidget* parent, const QString& path);
    // Signature Search: the folder picker behind "Browse" (empty for Cancel), and the media
    // prompt CMediaRemoved ("Cancel Searching", "Retry and Continue..." with its standing
    // check box, or closed without either).
    virtual QString chooseCarveFolder(QWidget* parent);
    virtual carving::MediaAnswer mediaRemoved(QWidget* parent);
};

// Brings a minimised window back before a message is shown over it.
void restoreWindow(QWidget* widget);

}  // namespace kfr::ui
