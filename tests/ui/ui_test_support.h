// What the desktop program's suites share: dialogs that answer from a script and record what the
// program said, and a context that lists only the image files a test adds.
#pragma once

#include <QString>
#include <QStringList>
#include <deque>
#include <functional>
#include <optional>
#include <string>

#include "test_support.h"
#include "ui/app_context.h"
#include "ui/dialogs.h"

namespace kfr::uitest {

using ui::AppContext;
using ui::Dialogs;

inline std::string fixture(const char* name)
{
    return std::string(KFR_FIXTURE_DIR) + "/" + name;
}

// Every box the program opens is answered here without a window: the texts it would have shown
// are kept in order, and the answers come from what the test set up (No, "OK, Go Back", Cancel
// and Exit unless told otherwise).
class ScriptedDialogs : public Dialogs {
public:
    QStringList shown;  // every message and question, in order
    std::deque<bool> askAnswers;
    bool wholeDiskAnswer = false;
    int logicalAnswer = 0;
    std::optional<int> searchModeAnswer;
    int wholeDiskAsked = 0;
    int searchModeAsked = 0;
    QStringList logicalAsked;  // the designators the logical-drive choice named
    int noDeviceShown = 0;
    // Run by the no-device dialog before it retries; the default gives up (Exit).
    std::function<void()> beforeRetry;

    // The recovery log's file dialogs answer these paths (empty: Cancel).
    QString saveLogPath;
    QString loadLogPath;
    int emptyNotices = 0;

    // The save windows: destinations answered in turn (none left: Cancel); a refused one is
    // recorded in shown and the next is tried, as the dialog stays open. Collisions are
    // answered in turn, then Skip.
    int saveNotices = 0;
    std::deque<QString> destinations;
    std::deque<kfr::exporting::ReplaceReply> replaceAnswers;
    QStringList collisionsAsked;

    void saveNotice(QWidget*) override { ++saveNotices; }
    std::optional<QString> chooseDestination(QWidget*, const QString&,
                                             const std::function<QString(const QString&)>& check) override
    {
        while (!destinations.empty()) {
            const QString path = destinations.front();
            destinations.pop_front();
            const QString refusal = check(path);
            if (refusal.isEmpty()) return path;
            shown << refusal;
        }
        return std::nullopt;
    }
    kfr::exporting::ReplaceReply replace(QWidget*, const QString& collisionPath, const QString& suggested) override
    {
        collisionsAsked << collisionPath;
        kfr::exporting::ReplaceReply reply;
        if (!replaceAnswers.empty()) {
            reply = replaceAnswers.front();
            replaceAnswers.pop_front();
        }
        // The edit boxes as the dialog opens them.
        reply.fileNameText = collisionPath.toStdString();
        reply.newFileNameText = suggested.toStdString();
        return reply;
    }
    void inform(QWidget*, const QString& text) override { shown << text; }
    QString chooseSaveLogPath(QWidget*) override { return saveLogPath; }
    QString chooseLoadLogPath(QWidget*) override { return loadLogPath; }
    void emptyResultNotice(QWidget*, bool) override { ++emptyNotices; }
    void explain(QWidget*, const QString& text) override { shown << text; }
    bool ask(QWidget*, const QString& text) override
    {
        shown << text;
        if (askAnswers.empty()) return false;
        const bool answer = askAnswers.front();
        askAnswers.pop_front();
        return answer;
    }
    bool wholeDisk(QWidget*) override
    {
        ++wholeDiskAsked;
        return wholeDiskAnswer;
    }
    int logicalChoice(QWidget*, const QString& designator) override
    {
        logicalAsked << designator;
        return logicalAnswer;
    }
    std::optional<int> searchMode(QWidget*) override
    {
        ++searchModeAsked;
        return searchModeAnswer;
    }
    bool noDevice(QWidget*, const std::function<bool()>& retry) override
    {
        ++noDeviceShown;
        if (!beforeRetry) return false;
        beforeRetry();
        return retry();
    }

    // Opening with the desktop's program: the paths asked for are kept; the answer says whether
    // it worked.
    QStringList desktopOpened;
    bool desktopOpens = true;
    bool openWithDesktop(QWidget*, const QString& path) override
    {
        desktopOpened << path;
        return desktopOpens;
    }

    // Signature Search: the folder the picker answers (empty: Cancel), and the media prompt's
    // answers in turn (none left: "Cancel Searching"), counted.
    QString carveFolder;
    int carveFolderAsked = 0;
    std::deque<kfr::carving::MediaAnswer> mediaAnswers;
    int mediaRemovedShown = 0;
    QString chooseCarveFolder(QWidget*) override
    {
        ++carveFolderAsked;
        return carveFolder;
    }
    kfr::carving::MediaAnswer mediaRemoved(QWidget*) override
    {
        ++mediaRemovedShown;
        if (mediaAnswers.empty()) return {kfr::carving::MediaAction::CancelSearching, false};
        const auto answer = mediaAnswers.front();
        mediaAnswers.pop_front();
        return answer;
    }
};

// A context whose drive lists hold only the image files given (the machine's own disks and
// mounts are left out, so the tests see the same tree everywhere).
inline AppContext imagesOnlyContext(ScriptedDialogs& dialogs, std::vector<std::string> images = {})
{
    AppContext context;
    context.dialogs = &dialogs;
    context.listing.listSystemMedia = false;
    context.listing.imagePaths = std::move(images);
    return context;
}

}  // namespace kfr::uitest
