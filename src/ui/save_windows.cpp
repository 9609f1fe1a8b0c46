#include "ui/save_windows.h"

#include <QCheckBox>
#include <QFileDialog>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QProgressBar>
#include <QPushButton>
#include <QVBoxLayout>

#include "storage/progress.h"
#include "texts/messages.h"
#include "texts/screen_texts.h"
#include "texts/work_texts.h"
#include "ui/qt_text.h"
#include "ui/widget_parts.h"

namespace kfr::ui {

namespace {

// Bars over 64-bit ranges: stepped while the range fits, in thousandths beyond.
void setBar(QProgressBar* bar, std::uint64_t done, std::uint64_t total)
{
    if (total <= 0x7FFFFFFEULL) {
        bar->setRange(0, static_cast<int>(total));
        bar->setValue(static_cast<int>(std::min(done, total)));
    } else {
        bar->setRange(0, 1000);
        bar->setValue(static_cast<int>(std::min(done, total) * 1000 / total));
    }
}

void centreOver(QWidget* window, QWidget* owner)
{
    window->adjustSize();
    if (owner) window->move(owner->window()->geometry().center() - window->rect().center());
}

}  // namespace

CSaveMsg::CSaveMsg(QWidget* parent) : QDialog(parent)
{
    setObjectName("saveNotice");
    setWindowTitle(qs(texts::kProductName));
    auto* layout = new QVBoxLayout(this);
    auto* heading = wrappedLabel(texts::kNoticeHeading, this);
    makeBold(heading);
    layout->addWidget(heading);
    for (const char* point : {texts::kNoticePoint1, texts::kNoticePoint2, texts::kNoticePoint3})
        layout->addWidget(wrappedLabel(point, this));
    auto* next = plainButton(texts::kNoticeContinue, "continue", this);
    addButtonRow(layout, {next});
    connect(next, &QPushButton::clicked, this, &QDialog::accept);
    setMinimumWidth(520);
}

CSaveBrowse::CSaveBrowse(const QString& initial, std::function<QString(const QString&)> check,
                         std::function<void(const QString&)> refuse, QWidget* parent)
    : QDialog(parent), m_check(std::move(check)), m_refuse(std::move(refuse))
{
    setObjectName("saveBrowse");
    setWindowTitle(qs(texts::kSaveAsCaption));
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(wrappedLabel(texts::kBrowseLabel, this));
    auto* row = new QHBoxLayout;
    m_path = new QLineEdit(initial, this);
    m_path->setObjectName("destinationPath");
    auto* browse = plainButton(texts::kBrowseButton, "browse", this);
    row->addWidget(m_path, 1);
    row->addWidget(browse);
    layout->addLayout(row);
    auto* ok = plainButton(texts::kOkButton, "ok", this);
    auto* cancel = plainButton(texts::kCancelButton, "cancel", this);
    addButtonRow(layout, {ok, cancel});
    connect(browse, &QPushButton::clicked, this, [this] {
        const QString chosen = QFileDialog::getExistingDirectory(this, qs(texts::kBrowseLabel), m_path->text());
        if (!chosen.isEmpty()) m_path->setText(chosen);
    });
    connect(ok, &QPushButton::clicked, this, &CSaveBrowse::tryAccept);
    connect(cancel, &QPushButton::clicked, this, &QDialog::reject);
    setMinimumWidth(560);
}

QString CSaveBrowse::destination() const
{
    return m_path->text().trimmed();
}

void CSaveBrowse::tryAccept()
{
    const QString refusal = m_check ? m_check(destination()) : QString();
    if (refusal.isEmpty()) {
        accept();
        return;
    }
    if (m_refuse) m_refuse(refusal);
}

CCountingDlg::CCountingDlg(QWidget* parent) : QDialog(parent)
{
    setObjectName("countingDialog");
    setWindowTitle(QString());
    setModal(false);
    auto* layout = new QGridLayout(this);
    layout->addWidget(new QLabel(qs(texts::kCountingText), this), 0, 0, 1, 2);
    layout->addWidget(new QLabel(qs(texts::kTotalFilesLabel), this), 1, 0);
    m_files = new QLabel("0", this);
    layout->addWidget(m_files, 1, 1);
    layout->addWidget(new QLabel(qs(texts::kTotalFoldersLabel), this), 2, 0);
    m_folders = new QLabel("0", this);
    layout->addWidget(m_folders, 2, 1);
    m_stop = plainButton(texts::kStopButton, "stop", this);
    layout->addWidget(m_stop, 3, 1, Qt::AlignRight);
}

void CCountingDlg::setCounts(std::uint64_t files, std::uint64_t folders)
{
    m_files->setText(QString::number(files));
    m_folders->setText(QString::number(folders));
}

CSavingDlg::CSavingDlg(QWidget* parent) : QDialog(parent)
{
    setObjectName("savingDialog");
    setWindowTitle(qs(texts::kSavingCaption));
    setModal(false);
    auto* layout = new QGridLayout(this);
    layout->addWidget(new QLabel(qs(texts::kFileNameLabel), this), 0, 0);
    m_name = new QLabel(this);
    m_name->setObjectName("fileName");
    layout->addWidget(m_name, 0, 1);
    layout->addWidget(new QLabel(qs(texts::kFilePathLabel), this), 1, 0, Qt::AlignTop);
    m_path = new QLabel(this);
    m_path->setObjectName("filePath");
    m_path->setWordWrap(true);
    m_path->setMinimumHeight(2 * fontMetrics().lineSpacing());
    layout->addWidget(m_path, 1, 1);
    int row = 2;
    auto addBar = [&](const char* label, QProgressBar*& bar, QLabel*& text, const char* initial, const char* name) {
        layout->addWidget(new QLabel(qs(label), this), row, 0);
        text = new QLabel(qs(initial), this);
        text->setObjectName(name);
        layout->addWidget(text, row++, 1);
        bar = new QProgressBar(this);
        bar->setTextVisible(false);
        layout->addWidget(bar, row++, 0, 1, 2);
    };
    addBar(texts::kCurrentFileLabel, m_fileBar, m_fileText, "0 / 0 Bytes", "fileBytes");
    addBar(texts::kFilesRecoveredLabel, m_filesBar, m_filesText, "0 / 0", "filesCount");
    addBar(texts::kFoldersRecoveredLabel, m_foldersBar, m_foldersText, "0 / 0", "foldersCount");
    m_summary = new QLabel(this);
    m_summary->setObjectName("summary");
    m_summary->setWordWrap(true);
    layout->addWidget(m_summary, row++, 0, 1, 2);
    m_problems = new QListWidget(this);
    m_problems->setObjectName("problems");
    m_problems->hide();
    layout->addWidget(m_problems, row++, 0, 1, 2);
    auto* buttons = new QHBoxLayout;
    m_stop = plainButton(texts::kStopButton, "stop", this);
    m_skip = plainButton(texts::kSkipButton, "skip", this);
    buttons->addStretch();
    buttons->addWidget(m_skip);
    buttons->addWidget(m_stop);
    layout->addLayout(buttons, row, 0, 1, 2);
    layout->setColumnStretch(1, 1);
    setMinimumWidth(560);
}

void CSavingDlg::setFile(const QString& name, const QString& path, std::uint64_t size)
{
    m_name->setText(name);
    m_path->setText(qs(texts::wrappedPathText(path.toStdString())));
    setFileBytes(0, size);
}

void CSavingDlg::setFileBytes(std::uint64_t written, std::uint64_t size)
{
    setBar(m_fileBar, written, size);
    m_fileText->setText(qs(texts::byteCountText(written, size)));
}

void CSavingDlg::setFiles(std::uint64_t done, std::uint64_t total)
{
    setBar(m_filesBar, done, total);
    m_filesText->setText(qs(countText(done, total)));
}

void CSavingDlg::setFolders(std::uint64_t done, std::uint64_t total)
{
    setBar(m_foldersBar, done, total);
    m_foldersText->setText(qs(countText(done, total)));
}

void CSavingDlg::setSummary(const QString& text)
{
    m_summary->setText(text);
}

void CSavingDlg::addProblem(const QString& line)
{
    m_problems->show();
    m_problems->addItem(line);
}

void CSavingDlg::finish()
{
    m_finished = true;
    m_skip->hide();
    m_stop->setText(qs(texts::kOkButton));
}

void CSavingDlg::reject()
{
    if (m_finished) QDialog::reject();
}

CReplaceDlg::CReplaceDlg(const QString& collisionPath, const QString& suggestedPath, QWidget* parent) : QDialog(parent)
{
    setObjectName("replaceDialog");
    setWindowTitle(qs(texts::kReplaceCaption));
    auto* layout = new QGridLayout(this);
    layout->addWidget(new QLabel(qs(texts::kReplaceFileNameLabel), this), 0, 0);
    m_file = new QLineEdit(collisionPath, this);
    m_file->setReadOnly(true);
    layout->addWidget(m_file, 0, 1);
    layout->addWidget(new QLabel(qs(texts::kReplaceNewFileNameLabel), this), 1, 0);
    m_newFile = new QLineEdit(suggestedPath, this);
    layout->addWidget(m_newFile, 1, 1);
    m_all = new QCheckBox(qs(texts::kReplaceApplyToAllText), this);
    layout->addWidget(m_all, 2, 0, 1, 2);
    auto* buttons = new QHBoxLayout;
    auto* overwrite = new QPushButton(qs(texts::kOverwriteButton), this);
    overwrite->setDefault(true);  // Enter overwrites
    auto* rename = plainButton(texts::kRenameButton, "rename", this);
    auto* skip = plainButton(texts::kSkipButton, "skip", this);
    auto* cancel = plainButton(texts::kCancelButton, "cancel", this);
    for (QPushButton* b : {overwrite, rename, skip, cancel}) buttons->addWidget(b);
    layout->addLayout(buttons, 3, 0, 1, 2);
    connect(overwrite, &QPushButton::clicked, this, [this] { done(Overwrite); });
    connect(rename, &QPushButton::clicked, this, [this] { done(Rename); });
    connect(skip, &QPushButton::clicked, this, [this] { done(Skip); });
    connect(cancel, &QPushButton::clicked, this, [this] { done(Cancel); });
    setMinimumWidth(560);
}

QString CReplaceDlg::fileName() const { return m_file->text(); }
QString CReplaceDlg::newFileName() const { return m_newFile->text(); }
bool CReplaceDlg::applyToAll() const { return m_all->isChecked(); }

CPleaseWaitModeless::CPleaseWaitModeless(const QStringList& lines, QWidget* owner) : QDialog(owner), m_owner(owner)
{
    setObjectName("pleaseWait");
    setWindowTitle(QString());
    setModal(false);
    setAutoFillBackground(true);
    QPalette p = palette();
    p.setColor(QPalette::Window, Qt::white);
    setPalette(p);
    auto* layout = new QVBoxLayout(this);
    for (const QString& line : lines) layout->addWidget(new QLabel(line, this));
    centreOver(this, owner);
    // Only what this window disabled is enabled again: an owner that something else holds
    // disabled (a save run) stays so.
    if (m_owner && m_owner->isEnabled()) {
        m_owner->setEnabled(false);
        m_disabledOwner = true;
    }
    show();
}

CPleaseWaitModeless::~CPleaseWaitModeless()
{
    if (m_owner && m_disabledOwner) m_owner->setEnabled(true);
}

}  // namespace kfr::ui
