// The windows of a save run and of opening a recovered file: the destination notice (CSaveMsg),
// the destination dialog (CSaveBrowse), the counting window, the progress window (CSavingDlg),
// the collision dialog (CReplaceDlg) and the modeless please-wait windows. Thin: SaveFlow and
// OpenFlow decide what they show.
#pragma once

#include <QDialog>
#include <QString>
#include <cstdint>
#include <functional>

class QCheckBox;
class QLabel;
class QLineEdit;
class QListWidget;
class QProgressBar;
class QPushButton;

namespace kfr::ui {

class CSaveMsg : public QDialog {
    Q_OBJECT
public:
    explicit CSaveMsg(QWidget* parent = nullptr);
};

// "Save As": OK checks the destination through check (an error text, or empty when usable);
// a refused destination is said and the dialog stays open.
class CSaveBrowse : public QDialog {
    Q_OBJECT
public:
    CSaveBrowse(const QString& initial, std::function<QString(const QString&)> check,
                std::function<void(const QString&)> refuse, QWidget* parent = nullptr);
    QString destination() const;
    QLineEdit* pathEdit() const { return m_path; }
    void tryAccept();

private:
    QLineEdit* m_path = nullptr;
    std::function<QString(const QString&)> m_check;
    std::function<void(const QString&)> m_refuse;
};

// The counting window: "Total Files :" and "Total Folders :" as the count grows, and Stop.
class CCountingDlg : public QDialog {
    Q_OBJECT
public:
    explicit CCountingDlg(QWidget* parent = nullptr);
    void setCounts(std::uint64_t files, std::uint64_t folders);
    QPushButton* stopButton() const { return m_stop; }
    void reject() override {}

private:
    QLabel* m_files = nullptr;
    QLabel* m_folders = nullptr;
    QPushButton* m_stop = nullptr;
};

// "Saving Files...": the current file, the three bars, the summary line, Stop and Skip; at the
// end the files that could not be saved whole, each with why.
class CSavingDlg : public QDialog {
    Q_OBJECT
public:
    explicit CSavingDlg(QWidget* parent = nullptr);
    void setFile(const QString& name, const QString& path, std::uint64_t size);
    void setFileBytes(std::uint64_t written, std::uint64_t size);
    void setFiles(std::uint64_t done, std::uint64_t total);
    void setFolders(std::uint64_t done, std::uint64_t total);
    void setSummary(const QString& text);
    void addProblem(const QString& line);
    // The run ended: Stop and Skip give way to Close.
    void finish();
    QLabel* summaryLabel() const { return m_summary; }
    QLabel* filesLabel() const { return m_filesText; }
    QListWidget* problems() const { return m_problems; }
    QPushButton* stopButton() const { return m_stop; }
    QPushButton* skipButton() const { return m_skip; }
    void reject() override;

private:
    QLabel* m_name = nullptr;
    QLabel* m_path = nullptr;
    QProgressBar* m_fileBar = nullptr;
    QLabel* m_fileText = nullptr;
    QProgressBar* m_filesBar = nullptr;
    QLabel* m_filesText = nullptr;
    QProgressBar* m_foldersBar = nullptr;
    QLabel* m_foldersText = nullptr;
    QLabel* m_summary = nullptr;
    QListWidget* m_problems = nullptr;
    QPushButton* m_stop = nullptr;
    QPushButton* m_skip = nullptr;
    bool m_finished = false;
};

// "Information": a file of the target's name exists. Enter overwrites; Esc and the close box skip.
class CReplaceDlg : public QDialog {
    Q_OBJECT
public:
    enum Answer { Overwrite = 10, Rename, Skip, Cancel };
    CReplaceDlg(const QString& collisionPath, const QString& suggestedPath, QWidget* parent = nullptr);
    QString fileName() const;
    QString newFileName() const;
    bool applyToAll() const;
    void reject() override { done(Skip); }

private:
    QLineEdit* m_file = nullptr;
    QLineEdit* m_newFile = nullptr;
    QCheckBox* m_all = nullptr;
};

// A modeless window over its owner with a few lines of text, holding the owner while it shows.
class CPleaseWaitModeless : public QDialog {
    Q_OBJECT
public:
    CPleaseWaitModeless(const QStringList& lines, QWidget* owner);
    ~CPleaseWaitModeless() override;
    void reject() override {}

private:
    QWidget* m_owner = nullptr;
    bool m_disabledOwner = false;
};

}  // namespace kfr::ui
