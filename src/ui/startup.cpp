#include "ui/startup.h"

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QPointer>
#include <QProcess>
#include <QStandardPaths>
#include <QTextStream>
#include <QWidget>
#include <cerrno>
#include <cstring>
#include <fstream>
#include <unistd.h>

#include "carving/signature_file.h"
#include "storage/byte_size.h"
#include "texts/messages.h"
#include "texts/screen_texts.h"
#include "ui/app_context.h"

namespace kfr::ui {

std::string commandLineLogPath(const std::vector<std::string>& arguments)
{
    std::string joined;
    for (const auto& a : arguments) {
        if (!joined.empty()) joined += ' ';
        joined += a;
    }
    std::string path = storage::trimText(joined);
    if (!path.empty() && path.front() == '"') path.erase(0, 1);
    if (!path.empty() && path.back() == '"') path.pop_back();
    return path;
}

std::optional<std::string> checkSignatureFiles(const std::string& folder)
{
    for (const char* name : {carving::kGeneralSignatureFile, carving::kThoroughSignatureFile}) {
        std::ifstream file(folder + "/" + name, std::ios::binary);
        if (!file) return std::string(texts::kCouldNotOpenSourcePrefix) + std::strerror(errno);
    }
    return std::nullopt;
}

XdgFolders XdgFolders::fromEnvironment()
{
    return {QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation),
            QStandardPaths::writableLocation(QStandardPaths::GenericConfigLocation)};
}

namespace {

bool writeFile(const QString& path, const QByteArray& content)
{
    if (!QDir().mkpath(QFileInfo(path).absolutePath())) return false;
    QFile file(path);
    if (file.exists() && file.open(QIODevice::ReadOnly) && file.readAll() == content) return true;
    file.close();
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate)) return false;
    return file.write(content) == content.size();
}

// The desktop-entry form of an argument: quoted when it holds anything but plain characters.
QString desktopExecArgument(const QString& path)
{
    static const QString reserved = QStringLiteral(" \t\n\"'\\><~|&;$*?#()`");
    bool plain = true;
    for (QChar c : path) plain = plain && !reserved.contains(c);
    if (plain) return path;
    QString quoted = path;
    for (const char* c : {"\\", "\"", "`", "$"}) quoted.replace(QString::fromLatin1(c), QStringLiteral("\\") + c);
    quoted.replace(QStringLiteral("%"), QStringLiteral("%%"));
    return '"' + quoted + '"';
}

// Sets key=value in the [Default Applications] group of mimeapps.list, keeping every other line.
QByteArray withDefaultApplication(const QByteArray& existing, const QString& key, const QString& value)
{
    const QString group = QStringLiteral("[Default Applications]");
    QStringList lines = QString::fromUtf8(existing).split('\n');
    if (!lines.isEmpty() && lines.last().isEmpty()) lines.removeLast();
    const QString entry = key + '=' + value;
    int groupLine = -1;
    for (int i = 0; i < lines.size(); ++i) {
        if (lines[i].trimmed() == group) {
            groupLine = i;
            break;
        }
    }
    if (groupLine < 0) {
        if (!lines.isEmpty()) lines << QString();
        lines << group << entry;
    } else {
        int i = groupLine + 1;
        bool replaced = false;
        for (; i < lines.size() && !lines[i].trimmed().startsWith('['); ++i) {
            if (lines[i].section('=', 0, 0).trimmed() == key) {
                lines[i] = entry;
                replaced = true;
            }
        }
        if (!replaced) lines.insert(groupLine + 1, entry);
    }
    return (lines.join('\n') + '\n').toUtf8();
}

}  // namespace

bool registerLogFileType(const QString& programPath, const XdgFolders& folders)
{
    if (folders.dataHome.isEmpty() || folders.configHome.isEmpty()) return false;
    const QByteArray mime = QStringLiteral(
        "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
        "<mime-info xmlns=\"http://www.freedesktop.org/standards/shared-mime-info\">\n"
        "  <mime-type type=\"%1\">\n"
        "    <comment>%2</comment>\n"
        "    <glob pattern=\"*.MFT\"/>\n"
        "  </mime-type>\n"
        "</mime-info>\n").arg(QString::fromLatin1(kLogMimeType), QString::fromUtf8(texts::kLogFileTypeName)).toUtf8();
    const QByteArray entry = QStringLiteral(
        "[Desktop Entry]\n"
        "Type=Application\n"
        "Name=%1\n"
        "Exec=%2 %f\n"
        "Icon=kestravon-recovery\n"
        "MimeType=%3;\n"
        "NoDisplay=true\n"
        "Terminal=false\n").arg(QString::fromUtf8(texts::kProductName), desktopExecArgument(programPath),
                                 QString::fromLatin1(kLogMimeType)).toUtf8();
    const QString mimeFolder = folders.dataHome + QStringLiteral("/mime");
    if (!writeFile(mimeFolder + QStringLiteral("/packages/kestravon-recovery.xml"), mime)) return false;
    if (!writeFile(folders.dataHome + QStringLiteral("/applications/") + kDesktopEntryName, entry)) return false;

    const QString listPath = folders.configHome + QStringLiteral("/mimeapps.list");
    QFile list(listPath);
    QByteArray existing;
    if (list.exists()) {
        if (!list.open(QIODevice::ReadOnly)) return false;
        existing = list.readAll();
        list.close();
    }
    if (!writeFile(listPath, withDefaultApplication(existing, QString::fromLatin1(kLogMimeType),
                                                    QString::fromLatin1(kDesktopEntryName))))
        return false;

    // The MIME database is rebuilt in the background when the tool is there; the type works
    // without it in file managers that read the package files, and after the next rebuild in all.
    const QString update = QStandardPaths::findExecutable(QStringLiteral("update-mime-database"));
    if (!update.isEmpty()) QProcess::startDetached(update, {mimeFolder});
    return true;
}

QString helpFilePath(const QString& programDir)
{
    for (const QString& folder : {programDir, programDir + QStringLiteral("/../share/kestravon")}) {
        const QString path = QDir(folder).absoluteFilePath(QStringLiteral("Software Guide.html"));
        if (QFileInfo::exists(path)) return QDir::cleanPath(path);
    }
    return {};
}

bool canRestartWithPrivileges()
{
    return geteuid() != 0 && !QStandardPaths::findExecutable(QStringLiteral("pkexec")).isEmpty();
}

bool restartWithPkexec(const QString& programPath, const QStringList& arguments, QObject* owner,
                       std::function<void(bool refused, int exitCode)> ended, QString* error)
{
    const QString pkexec = QStandardPaths::findExecutable(QStringLiteral("pkexec"));
    if (pkexec.isEmpty()) {
        if (error) *error = QStringLiteral("pkexec is not installed.");
        return false;
    }
    auto* process = new QProcess(owner);
    process->setProcessChannelMode(QProcess::ForwardedChannels);
    QObject::connect(process, &QProcess::finished, owner,
                     [process, ended = std::move(ended)](int exitCode, QProcess::ExitStatus status) {
                         process->deleteLater();
                         // pkexec's own answers: 126 the dialog was dismissed, 127 not authorised.
                         const bool refused = status != QProcess::NormalExit || exitCode == 126 || exitCode == 127;
                         ended(refused, exitCode);
                     });
    process->start(pkexec, QStringList{programPath} + arguments);
    if (!process->waitForStarted()) {
        if (error) *error = process->errorString();
        process->deleteLater();
        return false;
    }
    return true;
}

void offerPkexecRestart(AppContext& context, const QString& program, QObject* owner)
{
    context.restartWithPrivileges = [&context, program, owner](QString* error) {
        QStringList arguments{QStringLiteral("--no-register")};
        if (!context.listing.listSystemMedia) arguments << QStringLiteral("--images-only");
        for (const std::string& image : context.listing.imagePaths)
            arguments << QStringLiteral("--image") << QString::fromStdString(image);
        auto hidden = std::make_shared<QList<QPointer<QWidget>>>();
        const auto ended = [hidden](bool refused, int exitCode) {
            if (!refused) {
                QCoreApplication::exit(exitCode);
                return;
            }
            for (const auto& w : *hidden)
                if (w) w->show();
        };
        if (!restartWithPkexec(program, arguments, owner, ended, error)) return false;
        for (QWidget* w : QApplication::topLevelWidgets())
            if (w->isVisible()) {
                hidden->append(w);
                w->hide();
            }
        return true;
    };
}

}  // namespace kfr::ui
