// SPDX-License-Identifier: GPL-3.0-or-later
// The skinned window: hover pictures, drag area, idle count and mini panel.
#include <QApplication>
#include <QMouseEvent>
#include <QScreen>

#include <gtest/gtest.h>

#include "app/PanelMath.h"
#include "app/Unit1.h"
#include "settings/publicunit.h"
#include "support/TestSupport.h"

namespace {

class SkinTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        testing_support::GuiApp();
    }
    testing_support::TestEnvironment env;
};

// Sends a left-button event to `target` at its own (x, y), the pointer being
// at `global` on the screen.
void Mouse(QWidget* target, QEvent::Type type, QPoint local, QPoint global) {
    const Qt::MouseButtons held = type == QEvent::MouseButtonRelease ? Qt::NoButton : Qt::LeftButton;
    const Qt::MouseButton button = type == QEvent::MouseMove ? Qt::NoButton : Qt::LeftButton;
    QMouseEvent event(type, QPointF(local), QPointF(global), button, held, Qt::NoModifier);
    QApplication::sendEvent(target, &event);
}

QList<QWidget*> Travelling(TForm1& form) {
    return {form.PaintBox2, form.PaintBox3, form.Image101, form.Image105, form.Image106};
}

int RegionArea(const QRegion& region) {
    int area = 0;
    for (const QRect& r : region) area += r.width() * r.height();
    return area;
}

TEST_F(SkinTest, HoverPicturesFollowTheButtonIndexAndTheRecordingMode) {
    TForm1 form(env.AppDir());
    form.Skin().ShowButtonHover(form.Image5);
    EXPECT_EQ(form.Image5->Picture(), form.ImageList1[6]);
    form.Skin().ShowButtonNormal(form.Image5);
    EXPECT_EQ(form.Image5->Picture(), form.ImageList1[7]);

    // Image13 shows the current mode and, under the pointer, the other one.
    AppSettings.ManualMode = false;
    form.Skin().ShowButtonHover(form.Image13);
    EXPECT_EQ(form.Image13->Picture(), form.ImageList1[23]);
    form.Skin().ShowButtonNormal(form.Image13);
    EXPECT_EQ(form.Image13->Picture(), form.ImageList1[22]);
    AppSettings.ManualMode = true;
    form.Skin().ShowButtonHover(form.Image13);
    EXPECT_EQ(form.Image13->Picture(), form.ImageList1[22]);
    form.Skin().ShowButtonNormal(form.Image13);
    EXPECT_EQ(form.Image13->Picture(), form.ImageList1[23]);
    AppSettings.ManualMode = false;

    // Controls that are no command image keep their picture.
    const QImage banner = form.Image108->Picture();
    form.Skin().ShowButtonHover(form.Image108);
    EXPECT_EQ(form.Image108->Picture(), banner);
}

TEST_F(SkinTest, ControlsAreStrictlyInsideTheirRectanglesTilesCountWhenHidden) {
    TForm1 form(env.AppDir());
    // Image5 at 68, 45, 28x16: the left and top edges are skin.
    EXPECT_FALSE(form.Skin().OverControl(68, 50));
    EXPECT_TRUE(form.Skin().OverControl(69, 50));
    EXPECT_TRUE(form.Skin().OverControl(95, 60));
    EXPECT_FALSE(form.Skin().OverControl(96, 50));
    EXPECT_FALSE(form.Skin().OverControl(80, 45));
    EXPECT_FALSE(form.Skin().OverControl(80, 61));
    EXPECT_TRUE(form.Skin().OverControl(600, 170));   // banner
    EXPECT_TRUE(form.Skin().OverControl(204, 80));    // playing knob at 194, 75
    EXPECT_FALSE(form.Skin().OverControl(600, 70));   // needle meter: skin
    EXPECT_FALSE(form.Skin().OverControl(300, 100));  // waveform box: skin

    EXPECT_FALSE(form.Skin().OverControl(300, 170));
    auto* tile = new TImage(&form, QStringLiteral("tile"));
    tile->SetBounds(295, 151, 56, 55);
    tile->hide();
    form.Strip().Recordings.append(TRecordingEntry{QStringLiteral("PLEN20261207090500.wav"), QDateTime(), tile});
    EXPECT_TRUE(form.Skin().OverControl(300, 170));
    EXPECT_FALSE(form.Skin().OverControl(295, 170));
}

TEST_F(SkinTest, PressOnAControlEdgeDragsTheWindowInsideItClicks) {
    TForm1 form(env.AppDir());
    form.show();
    form.move(100, 100);
    int clicks = 0;
    QObject::connect(form.Image5, &TImage::clicked, [&clicks] { ++clicks; });

    // Left edge pixel of Image5: a window drag, not a click.
    const QPoint start(100 + 68, 100 + 50);
    Mouse(form.Image5, QEvent::MouseButtonPress, {0, 5}, start);
    Mouse(form.Image5, QEvent::MouseMove, {20, 15}, start + QPoint(20, 10));
    Mouse(form.Image5, QEvent::MouseButtonRelease, {20, 15}, start + QPoint(20, 10));
    EXPECT_EQ(form.pos(), QPoint(120, 110));
    EXPECT_EQ(clicks, 0);

    // One pixel further in: a click, and the window stays.
    const QPoint inside(120 + 69, 110 + 50);
    Mouse(form.Image5, QEvent::MouseButtonPress, {1, 5}, inside);
    Mouse(form.Image5, QEvent::MouseMove, {6, 5}, inside + QPoint(5, 0));
    Mouse(form.Image5, QEvent::MouseButtonRelease, {6, 5}, inside + QPoint(5, 0));
    EXPECT_EQ(form.pos(), QPoint(120, 110));
    EXPECT_EQ(clicks, 1);

    // The bare skin drags as well; a press without movement moves nothing.
    Mouse(&form, QEvent::MouseButtonPress, {300, 130}, {420, 240});
    Mouse(&form, QEvent::MouseButtonRelease, {300, 130}, {420, 240});
    EXPECT_EQ(form.pos(), QPoint(120, 110));
    Mouse(&form, QEvent::MouseButtonPress, {300, 130}, {420, 240});
    Mouse(&form, QEvent::MouseMove, {300, 130}, {400, 250});
    Mouse(&form, QEvent::MouseButtonRelease, {300, 130}, {400, 250});
    EXPECT_EQ(form.pos(), QPoint(100, 120));
}

TEST_F(SkinTest, HeldKnobFollowsPointerMotionInWindowCoordinates) {
    TForm1 form(env.AppDir());
    form.show();
    ASSERT_EQ(form.Image109->y(), 75);
    Mouse(form.Image109, QEvent::MouseButtonPress, {10, 6}, {0, 0});
    ASSERT_TRUE(form.Displays().PlayKnobHeld);
    // Pointer at knob-relative y -14: window y 61, knob top 55.
    Mouse(form.Image109, QEvent::MouseMove, {10, -14}, {0, 0});
    EXPECT_EQ(form.Image109->y(), 55);
    EXPECT_EQ(form.Label1->text(), "62");  // 100 - r(20 / 53 * 100)
    Mouse(form.Image109, QEvent::MouseButtonRelease, {10, 0}, {0, 0});
    EXPECT_FALSE(form.Displays().PlayKnobHeld);
    Mouse(form.Image109, QEvent::MouseMove, {10, 20}, {0, 0});
    EXPECT_EQ(form.Image109->y(), 55);
}

TEST_F(SkinTest, IdleTicksCountToTheMiniPanelAndMovementRestartsThem) {
    TForm1 form(env.AppDir());
    form.move(100, 100);
    form.Skin().PointerMoved(5, 5);
    for (int i = 0; i < 60; ++i) form.TFlyingTimer();
    form.Skin().PointerMoved(5, 5);  // no movement
    EXPECT_EQ(form.Skin().IdleTicks, 60);
    form.Skin().PointerMoved(6, 5);
    EXPECT_EQ(form.Skin().IdleTicks, 0);
    for (int i = 0; i < 100; ++i) form.TFlyingTimer();
    EXPECT_FALSE(form.Skin().Flying);
    form.TFlyingTimer();
    ASSERT_TRUE(form.Skin().Flying);
    EXPECT_EQ(form.Skin().IdleTicks, 0);
    EXPECT_EQ(form.pos(), QPoint(344, 136));
    EXPECT_EQ(form.size(), QSize(750, 220));
    EXPECT_EQ(form.mask().boundingRect(), QRect(0, 0, 314, 90));
    EXPECT_FALSE(form.Image111->isHidden());
    EXPECT_EQ(form.PaintBox2->pos(), QPoint(21, 55));
    EXPECT_EQ(form.Image101->pos(), QPoint(201, 32));
    // The panel picture lies above the other controls, below the travellers.
    const QList<QObject*> order = form.children();
    for (QWidget* w : Travelling(form)) EXPECT_GT(order.indexOf(w), order.indexOf(form.Image111));
    EXPECT_GT(order.indexOf(form.Image111), order.indexOf(form.Image109));

    // Pointer movement over the panel does not count.
    form.Skin().PointerMoved(50, 50);
    form.TFlyingTimer();
    EXPECT_EQ(form.Skin().IdleTicks, 0);
    EXPECT_EQ(form.pos(), QPoint(347, 139));
}

TEST_F(SkinTest, MiniPanelCommandAndDoubleClicksSwitchBackAndForth) {
    TForm1 form(env.AppDir());
    form.move(100, 100);
    form.Image14Click();
    form.TFlyingTimer();
    ASSERT_TRUE(form.Skin().Flying);

    // Panel at (400, 300): the full window comes back at (156, 264).
    form.move(400, 300);
    form.Skin().CaptionDoubleClick();
    EXPECT_FALSE(form.Skin().Flying);
    EXPECT_EQ(form.pos(), QPoint(156, 264));
    EXPECT_EQ(form.mask().boundingRect(), QRect(0, 0, 750, 220));
    EXPECT_TRUE(form.Image111->isHidden());
    EXPECT_EQ(form.PaintBox2->geometry(), QRect(265, 91, 270, 20));
    EXPECT_EQ(form.PaintBox3->geometry(), QRect(266, 52, 153, 38));
    EXPECT_EQ(form.Image101->geometry(), QRect(445, 68, 92, 17));
    EXPECT_EQ(form.Image105->geometry(), QRect(440, 56, 32, 6));
    EXPECT_EQ(form.Image106->geometry(), QRect(500, 56, 28, 6));

    // A double click on the skin of the normal window asks for the panel.
    form.Skin().CaptionDoubleClick();
    EXPECT_EQ(form.Skin().IdleTicks, 10000);
    form.TFlyingTimer();
    EXPECT_TRUE(form.Skin().Flying);
}

TEST_F(SkinTest, OnThePanelEveryPressDragsAndADoubleClickLeaves) {
    TForm1 form(env.AppDir());
    form.show();
    form.move(100, 100);
    int clicks = 0;
    QObject::connect(form.Image5, &TImage::clicked, [&clicks] { ++clicks; });
    form.Image14Click();
    form.TFlyingTimer();
    ASSERT_TRUE(form.Skin().Flying);
    const QPoint at = form.pos();
    // Image5 lies under the panel picture: its middle drags the panel.
    Mouse(form.Image5, QEvent::MouseButtonPress, {10, 8}, {500, 500});
    Mouse(form.Image5, QEvent::MouseMove, {10, 8}, {510, 505});
    Mouse(form.Image5, QEvent::MouseButtonRelease, {10, 8}, {510, 505});
    EXPECT_EQ(clicks, 0);
    EXPECT_EQ(form.pos(), at + QPoint(10, 5));

    Mouse(form.Image111, QEvent::MouseButtonPress, {100, 40}, {600, 300});
    Mouse(form.Image111, QEvent::MouseButtonRelease, {100, 40}, {600, 300});
    Mouse(form.Image111, QEvent::MouseButtonPress, {100, 40}, {600, 300});
    Mouse(form.Image111, QEvent::MouseButtonDblClick, {100, 40}, {600, 300});
    Mouse(form.Image111, QEvent::MouseButtonRelease, {100, 40}, {600, 300});
    EXPECT_FALSE(form.Skin().Flying);
    EXPECT_EQ(form.pos(), at + QPoint(10, 5) - QPoint(244, 36));
}

TEST_F(SkinTest, PanelDriftsAndTurnsTenPixelsInsideTheScreen) {
    TForm1 form(env.AppDir());
    form.Image14Click();
    form.TFlyingTimer();
    ASSERT_TRUE(form.Skin().Flying);
    const QRect screen = form.screen()->geometry();
    form.move(screen.right() - 10 - 314 + 2, 200);
    form.Skin().FlyDX = 3;
    form.Skin().FlyDY = 3;
    form.TFlyingTimer();
    EXPECT_EQ(form.pos(), QPoint(screen.right() - 10 - 314 - 1, 203));
    EXPECT_EQ(form.Skin().FlyDX, -3);
}

TEST(FlyStep, TurnsAtTheMarginsNegativeStepsWinOnSmallScreens) {
    const QRect screen(0, 0, 1024, 768);
    const QSize panelSize(314, 90);
    int32_t dx = 3, dy = 3;
    EXPECT_EQ(panel::FlyStep(screen, {700, 100}, panelSize, dx, dy), QPoint(703, 103));
    EXPECT_EQ(dx, 3);
    EXPECT_EQ(panel::FlyStep(screen, {701, 100}, panelSize, dx, dy), QPoint(698, 103));
    EXPECT_EQ(dx, -3);
    dx = -3;
    dy = -3;
    EXPECT_EQ(panel::FlyStep(screen, {9, 9}, panelSize, dx, dy), QPoint(12, 12));
    EXPECT_EQ(panel::FlyStep(screen, {10, 668}, panelSize, dx, dy), QPoint(13, 671));
    EXPECT_EQ(panel::FlyStep(screen, {10, 669}, panelSize, dx, dy), QPoint(13, 666));
    EXPECT_EQ(dy, -3);
    dx = 3;
    dy = 3;
    EXPECT_EQ(panel::FlyStep(QRect(0, 0, 300, 80), {5, 5}, panelSize, dx, dy), QPoint(2, 2));
}

TEST(WindowShape, RunsOfNonBlackPixelsMakeTheRegion) {
    QImage picture(6, 3, QImage::Format_RGB32);
    picture.fill(qRgb(10, 20, 30));
    picture.setPixel(0, 0, qRgb(0, 0, 0));
    picture.setPixel(5, 0, qRgb(0, 0, 0));
    picture.setPixel(2, 1, qRgb(0, 0, 0));
    picture.setPixel(3, 1, qRgb(0, 0, 1));  // not black
    const QRegion region = panel::ShapeFromPicture(picture);
    EXPECT_EQ(RegionArea(region), 18 - 3);
    EXPECT_FALSE(region.contains(QPoint(0, 0)));
    EXPECT_FALSE(region.contains(QPoint(2, 1)));
    EXPECT_TRUE(region.contains(QPoint(3, 1)));
    EXPECT_TRUE(region.contains(QPoint(5, 2)));
    EXPECT_TRUE(panel::ShapeFromPicture(QImage()).isEmpty());
}

TEST_F(SkinTest, PanelShapeLeavesOutTheBlackCornersAndAnAllBlackPictureChangesNothing) {
    TForm1 form(env.AppDir());
    // The supplied picture: every non-black pixel and nothing else.
    const QImage supplied = form.Image111->Picture().convertToFormat(QImage::Format_RGB32);
    int black = 0;
    for (int y = 0; y < supplied.height(); ++y)
        for (int x = 0; x < supplied.width(); ++x) black += (supplied.pixel(x, y) & 0xFFFFFF) == 0;
    form.Skin().ApplyWindowShape(form.Image111);
    EXPECT_EQ(RegionArea(form.mask()), 314 * 90 - black);
    EXPECT_TRUE(form.mask().contains(QPoint(157, 45)));

    // Rounded corners cut out of the panel.
    QImage rounded(314, 90, QImage::Format_RGB32);
    rounded.fill(qRgb(60, 70, 80));
    for (QPoint p : {QPoint(0, 0), QPoint(1, 0), QPoint(0, 1), QPoint(313, 0), QPoint(0, 89), QPoint(313, 89)})
        rounded.setPixel(p, qRgb(0, 0, 0));
    form.Image111->SetPicture(rounded);
    form.Skin().ApplyWindowShape(form.Image111);
    EXPECT_EQ(RegionArea(form.mask()), 314 * 90 - 6);
    EXPECT_FALSE(form.mask().contains(QPoint(0, 0)));
    EXPECT_FALSE(form.mask().contains(QPoint(313, 89)));
    EXPECT_TRUE(form.mask().contains(QPoint(2, 0)));

    QImage dark(20, 20, QImage::Format_RGB32);
    dark.fill(Qt::black);
    TImage holder(&form);
    holder.SetPicture(dark);
    const QPoint at = form.pos();
    form.Skin().ApplyWindowShape(&holder);
    EXPECT_EQ(RegionArea(form.mask()), 314 * 90 - 6);
    EXPECT_EQ(form.pos(), at);
}

}  // namespace
