// The drive stage of the recovery screens: the drive tree of a disk image the user added, with
// its partitions and their properties; Next's checks and what they settle (device, range, file
// system); which command each running state allows, with its message; and a Basic Search screen
// driven through its buttons: refusals, the whole-disk box, Search More Partitions' checks, the
// no-device dialog, the switch to the scanning stage and Back.
#include <QPushButton>
#include <QSignalSpy>
#include <QTest>
#include <QTreeWidget>

#include "texts/messages.h"
#include "texts/screen_texts.h"
#include "ui/basic_search.h"
#include "ui/deep_search.h"
#include "ui/drive_stage.h"
#include "ui/drive_stage_page.h"
#include "ui/ui_texts.h"
#include "ui_test_support.h"

using namespace kfr;
using namespace kfr::ui;
using kfr::uitest::ScriptedDialogs;

namespace {

const char* const kDiskImage = "disk_mbr.img";  // 204,800 sectors, partitions 1 FAT32, 2 FAT16, 3 NTFS, 5 FAT16, 6 NTFS
const char* const kVolumeImage = "fat16_basic.img";

QString q(const char* text) { return QString::fromUtf8(text); }

DriveSnapshot listImages(std::vector<std::string> images)
{
    DriveListRequest request;
    request.listSystemMedia = false;
    request.imagePaths = std::move(images);
    return listDrives(request);
}

// "my", "physical", "logical", "disk" or "partition N" (N counted from 1 as the tree shows it).
int itemNamed(const DriveTree& tree, const QString& name)
{
    if (name == "my") return DriveTree::kMyComputer;
    if (name == "physical") return DriveTree::kPhysicalDrives;
    if (name == "logical") return DriveTree::kLogicalDrives;
    const int disk = tree.itemsOfKind(DriveItemKind::Disk).at(0);
    if (name == "disk") return disk;
    return tree.item(disk).children.at(name.section(' ', 1).toInt() - 1);
}

QStringList childTexts(const QTreeWidgetItem* item)
{
    QStringList out;
    for (int i = 0; i < item->childCount(); ++i) out << item->child(i)->text(0);
    return out;
}

void openAndWait(CRecoveryScreen& screen)
{
    QSignalSpy listed(&screen, &CRecoveryScreen::drivesListed);
    screen.startOpening();
    QVERIFY(listed.wait(20000));
}

}  // namespace

class DriveStageTest : public QObject {
    Q_OBJECT
    std::string m_disk;
    std::string m_diskDigest;

private Q_SLOTS:
    void initTestCase()
    {
        m_disk = uitest::fixture(kDiskImage);
        QVERIFY(QFile::exists(QString::fromStdString(m_disk)));
        m_diskDigest = kfr::test::fileDigest(m_disk);
    }
    void cleanupTestCase() { QCOMPARE(kfr::test::fileDigest(m_disk), m_diskDigest); }

    void treeListsAnImageWithItsPartitions()
    {
        DriveStage stage(ScreenMode::Deep);
        stage.setSnapshot(listImages({m_disk}));
        const DriveTree& tree = stage.tree();
        QCOMPARE(tree.item(DriveTree::kMyComputer).text, std::string("My Computer"));
        QCOMPARE(tree.item(DriveTree::kPhysicalDrives).text, std::string("Physical Drives"));
        QCOMPARE(tree.item(DriveTree::kLogicalDrives).text, std::string("Logical Drives"));
        QCOMPARE(tree.item(DriveTree::kPhysicalDrives).children.size(), std::size_t{1});
        QVERIFY(tree.item(DriveTree::kLogicalDrives).children.empty());
        const DriveItem& disk = tree.item(itemNamed(tree, "disk"));
        QVERIFY2(disk.text.find("(Disk0 - 100.00 MB)") != std::string::npos, disk.text.c_str());
        QStringList partitions;
        for (int child : disk.children) partitions << QString::fromStdString(tree.item(child).text);
        QCOMPARE(partitions, (QStringList{"Partition - 1 ( FAT32 )", "Partition - 2 ( FAT16 )", "Partition - 3 ( NTFS )",
                                          "Partition - 4 ( FAT16 )", "Partition - 5 ( NTFS )"}));

        // A partition's properties, and the sector range controls: the disk as the scale, the
        // partition as the range.
        const SelectionView view = stage.select(itemNamed(tree, "partition 2"), false);
        QStringList rows;
        for (const auto& row : view.rows) rows << QString::fromStdString(row.name + row.value);
        QVERIFY2(rows.contains("5. Start Sector : 75776"), qPrintable(rows.join('|')));
        QVERIFY2(rows.contains("6. End Sector : 108543"), qPrintable(rows.join('|')));
        QVERIFY(rows.contains("4. Search Mode : Deep Search"));
        QVERIFY(view.range);
        QCOMPARE(view.range->lowest, std::uint64_t{0});
        QCOMPARE(view.range->highest, std::uint64_t{204'799});
        QCOMPARE(view.range->start, std::uint64_t{75'776});
        QCOMPARE(view.range->end, std::uint64_t{108'543});

        QVERIFY(stage.select(DriveTree::kPhysicalDrives, false).rows.empty());
        QVERIFY(stage.unreadableDisks().empty());
    }

    void nextChecks_data()
    {
        QTest::addColumn<int>("mode");
        QTest::addColumn<QString>("item");
        QTest::addColumn<qlonglong>("start");  // -1: the field is empty; both -1 on Basic: no fields
        QTest::addColumn<qlonglong>("end");
        QTest::addColumn<QString>("message");
        QTest::addColumn<bool>("asksWholeDisk");
        QTest::addColumn<qulonglong>("first");
        QTest::addColumn<qulonglong>("last");
        QTest::addColumn<QString>("partType");

        const QString m9 = q(texts::kSelectDriveMessage);
        const QString m10 = q(texts::kEndSectorMessage);
        const int basic = 1, deep = 2, signature = 5;
        QTest::newRow("My Computer") << basic << "my" << -1LL << -1LL << m9 << false << 0ULL << 0ULL << "";
        QTest::newRow("Physical Drives") << basic << "physical" << -1LL << -1LL << m9 << false << 0ULL << 0ULL << "";
        QTest::newRow("Logical Drives") << deep << "logical" << 0LL << 10LL << m9 << false << 0ULL << 0ULL << "";
        QTest::newRow("Basic: a partition as it lies") << basic << "partition 1" << -1LL << -1LL << "" << false << 2048ULL << 75'775ULL << "FAT32";
        QTest::newRow("Basic: a whole disk after its box, from sector 63 to its last")
            << basic << "disk" << -1LL << -1LL << "" << true << 63ULL << 204'799ULL << "";
        QTest::newRow("Deep: the partition's range from the fields") << deep << "partition 2" << 75'776LL << 108'543LL << "" << false << 75'776ULL << 108'543ULL << "FAT16";
        QTest::newRow("Deep: a whole disk reads the range set") << deep << "disk" << 0LL << 204'799LL << "" << false << 0ULL << 204'799ULL << "";
        QTest::newRow("Deep: end equal to start") << deep << "partition 1" << 5000LL << 5000LL << m10 << false << 0ULL << 0ULL << "";
        QTest::newRow("Deep: end below start") << deep << "partition 1" << 5000LL << 4000LL << m10 << false << 0ULL << 0ULL << "";
        QTest::newRow("Deep: end zero") << deep << "partition 1" << 0LL << 0LL << m10 << false << 0ULL << 0ULL << "";
        QTest::newRow("Deep: an end past the disk stops at its last sector")
            << deep << "partition 3" << 108'544LL << 9'999'999LL << "" << false << 108'544ULL << 204'799ULL << "NTFS";
        QTest::newRow("Signature: empty Start Sector") << signature << "partition 1" << -1LL << 100LL << q(texts::kEnterStartSectorMessage) << false << 0ULL << 0ULL << "";
        QTest::newRow("Signature: empty End Sector") << signature << "partition 1" << 0LL << -1LL << m10 << false << 0ULL << 0ULL << "";
    }
    void nextChecks()
    {
        QFETCH(int, mode);
        QFETCH(QString, item);
        QFETCH(qlonglong, start);
        QFETCH(qlonglong, end);
        QFETCH(QString, message);
        QFETCH(bool, asksWholeDisk);
        QFETCH(qulonglong, first);
        QFETCH(qulonglong, last);
        QFETCH(QString, partType);

        DriveStage stage(static_cast<ScreenMode>(mode));
        stage.setSnapshot(listImages({m_disk}));
        stage.select(itemNamed(stage.tree(), item), false);

        std::optional<RangeFields> fields;
        if (mode != 1) {
            fields = RangeFields{};
            if (start >= 0) fields->start = static_cast<std::uint64_t>(start);
            if (end >= 0) fields->end = static_cast<std::uint64_t>(end);
        }
        const NextCheck check = stage.checkNext();
        QCOMPARE(check.step == NextStep::AskWholeDisk, asksWholeDisk);
        if (check.step == NextStep::Refuse) {
            QCOMPARE(q(check.message), message);
            return;
        }
        const NextResolution resolution =
            stage.resolveNext(asksWholeDisk ? DriveChoice::WholeDisk : DriveChoice::None, fields);
        if (!message.isEmpty()) {
            QVERIFY(!resolution.target);
            QCOMPARE(q(resolution.message), message);
            return;
        }
        QVERIFY(resolution.target);
        const ScanTarget& target = *resolution.target;
        QCOMPARE(target.devicePath, m_disk);
        QCOMPARE(target.firstSector, std::uint64_t{first});
        QCOMPARE(target.lastSector, std::uint64_t{last});
        if (!partType.isEmpty()) QCOMPARE(QString::fromStdString(target.partType), partType);
        if (item == "disk" && mode == 1) QVERIFY(target.partTypeBySize);  // its partitions disagree
        QCOMPARE(QString::fromStdString(target.rangeText()), QStringLiteral("%1 to %2").arg(first).arg(last));
    }

    void searchMorePartitionsWantsAWholeDisk()
    {
        DriveStage stage(ScreenMode::Basic);
        stage.setSnapshot(listImages({m_disk}));
        for (const char* name : {"my", "logical", "partition 1"}) {
            stage.select(itemNamed(stage.tree(), name), false);
            const SearchMoreCheck check = stage.checkSearchMore();
            QCOMPARE(check.step, SearchMoreStep::Refuse);
            QCOMPARE(QString::fromStdString(check.message), q(texts::kSelectDiskForSearchMessage));
            QVERIFY(check.selectPhysicalDrives);
        }
        stage.select(itemNamed(stage.tree(), "disk"), false);
        QCOMPARE(stage.checkSearchMore().step, SearchMoreStep::AskMode);
    }

    void commandsByRunningState_data()
    {
        QTest::addColumn<int>("resultsCount");
        QTest::addColumn<bool>("scanRunning");
        QTest::addColumn<bool>("logLoading");
        QTest::addColumn<int>("command");
        QTest::addColumn<int>("verdict");
        QTest::addColumn<QString>("message");
        const int run = int(Verdict::Run), refuse = int(Verdict::Refuse), ignore = int(Verdict::Ignore);
        struct Row {
            const char* name;
            int results;
            bool scanning;
            bool loading;
            Command command;
            int verdict;
            const char* message;
        };
        const Row rows[] = {
            {"drive stage: Next runs", 0, false, false, Command::Next, run, ""},
            {"drive stage: Back closes the screen", 0, false, false, Command::Back, run, ""},
            {"drive stage: Refresh Tree runs", 0, false, false, Command::RefreshTree, run, ""},
            {"drive stage: Save is M3", 0, false, false, Command::Save, refuse, texts::kSaveNotAvailableMessage},
            {"drive stage: Save Log is M5", 0, false, false, Command::SaveLog, refuse, texts::kSaveLogBeforeScanMessage},
            {"drive stage: Load Log runs", 0, false, false, Command::LoadLog, run, ""},
            {"drive stage: Search More Partitions runs", 0, false, false, Command::SearchMorePartitions, run, ""},
            {"drive stage: Stop does nothing", 0, false, false, Command::Stop, ignore, ""},
            {"scanning: Next does nothing", 1, true, false, Command::Next, ignore, ""},
            {"scanning: Back is M1", 1, true, false, Command::Back, refuse, texts::kScanRunningBackMessage},
            {"scanning: Stop runs", 1, true, false, Command::Stop, run, ""},
            {"scanning: Refresh Tree is M2", 1, true, false, Command::RefreshTree, refuse, texts::kRefreshRefusedMessage},
            {"scanning: Save is M4", 1, true, false, Command::Save, refuse, texts::kSaveWhileScanningMessage},
            {"scanning: Save Log is M6", 1, true, false, Command::SaveLog, refuse, texts::kSaveLogWhileScanningMessage},
            {"scanning: Load Log is M7", 1, true, false, Command::LoadLog, refuse, texts::kLoadLogWhileScanningMessage},
            {"scanning: Search More Partitions is ignored", 1, true, false, Command::SearchMorePartitions, ignore, ""},
            {"after a scan: Back runs", 1, false, false, Command::Back, run, ""},
            {"after a scan: Refresh Tree is M2", 1, false, false, Command::RefreshTree, refuse, texts::kRefreshRefusedMessage},
            {"after a scan: Save runs", 1, false, false, Command::Save, run, ""},
            {"after a scan: Save Log runs", 1, false, false, Command::SaveLog, run, ""},
            {"after a scan: Load Log is M8", 1, false, false, Command::LoadLog, refuse, texts::kLoadLogAfterScanMessage},
            {"after a scan: Next does nothing", 1, false, false, Command::Next, ignore, ""},
            {"log loading: Refresh Tree is M2", 0, false, true, Command::RefreshTree, refuse, texts::kRefreshRefusedMessage},
            {"log loading: a second Load Log does nothing", 0, false, true, Command::LoadLog, ignore, ""},
            {"log loading: Search More Partitions does nothing", 0, false, true, Command::SearchMorePartitions, ignore, ""},
        };
        for (const Row& r : rows)
            QTest::newRow(r.name) << r.results << r.scanning << r.loading << int(r.command) << r.verdict << q(r.message);
    }
    void commandsByRunningState()
    {
        QFETCH(int, resultsCount);
        QFETCH(bool, scanRunning);
        QFETCH(bool, logLoading);
        QFETCH(int, command);
        QFETCH(int, verdict);
        QFETCH(QString, message);
        ScreenState state;
        state.resultsCount = resultsCount;
        state.scanRunning = scanRunning;
        state.logLoading = logLoading;
        const CommandAnswer answer = state.answer(static_cast<Command>(command));
        QCOMPARE(int(answer.verdict), verdict);
        QCOMPARE(answer.message ? q(answer.message) : QString(), message);
    }

    // A Basic Search screen opened on a volume image; the user adds a partitioned disk image and
    // goes through the drive stage's commands.
    void basicScreenThroughItsButtons()
    {
        ScriptedDialogs dialogs;
        AppContext context = uitest::imagesOnlyContext(dialogs, {uitest::fixture(kVolumeImage)});
        CBasicSearch screen(context);
        openAndWait(screen);
        screen.show();
        CDriveStagePage* page = screen.drivePage();
        QCOMPARE(screen.windowTitle(), QStringLiteral("Kestravon FAT Recovery - Basic Search"));
        QVERIFY(!page->rangePanel());  // Basic Search has no sector range

        QSignalSpy listed(&screen, &CRecoveryScreen::drivesListed);
        screen.addImage(QString::fromStdString(m_disk));
        QVERIFY(listed.wait(20000));
        QTreeWidgetItem* top = page->tree()->topLevelItem(0);
        QCOMPARE(top->text(0), QStringLiteral("My Computer"));
        QCOMPARE(childTexts(top), (QStringList{"Physical Drives", "Logical Drives"}));
        QTreeWidgetItem* physical = top->child(0);
        QCOMPARE(physical->childCount(), 2);  // the volume image, then the disk image
        QCOMPARE(childTexts(physical->child(1)),
                 (QStringList{"Partition - 1 ( FAT32 )", "Partition - 2 ( FAT16 )", "Partition - 3 ( NTFS )",
                              "Partition - 4 ( FAT16 )", "Partition - 5 ( NTFS )"}));
        QCOMPARE(page->currentItem(), int(DriveTree::kMyComputer));
        QCOMPARE(context.listing.imagePaths.size(), std::size_t{2});  // later screens list it too

        // Next on a category item.
        page->nextButton()->click();
        QCOMPARE(dialogs.shown.value(0), q(texts::kSelectDriveMessage));

        // Selecting a partition shows its properties.
        const DriveTree& tree = screen.driveStage().tree();
        const int disk = tree.item(DriveTree::kPhysicalDrives).children.at(1);
        page->tree()->setCurrentItem(physical->child(1)->child(0));
        QCOMPARE(screen.driveStage().selected(), tree.item(disk).children.at(0));
        QVERIFY(page->properties()->topLevelItemCount() > 0);

        // Search More Partitions on a partition: M11, and "Physical Drives" is selected.
        page->searchMoreButton()->click();
        QCOMPARE(dialogs.shown.value(1), q(texts::kSelectDiskForSearchMessage));
        QCOMPARE(page->currentItem(), int(DriveTree::kPhysicalDrives));

        // The whole disk: the box is asked; "OK, Go Back" leaves the drive stage as it was.
        page->selectItem(disk);
        page->nextButton()->click();
        QCOMPARE(dialogs.wholeDiskAsked, 1);
        QCOMPARE(screen.currentStage(), static_cast<QWidget*>(page));
        QCOMPARE(screen.state().resultsCount, 0);
        // Search More Partitions on the disk asks for the mode; Cancel starts nothing.
        page->searchMoreButton()->click();
        QCOMPARE(dialogs.searchModeAsked, 1);
        QCOMPARE(dialogs.shown.size(), 2);

        // Enter and Escape do not close the screen.
        QTest::keyClick(&screen, Qt::Key_Escape);
        QTest::keyClick(&screen, Qt::Key_Return);
        QVERIFY(screen.isVisible());

        // Next on a partition goes to the scanning stage with the partition's range.
        page->selectItem(tree.item(disk).children.at(0));
        page->nextButton()->click();
        QCOMPARE(screen.state().resultsCount, 1);
        QVERIFY(screen.currentStage() != page);
        QVERIFY(screen.target());
        QCOMPARE(screen.target()->firstSector, std::uint64_t{2048});
        QCOMPARE(screen.target()->lastSector, std::uint64_t{75'775});
        // The partition is empty: the scan finds "Root" alone and the notice says so, once.
        QTRY_VERIFY_WITH_TIMEOUT(!screen.state().busy() && screen.results(), 60000);
        QCOMPARE(dialogs.emptyNotices, 1);
        dialogs.shown.clear();
        screen.refreshTree();
        screen.loadLog();
        QCOMPARE(dialogs.shown, (QStringList{q(texts::kRefreshRefusedMessage), q(texts::kLoadLogAfterScanMessage)}));

        // Back after a scan returns to the drive stage; Back there closes the screen.
        QSignalSpy finished(&screen, &QDialog::finished);
        screen.back();
        QCOMPARE(screen.currentStage(), static_cast<QWidget*>(page));
        QCOMPARE(screen.state().resultsCount, 0);
        QCOMPARE(finished.count(), 0);
        page->backButton()->click();
        QCOMPARE(finished.count(), 1);
        QCOMPARE(finished.at(0).at(0).toInt(), CRecoveryScreen::kBackToLauncher);
    }

    void searchMorePartitionsBringsBackAWipedTable()
    {
        // The disk's table and the boot records of its extended chain are gone.
        kfr::test::TempDir dir;
        auto bytes = kfr::test::readFileBytes(m_disk);
        for (std::size_t sector : {0, 124928, 143360}) std::fill_n(bytes.begin() + static_cast<std::ptrdiff_t>(sector * 512), 512, 0);
        const std::string wiped = dir.file("wiped.img");
        {
            QFile out(QString::fromStdString(wiped));
            QVERIFY(out.open(QIODevice::WriteOnly));
            out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<qint64>(bytes.size()));
        }
        const std::string digest = kfr::test::fileDigest(wiped);

        ScriptedDialogs dialogs;
        AppContext context = uitest::imagesOnlyContext(dialogs, {wiped});
        CBasicSearch screen(context);
        openAndWait(screen);
        CDriveStagePage* page = screen.drivePage();
        const int disk = screen.driveStage().tree().itemsOfKind(DriveItemKind::Disk).at(0);
        QVERIFY(screen.driveStage().tree().item(disk).children.empty());
        const QString diskText = QString::fromStdString(screen.driveStage().tree().item(disk).text);
        const QString number = diskText.section("(Disk", 1).section(" -", 0, 0);

        struct Round {
            int mode;
            QStringList items;
            QString message;
        };
        const QStringList found{"Partition - 1 ( FAT32 )", "Partition - 2 ( FAT16 )", "Partition - 3 ( NTFS )",
                                "Partition - 4 ( FAT16 )", "Partition - 5 ( NTFS )"};
        // Advanced mode finds the five; a second search adds nothing to what the tree shows.
        const Round rounds[] = {
            {10, found, QStringLiteral("Found 5 more partitions in selected Disk ( Disk - %1 )").arg(number)},
            {10, found, QStringLiteral("No more partitions found in selected Disk ( Disk - %1 )").arg(number)},
        };
        for (const Round& round : rounds) {
            page->selectItem(screen.driveStage().tree().itemsOfKind(DriveItemKind::Disk).at(0));
            dialogs.searchModeAnswer = round.mode;
            page->searchMoreButton()->click();
            QTRY_VERIFY_WITH_TIMEOUT(!screen.state().partitionSearchRunning, 60000);
            QVERIFY(!page->stopSearchButton()->isVisible());
            QVERIFY(page->nextButton()->isEnabled());
            const DriveTree& tree = screen.driveStage().tree();
            const int diskNow = tree.itemsOfKind(DriveItemKind::Disk).at(0);
            QStringList items;
            for (int child : tree.item(diskNow).children) items << QString::fromStdString(tree.item(child).text);
            QCOMPARE(items, round.items);
            QCOMPARE(dialogs.shown.last(), round.message);
            // The first partition is chosen, and Next reads it with the bounds its boot sector gave.
            QCOMPARE(screen.driveStage().selected(), tree.item(diskNow).children.at(0));
        }
        page->nextButton()->click();
        QVERIFY(screen.target());
        QCOMPARE(screen.target()->firstSector, std::uint64_t{2048});
        QCOMPARE(screen.target()->lastSector, std::uint64_t{75'775});
        QCOMPARE(kfr::test::fileDigest(wiped), digest);
    }

    void wholeDiskBoxLeadsToTheScanOfTheDisk()
    {
        ScriptedDialogs dialogs;
        dialogs.wholeDiskAnswer = true;
        AppContext context = uitest::imagesOnlyContext(dialogs, {m_disk});
        CBasicSearch screen(context);
        openAndWait(screen);
        screen.drivePage()->selectItem(itemNamed(screen.driveStage().tree(), "disk"));
        screen.next();
        QVERIFY(screen.target());
        QCOMPARE(screen.target()->kind, SelectionKind::HardDisk);
        QCOMPARE(screen.target()->firstSector, std::uint64_t{63});
        QCOMPARE(screen.target()->lastSector, std::uint64_t{204'799});
    }

    void noDeviceDialog()
    {
        // Exit: the screen goes back to the mode launcher.
        {
            ScriptedDialogs dialogs;
            AppContext context = uitest::imagesOnlyContext(dialogs);
            CDeepSearch screen(context);
            QSignalSpy finished(&screen, &QDialog::finished);
            openAndWait(screen);
            QCOMPARE(dialogs.noDeviceShown, 1);
            QCOMPARE(finished.count(), 1);
            QCOMPARE(finished.at(0).at(0).toInt(), CRecoveryScreen::kBackToLauncher);
        }
        // Retry after an image was attached finds it and the screen goes on.
        {
            ScriptedDialogs dialogs;
            AppContext context = uitest::imagesOnlyContext(dialogs);
            dialogs.beforeRetry = [&] { context.listing.imagePaths.push_back(m_disk); };
            CDeepSearch screen(context);
            QSignalSpy finished(&screen, &QDialog::finished);
            openAndWait(screen);
            QCOMPARE(dialogs.noDeviceShown, 1);
            QCOMPARE(finished.count(), 0);
            QCOMPARE(screen.driveStage().tree().itemsOfKind(DriveItemKind::Partition).size(), std::size_t{5});
            QCOMPARE(screen.drivePage()->tree()->topLevelItem(0)->child(0)->childCount(), 1);
        }
    }

    void imageThatCannotBeListedIsSaid()
    {
        ScriptedDialogs dialogs;
        AppContext context = uitest::imagesOnlyContext(dialogs, {m_disk, "/nonexistent/lost.img"});
        CBasicSearch screen(context);
        openAndWait(screen);
        QCOMPARE(dialogs.shown.size(), 1);
        QVERIFY2(dialogs.shown.at(0).contains("/nonexistent/lost.img"), qPrintable(dialogs.shown.at(0)));
        QCOMPARE(screen.driveStage().tree().itemsOfKind(DriveItemKind::Disk).size(), std::size_t{1});
    }

    // A listed disk this user cannot read: the screen names it once per run and, where pkexec can
    // restart the program, offers that; the desktop session itself keeps its own rights.
    void unreadableDiskOffersARestart_data()
    {
        QTest::addColumn<bool>("canRestart");
        QTest::addColumn<bool>("answer");
        QTest::addColumn<bool>("restarts");
        QTest::addColumn<QString>("said");
        QTest::newRow("no pkexec: only said") << false << false << false << q(kUnreadableDisksFormat);
        QTest::newRow("offered, declined") << true << false << false << q(kPrivilegeQuestionFormat);
        QTest::newRow("offered, accepted: restarts") << true << true << true << q(kPrivilegeQuestionFormat);
    }
    void unreadableDiskOffersARestart()
    {
        QFETCH(bool, canRestart);
        QFETCH(bool, answer);
        QFETCH(bool, restarts);
        QFETCH(QString, said);
        ScriptedDialogs dialogs;
        dialogs.askAnswers = {answer};
        AppContext context = uitest::imagesOnlyContext(dialogs, {m_disk});
        context.listDrives = [](const DriveListRequest& request) {
            DriveSnapshot snapshot = listDrives(request);
            storage::PhysicalDisk& disk = snapshot.physical.disks.at(0).disk;
            disk.devicePath = "/dev/sdz";
            disk.accessProblem = Error{ErrorKind::PermissionDenied, 0, "/dev/sdz", "Permission denied"};
            return snapshot;
        };
        int restartCalls = 0;
        if (canRestart) context.restartWithPrivileges = [&](QString*) { return ++restartCalls > 0; };
        CBasicSearch screen(context);
        QSignalSpy quit(&screen, &CRecoveryScreen::quitRequested);
        openAndWait(screen);
        QCOMPARE(dialogs.shown.size(), 1);
        QVERIFY2(dialogs.shown.at(0).contains("/dev/sdz"), qPrintable(dialogs.shown.at(0)));
        QVERIFY(dialogs.shown.at(0).startsWith(said.section("%1", 0, 0)));
        QCOMPARE(restartCalls, restarts ? 1 : 0);
        QCOMPARE(quit.count(), 0);  // this program waits for the restarted one, out of sight

        // Once per run: a refresh lists the disk again without asking again.
        QSignalSpy listed(&screen, &CRecoveryScreen::drivesListed);
        screen.refreshTree();
        QVERIFY(listed.wait(20000));
        QCOMPARE(dialogs.shown.size(), 1);
    }

    void closingAsksBeforeTheProgramEnds()
    {
        ScriptedDialogs dialogs;
        AppContext context = uitest::imagesOnlyContext(dialogs, {m_disk});
        CBasicSearch screen(context);
        openAndWait(screen);
        screen.show();
        QSignalSpy quit(&screen, &CRecoveryScreen::quitRequested);
        dialogs.askAnswers = {false};
        screen.close();
        QVERIFY(screen.isVisible());
        QCOMPARE(quit.count(), 0);
        QCOMPARE(dialogs.shown.last(), q(texts::kExitQuestion));
        dialogs.askAnswers = {true};
        screen.close();
        QCOMPARE(quit.count(), 1);
    }
};

QTEST_MAIN(DriveStageTest)
#include "drive_stage_test.moc"
