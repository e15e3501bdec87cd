// SPDX-License-Identifier: GPL-3.0-or-later
// Needle meter, band bars with falling peaks, the clock and the volume knobs.
#include <QApplication>
#include <QFile>
#include <QTimer>

#include <gtest/gtest.h>

#include <algorithm>
#include <memory>

#include "app/PanelMath.h"
#include "app/Unit1.h"
#include "capture/Unit2.h"
#include "playback/Unit4.h"
#include "settings/publicunit.h"
#include "support/TestSupport.h"

namespace {

const QRgb kBack = qRgb(0, 204, 255);
const QRgb kInk = qRgb(0, 102, 153);

class DisplaysTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        testing_support::GuiApp();
    }
    void SetUp() override {
        std::fill(std::begin(BandLevels), std::end(BandLevels), 0);
        Playing = false;
    }
    void TearDown() override {
        std::fill(std::begin(BandLevels), std::end(BandLevels), 0);
        Playing = false;
    }
    void WriteConfig(const QByteArray& text) {
        QFile f(env.AppDir() + "config.ini");
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write(text);
    }
    testing_support::TestEnvironment env;
};

// The digit d as the clock must show it: its key colour turned to the background.
bool DigitShownAt(const QImage& clock, const std::vector<QImage>& digits, int x, int d) {
    const QImage digit = digits[static_cast<size_t>(d)].convertToFormat(QImage::Format_RGB32);
    for (int yy = 0; yy < digit.height(); ++yy)
        for (int xx = 0; xx < digit.width(); ++xx) {
            QRgb want = digit.pixel(xx, yy);
            if (want == qRgb(255, 255, 0)) want = kBack;
            if (clock.pixel(x + xx, yy) != want) return false;
        }
    return true;
}

TEST(NeedleTip, SweepsFromLeftThroughUprightToRight) {
    EXPECT_EQ(panel::NeedleTip(0), QPoint(8, 26));
    EXPECT_EQ(panel::NeedleTip(25), QPoint(48, 10));
    EXPECT_EQ(panel::NeedleTip(100), QPoint(88, 26));
    // Levels outside 0..100 stay at the ends instead of giving no number.
    EXPECT_EQ(panel::NeedleTip(-7), QPoint(8, 26));
    EXPECT_EQ(panel::NeedleTip(250), QPoint(88, 26));
}

TEST_F(DisplaysTest, MeterDrawsTheNeedleOfTheActiveEngine) {
    TForm1 form(env.AppDir());
    TFRecord capture;
    TFPlay playback;
    form.Capture = &capture;
    form.Playback = &playback;
    capture.Level = 25;
    playback.Level = 0;
    form.Timer1Timer();
    const QImage& meter = form.Image100->Picture();
    EXPECT_EQ(meter.pixel(48, 10), qRgb(255, 0, 0));
    EXPECT_EQ(meter.pixel(48, 9), qRgb(0, 0, 0));
    EXPECT_EQ(meter.pixel(48, 45), qRgb(255, 0, 0));
    EXPECT_EQ(meter.pixel(20, 40), qRgb(0, 0, 0));

    // While playing the playback level drives the needle: 45 degrees left.
    Playing = true;
    form.Timer1Timer();
    EXPECT_EQ(form.Image100->Picture().pixel(9, 27), qRgb(255, 0, 0));
    EXPECT_EQ(form.Image100->Picture().pixel(48, 20), qRgb(0, 0, 0));
}

// Counts the paint events of the widgets it watches.
class PaintCounter : public QObject {
public:
    int paints = 0;
    bool eventFilter(QObject*, QEvent* event) override {
        if (event->type() == QEvent::Paint) ++paints;
        return false;
    }
};

TEST_F(DisplaysTest, UnchangedDisplaysAreNotRepaintedAndTheNextChangeIs) {
    TForm1 form(env.AppDir());
    for (QTimer* t : {form.Timer1, form.Timer2, form.Timer4, form.Timer5, form.TFlying}) t->stop();
    TFRecord capture;
    form.Capture = &capture;
    form.show();
    PaintCounter meter, bars, wave;
    form.Image100->installEventFilter(&meter);
    form.PaintBox3->installEventFilter(&bars);
    form.PaintBox2->installEventFilter(&wave);
    const std::vector<QPoint> flat(270, QPoint(0, 10));
    // Every pending update is painted now: posted update requests are
    // delivered at once instead of after a while of the event loop.
    auto settle = [] {
        QCoreApplication::sendPostedEvents(nullptr, QEvent::UpdateRequest);
        QCoreApplication::sendPostedEvents(nullptr, QEvent::UpdateLater);
        QCoreApplication::processEvents();
    };

    form.Timer1Timer();
    form.PaintBox2->ShowWave(flat.data(), 270, kBack, kInk);
    settle();
    const int meterBefore = meter.paints, barsBefore = bars.paints, waveBefore = wave.paints;
    // Quiet ticks and blocks: the same pictures, no repaint.
    for (int i = 0; i < 6; ++i) {
        form.Timer1Timer();
        form.PaintBox2->ShowWave(flat.data(), 270, kBack, kInk);
        settle();
    }
    EXPECT_EQ(meter.paints, meterBefore);
    EXPECT_EQ(bars.paints, barsBefore);
    EXPECT_EQ(wave.paints, waveBefore);

    // Sound: every display shows it.
    capture.Level = 25;
    BandLevels[0] = 100;
    std::vector<QPoint> swing = flat;
    swing[5] = QPoint(5, 0);
    form.Timer1Timer();
    form.PaintBox2->ShowWave(swing.data(), 270, kBack, kInk);
    settle();
    EXPECT_GT(meter.paints, meterBefore);
    EXPECT_GT(bars.paints, barsBefore);
    EXPECT_GT(wave.paints, waveBefore);
    EXPECT_EQ(form.Image100->Picture().pixel(48, 10), qRgb(255, 0, 0));
    EXPECT_EQ(form.PaintBox3->grab().toImage().pixel(0, 0), kInk);
    EXPECT_EQ(form.PaintBox2->Points()[5], QPoint(5, 0));
}

TEST_F(DisplaysTest, PeaksRiseEveryThirdTickCapAt100AndFallBelowZero) {
    TForm1 form(env.AppDir());
    BandLevels[0] = 50;
    form.Displays().PeakHold[0] = 40;
    BandLevels[1] = 0;
    form.Displays().PeakHold[1] = 1;
    BandLevels[2] = 98;
    form.Displays().PeakHold[2] = 60;
    form.Timer1Timer();
    form.Timer1Timer();
    EXPECT_EQ(form.Displays().PeakHold[0], 40);
    form.Timer1Timer();
    EXPECT_EQ(form.Displays().PeakHold[0], 55);
    EXPECT_EQ(form.Displays().PeakHold[1], -1);
    EXPECT_EQ(form.Displays().PeakHold[2], 100);
    // With the band at 0 the peak falls by 2 per update; once below the
    // band it is lifted again to band + 5.
    BandLevels[0] = 0;
    for (int i = 0; i < 6; ++i) form.Timer1Timer();
    EXPECT_EQ(form.Displays().PeakHold[0], 51);
    EXPECT_EQ(form.Displays().PeakHold[1], 3);
    // The fall never wraps around.
    EXPECT_EQ(panel::NextPeak(INT32_MIN, INT32_MIN + 1), INT32_MIN + 1);
}

TEST(BandBars, NineteenBarsOnTheTallScaleClippedByTheBox) {
    int32_t bands[20] = {};
    int32_t peaks[20] = {};
    bands[0] = 100;
    bands[1] = 18;  // r(8.28) = 8: top at 38, below the box
    bands[2] = 20;  // r(9.2) = 9: top at 37, the last row
    bands[19] = 100;  // band 19 has no bar
    peaks[3] = 50;  // 46 - 23 = 23
    peaks[4] = -10;
    const QImage box = panel::DrawBandBars(bands, peaks, QSize(153, 38));
    ASSERT_EQ(box.size(), QSize(153, 38));
    for (int y = 0; y < 38; ++y) {
        EXPECT_EQ(box.pixel(0, y), kInk);
        EXPECT_EQ(box.pixel(4, y), kInk);
        EXPECT_EQ(box.pixel(5, y), kBack);
        EXPECT_EQ(box.pixel(152, y), kBack);
    }
    for (int y = 0; y < 38; ++y) EXPECT_EQ(box.pixel(8, y), kBack) << y;
    EXPECT_EQ(box.pixel(16, 37), kInk);
    EXPECT_EQ(box.pixel(16, 36), kBack);
    EXPECT_EQ(box.pixel(24, 23), kInk);
    EXPECT_EQ(box.pixel(28, 23), kInk);
    EXPECT_EQ(box.pixel(29, 23), kBack);
    EXPECT_EQ(box.pixel(24, 22), kBack);
    for (int y = 0; y < 38; ++y) EXPECT_EQ(box.pixel(32, y), kBack);
}

TEST(Clock, SplitsAndWrapsHours) {
    const panel::ClockParts t = panel::SplitElapsed(3725);
    EXPECT_EQ(t.hours, 1);
    EXPECT_EQ(t.minutes, 2);
    EXPECT_EQ(t.seconds, 5);
    const panel::ClockParts day = panel::SplitElapsed(25 * 3600);
    EXPECT_EQ(day.hours, 1);
    EXPECT_EQ(day.minutes, 0);
    EXPECT_EQ(day.seconds, 0);
    EXPECT_EQ(panel::SplitElapsed(-5).seconds, 0);
    EXPECT_EQ(panel::ElapsedSeconds(44100, 22050), 2);
    EXPECT_EQ(panel::ElapsedSeconds(44100, 0), 0);
    EXPECT_EQ(panel::ElapsedSeconds(44100, -1), 0);
}

TEST_F(DisplaysTest, ClockDrawsDigitsAndColonsOnTheKeyedBackground) {
    TForm1 form(env.AppDir());
    form.Displays().DrawElapsedTime(3725);
    const QImage& clock = form.Image101->Picture();
    const int xs[6] = {0, 12, 32, 44, 64, 76};
    const int want[6] = {0, 1, 0, 2, 0, 5};
    for (int k = 0; k < 6; ++k) EXPECT_TRUE(DigitShownAt(clock, form.digitlist, xs[k], want[k])) << k;
    for (int x : {26, 28, 58, 60})
        for (int y : {3, 5, 12, 14}) EXPECT_EQ(clock.pixel(x, y), kInk) << x << "," << y;
    EXPECT_EQ(clock.pixel(27, 7), kBack);
    EXPECT_EQ(clock.pixel(29, 3), kBack);
    for (int y = 0; y < clock.height(); ++y)
        for (int x = 0; x < clock.width(); ++x) ASSERT_NE(clock.pixel(x, y), qRgb(255, 255, 0));
}

TEST_F(DisplaysTest, ClockFollowsRecordingThenPlaybackAndIndicatorsBlink) {
    TForm1 form(env.AppDir());
    TFRecord capture;
    TFPlay playback;
    form.Capture = &capture;
    form.Playback = &playback;
    capture.Recording = true;
    capture.SampleRate = 22050;
    capture.FramesWritten = 22050 * 3725 + 100;
    form.Timer2Timer();
    EXPECT_TRUE(DigitShownAt(form.Image101->Picture(), form.digitlist, 76, 5));
    EXPECT_FALSE(form.Image106->isHidden());
    EXPECT_TRUE(form.Image105->isHidden());
    form.Timer2Timer();
    EXPECT_TRUE(form.Image106->isHidden());

    // Both running: the playback time is drawn last and both lamps blink.
    Playing = true;
    playback.BytesPerSecond = 88200;
    playback.BytesPlayed = 88200 * 7;
    form.Timer2Timer();
    EXPECT_TRUE(DigitShownAt(form.Image101->Picture(), form.digitlist, 76, 7));
    EXPECT_FALSE(form.Image106->isHidden());
    EXPECT_FALSE(form.Image105->isHidden());
    form.Timer2Timer();
    EXPECT_TRUE(form.Image105->isHidden());

    // No rate yet: 00:00:00 rather than a division by zero.
    playback.BytesPerSecond = 0;
    capture.SampleRate = 0;
    form.Timer2Timer();
    EXPECT_TRUE(DigitShownAt(form.Image101->Picture(), form.digitlist, 76, 0));

    // Neither running: the lamps go out, the clock keeps its time.
    Playing = false;
    capture.Recording = false;
    form.Displays().DrawElapsedTime(9);
    form.Timer2Timer();
    EXPECT_TRUE(form.Image105->isHidden());
    EXPECT_TRUE(form.Image106->isHidden());
    EXPECT_TRUE(DigitShownAt(form.Image101->Picture(), form.digitlist, 76, 9));
}

TEST_F(DisplaysTest, KnobsStartFromTheSettings) {
    WriteConfig("[Settings]\nPlayingVolume=50\nRecordingVolume=100\n");
    TForm1 form(env.AppDir());
    EXPECT_EQ(form.Image109->y(), 62);  // 88 - r(26.5), the tie going to 26
    EXPECT_EQ(form.Label1->text(), "50");
    EXPECT_EQ(form.Image110->y(), 35);
    EXPECT_EQ(form.Label2->text(), "100");
}

TEST_F(DisplaysTest, KnobsWithVolumesOffTheScaleStayOnTheirTrack) {
    WriteConfig("[Settings]\nPlayingVolume=7\nRecordingVolume=150\n");
    TForm1 form(env.AppDir());
    EXPECT_EQ(form.Label1->text(), "07");
    EXPECT_EQ(form.Image109->y(), 84);
    EXPECT_EQ(form.Image110->y(), 35);
    EXPECT_EQ(form.Label2->text(), "150");
}

TEST_F(DisplaysTest, DraggingAKnobSetsTheVolumeInMemoryOnly) {
    const QByteArray config = "[Settings]\nPlayingVolume=50\nRecordingVolume=100\n";
    WriteConfig(config);
    TForm1 form(env.AppDir());

    // The first movement at the top gives 99, not 100.
    form.Image110MouseDown(4);
    ASSERT_TRUE(form.Displays().RecordKnobHeld);
    form.Displays().DragRecordKnob(35 + 4);
    EXPECT_EQ(form.Label2->text(), "99");
    EXPECT_EQ(AppSettings.RecordingVolume, 99);
    form.Image110MouseUp();
    EXPECT_FALSE(form.Displays().RecordKnobHeld);

    form.Image109MouseDown(10);
    form.Displays().DragPlayKnob(88 + 10);
    EXPECT_EQ(form.Image109->y(), 88);
    EXPECT_EQ(form.Label1->text(), "00");
    EXPECT_EQ(AppSettings.PlayingVolume, 0);
    form.Displays().DragPlayKnob(60 + 10);
    EXPECT_EQ(form.Label1->text(), "53");  // 100 - r(25 / 53 * 100)
    // Past either end the movement is ignored and the knob stays.
    form.Displays().DragPlayKnob(89 + 10);
    form.Displays().DragPlayKnob(34 + 10);
    EXPECT_EQ(form.Image109->y(), 60);
    EXPECT_EQ(AppSettings.PlayingVolume, 53);
    form.Image109MouseUp();

    QFile f(env.AppDir() + "config.ini");
    ASSERT_TRUE(f.open(QIODevice::ReadOnly));
    EXPECT_EQ(f.readAll(), config);
}

}  // namespace
