#include "ui/dialogs.h"

#include <QDesktopServices>
#include <QFileDialog>
#include <QFileInfo>
#include <QMessageBox>
#include <QUrl>
#include <QWidget>

#include "texts/log_texts.h"
#include "texts/messages.h"
#include "texts/sig_screen_texts.h"
#include "ui/empty_result_notice.h"
#include "ui/save_windows.h"
#include "ui/logical_choice.h"
#include "ui/no_device.h"
#include "ui/rem_media_scan.h"
#include "ui/sig_media_removed.h"
#include "ui/smp_sel.h"
#include "ui/qt_text.h"

namespace kfr::ui {

namespace {

// "MFT Files (*.MFT)|*.MFT|" in the form Qt's file dialogs take.
QString logFileFilter()
{
    const QString extension = qs(texts::kLogExtension);
    return QString("MFT Files (*.%1)").arg(extension);
}

}  // namespace

void restoreWindow(QWidget* widget)
{
    QWidget* window = widget ? widget->window() : nullptr;
    if (window && window->isMinimized()) window->showNormal();
}

void Dialogs::inform(QWidget* parent, const QString& text)
{
    restoreWindow(parent);
    QMessageBox box(QMessageBox::Information, qs(texts::kMessageCaption), text, QMessageBox::Ok, parent);
    box.exec();
}

void Dialogs::explain(QWidget* parent, const QString& text)
{
    restoreWindow(parent);
    QMessageBox box(QMessageBox::Question, qs(texts::kMessageCaption), text, QMessageBox::Ok, parent);
    box.exec();
}

QString Dialogs::chooseSaveLogPath(QWidget* parent)
{
    QString path = QFileDialog::getSaveFileName(parent, QString(), QString(), logFileFilter());
    if (!path.isEmpty() && QFileInfo(path).suffix().isEmpty()) path += "." + qs(texts::kLogExtension);
    return path;
}

QString Dialogs::chooseLoadLogPath(QWidget* parent)
{
    return QFileDialog::getOpenFileName(parent, QString(), QString(), logFileFilter());
}

void Dialogs::emptyResultNotice(QWidget* parent, bool deep)
{
    restoreWindow(parent);
    CEmptyResultNotice box(deep, parent);
    box.exec();
}

void Dialogs::saveNotice(QWidget* parent)
{
    restoreWindow(parent);
    CSaveMsg box(parent);
    box.exec();
}

std::optional<QString> Dialogs::chooseDestination(QWidget* parent, const QString& initial,
                                                  const std::function<QString(const QString&)>& check)
{
    CSaveBrowse box(initial, check, [this, parent](const QString& text) { inform(parent, text); }, parent);
    if (box.exec() != QDialog::Accepted) return std::nullopt;
    return box.destination();
}

exporting::ReplaceReply Dialogs::replace(QWidget* parent, const QString& collisionPath, const QString& suggestedPath)
{
    CReplaceDlg box(collisionPath, suggestedPath, parent);
    const int answer = box.exec();
    exporting::ReplaceReply reply;
    reply.applyToAll = box.applyToAll();
    reply.fileNameText = box.fileName().toStdString();
    reply.newFileNameText = box.newFileName().toStdString();
    switch (answer) {
    case CReplaceDlg::Overwrite: reply.button = exporting::ReplaceButton::Overwrite; break;
    case CReplaceDlg::Rename: reply.button = exporting::ReplaceButton::Rename; break;
    case CReplaceDlg::Cancel: reply.button = exporting::ReplaceButton::Cancel; break;
    default: reply.button = exporting::ReplaceButton::Skip; break;
    }
    return reply;
}

bool Dialogs::ask(QWidget* parent, const QString& text)
{
    restoreWindow(parent);
    QMessageBox box(QMessageBox::Question, qs(texts::kMessageCaption), text, QMessageBox::Yes | QMessageBox::No, parent);
    box.setDefaultButton(QMessageBox::No);
    return box.exec() == QMessageBox::Yes;
}

bool Dialogs::wholeDisk(QWidget* parent)
{
    CRem_Media_Scan box(parent);
    return box.exec() == QDialog::Accepted;
}

int Dialogs::logicalChoice(QWidget* parent, const QString& designator)
{
    CLogicalChoice box(designator, parent);
    return box.exec();
}

std::optional<int> Dialogs::searchMode(QWidget* parent)
{
    CSmpSel box(parent);
    if (box.exec() != CSmpSel::kContinued) return std::nullopt;
    return box.mode();
}

bool Dialogs::noDevice(QWidget* parent, const std::function<bool()>& retry)
{
    CNoDevice box(retry, parent);
    return box.exec() == QDialog::Accepted;
}

bool Dialogs::openWithDesktop(QWidget*, const QString& path)
{
    return QDesktopServices::openUrl(QUrl::fromLocalFile(path));
}

QString Dialogs::chooseCarveFolder(QWidget* parent)
{
    return QFileDialog::getExistingDirectory(parent, qs(texts::kCarveFolderPickerTitle));
}

carving::MediaAnswer Dialogs::mediaRemoved(QWidget* parent)
{
    restoreWindow(parent);
    CMediaRemoved box(parent);
    const int answer = box.exec();
    carving::MediaAnswer reply;
    reply.applyUntilDone = box.applyUntilDone();
    switch (answer) {
    case CMediaRemoved::kCancelSearching: reply.action = carving::MediaAction::CancelSearching; break;
    case CMediaRemoved::kRetryAndContinue: reply.action = carving::MediaAction::RetryAndContinue; break;
    default: reply.action = carving::MediaAction::Closed; break;
    }
    return reply;
}

}  // namespace kfr::ui
