// Whole recoveries through the Basic and Deep screens, as a user drives them: add an image, pick
// the drive, Next, wait while the tree grows, browse the folders (the list, the names learned on
// expansion, the check boxes), save the ticked folders through the save windows and compare the
// files with the originals; Save Log, Back, Load Log gives the same tree; Stop halfway keeps what
// was found; a volume without its boot sector comes back through Deep Search.
#include <QComboBox>
#include <QElapsedTimer>
#include <QFile>
#include <QDir>
#include <QDirIterator>
#include <QFileInfo>
#include <QLabel>
#include <QListWidget>
#include <QMap>
#include <QRegularExpression>
#include <QProgressBar>
#include <QPushButton>
#include <QSignalSpy>
#include <QTest>
#include <filesystem>
#include <fstream>
#include <thread>

#include "export/output_file.h"
#include "session/recovery_session.h"
#include "texts/log_texts.h"
#include "texts/messages.h"
#include "texts/screen_texts.h"
#include "ui/basic_search.h"
#include "ui/deep_search.h"
#include "ui/drive_stage_page.h"
#include "ui/results_models.h"
#include "ui/results_page.h"
#include "ui/save_flow.h"
#include "ui/save_windows.h"
#include "ui/sector_range_panel.h"
#include "ui_test_support.h"

using namespace kfr;
using namespace kfr::ui;
using kfr::uitest::ScriptedDialogs;

namespace {

QString q(const char* text) { return QString::fromUtf8(text); }

// A medium that gives its sectors slowly, so a test can stop a scan halfway.
class SlowSource final : public storage::SectorSource {
public:
    explicit SlowSource(std::unique_ptr<storage::SectorSource> inner) : m_inner(std::move(inner)) {}
    bool read(std::uint64_t sector, std::uint32_t count, std::span<std::uint8_t> buffer) const override
    {
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
        return m_inner->read(sector, count, buffer);
    }
    std::uint64_t sectorCount() const override { return m_inner->sectorCount(); }
    const std::string& path() const override { return m_inner->path(); }

private:
    std::unique_ptr<storage::SectorSource> m_inner;
};

session::SourceOpener slowOpener()
{
    return [](const std::string& path) -> Result<std::shared_ptr<const storage::SectorSource>> {
        auto opened = storage::openSource(path);
        if (!opened) return opened.error();
        return std::shared_ptr<const storage::SectorSource>(std::make_shared<SlowSource>(std::move(opened).value()));
    };
}

void openAndWait(CRecoveryScreen& screen)
{
    QSignalSpy listed(&screen, &CRecoveryScreen::drivesListed);
    screen.startOpening();
    QVERIFY(listed.wait(20000));
}

int firstDisk(const CRecoveryScreen& screen)
{
    return screen.driveStage().tree().item(DriveTree::kPhysicalDrives).children.at(0);
}

// Next on the image's disk item; waits for the scan and the first listing (of "Root").
void scanAndWait(CResultsScreen& screen)
{
    QSignalSpy finished(&screen, &CResultsScreen::scanFinished);
    QSignalSpy populated(&screen, &CResultsScreen::populated);
    screen.drivePage()->selectItem(firstDisk(screen));
    screen.next();
    QVERIFY(screen.state().resultsCount == 1);
    QVERIFY(finished.wait(120000));
    if (populated.isEmpty()) QVERIFY(populated.wait(60000));
    QTRY_VERIFY_WITH_TIMEOUT(!screen.state().listPopulating, 60000);
}

// Every folder of the tree as "parent/child" paths, in tree order.
QStringList treePaths(ResultsTreeModel& model, const QModelIndex& parent = {}, const QString& prefix = {})
{
    QStringList out;
    for (int r = 0; r < model.rowCount(parent); ++r) {
        const QModelIndex index = model.index(r, 0, parent);
        const QString path = prefix.isEmpty() ? model.data(index, Qt::DisplayRole).toString()
                                              : prefix + "/" + model.data(index, Qt::DisplayRole).toString();
        out << path;
        out << treePaths(model, index, path);
    }
    return out;
}

QModelIndex folderIndex(ResultsTreeModel& model, const QString& path)
{
    QModelIndex at;
    for (const QString& name : path.split('/')) {
        QModelIndex next;
        for (int r = 0; r < model.rowCount(at); ++r)
            if (model.data(model.index(r, 0, at), Qt::DisplayRole).toString() == name) next = model.index(r, 0, at);
        if (!next.isValid()) return {};
        at = next;
    }
    return at;
}

// Selects a folder in the tree and waits for its listing.
void listFolder(CResultsScreen& screen, const QString& path)
{
    const QModelIndex index = folderIndex(screen.treeModel(), path);
    QVERIFY2(index.isValid(), qPrintable(path));
    QSignalSpy populated(&screen, &CResultsScreen::populated);
    screen.resultsPage()->tree()->setCurrentIndex(index);
    QVERIFY(populated.wait(60000));
}

QStringList listNames(const ItemListModel& list)
{
    QStringList names;
    for (int r = 0; r < list.size(); ++r) names << list.text(r, 0);
    return names;
}

int rowNamed(const ItemListModel& list, const QString& name)
{
    for (int r = 0; r < list.size(); ++r)
        if (list.text(r, 0) == name) return r;
    return -1;
}

// The live files of the fixture's manifest under a folder, with their digests.
QMap<QString, QString> manifestFiles(const char* image, const QString& under)
{
    QMap<QString, QString> out;
    QFile in(QString(KFR_FIXTURE_SOURCE_DIR) + "/originals/" + image + "/MANIFEST.tsv");
    if (!in.open(QIODevice::ReadOnly)) return out;
    for (const QString& line : QString::fromUtf8(in.readAll()).split('\n')) {
        const QStringList f = line.split('\t');
        if (f.size() < 5 || f[0] != "file" || f[1] != "live" || !f[4].startsWith(under + "/")) continue;
        out.insert(f[4], f[3]);
    }
    return out;
}

// Saves the ticked folders through the save windows and waits for the run to end (a run that
// is not expected to start, for nothing ticked or Cancel, is not waited for).
exporting::SaveRunReport saveAndWait(CResultsScreen& screen, bool starts = true)
{
    QSignalSpy finished(screen.saveFlow(), &SaveFlow::finished);
    screen.save();
    if (!starts) {
        QCoreApplication::processEvents();
        return finished.isEmpty() ? exporting::SaveRunReport{} : finished.at(0).at(0).value<exporting::SaveRunReport>();
    }
    if (finished.isEmpty()) finished.wait(60000);
    return finished.isEmpty() ? exporting::SaveRunReport{} : finished.at(0).at(0).value<exporting::SaveRunReport>();
}

// A Basic Search screen opened on one image, its boxes answered by a script that scans a whole
// disk when asked.
struct BasicRun {
    explicit BasicRun(const std::string& image)
    {
        dialogs.wholeDiskAnswer = true;
        context = uitest::imagesOnlyContext(dialogs, {image});
        screen = std::make_unique<CBasicSearch>(context);
        openAndWait(*screen);
    }
    ScriptedDialogs dialogs;
    AppContext context;
    std::unique_ptr<CBasicSearch> screen;
};

}  // namespace

class ResultsScreenTest : public QObject {
    Q_OBJECT
    std::string m_volume;
    std::string m_volumeDigest;

private Q_SLOTS:
    void initTestCase()
    {
        m_volume = uitest::fixture("fat16_basic.img");
        QVERIFY(QFile::exists(QString::fromStdString(m_volume)));
        m_volumeDigest = kfr::test::fileDigest(m_volume);
    }
    void cleanupTestCase() { QCOMPARE(kfr::test::fileDigest(m_volume), m_volumeDigest); }

    // Next, the growing tree, the list of "Root", a subfolder, the check boxes, the columns.
    void basicSearchBrowsesTheResults()
    {
        BasicRun run(m_volume);
        ScriptedDialogs& dialogs = run.dialogs;
        CBasicSearch& screen = *run.screen;
        screen.show();
        // A volume image has no partition table: the whole medium is the volume, from sector 0.
        scanAndWait(screen);
        QVERIFY(screen.target());
        QCOMPARE(screen.target()->firstSector, std::uint64_t{0});
        CResultsPage* page = screen.resultsPage();
        QCOMPARE(screen.currentStage(), static_cast<QWidget*>(page));
        QVERIFY2(dialogs.shown.isEmpty(), qPrintable(dialogs.shown.join('|')));

        const QStringList tree = treePaths(screen.treeModel());
        for (const char* path : {"Root", "Root/Documents", "Root/Documents/Work/Reports/2023", "Root/Pictures/Camera",
                                 "Root/Old Projects", "Root/Empty Folder"})
            QVERIFY2(tree.contains(q(path)), qPrintable(tree.join('|')));

        // "Root" is listed: folders first, then files, with the Basic screen's columns.
        ItemListModel& list = screen.listModel();
        QCOMPARE(page->currentFolderLabel()->text(), QStringLiteral("Root"));
        QCOMPARE(list.headerData(5, Qt::Horizontal, Qt::DisplayRole).toString(), QStringLiteral("SelfCluster-Debug Info 1"));
        QVERIFY(page->list()->isColumnHidden(5) && page->list()->isColumnHidden(8) && !page->list()->isColumnHidden(4));
        const int readme = rowNamed(list, "README.TXT");
        QVERIFY2(readme >= 0, qPrintable(listNames(list).join('|')));
        QCOMPARE(list.text(readme, 2), QStringLiteral("1234"));
        QCOMPARE(list.text(rowNamed(list, "Documents"), 1), QStringLiteral("FOLDER"));
        QVERIFY(rowNamed(list, "Deleted Notes.txt") >= 0);
        int folderRows = 0;
        int labelRows = 0;  // the volume's label is listed, but is no file
        for (int r = 0; r < list.size(); ++r) {
            folderRows += list.text(r, 1) == "FOLDER";
            labelRows += list.row(r).kind == recovery::RowKind::VolumeLabel;
        }
        QCOMPARE(page->countsLabel()->text(),
                 QStringLiteral("%1 Folders, %2 Files").arg(folderRows).arg(list.size() - folderRows - labelRows));

        // Sorting by size is numeric: 900 before 1234 before 5000.
        list.sortRows(2, true, false);
        QVERIFY(rowNamed(list, "café_ünïcode.txt") < rowNamed(list, "README.TXT"));
        QVERIFY(rowNamed(list, "README.TXT") < rowNamed(list, "NOTES.TXT"));
        list.sortRows(0, false, true);
        QVERIFY(rowNamed(list, "README.TXT") < rowNamed(list, "Documents"));

        // Selecting "Root" again lists nothing twice.
        QSignalSpy populated(&screen, &CResultsScreen::populated);
        page->tree()->setCurrentIndex(QModelIndex());
        page->tree()->setCurrentIndex(folderIndex(screen.treeModel(), "Root"));
        QCOMPARE(populated.count(), 0);

        // A deep folder: its path text, and its file.
        listFolder(screen, "Root/Documents/Work/Reports/2023");
        QCOMPARE(page->currentFolderLabel()->text(), QStringLiteral("Documents \\Work \\Reports \\2023"));
        QVERIFY2(rowNamed(list, "Quarterly Summary Q3.txt") >= 0, qPrintable(listNames(list).join('|')));
        QCOMPARE(page->countsLabel()->text(), QStringLiteral("0 Folders, 1 Files"));

        // Ctrl with the keypad's plus fits the visible columns to their texts (the long name
        // needs more than a narrow column); the plain plus does not.
        page->list()->setColumnWidth(0, 30);
        QTest::keyClick(page->list(), Qt::Key_Plus, Qt::ControlModifier);
        QCOMPARE(page->list()->columnWidth(0), 30);
        QTest::keyClick(page->list(), Qt::Key_Plus, Qt::ControlModifier | Qt::KeypadModifier);
        QVERIFY(page->list()->columnWidth(0) > 100);
        QCOMPARE(page->list()->columnWidth(5), 0);

        // Deleted folders and files look apart from the live ones.
        ResultsTreeModel& model = screen.treeModel();
        QVERIFY(model.data(folderIndex(model, "Root/Old Projects"), Qt::ForegroundRole).isValid());
        QVERIFY(!model.data(folderIndex(model, "Root/Documents"), Qt::ForegroundRole).isValid());

        // Check boxes: one of the top item's folders ticked makes the top item partly checked.
        const QModelIndex documents = folderIndex(model, "Root/Documents");
        QVERIFY(model.setData(documents, Qt::Checked, Qt::CheckStateRole));
        QCOMPARE(model.data(documents, Qt::CheckStateRole).toInt(), int(Qt::Checked));
        QCOMPARE(model.data(folderIndex(model, "Root/Documents/Work/Reports"), Qt::CheckStateRole).toInt(), int(Qt::Checked));
        QCOMPARE(model.data(folderIndex(model, "Root"), Qt::CheckStateRole).toInt(), int(Qt::PartiallyChecked));
        model.setData(folderIndex(model, "Root/Documents/Work"), Qt::Unchecked, Qt::CheckStateRole);
        QCOMPARE(model.data(documents, Qt::CheckStateRole).toInt(), int(Qt::PartiallyChecked));
        model.setData(folderIndex(model, "Root"), Qt::Checked, Qt::CheckStateRole);  // partial -> unchecked
        model.setData(folderIndex(model, "Root"), Qt::Checked, Qt::CheckStateRole);
        QCOMPARE(model.data(folderIndex(model, "Root/Old Projects"), Qt::CheckStateRole).toInt(), int(Qt::Checked));

        // While the list is shown, the commands that need a finished scan or the drive stage refuse.
        dialogs.shown.clear();
        screen.refreshTree();
        screen.loadLog();
        QCOMPARE(dialogs.shown, (QStringList{q(texts::kRefreshRefusedMessage), q(texts::kLoadLogAfterScanMessage)}));

        // Back empties the results and returns to the drive stage.
        screen.back();
        QCOMPARE(screen.currentStage(), static_cast<QWidget*>(screen.drivePage()));
        QCOMPARE(model.rowCount(), 0);
        QCOMPARE(list.size(), 0);
        QVERIFY(!screen.results());
    }

    // Save Log, Back, Load Log: the same tree, ready for browsing; the log of the other mode is
    // handed over.
    void recoveryLogRoundTrip()
    {
        test::TempDir dir;
        BasicRun run(m_volume);
        ScriptedDialogs& dialogs = run.dialogs;
        CBasicSearch& screen = *run.screen;
        screen.saveLog();  // before any scan: M5
        QCOMPARE(dialogs.shown.value(0), q(texts::kSaveLogBeforeScanMessage));
        scanAndWait(screen);
        listFolder(screen, "Root/Documents");  // names learned by listing go into the log too
        const QStringList before = treePaths(screen.treeModel());

        dialogs.saveLogPath = QString::fromStdString(dir.file("scan.MFT"));
        dialogs.shown.clear();
        QSignalSpy saved(&screen, &CResultsScreen::logSaved);
        screen.saveLog();
        QVERIFY(saved.wait(60000));
        QCOMPARE(dialogs.shown, QStringList{q(texts::kLogSavedText)});
        QVERIFY(QFile::exists(dialogs.saveLogPath));

        screen.back();
        dialogs.loadLogPath = dialogs.saveLogPath;
        dialogs.shown.clear();
        QSignalSpy loaded(&screen, &CResultsScreen::logLoaded);
        screen.loadLog();
        QVERIFY(loaded.wait(60000));
        QCOMPARE(dialogs.shown.value(0), q(texts::kLogLoadedText));
        QCOMPARE(screen.currentStage(), static_cast<QWidget*>(screen.resultsPage()));
        QVERIFY(screen.fromLog());
        QCOMPARE(treePaths(screen.treeModel()), before);
        QTRY_VERIFY_WITH_TIMEOUT(!screen.state().listPopulating, 60000);
        QVERIFY(rowNamed(screen.listModel(), "README.TXT") >= 0);
        QCOMPARE(dialogs.emptyNotices, 0);

        // The same log opened on the Deep screen asks to switch; Yes hands it over.
        ScriptedDialogs deepDialogs;
        deepDialogs.loadLogPath = dialogs.saveLogPath;
        deepDialogs.askAnswers = {true};
        AppContext deepContext = uitest::imagesOnlyContext(deepDialogs, {m_volume});
        CDeepSearch deep(deepContext);
        openAndWait(deep);
        QSignalSpy deepLoaded(&deep, &CResultsScreen::logLoaded);
        QSignalSpy finished(&deep, &QDialog::finished);
        deep.loadLog();
        QVERIFY(deepLoaded.wait(60000));
        QCOMPARE(deepDialogs.shown.value(0), q(texts::kSwitchToBasicQuestion));
        QCOMPARE(finished.count(), 1);
        QCOMPARE(finished.at(0).at(0).toInt(), CRecoveryScreen::kSwitchScreen);
        QCOMPARE(deepContext.switchToMode, int(ScreenMode::Basic));
        QCOMPARE(QString::fromStdString(deepContext.commandLineLogPath), dialogs.saveLogPath);

        // The medium listed under another disk number (another image listed before it): the
        // loader's question comes up on the screen while the load waits; No loads nothing, Yes
        // loads the log from the medium where it is now.
        for (const bool yes : {false, true}) {
            ScriptedDialogs movedDialogs;
            movedDialogs.loadLogPath = dialogs.saveLogPath;
            movedDialogs.askAnswers = {yes};
            AppContext movedContext = uitest::imagesOnlyContext(movedDialogs, {uitest::fixture("fat32_basic.img"), m_volume});
            CBasicSearch moved(movedContext);
            openAndWait(moved);
            QSignalSpy movedLoaded(&moved, &CResultsScreen::logLoaded);
            moved.loadLog();
            QVERIFY(movedLoaded.wait(60000));
            if (yes) {
                QCOMPARE(treePaths(moved.treeModel()), before);
            } else {
                QVERIFY(!moved.results());
                QCOMPARE(moved.currentStage(), static_cast<QWidget*>(moved.drivePage()));
            }
            QCOMPARE(movedDialogs.shown.value(0), QString::fromStdString(texts::diskMovedQuestion(1, 2)));
        }
    }

    // A volume whose boot sector is gone comes back through Deep Search with its folders.
    void deepSearchWithoutBootSector()
    {
        test::TempDir dir;
        const std::string image = dir.file("no_boot.img");
        std::filesystem::copy_file(m_volume, image);
        {
            std::fstream f(image, std::ios::in | std::ios::out | std::ios::binary);
            const std::string zeros(512, '\0');
            f.write(zeros.data(), 512);
        }
        ScriptedDialogs dialogs;
        AppContext context = uitest::imagesOnlyContext(dialogs, {image});
        CDeepSearch screen(context);
        openAndWait(screen);
        // "Unknown" is refused and the drive stage stays.
        screen.drivePage()->selectItem(firstDisk(screen));
        screen.next();
        QCOMPARE(dialogs.shown.value(0), q(texts::kSelectFileSystemMessage));
        QCOMPARE(screen.state().resultsCount, 0);
        QCOMPARE(screen.currentStage(), static_cast<QWidget*>(screen.drivePage()));

        screen.fileSystemChoice()->setCurrentText("FAT16");
        dialogs.shown.clear();
        scanAndWait(screen);
        QVERIFY2(dialogs.shown.isEmpty(), qPrintable(dialogs.shown.join('|')));
        QCOMPARE(screen.listModel().headerData(9, Qt::Horizontal, Qt::DisplayRole).toString(), QStringLiteral("FILE_SYS"));
        const QStringList tree = treePaths(screen.treeModel());
        const QString reports = tree.filter("/2023").value(0);
        QVERIFY2(!reports.isEmpty(), qPrintable(tree.join('|')));
        listFolder(screen, reports);
        const int row = rowNamed(screen.listModel(), "Quarterly Summary Q3.txt");
        QVERIFY2(row >= 0, qPrintable(listNames(screen.listModel()).join('|')));
        QCOMPARE(screen.listModel().text(row, 2), QStringLiteral("4321"));

        // Ticked and saved, the file is the original.
        ResultsTreeModel& model = screen.treeModel();
        model.setData(folderIndex(model, reports), Qt::Checked, Qt::CheckStateRole);
        test::TempDir out;
        dialogs.destinations = {QString::fromStdString(out.path())};
        const exporting::SaveRunReport report = saveAndWait(screen);
        QCOMPARE(report.end, exporting::SaveEnd::Finished);
        QDirIterator found(QString::fromStdString(out.path()), {"Quarterly Summary Q3.txt"}, QDir::Files,
                           QDirIterator::Subdirectories);
        QVERIFY(found.hasNext());
        const QString saved = found.next();
        QVERIFY2(saved.endsWith("/2023/Quarterly Summary Q3.txt"), qPrintable(saved));
        QCOMPARE(QString::fromStdString(test::fileDigest(saved.toStdString())),
                 manifestFiles("fat16_basic", "Documents").value("Documents/Work/Reports/2023/Quarterly Summary Q3.txt"));
    }

    // Stop during the sweep: the scan ends, and what it found before stays browsable.
    void stopHalfwayKeepsTheFoldersFound()
    {
        test::TempDir dir;
        const std::string image = dir.file("long.img");
        std::filesystem::copy_file(m_volume, image);
        std::filesystem::resize_file(image, std::uint64_t{512} << 20);  // zeros to sweep after the volume
        ScriptedDialogs dialogs;
        AppContext context = uitest::imagesOnlyContext(dialogs, {image});
        context.sourceOpener = slowOpener();
        CDeepSearch screen(context);
        openAndWait(screen);
        screen.fileSystemChoice()->setCurrentText("FAT16");
        screen.drivePage()->selectItem(firstDisk(screen));
        QSignalSpy finished(&screen, &CResultsScreen::scanFinished);
        screen.next();
        QVERIFY(screen.state().scanRunning);
        QVERIFY(screen.resultsPage()->stopButton()->isEnabled());
        // Back, Save and Save Log are refused while the scan runs.
        dialogs.shown.clear();
        screen.back();
        screen.save();
        screen.saveLog();
        QCOMPARE(dialogs.shown, (QStringList{q(texts::kScanRunningBackMessage), q(texts::kSaveWhileScanningMessage),
                                             q(texts::kSaveLogWhileScanningMessage)}));
        // Past the volume, halfway through the zeros at most.
        QLabel* position = screen.resultsPage()->positionLabel();
        QTRY_VERIFY_WITH_TIMEOUT(position->text().section(' ', 0, 0).toULongLong() > 32768, 60000);
        QVERIFY(finished.isEmpty());
        screen.resultsPage()->stopButton()->click();
        QVERIFY(finished.wait(60000));
        QTRY_VERIFY_WITH_TIMEOUT(!screen.state().listPopulating, 60000);
        QVERIFY(screen.results());
        QCOMPARE(screen.results()->scan.end, recovery::ScanEnd::Stopped);
        const QStringList tree = treePaths(screen.treeModel());
        QVERIFY2(!tree.filter("/2023").isEmpty(), qPrintable(tree.join('|')));
    }

    // 100,000 folders placed in batches and a folder of 50,000 files go into the views as plain
    // model rows: the tree keeps its shape, and the list scrolls to its end.
    void largeResultsStayModelRows()
    {
        ResultsTreeModel tree;
        ItemListModel list;
        CResultsPage page(&tree, &list);
        page.resize(900, 600);
        page.show();
        constexpr recovery::ItemId kRoot = 1;
        std::vector<recovery::PlacedFolder> batch;
        QElapsedTimer clock;
        clock.start();
        for (recovery::ItemId item = 2; item < 100'002; ++item) {
            // Ten top-level folders, each holding a chain of subfolders.
            const recovery::ItemId parent = item < 12 ? kRoot : item - 10;
            batch.push_back({item, parent, "DIR" + std::to_string(item), item, parent, false});
            if (batch.size() == 1024) {
                tree.addPlaced(batch);
                batch.clear();
                QCoreApplication::processEvents();
            }
        }
        tree.addPlaced(batch);
        QCOMPARE(tree.folderCount(), std::size_t{100'001});
        QCOMPARE(tree.rowCount(tree.indexOf(kRoot)), 10);
        QCOMPARE(tree.nameOf(tree.itemOf(tree.parent(tree.indexOf(100'001)))), QStringLiteral("DIR99991"));
        page.tree()->expandAll();
        page.tree()->scrollToBottom();
        QCoreApplication::processEvents();

        std::vector<recovery::ItemRow> rows(512);
        for (int b = 0; b < 100; ++b) {
            for (std::size_t r = 0; r < rows.size(); ++r) {
                rows[r].kind = recovery::RowKind::FatFile;
                rows[r].name = "FILE" + std::to_string(b * 512 + static_cast<int>(r)) + (r % 3 ? ".JPG" : ".TXT");
                rows[r].size = r;
            }
            list.append(rows, false);
            QCoreApplication::processEvents();
        }
        QCOMPARE(list.size(), 51'200);
        page.list()->scrollToBottom();
        list.sortRows(0, false, true);
        QCoreApplication::processEvents();
        QCOMPARE(list.text(0, 0), QStringLiteral("FILE9999.JPG"));
        qInfo() << "100,000 folders and 51,200 rows shown in" << clock.elapsed() << "ms";
    }

    // Tick a folder, save it through the windows, compare with the originals; a second save into
    // the same place asks about each file; a refused destination keeps the dialog asking.
    void savingTickedFolders()
    {
        test::TempDir dir;
        BasicRun run(m_volume);
        ScriptedDialogs& dialogs = run.dialogs;
        CBasicSearch& screen = *run.screen;
        scanAndWait(screen);
        dialogs.shown.clear();
        saveAndWait(screen, false);  // nothing ticked yet
        QCOMPARE(dialogs.shown, QStringList{q(texts::kNothingSelectedText)});

        ResultsTreeModel& model = screen.treeModel();
        model.setData(folderIndex(model, "Root/Documents"), Qt::Checked, Qt::CheckStateRole);
        // Cancel in the destination dialog writes nothing.
        QCOMPARE(saveAndWait(screen, false).filesTotal, std::uint64_t{0});
        QCOMPARE(dialogs.saveNotices, 1);

        const QString destination = QString::fromStdString(dir.path());
        dialogs.shown.clear();
        dialogs.destinations = {destination + "/missing", destination};
        const exporting::SaveRunReport report = saveAndWait(screen);
        QCOMPARE(dialogs.shown, QStringList{q(texts::kInvalidDestinationText)});
        QCOMPARE(report.end, exporting::SaveEnd::Finished);
        const QMap<QString, QString> expected = manifestFiles("fat16_basic", "Documents");
        QVERIFY(expected.size() >= 4);
        for (auto it = expected.begin(); it != expected.end(); ++it)
            QCOMPARE(QString::fromStdString(test::fileDigest(dir.file(it.key().toStdString()))), it.value());
        // The deleted file is saved too, under the name its entry gives (first letter lost).
        const QStringList work = QDir(QString::fromStdString(dir.file("Documents/Work"))).entryList(QDir::Files);
        QVERIFY2(!work.filter("LDPLAN.TXT").isEmpty(), qPrintable(work.join('|')));
        CSavingDlg* saving = screen.saveFlow()->savingWindow();
        QVERIFY(saving && saving->isVisible());
        QVERIFY2(saving->summaryLabel()->text().startsWith("( recovered saved data : "), qPrintable(saving->summaryLabel()->text()));

        // Again into the same folder: the first collision is answered Rename, the next Skip for all.
        exporting::ReplaceReply rename;
        rename.button = exporting::ReplaceButton::Rename;
        exporting::ReplaceReply skipAll;
        skipAll.button = exporting::ReplaceButton::Skip;
        skipAll.applyToAll = true;
        dialogs.replaceAnswers = {rename, skipAll};
        dialogs.destinations = {destination};
        const exporting::SaveRunReport again = saveAndWait(screen);
        QCOMPARE(dialogs.collisionsAsked.size(), 2);
        QCOMPARE(again.filesWritten, std::uint64_t{1});
        const QString renamed = dialogs.collisionsAsked.at(0);
        const QString stem = renamed.section('.', 0, -2), ext = renamed.section('.', -1);
        QVERIFY2(QFile::exists(ext.isEmpty() || !renamed.contains('.') ? renamed + "_dd_0" : stem + "_dd_0." + ext),
                 qPrintable(renamed));

        // Rows chosen in the list are saved on their own, under their folder's path.
        listFolder(screen, "Root/Documents/Work/Reports/2023");
        screen.resultsPage()->list()->selectAll();
        test::TempDir rowsOut;
        dialogs.destinations = {QString::fromStdString(rowsOut.path())};
        QSignalSpy rowsSaved(screen.saveFlow(), &SaveFlow::finished);
        screen.saveSelectedRows(false);
        QVERIFY(rowsSaved.wait(60000));
        QCOMPARE(QString::fromStdString(test::fileDigest(rowsOut.file("Documents/Work/Reports/2023/Quarterly Summary Q3.txt"))),
                 expected.value("Documents/Work/Reports/2023/Quarterly Summary Q3.txt"));
        QVERIFY(screen.resultsPage()->list()->selectionModel()->selectedRows().isEmpty());
    }

    // A medium cut short: files whose data lies past its end are reported incomplete, not saved.
    void incompleteFilesAreNotCountedAsSaved()
    {
        const std::string image = uitest::fixture("fat_truncated.img");
        BasicRun run(image);
        ScriptedDialogs& dialogs = run.dialogs;
        CBasicSearch& screen = *run.screen;
        scanAndWait(screen);
        ResultsTreeModel& model = screen.treeModel();
        model.setData(folderIndex(model, "Root"), Qt::Checked, Qt::CheckStateRole);
        test::TempDir out;
        dialogs.destinations = {QString::fromStdString(out.path())};
        const exporting::SaveRunReport report = saveAndWait(screen);
        QVERIFY(report.filesIncomplete + report.filesFailed > 0);
        CSavingDlg* saving = screen.saveFlow()->savingWindow();
        QVERIFY(saving->problems()->count() > 0);
        QVERIFY2(saving->summaryLabel()->text().contains(QString::number(report.filesWritten) + " Files"),
                 qPrintable(saving->summaryLabel()->text()));
        QVERIFY(report.filesWritten < report.filesTotal);
    }

    // A destination that fills up after the first file: the run ends there, says so once, and
    // the saving window names the file that did not fit.
    void fullDestinationIsToldOnce()
    {
        struct FullAfterOneFile : exporting::OutputFiles {
            std::atomic<int> creates{0};
            Result<std::unique_ptr<exporting::OutputFile>> create(const std::string& path) override
            {
                if (++creates > 1) return Error{ErrorKind::DiskFull, 0, path, "No space left on device"};
                return exporting::posixOutputFiles().create(path);
            }
            bool exists(const std::string& path) const override { return exporting::posixOutputFiles().exists(path); }
            bool removeFile(const std::string& path) override { return exporting::posixOutputFiles().removeFile(path); }
        };
        BasicRun run(m_volume);
        CBasicSearch& screen = *run.screen;
        scanAndWait(screen);
        ResultsTreeModel& model = screen.treeModel();
        model.setData(folderIndex(model, "Root"), Qt::Checked, Qt::CheckStateRole);
        FullAfterOneFile files;
        screen.saveFlow()->setOutputFiles(&files);
        test::TempDir out;
        run.dialogs.destinations = {QString::fromStdString(out.path())};
        const exporting::SaveRunReport report = saveAndWait(screen);
        QCOMPARE(report.end, exporting::SaveEnd::DiskFull);
        QCOMPARE(report.filesWritten, std::uint64_t(1));
        QCOMPARE(run.dialogs.shown, QStringList{QString::fromUtf8(texts::kDiskFullText)});
        CSavingDlg* saving = screen.saveFlow()->savingWindow();
        QVERIFY(saving->problems()->count() > 0);
        QVERIFY2(saving->summaryLabel()->text().contains("1 Files"), qPrintable(saving->summaryLabel()->text()));
    }

    // Opening a file row writes a temporary copy and hands it over; closing removes the copy.
    void openingThroughATemporaryCopy()
    {
        BasicRun run(m_volume);
        QString handed;
        std::string copy;
        {
            CBasicSearch& screen = *run.screen;
            scanAndWait(screen);
            screen.openFlow()->setOpener([&handed](const std::string& path) {
                handed = QString::fromStdString(path);
                return okStatus();
            });
            const int readme = rowNamed(screen.listModel(), "README.TXT");
            QVERIFY(readme >= 0);
            screen.resultsPage()->list()->setCurrentIndex(screen.listModel().index(readme, 0));
            QSignalSpy opened(screen.openFlow(), &OpenFlow::opened);
            screen.openSelectedRow();
            QVERIFY(opened.wait(30000));
            // "MRC<n>.TXT": n passes over copies an earlier run may have left.
            QVERIFY2(QRegularExpression("/MRC\\d+\\.TXT$").match(handed).hasMatch(), qPrintable(handed));
            QCOMPARE(QFileInfo(handed).size(), qint64{1234});
            copy = handed.toStdString();
        }
        run.screen.reset();
        QVERIFY(!QFile::exists(QString::fromStdString(copy)));
    }

    // The collision question: Enter overwrites, Escape skips; the new name opens as suggested.
    void replaceDialogKeys()
    {
        for (const auto& [key, answer] : {std::pair{Qt::Key_Return, int(CReplaceDlg::Overwrite)},
                                          std::pair{Qt::Key_Escape, int(CReplaceDlg::Skip)}}) {
            CReplaceDlg box("/out/a.txt", "/out/a_dd_0.txt");
            box.show();
            QVERIFY(QTest::qWaitForWindowExposed(&box));
            QCOMPARE(box.newFileName(), QStringLiteral("/out/a_dd_0.txt"));
            QTest::keyClick(&box, key);
            QCOMPARE(box.result(), answer);
        }
    }
};

QTEST_MAIN(ResultsScreenTest)
#include "results_screen_test.moc"
