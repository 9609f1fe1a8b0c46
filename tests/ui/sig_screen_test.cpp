// The Signature Search screen after its drive step, driven as a user drives it: the extension
// step with its ticks, options and checks, a carve of a fixture image into a temporary
// destination (the files in the General and Omitted folders, the counts in the per-type table,
// the report, opening a file and the folder), Back emptying what the search made; Stop and the
// close box during the General pass; the media prompt; the list emptied every 2,000 files.
#include <QCheckBox>
#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QListView>
#include <QProgressBar>
#include <QPushButton>
#include <QSignalSpy>
#include <QTableView>
#include <QTableWidget>
#include <QTest>
#include <filesystem>
#include <fstream>
#include <map>
#include <memory>
#include <sstream>
#include <thread>

#include "carving/carved_output.h"
#include "carving/planted_files.h"
#include "session/recovery_session.h"
#include "texts/messages.h"
#include "texts/screen_texts.h"
#include "texts/work_texts.h"
#include "ui/drive_stage_page.h"
#include "ui/held_source.h"
#include "ui/sector_range_panel.h"
#include "ui/sig_duplicate.h"
#include "ui/sig_extension_page.h"
#include "ui/sig_raw_dlg.h"
#include "ui/sig_scan_page.h"
#include "ui/sig_texts.h"
#include "ui_test_support.h"

using namespace kfr;
using namespace kfr::ui;
using kfr::uitest::ScriptedDialogs;

namespace {

QString q(const char* text) { return QString::fromUtf8(text); }
QString q(const std::string& text) { return QString::fromStdString(text); }

const char* const kPlantedImage = "carving_planted.img";  // 2,048 sectors, 18 files planted (manifest.txt)

using carving::test::fnv1a;
using carving::test::PlantedFile;

// The files under one pass folder, by type folder: "JPG" -> paths.
std::map<QString, QStringList> filesByType(const std::string& passFolder)
{
    std::map<QString, QStringList> out;
    QDirIterator it(q(passFolder), QDir::Files, QDirIterator::Subdirectories);
    while (it.hasNext()) {
        const QString path = it.next();
        out[QFileInfo(path).dir().dirName()] << path;
    }
    for (auto& [type, paths] : out) paths.sort();
    return out;
}

// Reads from sector 1024 on wait until the test releases them: it acts while the search is in
// the middle of its General pass.
using Gate = ReadGate;
std::shared_ptr<Gate> middleGate() { return std::make_shared<Gate>(1024); }

// Opens the files themselves; failAt: the calls (counted from 1) that fail as an unplugged
// medium would; gate: reads held as Gate says.
session::SourceOpener testOpener(std::shared_ptr<Gate> gate, std::vector<int> failAt = {},
                                 std::shared_ptr<int> calls = std::make_shared<int>(0))
{
    return [gate, failAt, calls](const std::string& path) -> Result<std::shared_ptr<const storage::SectorSource>> {
        ++*calls;
        if (std::find(failAt.begin(), failAt.end(), *calls) != failAt.end())
            return Error{ErrorKind::OpenFailed, 0, path, "No such device"};
        auto opened = storage::openSource(path);
        if (!opened) return opened.error();
        if (!gate) return std::shared_ptr<const storage::SectorSource>(std::move(opened).value());
        return std::shared_ptr<const storage::SectorSource>(std::make_shared<HeldSource>(std::move(opened).value(), gate));
    };
}

// A Signature Search screen over one image, opened and on its extension step with the image's
// whole range, the destination set to a fresh folder.
struct SigScreen {
    ScriptedDialogs dialogs;
    AppContext context;
    std::unique_ptr<CSigDuplicate> screen;
    kfr::test::TempDir out;

    explicit SigScreen(const std::string& image, session::SourceOpener opener = {},
                       const QString& signatureFolder = QStringLiteral(KFR_BIN_DIR))
    {
        context = uitest::imagesOnlyContext(dialogs, {image});
        context.sourceOpener = std::move(opener);
        screen = std::make_unique<CSigDuplicate>(context);
        screen->setSignatureFolder(signatureFolder);
        QSignalSpy listed(screen.get(), &CRecoveryScreen::drivesListed);
        screen->startOpening();
        listed.wait(20000);
        screen->show();
    }
    CSigExtensionPage* extensions() const { return screen->extensionPage(); }
    CSigScanPage* page() const { return screen->carvePage(); }
    std::string passFolder(carving::CarvePass pass) const { return carving::passFolder(out.path(), pass); }

    // The image's disk item, Next with the range the slider set: the extension step.
    bool toExtensionStep()
    {
        CDriveStagePage* drive = screen->drivePage();
        drive->selectItem(screen->driveStage().tree().item(DriveTree::kPhysicalDrives).children.at(0));
        drive->nextButton()->click();
        return screen->step() == CSigDuplicate::Step::Extensions;
    }
    void setDestination() { extensions()->destination()->setText(q(out.path())); }
    // Next on the extension step; waits for the search's end when asked.
    bool carve(bool wait = true)
    {
        QSignalSpy finished(screen.get(), &CSigDuplicate::carvingFinished);
        extensions()->nextButton()->click();
        if (screen->step() != CSigDuplicate::Step::Scanning) return false;
        return !wait || finished.wait(120000);
    }
    QString tableValue(const QString& type, int column) const
    {
        const auto& model = screen->fileTypes();
        for (int r = 0; r < model.rowCount(); ++r)
            if (model.data(model.index(r, 0), Qt::DisplayRole).toString() == type)
                return model.data(model.index(r, column), Qt::DisplayRole).toString();
        return {};
    }
    QStringList tableTypes() const
    {
        QStringList types;
        const auto& model = screen->fileTypes();
        for (int r = 0; r < model.rowCount(); ++r) types << model.data(model.index(r, 0), Qt::DisplayRole).toString();
        return types;
    }
    void untick(const QString& key)
    {
        QTableWidget* list = extensions()->extensionList();
        for (int r = 0; r < list->rowCount(); ++r)
            if (list->item(r, 0)->text() == key) list->item(r, 0)->setCheckState(Qt::Unchecked);
    }
    Qt::CheckState tick(const QString& key) const
    {
        QTableWidget* list = extensions()->extensionList();
        for (int r = 0; r < list->rowCount(); ++r)
            if (list->item(r, 0)->text() == key) return list->item(r, 0)->checkState();
        return Qt::PartiallyChecked;  // not listed
    }
};

}  // namespace

class SigScreenTest : public QObject {
    Q_OBJECT
    std::string m_image;
    std::string m_digest;
    std::vector<PlantedFile> m_planted;

private Q_SLOTS:
    void initTestCase()
    {
        m_image = uitest::fixture(kPlantedImage);
        QVERIFY(QFile::exists(q(m_image)));
        m_digest = kfr::test::fileDigest(m_image);
        m_planted = carving::test::plantedFiles("manifest.txt");
        QCOMPARE(m_planted.size(), std::size_t{18});
    }
    void cleanupTestCase() { QCOMPARE(kfr::test::fileDigest(m_image), m_digest); }

    // Without its signature files the screen says why and stays on the drive step.
    void missingSignatureFilesKeepTheDriveStep()
    {
        kfr::test::TempDir empty;
        SigScreen s(m_image, {}, q(empty.path()));
        QVERIFY(!s.toExtensionStep());
        QCOMPARE(s.screen->currentStage(), static_cast<QWidget*>(s.screen->drivePage()));
        QCOMPARE(s.screen->state().resultsCount, 0);
        QCOMPARE(s.dialogs.shown.size(), 1);
        QVERIFY2(s.dialogs.shown[0].startsWith(q(texts::kCouldNotOpenSourcePrefix)), qPrintable(s.dialogs.shown[0]));
    }

    // The extension step: the types of both signature files, ticked and sorted; the Thorough
    // option ticked; the closing text; and the checks Next makes before anything is carved.
    void extensionStepAndItsChecks()
    {
        SigScreen s(m_image);
        QVERIFY(s.toExtensionStep());
        QCOMPARE(s.screen->statusLine()->text(), q(texts::closingText()));
        carving::ExtensionList known;
        QVERIFY(carving::fillExtensionList(known, KFR_BIN_DIR "/MFTSig.dll", KFR_BIN_DIR "/MFTSigAdv.dll").ok());
        QTableWidget* list = s.extensions()->extensionList();
        QCOMPARE(list->rowCount(), static_cast<int>(known.rows.size()));
        QStringList keys;
        for (int r = 0; r < list->rowCount(); ++r) {
            keys << list->item(r, 0)->text();
            QCOMPARE(list->item(r, 0)->checkState(), Qt::Checked);
            QCOMPARE(list->item(r, 1)->text(), q(known.find(list->item(r, 0)->text().toStdString())->description));
        }
        QStringList sorted = keys;
        sorted.sort(Qt::CaseInsensitive);
        QCOMPARE(keys, sorted);
        QVERIFY(s.extensions()->thoroughOption()->isChecked());
        QVERIFY(!s.extensions()->exactEndOption()->isChecked());

        // Nothing ticked; then everything, but no destination; then a destination that is not
        // a folder. Each stays on the step.
        s.extensions()->uncheckAllButton()->click();
        QVERIFY(!s.carve(false));
        s.extensions()->checkAllButton()->click();
        QCOMPARE(s.tick("JPG"), Qt::Checked);
        QVERIFY(!s.carve(false));
        s.extensions()->destination()->setText(q(s.out.file("missing")));
        QVERIFY(!s.carve(false));
        QCOMPARE(s.dialogs.shown, (QStringList{q(texts::kSelectExtensionMessage), q(texts::kInvalidDestinationText),
                                               q(texts::kInvalidDestinationText)}));

        // Browse shows the notice, then the picker; its Cancel leaves the field empty.
        s.screen->browseDestination();
        QCOMPARE(s.dialogs.saveNotices, 1);
        QCOMPARE(s.dialogs.carveFolderAsked, 1);
        QVERIFY(s.extensions()->destination()->text().isEmpty());
        s.dialogs.carveFolder = q(s.out.path());
        s.extensions()->browseButton()->click();
        QCOMPARE(s.dialogs.saveNotices, 2);
        QCOMPARE(s.extensions()->destination()->text(), q(s.out.path()));

        // Back leads to the drive step, and Back there closes the screen.
        QSignalSpy finished(s.screen.get(), &QDialog::finished);
        s.extensions()->backButton()->click();
        QCOMPARE(s.screen->currentStage(), static_cast<QWidget*>(s.screen->drivePage()));
        QCOMPARE(s.screen->state().resultsCount, 0);
        QCOMPARE(s.screen->step(), CSigDuplicate::Step::Drive);
        QVERIFY(s.toExtensionStep());  // the list is filled again on the next visit
        QCOMPARE(s.extensions()->extensionList()->rowCount(), static_cast<int>(known.rows.size()));
        s.extensions()->backButton()->click();
        s.screen->drivePage()->backButton()->click();
        QCOMPARE(finished.count(), 1);
    }

    void carvesTheFixture_data()
    {
        QTest::addColumn<bool>("thorough");
        QTest::addColumn<bool>("exactEnd");
        QTest::newRow("General and Thorough passes") << true << false;
        QTest::newRow("General pass alone, exact ends") << false << true;
    }
    // The planted files land in the General folder with their own bytes, the Thorough pass's in
    // Omitted; the table counts what each type has on disk, the list names every file; the
    // report lies where the screen says; a double-click and "Open Containing Folder" open what
    // they should; a cleared tick keeps its type out of both passes; Back empties it all.
    void carvesTheFixture()
    {
        QFETCH(bool, thorough);
        QFETCH(bool, exactEnd);
        SigScreen s(m_image);
        QVERIFY(s.toExtensionStep());
        s.untick("SQLITE");
        s.extensions()->thoroughOption()->setChecked(thorough);
        s.extensions()->exactEndOption()->setChecked(exactEnd);
        s.setDestination();
        QVERIFY(s.carve());
        QVERIFY2(s.dialogs.shown.isEmpty(), qPrintable(s.dialogs.shown.join('|')));
        QVERIFY(s.screen->outcome());
        QCOMPARE(s.screen->outcome()->ending, carving::CarveEnding::Finished);
        QCOMPARE(s.screen->outcome()->thoroughRan, thorough);
        QVERIFY(!s.screen->state().scanRunning);
        QCOMPARE(s.screen->statusLine()->text(), q(texts::closingText()));

        // Every planted file but the unticked type, with its own bytes first.
        const auto general = filesByType(s.passFolder(carving::CarvePass::General));
        QVERIFY(!general.count("SQLITE"));
        for (const PlantedFile& want : m_planted) {
            if (want.type == "SQLITE") continue;
            bool found = false;
            for (const QString& path : general.count(q(want.type)) ? general.at(q(want.type)) : QStringList{}) {
                const auto bytes = kfr::test::readFileBytes(path.toStdString());
                if (bytes.size() >= want.length && fnv1a(bytes, want.length) == want.digest) {
                    found = true;
                    // Exact ends stop a JPEG or PNG at its last byte; without them it runs to
                    // the next header, a whole number of sectors.
                    if (want.type == "JPG" || want.type == "PNG")
                        QCOMPARE(bytes.size(), exactEnd ? want.length : (want.length + 511) / 512 * 512);
                }
            }
            QVERIFY2(found, want.name.c_str());
        }
        const auto omitted = filesByType(s.passFolder(carving::CarvePass::Thorough));
        QCOMPARE(omitted.empty(), !thorough);
        if (thorough) QVERIFY(omitted.count("JPG"));  // the looser JPEG signature finds a second one

        // The table: one row per ticked type, counting the files of both passes on disk; only
        // "File Types" and "No. of files found" are shown.
        QVERIFY(!s.tableTypes().contains("SQLITE"));
        QCOMPARE(s.tableTypes().size(), s.extensions()->extensions().tickedKeys().size());
        int onDisk = 0;
        for (const QString& type : s.tableTypes()) {
            const int files = (general.count(type) ? general.at(type).size() : 0) + (omitted.count(type) ? omitted.at(type).size() : 0);
            onDisk += files;
            QCOMPARE(s.tableValue(type, FileTypesModel::FilesFound), QString::number(files));
        }
        QCOMPARE(s.tableValue("JPG", FileTypesModel::NameOfFile), thorough ? QStringLiteral("JPG00002.JPG") : QStringLiteral("JPG00001.JPG"));
        QTableView* table = s.page()->fileTypesTable();
        QVERIFY(!table->isColumnHidden(FileTypesModel::FileTypes) && !table->isColumnHidden(FileTypesModel::FilesFound));
        for (int c = FileTypesModel::NameOfFile; c < FileTypesModel::kColumns; ++c) QVERIFY(table->isColumnHidden(c));

        // The list: every file, in the order found, General first.
        const CarvedListModel& list = s.screen->resultList();
        QCOMPARE(list.rowCount(), onDisk);
        QCOMPARE(q(list.file(0)->name), QStringLiteral("JPG00001.JPG"));
        QVERIFY(!list.data(list.index(0), Qt::DecorationRole).value<QIcon>().isNull());
        if (thorough) QCOMPARE(list.file(list.rowCount() - 1)->pass, carving::CarvePass::Thorough);

        // The report, and the screen says where.
        const QString report = q(carving::searchFolder(s.out.path())) + "report.json";
        QVERIFY(QFile::exists(report));
        QVERIFY2(s.page()->reportLabel()->text().contains(report), qPrintable(s.page()->reportLabel()->text()));

        // A double-click opens the carved file; "Open Containing Folder" the search's folder.
        QVERIFY(s.page()->openFolderButton()->isVisibleTo(s.page()));
        const QModelIndex first = list.index(0);
        s.page()->resultList()->doubleClicked(first);
        QCOMPARE(s.dialogs.desktopOpened.value(0), q(s.passFolder(carving::CarvePass::General)) + "JPG/JPG00001.JPG");
        s.page()->openFolderButton()->click();
        QCOMPARE(s.dialogs.desktopOpened.value(1), q(carving::searchFolder(s.out.path())));
        s.dialogs.desktopOpens = false;
        s.page()->openFolderButton()->click();
        QCOMPARE(s.dialogs.shown.value(0), q(kfr::ui::kFolderNotOpenedPrefix) + q(carving::searchFolder(s.out.path())));

        // Back: lists and table empty, the extension step with its ticks, the closing text.
        s.page()->backButton()->click();
        QCOMPARE(s.screen->step(), CSigDuplicate::Step::Extensions);
        QCOMPARE(s.screen->currentStage(), static_cast<QWidget*>(s.extensions()));
        QCOMPARE(s.screen->resultList().rowCount(), 0);
        QCOMPARE(s.screen->fileTypes().rowCount(), 0);
        QVERIFY(!s.screen->outcome());
        QCOMPARE(s.tick("SQLITE"), Qt::Unchecked);
        QCOMPARE(s.tick("JPG"), Qt::Checked);
        QCOMPARE(s.screen->statusLine()->text(), q(texts::closingText()));

        // A second search into the same folder numbers past the file already there.
        const auto before = kfr::test::fileDigest(s.passFolder(carving::CarvePass::General) + "JPG/JPG00001.JPG");
        QVERIFY(s.carve());
        QCOMPARE(q(s.screen->resultList().file(0)->name), QStringLiteral("JPG00002.JPG"));
        QCOMPARE(kfr::test::fileDigest(s.passFolder(carving::CarvePass::General) + "JPG/JPG00001.JPG"), before);
        QCOMPARE(kfr::test::fileDigest(m_image), m_digest);
    }

    void stoppedDuringTheGeneralPass_data()
    {
        QTest::addColumn<bool>("closeBox");
        QTest::newRow("Stop") << false;
        QTest::newRow("the close box, Yes to exit") << true;
    }
    // Stop, or leaving the program, while the General pass reads: the search ends without a
    // Thorough pass, and the files it held are finished and listed.
    void stoppedDuringTheGeneralPass()
    {
        QFETCH(bool, closeBox);
        auto gate = middleGate();
        SigScreen s(m_image, testOpener(gate));
        QVERIFY(s.toExtensionStep());
        s.setDestination();
        QSignalSpy finished(s.screen.get(), &CSigDuplicate::carvingFinished);
        QSignalSpy quit(s.screen.get(), &CRecoveryScreen::quitRequested);
        QVERIFY(s.carve(false));
        QTRY_VERIFY_WITH_TIMEOUT(gate->reached, 30000);
        QVERIFY(s.screen->state().scanRunning);
        QVERIFY(!s.page()->backButton()->isEnabled());
        // The files finished before the held read are listed while it waits (all but the last,
        // which is open until the next header or the end).
        QTRY_COMPARE_WITH_TIMEOUT(s.screen->resultList().rowCount(), static_cast<int>(m_planted.size()) - 1, 10000);
        s.screen->back();  // refused while the search runs
        QCOMPARE(s.dialogs.shown, QStringList{q(texts::kScanRunningBackMessage)});

        if (closeBox) {
            // The worker is waited for before the program may end; the medium answers meanwhile.
            std::thread release([gate] {
                std::this_thread::sleep_for(std::chrono::milliseconds(200));
                gate->released = true;
            });
            s.dialogs.askAnswers = {true};
            s.screen->close();
            release.join();
            QCOMPARE(quit.count(), 1);
            QVERIFY(!s.screen->carving());
        } else {
            s.page()->stopButton()->click();
            QVERIFY(!s.page()->stopButton()->isEnabled());
            QVERIFY(!s.page()->progress()->isVisibleTo(s.page()));
            QVERIFY(s.screen->state().scanRunning);  // idle only once the worker has ended
            gate->released = true;
        }
        if (finished.isEmpty()) QVERIFY(finished.wait(30000));
        QVERIFY(s.screen->outcome());
        QCOMPARE(s.screen->outcome()->ending, carving::CarveEnding::Stopped);
        QVERIFY(!s.screen->outcome()->thoroughRan);
        QVERIFY(!std::filesystem::exists(s.passFolder(carving::CarvePass::Thorough)));
        QCOMPARE(s.page()->passLabel()->text(), q(texts::passTitle(carving::CarvePass::General)));
        // Every planted file lies before the gate; the last was still open when Stop came.
        QCOMPARE(s.screen->resultList().rowCount(), static_cast<int>(m_planted.size()));
        QCOMPARE(s.tableValue("SQLITE", FileTypesModel::FilesFound), QStringLiteral("1"));
        QVERIFY(s.page()->backButton()->isEnabled());
        QVERIFY(!s.screen->state().scanRunning);
    }

    void mediaPrompt_data()
    {
        QTest::addColumn<int>("action");
        QTest::addColumn<bool>("applyUntilDone");
        QTest::addColumn<int>("ending");
        QTest::addColumn<int>("listed");
        QTest::newRow("Cancel Searching ends the search unread") << int(carving::MediaAction::CancelSearching) << false
                                                                 << int(carving::CarveEnding::Stopped) << 0;
        QTest::newRow("Retry and Continue, for the rest of the pass")
            << int(carving::MediaAction::RetryAndContinue) << true << int(carving::CarveEnding::Finished) << 18;
    }
    // The medium cannot be opened when the pass starts: the prompt is asked on the screen and
    // its answer decides the search.
    void mediaPrompt()
    {
        QFETCH(int, action);
        QFETCH(bool, applyUntilDone);
        QFETCH(int, ending);
        QFETCH(int, listed);
        // Call 1 measures the medium before the search; call 2 is the pass's own.
        SigScreen s(m_image, testOpener(nullptr, {2}));
        QVERIFY(s.toExtensionStep());
        s.extensions()->thoroughOption()->setChecked(false);
        s.setDestination();
        s.dialogs.mediaAnswers = {{static_cast<carving::MediaAction>(action), applyUntilDone}};
        QVERIFY(s.carve());
        QCOMPARE(s.dialogs.mediaRemovedShown, 1);
        QCOMPARE(int(s.screen->outcome()->ending), ending);
        QCOMPARE(s.screen->resultList().rowCount(), listed);
    }

    // The 2,001st file empties the list behind the clearing window and becomes its only item;
    // the table counts on, and the item still opens its own file.
    void listEmptiedEvery2000Files()
    {
        kfr::test::TempDir dir;
        {
            std::ofstream general(dir.file("MFTSig.dll"), std::ios::binary);
            general << "Extension:.aaa\nMaximum size:512\nHeader:4B465231\nHeader offset:1\nExact end:\nDescription:test\n";
            std::ofstream thorough(dir.file("MFTSigAdv.dll"), std::ios::binary);
        }
        constexpr int kFiles = 2001;
        std::vector<char> image(2048 * 512, 0x11);
        for (int i = 0; i < kFiles; ++i) std::copy_n("KFR1", 4, image.begin() + i * 512);
        const std::string path = dir.file("headers.img");
        {
            std::ofstream out(path, std::ios::binary);
            out.write(image.data(), static_cast<std::streamsize>(image.size()));
        }
        SigScreen s(path, {}, q(dir.path()));
        s.screen->setClearingDelay(20);
        QVERIFY(s.toExtensionStep());
        s.setDestination();
        QVERIFY(s.carve());
        QCOMPARE(s.screen->outcome()->ending, carving::CarveEnding::Finished);
        QCOMPARE(s.screen->resultList().rowCount(), 1);
        QCOMPARE(q(s.screen->resultList().file(0)->name), QStringLiteral("AAA02001.AAA"));
        QCOMPARE(s.tableValue("AAA", FileTypesModel::FilesFound), QString::number(kFiles));
        QVERIFY(s.page()->clearingNote()->isVisibleTo(s.page()));
        QVERIFY(s.screen->findChild<CRawDlg*>());
        QTRY_VERIFY(!s.screen->findChild<CRawDlg*>()->isVisible());
        QTRY_VERIFY(s.page()->isEnabled());
        s.page()->resultList()->doubleClicked(s.screen->resultList().index(0));
        QCOMPARE(s.dialogs.desktopOpened.value(0), q(s.passFolder(carving::CarvePass::General)) + "AAA/AAA02001.AAA");
        QCOMPARE(filesByType(s.passFolder(carving::CarvePass::General)).at("AAA").size(), kFiles);
    }
};

QTEST_MAIN(SigScreenTest)
#include "sig_screen_test.moc"
