// The drive stage's boxes, pressed through their buttons: the whole-disk box, the logical-drive
// choice (Enter and Escape do nothing there), the mode dialog of Search More Partitions and the
// no-device dialog's Retry and Exit; and the logical-drive choice on a screen listing a mounted
// volume of a fake system, where "Perform Physical Scan" reads the volume's area of its disk.
#include <QKeyEvent>
#include <QLabel>
#include <QPushButton>
#include <QRadioButton>
#include <QSignalSpy>
#include <QTest>

#include "storage/fake_system_tree.h"
#include "texts/messages.h"
#include "texts/screen_texts.h"
#include "ui/basic_search.h"
#include "ui/logical_choice.h"
#include "ui/no_device.h"
#include "ui/rem_media_scan.h"
#include "ui/smp_sel.h"
#include "ui/drive_stage_page.h"
#include "ui_test_support.h"

using namespace kfr;
using namespace kfr::ui;
using kfr::uitest::ScriptedDialogs;

namespace {

QString q(const char* text) { return QString::fromUtf8(text); }

QPushButton* buttonOf(QDialog& box, const char* text)
{
    for (QPushButton* b : box.findChildren<QPushButton*>())
        if (b->text() == q(text)) return b;
    return nullptr;
}

QStringList labelsOf(QDialog& box)
{
    QStringList out;
    for (const QLabel* label : box.findChildren<QLabel*>()) out << label->text();
    return out;
}

// Sectors [first, end) of the fixture disk.
std::vector<std::uint8_t> diskSectors(std::uint64_t first, std::uint64_t end)
{
    static const auto disk = kfr::test::readFileBytes(uitest::fixture("disk_mbr.img"));
    return {disk.begin() + static_cast<std::ptrdiff_t>(first * 512), disk.begin() + static_cast<std::ptrdiff_t>(end * 512)};
}

}  // namespace

class DriveDialogsTest : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void buttonsEndTheBoxesWithTheirResults_data()
    {
        QTest::addColumn<QString>("box");
        QTest::addColumn<QString>("button");
        QTest::addColumn<int>("result");
        QTest::newRow("whole disk: search it") << "wholeDisk" << q(texts::kSearchEntireDriveButton) << int(QDialog::Accepted);
        QTest::newRow("whole disk: go back") << "wholeDisk" << q(texts::kOkGoBackButton) << int(QDialog::Rejected);
        QTest::newRow("logical drive: logical scan") << "logical" << q(texts::kPerformLogicalScanButton) << 1;
        QTest::newRow("logical drive: physical scan") << "logical" << q(texts::kPerformPhysicalScanButton) << 2;
        QTest::newRow("logical drive: cancel") << "logical" << q(texts::kCancelButton) << 0;
        QTest::newRow("search mode: continue") << "mode" << q(texts::kContinueButton) << int(CSmpSel::kContinued);
        QTest::newRow("search mode: cancel") << "mode" << q(texts::kCancelButton) << int(CSmpSel::kCancelled);
    }
    void buttonsEndTheBoxesWithTheirResults()
    {
        QFETCH(QString, box);
        QFETCH(QString, button);
        QFETCH(int, result);
        std::unique_ptr<QDialog> dialog;
        if (box == "wholeDisk") dialog = std::make_unique<CRem_Media_Scan>();
        if (box == "logical") dialog = std::make_unique<CLogicalChoice>(QStringLiteral("E:"));
        if (box == "mode") dialog = std::make_unique<CSmpSel>();
        dialog->show();
        QPushButton* b = buttonOf(*dialog, button.toUtf8().constData());
        QVERIFY2(b, qPrintable(button));
        dialog->setResult(-1);
        b->click();
        QVERIFY(!dialog->isVisible());
        QCOMPARE(dialog->result(), result);
        if (box == "wholeDisk") QVERIFY(labelsOf(*dialog).contains(q(texts::kWholeDiskText)));
    }

    void logicalChoiceNamesTheDriveAndIgnoresEnterAndEscape()
    {
        CLogicalChoice box(QStringLiteral("/media/card"));
        box.show();
        QVERIFY(QTest::qWaitForWindowExposed(&box));
        QCOMPARE(box.windowTitle(), q(texts::kProductName));
        const QStringList labels = labelsOf(box);
        QVERIFY2(labels.join('|').contains(q(texts::kLogicalChoicePrefix) + "/media/card" + q(texts::kLogicalChoiceSuffix)),
                 qPrintable(labels.join('|')));
        QVERIFY(labels.contains(q(texts::kLogicalChoiceExplanation)));
        for (Qt::Key key : {Qt::Key_Return, Qt::Key_Enter, Qt::Key_Escape}) {
            QTest::keyClick(&box, key);
            QVERIFY(box.isVisible());
        }
    }

    void modeDialogKeepsTheChoice()
    {
        CSmpSel box;
        box.show();
        QCOMPARE(box.windowTitle(), q(texts::kProductName));
        QVERIFY(box.findChild<QRadioButton*>("standardMode")->isChecked());
        QCOMPARE(box.mode(), CSmpSel::kStandardMode);
        box.findChild<QRadioButton*>("advancedMode")->click();
        buttonOf(box, texts::kContinueButton)->click();
        QCOMPARE(box.result(), int(CSmpSel::kContinued));
        QCOMPARE(box.mode(), CSmpSel::kAdvancedMode);
    }

    void noDeviceRetriesUntilADriveIsFound()
    {
        int retries = 0;
        bool found = false;
        CNoDevice box([&] {
            ++retries;
            return found;
        });
        box.show();
        QCOMPARE(box.windowTitle(), q(texts::kProductName));
        const QStringList labels = labelsOf(box);
        for (const char* text : {texts::kNoDeviceHeading, texts::kNoDevicePoint1, texts::kNoDevicePoint2})
            QVERIFY2(labels.contains(q(text)), text);
        buttonOf(box, texts::kRetryButtonText)->click();
        QVERIFY(box.isVisible());  // nothing yet: it stays open
        found = true;
        buttonOf(box, texts::kRetryButtonText)->click();
        QVERIFY(!box.isVisible());
        QCOMPARE(box.result(), int(QDialog::Accepted));
        QCOMPARE(retries, 2);

        CNoDevice exitBox([] { return false; });
        exitBox.show();
        buttonOf(exitBox, texts::kExitButton)->click();
        QCOMPARE(exitBox.result(), int(QDialog::Rejected));
    }

    // A fake system: disk sda with partition sda1 (sectors 2048 to 75775 of the fixture disk, a
    // FAT32 volume) mounted at "/".
    void logicalDriveThroughTheScreen_data()
    {
        QTest::addColumn<int>("answer");
        QTest::addColumn<QString>("device");  // node name, empty: no scan
        QTest::addColumn<qulonglong>("first");
        QTest::addColumn<qulonglong>("last");  // 0: whatever the volume's size says
        QTest::newRow("Cancel") << 0 << "" << 0ULL << 0ULL;
        QTest::newRow("Perform Logical Scan: the volume's own device from its sector 0") << 1 << "sda1" << 0ULL << 0ULL;
        QTest::newRow("Perform Physical Scan: the disk, over the volume's area") << 2 << "sda" << 2048ULL << 75'775ULL;
    }
    void logicalDriveThroughTheScreen()
    {
        QFETCH(int, answer);
        QFETCH(QString, device);
        QFETCH(qulonglong, first);
        QFETCH(qulonglong, last);
        kfr::test::FakeSystemTree tree;
        tree.addDisk({"sda", "pci0000:00/0000:00:1f.2/ata1/host0/target0:0:0/0:0:0:0", "8:0", 204'800, false,
                      {{"device/model", "Fixture Disk"}}});
        tree.addPartition("sda", "sda1", "8:1", 2048, 73'728);
        tree.addNode("sda", diskSectors(0, 2048));
        tree.addNode("sda1", diskSectors(2048, 2048 + 64));
        tree.setMountInfo({"8:1 / / rw,relatime - vfat /dev/sda1 rw"});

        ScriptedDialogs dialogs;
        dialogs.logicalAnswer = answer;
        AppContext context = uitest::imagesOnlyContext(dialogs);
        context.listing.listSystemMedia = true;
        context.listing.roots = tree.roots();
        CBasicSearch screen(context);
        QSignalSpy listed(&screen, &CRecoveryScreen::drivesListed);
        screen.startOpening();
        QVERIFY(listed.wait(20000));
        const DriveTree& drives = screen.driveStage().tree();
        QCOMPARE(drives.item(DriveTree::kLogicalDrives).children.size(), std::size_t{1});
        screen.drivePage()->selectItem(drives.item(DriveTree::kLogicalDrives).children.at(0));
        screen.next();
        QCOMPARE(dialogs.logicalAsked, QStringList{"/"});
        if (device.isEmpty()) {
            QVERIFY(!screen.target());
            QCOMPARE(screen.state().resultsCount, 0);
            return;
        }
        QVERIFY(screen.target());
        QCOMPARE(QString::fromStdString(screen.target()->devicePath), QString::fromStdString(tree.path("dev/")) + device);
        QCOMPARE(screen.target()->firstSector, std::uint64_t{first});
        if (last) QCOMPARE(screen.target()->lastSector, std::uint64_t{last});
        QCOMPARE(screen.target()->kind, SelectionKind::Logical);
        QCOMPARE(QString::fromStdString(screen.target()->partType), QStringLiteral("FAT32"));
    }
};

QTEST_MAIN(DriveDialogsTest)
#include "drive_dialogs_test.moc"
