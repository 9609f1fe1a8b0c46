// The mode launcher and the start-up steps: each "Go" opens its one screen (twice quickly opens
// one), the launch window comes and goes, Back returns to the launcher, Exit asks and Escape does
// nothing; the command line's log path, the signature-file check, the per-user association of
// ".MFT" files, and which screen a log named on the command line opens.
#include <QDir>
#include <QFile>
#include <QLabel>
#include <QProcess>
#include <QProgressBar>
#include <QPushButton>
#include <QSignalSpy>
#include <QTest>
#include <QTimer>
#include <QTreeWidget>
#include <fstream>

#include "texts/messages.h"
#include "texts/screen_texts.h"
#include "ui/drive_stage_page.h"
#include "ui/launch_window.h"
#include "ui/log_header.h"
#include "ui/main_window.h"
#include "ui/splash_window.h"
#include "ui/startup.h"
#include "ui_test_support.h"

using namespace kfr;
using namespace kfr::ui;
using kfr::uitest::ScriptedDialogs;

Q_DECLARE_METATYPE(kfr::ui::CRecoveryScreen*)

namespace {

QString q(const char* text) { return QString::fromUtf8(text); }

// A recovery log's header: three tagged UTF-16 texts (kind, signature, disk) and the mode.
std::string logHeader(const std::string& signature, std::uint32_t mode)
{
    std::string out;
    for (const std::string& text : {std::string("Hard Disk"), signature, std::string("Fixture Disk")}) {
        out += "\xFF\xFE\xFF";
        out += static_cast<char>(text.size());
        for (char c : text) {
            out += c;
            out += '\0';
        }
    }
    for (int i = 0; i < 4; ++i) out += static_cast<char>((mode >> (8 * i)) & 0xFF);
    return out;
}

void writeFile(const std::string& path, const std::string& bytes)
{
    std::ofstream(path, std::ios::binary) << bytes;
}

}  // namespace

class LauncherTest : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void initTestCase() { qRegisterMetaType<CRecoveryScreen*>(); }

    void modesTheirTextsAndTooltips()
    {
        ScriptedDialogs dialogs;
        AppContext context = uitest::imagesOnlyContext(dialogs);
        CMainWindow window(context);
        QCOMPARE(window.windowTitle(), QStringLiteral("Kestravon FAT Recovery"));
        const struct {
            ScreenMode mode;
            const char* tooltip;
        } rows[] = {{ScreenMode::Basic, "Start with 'Basic Search' mode"},
                    {ScreenMode::Deep, "Start with 'Deep Search' mode"},
                    {ScreenMode::Signature, "Start with 'Signature Search' mode"}};
        for (const auto& row : rows) {
            QCOMPARE(window.goButton(row.mode)->text(), QStringLiteral("Go"));
            QCOMPARE(window.goButton(row.mode)->toolTip(), q(row.tooltip));
        }
        QStringList labels;
        for (const QLabel* label : window.findChildren<QLabel*>()) labels << label->text();
        for (const char* text : {"Basic Search", "Deep Search", "Signature Search", texts::kBasicSearchDescription,
                                 texts::kDeepSearchDescription, texts::kSignatureSearchDescription})
            QVERIFY2(labels.contains(q(text)), text);
        for (const char* name : {"aboutUs", "needHelp", "exit"}) QVERIFY(window.findChild<QPushButton*>(name));
        QCOMPARE(window.actions().value(0)->text(), q(texts::kAboutMenuEntry));
    }

    void eachGoOpensItsScreenOnce_data()
    {
        QTest::addColumn<int>("mode");
        QTest::addColumn<QString>("title");
        QTest::newRow("Basic Search") << 1 << "Kestravon FAT Recovery - Basic Search";
        QTest::newRow("Deep Search") << 2 << "Kestravon FAT Recovery - Deep Search";
        QTest::newRow("Signature Search") << 5 << "Kestravon FAT Recovery - Signature Search";
    }
    void eachGoOpensItsScreenOnce()
    {
        QFETCH(int, mode);
        QFETCH(QString, title);
        const std::string image = uitest::fixture("disk_mbr.img");
        const std::string digest = kfr::test::fileDigest(image);
        ScriptedDialogs dialogs;
        AppContext context = uitest::imagesOnlyContext(dialogs, {image});
        context.commandLineLogPath = "/some/log.MFT";  // a launch from the launcher drops it
        CMainWindow window(context);
        window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&window));
        QSignalSpy opened(&window, &CMainWindow::screenOpened);

        // Twice quickly, then once more through another mode's button: one screen.
        QPushButton* go = window.goButton(static_cast<ScreenMode>(mode));
        QTest::mouseClick(go, Qt::LeftButton);
        QTest::mouseClick(go, Qt::LeftButton);
        window.launchMode(static_cast<ScreenMode>(mode));
        window.launchMode(mode == 1 ? ScreenMode::Deep : ScreenMode::Basic);
        QCOMPARE(opened.count(), 1);
        QCOMPARE(window.launcher().mode(), mode);
        QVERIFY(window.launcher().launching());
        QVERIFY(context.commandLineLogPath.empty());
        QPointer<CRecoveryScreen> screen = window.screen();
        QVERIFY(screen);
        QCOMPARE(int(screen->mode()), mode);
        QCOMPARE(screen->windowTitle(), title);

        // The launch window shows until the screen has filled its drive tree; then the screen
        // takes over and the main window hides.
        QVERIFY(window.launchWindow());
        QTRY_VERIFY_WITH_TIMEOUT(screen->isVisible(), 20000);
        QVERIFY(!window.launchWindow());
        QVERIFY(!window.isVisible());
        QCOMPARE(screen->drivePage()->tree()->topLevelItem(0)->text(0), QStringLiteral("My Computer"));
        QCOMPARE(screen->drivePage()->rangePanel() != nullptr, mode != 1);  // Basic Search has no slider

        // Back on the drive stage: to the launcher, which may open a screen again.
        screen->back();
        QTRY_VERIFY(window.isVisible());
        QVERIFY(window.isEnabled());
        QVERIFY(!window.launcher().launching());
        QTRY_VERIFY(!screen);
        window.launchMode(static_cast<ScreenMode>(mode));
        QCOMPARE(opened.count(), 2);
        QTRY_VERIFY_WITH_TIMEOUT(window.screen() && window.screen()->isVisible(), 20000);
        QCOMPARE(kfr::test::fileDigest(image), digest);
    }

    void splashClosesOnceThePendingLogIsGone()
    {
        std::string pending = "/home/u/scan.MFT";
        CSplashWindow splash([&pending] { return pending.empty(); });
        splash.show();
        QTest::qWait(2100);
        QVERIFY(splash.isVisible());  // the log is still pending
        QCOMPARE(splash.windowTitle(), q(texts::kProductName));
        pending.clear();
        QTRY_VERIFY_WITH_TIMEOUT(!splash.isVisible(), 2500);
    }

    // A log named on the command line that cannot be opened ends the program at once, without a
    // message and without the launcher.
    void missingLogEndsTheProgramSilently()
    {
        QProcess program;
        program.setProcessChannelMode(QProcess::MergedChannels);
        program.start(QStringLiteral(KFR_BIN_DIR "/kestravon-recovery"), {"--no-register", "/nonexistent/scan.MFT"});
        QVERIFY(program.waitForFinished(20000));
        QCOMPARE(program.exitCode(), 1);
    }

    void launchWindowBarStepsByTwoAndStartsOver()
    {
        CLaunchWindow launch;
        QCOMPARE(launch.bar()->minimum(), 0);
        QCOMPARE(launch.bar()->maximum(), 100);
        QCOMPARE(launch.bar()->value(), 0);
        launch.step();
        QCOMPARE(launch.bar()->value(), 2);
        for (int i = 0; i < 49; ++i) launch.step();
        QCOMPARE(launch.bar()->value(), 100);
        launch.step();  // full: from the beginning again
        QCOMPARE(launch.bar()->value(), 0);
        QCOMPARE(launch.findChild<QLabel*>()->text(), q(texts::kLaunchLoadingText));
    }

    void exitAsksAndEscapeDoesNothing()
    {
        ScriptedDialogs dialogs;
        AppContext context = uitest::imagesOnlyContext(dialogs);
        CMainWindow window(context);
        window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&window));
        QSignalSpy exit(&window, &CMainWindow::exitConfirmed);

        QTest::keyClick(&window, Qt::Key_Escape);
        QVERIFY(window.isVisible());
        QVERIFY(dialogs.shown.isEmpty());

        dialogs.askAnswers = {false};
        window.findChild<QPushButton*>("exit")->click();
        QCOMPARE(dialogs.shown, QStringList{q(texts::kExitQuestion)});
        QCOMPARE(exit.count(), 0);
        QVERIFY(window.isVisible());

        dialogs.askAnswers = {false, true};
        window.close();  // the close box asks the same question
        QCOMPARE(exit.count(), 0);
        window.close();
        QCOMPARE(exit.count(), 1);
    }

    void needHelpWithoutTheDocumentSaysSo()
    {
        ScriptedDialogs dialogs;
        AppContext context = uitest::imagesOnlyContext(dialogs);
        CMainWindow window(context);
        kfr::test::TempDir empty;
        window.setProgramDir(QString::fromStdString(empty.path()));
        QTimer::singleShot(0, &window, [] {
            QWidget* help = QApplication::activeModalWidget();
            QVERIFY(help);
            help->findChild<QPushButton*>("launchHelpFile")->click();
            help->close();
        });
        window.showHelp();
        QCOMPARE(dialogs.shown, QStringList{q(texts::kDoesNotExistText)});
    }

    void commandLineLogPath_data()
    {
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<QString>("path");
        QTest::newRow("none") << QStringList{} << "";
        QTest::newRow("plain") << QStringList{"/home/u/scan.MFT"} << "/home/u/scan.MFT";
        QTest::newRow("quoted, blanks around") << QStringList{"  \"/home/u/my scan.MFT\" "} << "/home/u/my scan.MFT";
        QTest::newRow("split by blanks, quotes removed once") << QStringList{"\"/home/u/my", "scan.MFT\""} << "/home/u/my scan.MFT";
        QTest::newRow("only one quote") << QStringList{"\"/tmp/a.MFT"} << "/tmp/a.MFT";
    }
    void commandLineLogPath()
    {
        QFETCH(QStringList, arguments);
        QFETCH(QString, path);
        std::vector<std::string> args;
        for (const QString& a : arguments) args.push_back(a.toStdString());
        QCOMPARE(QString::fromStdString(ui::commandLineLogPath(args)), path);
    }

    void missingSignatureFileEndsWithTheSystemsReason()
    {
        kfr::test::TempDir dir;
        QCOMPARE(checkSignatureFiles(dir.path()).value_or(""),
                 std::string("Couldn't open source file: No such file or directory"));
        writeFile(dir.file("MFTSig.dll"), "x");
        QVERIFY(checkSignatureFiles(dir.path()));  // the Thorough file is missing still
        writeFile(dir.file("MFTSigAdv.dll"), "x");
        QVERIFY(!checkSignatureFiles(dir.path()));
    }

    void logFilesAreAssociatedForThisUser()
    {
        kfr::test::TempDir dir;
        const XdgFolders folders{QString::fromStdString(dir.file("data")), QString::fromStdString(dir.file("config"))};
        QDir().mkpath(folders.configHome);
        writeFile(dir.file("config/mimeapps.list"),
                  "[Default Applications]\ntext/plain=editor.desktop\n\n[Added Associations]\nimage/png=viewer.desktop\n");
        const QString program = QStringLiteral("/opt/My Tools/kestravon-recovery");
        QVERIFY(registerLogFileType(program, folders));
        QVERIFY(registerLogFileType(program, folders));  // every start writes it again, unchanged

        auto read = [](const QString& path) {
            QFile f(path);
            return f.open(QIODevice::ReadOnly) ? QString::fromUtf8(f.readAll()) : QString();
        };
        const QString mime = read(folders.dataHome + "/mime/packages/kestravon-recovery.xml");
        QVERIFY(mime.contains("<glob pattern=\"*.MFT\"/>"));
        QVERIFY(mime.contains("<comment>Log File</comment>"));
        const QString entry = read(folders.dataHome + "/applications/kestravon-recovery.desktop");
        QVERIFY2(entry.contains("Exec=\"/opt/My Tools/kestravon-recovery\" %f\n"), qPrintable(entry));
        QVERIFY(entry.contains(QStringLiteral("MimeType=%1;").arg(kLogMimeType)));
        const QString list = read(folders.configHome + "/mimeapps.list");
        QCOMPARE(list.count(QStringLiteral("%1=kestravon-recovery.desktop").arg(kLogMimeType)), 1);
        QVERIFY(list.contains("text/plain=editor.desktop"));
        QVERIFY(list.contains("[Added Associations]\nimage/png=viewer.desktop"));

        // A folder that cannot be written is reported, not thrown.
        QVERIFY(!registerLogFileType(program, XdgFolders{"/proc/no-such-place", "/proc/no-such-place"}));
    }

    void logNamedOnTheCommandLine_data()
    {
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<int>("verdict");
        QTest::newRow("Basic log") << QByteArray::fromStdString(logHeader("KestravonWIN7SR2013", 1)) << int(LogHeaderVerdict::Basic);
        QTest::newRow("Deep log") << QByteArray::fromStdString(logHeader("KestravonWIN7SR2013", 2)) << int(LogHeaderVerdict::Deep);
        QTest::newRow("unknown mode") << QByteArray::fromStdString(logHeader("KestravonWIN7SR2013", 5)) << int(LogHeaderVerdict::Invalid);
        QTest::newRow("wrong signature") << QByteArray::fromStdString(logHeader("SomethingElse", 1)) << int(LogHeaderVerdict::Invalid);
        QTest::newRow("cut short") << QByteArray::fromStdString(logHeader("KestravonWIN7SR2013", 1).substr(0, 30)) << int(LogHeaderVerdict::Invalid);
        QTest::newRow("not a log") << QByteArray("hello, world\n") << int(LogHeaderVerdict::Invalid);
        QTest::newRow("empty") << QByteArray() << int(LogHeaderVerdict::Invalid);
    }
    void logNamedOnTheCommandLine()
    {
        QFETCH(QByteArray, bytes);
        QFETCH(int, verdict);
        kfr::test::TempDir dir;
        writeFile(dir.file("scan.MFT"), bytes.toStdString());
        QCOMPARE(int(readLogHeader(dir.file("scan.MFT"))), verdict);
        QCOMPARE(int(readLogHeader(dir.file("missing.MFT"))), int(LogHeaderVerdict::CannotOpen));
    }

    // pkexec stands in as a script: it records what it was asked to run and ends as told.
    void restartThroughPkexec_data()
    {
        QTest::addColumn<int>("pkexecExit");
        QTest::addColumn<bool>("refused");
        QTest::newRow("password dialog dismissed") << 126 << true;
        QTest::newRow("not authorised") << 127 << true;
        QTest::newRow("the privileged program ended well") << 0 << false;
        QTest::newRow("the privileged program failed") << 3 << false;
    }
    void restartThroughPkexec()
    {
        QFETCH(int, pkexecExit);
        QFETCH(bool, refused);
        kfr::test::TempDir dir;
        writeFile(dir.file("pkexec"), "#!/bin/sh\nprintf '%s\\n' \"$@\" > \"$(dirname \"$0\")/asked\"\nexit " +
                                          std::to_string(pkexecExit) + "\n");
        QFile::setPermissions(QString::fromStdString(dir.file("pkexec")),
                              QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
        const QByteArray path = qgetenv("PATH");
        qputenv("PATH", QByteArray::fromStdString(dir.path()) + ":" + path);

        QObject owner;
        std::optional<std::pair<bool, int>> end;
        QString error;
        const bool started = restartWithPkexec(
            "/usr/bin/kestravon-recovery", {"--image", "/tmp/my disk.img"}, &owner,
            [&](bool wasRefused, int exitCode) { end = std::make_pair(wasRefused, exitCode); }, &error);
        qputenv("PATH", path);
        QVERIFY2(started, qPrintable(error));
        QTRY_VERIFY(end.has_value());
        QCOMPARE(end->first, refused);
        QCOMPARE(end->second, pkexecExit);
        QFile asked(QString::fromStdString(dir.file("asked")));
        QVERIFY(asked.open(QIODevice::ReadOnly));
        QCOMPARE(QString::fromUtf8(asked.readAll()), QStringLiteral("/usr/bin/kestravon-recovery\n--image\n/tmp/my disk.img\n"));
    }

    void commandLineLogOpensItsScreenOrIsRefused_data()
    {
        QTest::addColumn<QByteArray>("bytes");  // empty: no such file
        QTest::addColumn<bool>("goesOn");
        QTest::addColumn<int>("screenMode");  // 0: none
        QTest::newRow("Basic log: the Basic screen") << QByteArray::fromStdString(logHeader("KestravonWIN7SR2013", 1)) << true << 1;
        QTest::newRow("Deep log: the Deep screen") << QByteArray::fromStdString(logHeader("KestravonWIN7SR2013", 2)) << true << 2;
        QTest::newRow("not a log: the message, the launcher stays") << QByteArray("plain text\n") << true << 0;
        QTest::newRow("no such file: the program ends") << QByteArray() << false << 0;
    }
    void commandLineLogOpensItsScreenOrIsRefused()
    {
        QFETCH(QByteArray, bytes);
        QFETCH(bool, goesOn);
        QFETCH(int, screenMode);
        kfr::test::TempDir dir;
        if (!bytes.isEmpty()) writeFile(dir.file("scan.MFT"), bytes.toStdString());
        ScriptedDialogs dialogs;
        AppContext context = uitest::imagesOnlyContext(dialogs, {uitest::fixture("disk_mbr.img")});
        context.commandLineLogPath = dir.file("scan.MFT");
        CMainWindow window(context);
        QSignalSpy dropped(&window, &CMainWindow::commandLineLogDropped);
        QCOMPARE(window.openLogFromCommandLine(), goesOn);
        if (!goesOn) {
            QVERIFY(!window.isVisible());
            QVERIFY(dialogs.shown.isEmpty());
            return;
        }
        if (screenMode == 0) {
            QCOMPARE(dialogs.shown, QStringList{q(texts::kInvalidLogText)});
            QCOMPARE(dropped.count(), 1);
            QVERIFY(context.commandLineLogPath.empty());
            QVERIFY(!window.screen());
            QVERIFY(window.isVisible());
            return;
        }
        QVERIFY(window.screen());
        QCOMPARE(int(window.screen()->mode()), screenMode);
        QCOMPARE(dropped.count(), 0);
        // The screen loads the log once its drive tree is filled.
        QTRY_VERIFY_WITH_TIMEOUT(window.screen()->isVisible(), 20000);
    }

    void helpDocumentIsLookedForBesideTheProgram()
    {
        kfr::test::TempDir dir;
        const QString bin = QString::fromStdString(dir.file("bin"));
        QDir().mkpath(bin);
        QVERIFY(helpFilePath(bin).isEmpty());  // the caller then says "Does not exist."
        QDir().mkpath(QString::fromStdString(dir.file("share/kestravon")));
        writeFile(dir.file("share/kestravon/Software Guide.html"), "<html></html>");
        QCOMPARE(helpFilePath(bin), QString::fromStdString(dir.file("share/kestravon/Software Guide.html")));
        writeFile(dir.file("bin/Software Guide.html"), "<html></html>");
        QCOMPARE(helpFilePath(bin), QString::fromStdString(dir.file("bin/Software Guide.html")));
    }
};

QTEST_MAIN(LauncherTest)
#include "launcher_test.moc"
