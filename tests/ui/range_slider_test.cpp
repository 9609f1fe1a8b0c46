// The sector range slider: its model's scale, clamping and notifications, drags of the thumbs
// and the band, the arrow keys with and without Shift, a zero-width scale; the widget's events
// and painting; and the panel that binds it to the four sector fields and the help button.
#include <QLineEdit>
#include <QSignalSpy>
#include <QTest>
#include <QToolButton>

#include "texts/screen_texts.h"
#include "ui/range_slider.h"
#include "ui/range_slider_model.h"
#include "ui/sector_range_panel.h"
#include "ui_test_support.h"

using kfr::ui::CRangeSlider;
using kfr::ui::CSectorRangePanel;
using kfr::ui::RangeSliderModel;
using kfr::ui::SectorChoice;
using Notes = QList<int>;

namespace {

// A control 20 pixels high has thumbs 15 wide; 430 wide leaves a track of 400 pixels, so on a
// scale of 0..1,000,000 one pixel is worth 2,500 sectors.
constexpr int kWidth = 430;
constexpr int kHeight = 20;

struct RecordedModel {
    RangeSliderModel model;
    Notes notes;
    RecordedModel()
    {
        model.setClientSize(kWidth, kHeight);
        model.setNotify([this](int what) { notes << what; });
    }
    void start(double min, double max, double left, double right)
    {
        model.setScale(min, max);
        model.setRange(left, right);
        notes.clear();
    }
};

}  // namespace

class RangeSliderTest : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void layoutFollowsTheControlsSize()
    {
        RecordedModel m;
        QCOMPARE(m.model.arrowWidth(), 15);
        QCOMPARE(m.model.trackWidth(), 400);
        m.start(0, 1'000'000, 250'000, 500'000);
        QCOMPARE(m.model.leftThumbStart(), 100);
        QCOMPARE(m.model.rightThumbStart(), 200 + 15);
    }

    void rangeIsBroughtInsideTheScale_data()
    {
        QTest::addColumn<double>("scaleMin");
        QTest::addColumn<double>("scaleMax");
        QTest::addColumn<double>("left");
        QTest::addColumn<double>("right");
        QTest::addColumn<double>("wantMin");
        QTest::addColumn<double>("wantMax");
        QTest::addColumn<double>("wantLeft");
        QTest::addColumn<double>("wantRight");
        QTest::addColumn<Notes>("notes");
        QTest::newRow("inside: stored as given, nothing said") << 0.0 << 100.0 << 20.0 << 30.0 << 0.0 << 100.0 << 20.0 << 30.0 << Notes{};
        QTest::newRow("scale min above max is swapped") << 100.0 << 0.0 << 20.0 << 30.0 << 0.0 << 100.0 << 20.0 << 30.0 << Notes{};
        QTest::newRow("range given end first is turned round") << 0.0 << 100.0 << 30.0 << 20.0 << 0.0 << 100.0 << 20.0 << 30.0 << Notes{};
        QTest::newRow("range below the scale: left to min, right follows") << 10.0 << 100.0 << 0.0 << 5.0 << 10.0 << 100.0 << 10.0 << 10.0 << Notes{0, 1};
        QTest::newRow("range above the scale: right to max, left follows") << 0.0 << 100.0 << 150.0 << 200.0 << 0.0 << 100.0 << 100.0 << 100.0 << Notes{1, 0};
        QTest::newRow("range past both ends: each end says so") << 0.0 << 100.0 << -5.0 << 105.0 << 0.0 << 100.0 << 0.0 << 100.0 << Notes{0, 1};
    }
    void rangeIsBroughtInsideTheScale()
    {
        QFETCH(double, scaleMin);
        QFETCH(double, scaleMax);
        QFETCH(double, left);
        QFETCH(double, right);
        RecordedModel m;
        m.model.setScale(scaleMin, scaleMax);
        m.notes.clear();
        m.model.setRange(left, right);
        QFETCH(double, wantMin);
        QFETCH(double, wantMax);
        QCOMPARE(m.model.scale(), std::make_pair(wantMin, wantMax));
        QFETCH(double, wantLeft);
        QFETCH(double, wantRight);
        QFETCH(Notes, notes);
        QCOMPARE(m.model.range(), std::make_pair(wantLeft, wantRight));
        QCOMPARE(m.notes, notes);
    }

    void narrowingTheScaleMovesTheThumbsAndSaysSo()
    {
        RecordedModel m;
        m.start(0, 100, 20, 30);
        m.model.setScale(0, 25);
        QCOMPARE(m.model.range(), std::make_pair(20.0, 25.0));
        QCOMPARE(m.notes, Notes{1});
        m.notes.clear();
        m.model.setScale(40, 90);
        QCOMPARE(m.model.range(), std::make_pair(40.0, 40.0));
        QCOMPARE(m.notes, (Notes{0, 1}));
    }

    void invertedScaleStoresNegatedValuesAndGivesThemBack()
    {
        RecordedModel m;
        m.model.setInverted(true);
        m.start(0, 100, 20, 30);
        QCOMPARE(m.model.range(), std::make_pair(20.0, 30.0));
        QCOMPARE(m.model.scale(), std::make_pair(0.0, 100.0));
        QCOMPARE(m.model.storedLeft(), -30.0);
        QCOMPARE(m.model.storedRight(), -20.0);
        QCOMPARE(m.model.storedMin(), -100.0);
    }

    void arrowKeys_data()
    {
        QTest::addColumn<bool>("forward");
        QTest::addColumn<bool>("shift");
        QTest::addColumn<bool>("control");
        QTest::addColumn<double>("left");
        QTest::addColumn<double>("right");
        QTest::addColumn<double>("wantLeft");
        QTest::addColumn<double>("wantRight");
        QTest::addColumn<Notes>("notes");
        QTest::newRow("Right moves both thumbs one pixel, 2,500 sectors")
            << true << false << false << 100'000.0 << 500'000.0 << 102'500.0 << 502'500.0 << Notes{2};
        QTest::newRow("Shift+Right moves only the right thumb")
            << true << true << false << 100'000.0 << 500'000.0 << 100'000.0 << 502'500.0 << Notes{0};
        QTest::newRow("Left moves both back") << false << false << false << 100'000.0 << 500'000.0 << 97'500.0 << 497'500.0 << Notes{2};
        QTest::newRow("Shift+Left narrows from the right") << false << true << false << 100'000.0 << 500'000.0 << 100'000.0 << 497'500.0 << Notes{0};
        QTest::newRow("Control held: nothing") << true << false << true << 100'000.0 << 500'000.0 << 100'000.0 << 500'000.0 << Notes{};
        QTest::newRow("Right with the band at max: nothing") << true << false << false << 100'000.0 << 1'000'000.0 << 100'000.0 << 1'000'000.0 << Notes{};
        QTest::newRow("Left with the band at min: nothing") << false << false << false << 0.0 << 500'000.0 << 0.0 << 500'000.0 << Notes{};
        QTest::newRow("Shift+Left on a one-pixel band never turns it around")
            << false << true << false << 100'000.0 << 100'000.0 << 100'000.0 << 100'000.0 << Notes{};
    }
    void arrowKeys()
    {
        QFETCH(bool, forward);
        QFETCH(bool, shift);
        QFETCH(bool, control);
        QFETCH(double, left);
        QFETCH(double, right);
        QFETCH(double, wantLeft);
        QFETCH(double, wantRight);
        QFETCH(Notes, notes);
        RecordedModel m;
        m.start(0, 1'000'000, left, right);
        m.model.key(forward ? RangeSliderModel::Key::Forward : RangeSliderModel::Key::Backward, shift, control);
        QCOMPARE(m.model.range(), std::make_pair(wantLeft, wantRight));
        QCOMPARE(m.notes, notes);
    }

    void drags()
    {
        // Thumb middles: the left thumb starts at pixel 40 (100,000), the right at 200 + 15.
        const int leftMiddle = 40 + 7;
        const int rightMiddle = 215 + 7;
        const int bandMiddle = (40 + 15 + 1 + 215 - 1) / 2;
        RecordedModel m;

        m.start(0, 1'000'000, 100'000, 500'000);
        QVERIFY(m.model.press(leftMiddle));
        QVERIFY(!m.model.press(leftMiddle));  // one drag at a time
        m.model.drag(leftMiddle + 20);
        QCOMPARE(m.model.range(), std::make_pair(150'000.0, 500'000.0));
        m.model.drag(leftMiddle + 300);  // past the right thumb: stops at its value
        QCOMPARE(m.model.range(), std::make_pair(500'000.0, 500'000.0));
        m.model.drag(-50);  // before the scale: stops at min
        QCOMPARE(m.model.range().first, 0.0);
        QCOMPARE(m.notes, (Notes{0, 0, 0}));
        m.model.release();

        m.start(0, 1'000'000, 100'000, 500'000);
        QVERIFY(m.model.press(rightMiddle));
        m.model.drag(rightMiddle);  // nothing changed: said as the left thumb
        m.model.drag(rightMiddle - 300);  // below the left thumb: stops at its value
        m.model.drag(rightMiddle + 1000);  // past max
        QCOMPARE(m.model.range(), std::make_pair(100'000.0, 1'000'000.0));
        QCOMPARE(m.notes, (Notes{0, 1, 1}));
        m.model.release();

        m.start(0, 1'000'000, 100'000, 500'000);
        QVERIFY(m.model.press(bandMiddle));
        m.model.drag(bandMiddle + 10);
        QCOMPARE(m.model.range(), std::make_pair(125'000.0, 525'000.0));
        m.model.drag(bandMiddle + 1000);  // against max: the band keeps its width
        QCOMPARE(m.model.range(), std::make_pair(600'000.0, 1'000'000.0));
        m.model.drag(bandMiddle - 1000);  // against min
        QCOMPARE(m.model.range(), std::make_pair(0.0, 400'000.0));
        QCOMPARE(m.notes, (Notes{2, 2, 2}));
        m.model.release();

        m.start(0, 1'000'000, 100'000, 500'000);
        QVERIFY(!m.model.press(kWidth - 2));  // beyond the right thumb: no drag
        QVERIFY(!m.model.dragging());
    }

    void zeroWidthScale()
    {
        RecordedModel m;
        m.start(5, 5, 5, 5);
        QVERIFY(!m.model.key(RangeSliderModel::Key::Forward, false, false));
        QVERIFY(!m.model.key(RangeSliderModel::Key::Backward, true, false));
        QVERIFY(m.model.press(7));
        m.model.drag(300);
        QCOMPARE(m.model.range(), std::make_pair(5.0, 5.0));
        QCOMPARE(m.notes, Notes{0});
    }

    void widgetTurnsEventsIntoModelCalls()
    {
        CRangeSlider slider;
        slider.resize(kWidth, kHeight);
        slider.show();
        QVERIFY(QTest::qWaitForWindowExposed(&slider));
        slider.setScale(0, 1'000'000);
        slider.setRange(100'000, 500'000);
        QSignalSpy spy(&slider, &CRangeSlider::rangeChanged);

        QTest::keyClick(&slider, Qt::Key_Right);
        QCOMPARE(slider.range(), std::make_pair(102'500.0, 502'500.0));
        QTest::keyClick(&slider, Qt::Key_Right, Qt::ShiftModifier);
        QCOMPARE(slider.range(), std::make_pair(102'500.0, 505'000.0));
        QTest::keyClick(&slider, Qt::Key_Down);  // the vertical keys do nothing on a horizontal slider
        QCOMPARE(spy.count(), 2);
        QCOMPARE(spy.at(0).at(0).toInt(), 2);
        QCOMPARE(spy.at(1).at(0).toInt(), 0);

        // Grab the left thumb (pixels 41 to 55) at its middle and drag it 40 pixels to the right.
        QTest::mousePress(&slider, Qt::LeftButton, {}, QPoint(48, 10));
        QVERIFY(slider.hasFocus());
        QMouseEvent move(QEvent::MouseMove, QPointF(88, 10), slider.mapToGlobal(QPointF(88, 10)), Qt::NoButton,
                         Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(&slider, &move);
        QTest::mouseRelease(&slider, Qt::LeftButton, {}, QPoint(88, 10));
        QCOMPARE(slider.range().first, 202'500.0);  // pixel 81 of the track
        QVERIFY(!slider.model().dragging());
    }

    void verticalSliderMovesWithDownAndUp()
    {
        CRangeSlider slider(nullptr, false);
        slider.resize(kHeight, kWidth);
        slider.show();
        QVERIFY(QTest::qWaitForWindowExposed(&slider));
        QCOMPARE(slider.model().trackWidth(), 400);
        slider.setScale(0, 1'000'000);
        slider.setRange(100'000, 500'000);
        QTest::keyClick(&slider, Qt::Key_Down);
        QCOMPARE(slider.range(), std::make_pair(102'500.0, 502'500.0));
        QTest::keyClick(&slider, Qt::Key_Up, Qt::ShiftModifier);
        QCOMPARE(slider.range(), std::make_pair(102'500.0, 500'000.0));
        QTest::keyClick(&slider, Qt::Key_Right);  // the horizontal keys do nothing here
        QCOMPARE(slider.range(), std::make_pair(102'500.0, 500'000.0));
    }

    void paintsTheBandWhiteBetweenTheThumbs()
    {
        CRangeSlider slider;
        slider.resize(kWidth, kHeight);
        slider.setScale(0, 1'000'000);
        slider.setRange(250'000, 750'000);
        const QImage image = slider.grab().toImage();
        const int left = slider.model().leftThumbStart();
        const int right = slider.model().rightThumbStart();
        QCOMPARE(QColor(image.pixel((left + 15 + right) / 2, kHeight / 2)), QColor(Qt::white));
        QVERIFY(QColor(image.pixel(left + 2, 2)) != QColor(Qt::white));
        QVERIFY(QColor(image.pixel(right + 2, 2)) != QColor(Qt::white));

        // A zero-width scale and a control too small for its thumbs still paint.
        slider.setScale(7, 7);
        QVERIFY(!slider.grab().isNull());
        slider.resize(10, kHeight);
        QVERIFY(!slider.grab().isNull());
    }

    void panelBindsTheSliderToTheFields()
    {
        kfr::uitest::ScriptedDialogs dialogs;
        CSectorRangePanel panel(QStringLiteral("intro"), dialogs);
        panel.resize(800, 120);
        panel.show();
        QVERIFY(QTest::qWaitForWindowExposed(&panel));
        CRangeSlider* slider = panel.slider();

        // Choosing a partition of a 204,800-sector disk.
        panel.setChoice(SectorChoice{0, 204'799, 2048, 75'775});
        QCOMPARE(panel.lowestField()->text(), QStringLiteral("0"));
        QCOMPARE(panel.highestField()->text(), QStringLiteral("204799"));
        QCOMPARE(panel.startField()->text(), QStringLiteral("2048"));
        QCOMPARE(panel.endField()->text(), QStringLiteral("75775"));
        QCOMPARE(slider->range(), std::make_pair(2048.0, 75'775.0));

        // A typed End Sector moves the right thumb; one below the start leaves the thumbs.
        panel.endField()->clear();
        QTest::keyClicks(panel.endField(), QStringLiteral("100000"));
        QCOMPARE(slider->range(), std::make_pair(2048.0, 100'000.0));
        panel.endField()->clear();
        QTest::keyClicks(panel.endField(), QStringLiteral("1000"));
        QCOMPARE(slider->range(), std::make_pair(2048.0, 100'000.0));
        QCOMPARE(panel.endField()->text(), QStringLiteral("1000"));  // the field keeps what was typed
        QCOMPARE(panel.fields().end.value_or(0), std::uint64_t{1000});

        // The slider's change writes whole sectors back, the fraction dropped.
        QTest::keyClick(slider, Qt::Key_Right);
        const auto [left, right] = slider->range();
        QCOMPARE(panel.startField()->text(), QString::number(static_cast<qulonglong>(left)));
        QCOMPARE(panel.endField()->text(), QString::number(static_cast<qulonglong>(right)));
        QVERIFY(left > 2048.0);

        // A changed largest sector sets the scale when the field is left.
        panel.highestField()->setFocus();
        panel.highestField()->selectAll();
        QTest::keyClicks(panel.highestField(), QStringLiteral("50000"));
        panel.startField()->setFocus();
        QTRY_COMPARE(slider->scale(), std::make_pair(0.0, 50'000.0));
        QVERIFY(slider->range().second <= 50'000.0);

        QCOMPARE(panel.helpButton()->toolTip(), QString::fromUtf8(kfr::texts::kSectorRangeHelpTooltip));
        panel.helpButton()->click();
        QCOMPARE(dialogs.shown, QStringList{QString::fromUtf8(kfr::texts::kSectorRangeHelpText)});
    }
};

QTEST_MAIN(RangeSliderTest)
#include "range_slider_test.moc"
