// SPDX-License-Identifier: GPL-3.0-or-later
// Start-up of the recorder: single instance, folder creation, layout, commands.
#include <QApplication>
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QScreen>
#include <QTemporaryDir>
#include <QThread>

#include <gtest/gtest.h>

#include "app/Unit1.h"
#include "capture/Unit2.h"
#include "platform/Defaults.h"
#include "settings/publicunit.h"
#include "support/TestSupport.h"

namespace {

class StartupTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        testing_support::GuiApp();
    }
    testing_support::TestEnvironment env;
};

TEST_F(StartupTest, CreatesTheRecordFolderWithParentsAndLoadsDefaults) {
    const QString nested = env.AppDir() + "deep/er/";
    TForm1 form(nested);
    EXPECT_EQ(AppPath, nested);
    EXPECT_TRUE(QDir(nested + "record").exists());
    EXPECT_EQ(AppSettings.SamplingRate, 22050);
    EXPECT_EQ(AppSettings.password, "58316024");
    EXPECT_EQ(env.priority.raised, 1);
    EXPECT_FALSE(Playing);
}

TEST_F(StartupTest, WindowIsABorderlessAlwaysOnTopSkinAtTheTopCentre) {
    TForm1 form(env.AppDir());
    EXPECT_EQ(form.windowTitle(), "Brovane Somora recorder");
    EXPECT_EQ(form.size(), QSize(750, 220));
    EXPECT_TRUE(form.windowFlags() & Qt::FramelessWindowHint);
    EXPECT_TRUE(form.windowFlags() & Qt::WindowStaysOnTopHint);
    const int screenWidth = QGuiApplication::primaryScreen()->geometry().width();
    EXPECT_EQ(form.y(), 10);
    EXPECT_EQ(form.x(), (screenWidth - 750) / 2);
}

TEST_F(StartupTest, ControlsStandAtTheirPlaces) {
    TForm1 form(env.AppDir());
    const struct {
        QWidget* w;
        QRect r;
    } expected[] = {
        {form.Image1, {0, 0, 750, 220}},     {form.Image2, {712, 54, 28, 38}},
        {form.Image3, {80, 163, 22, 22}},    {form.Image4, {550, 163, 22, 22}},
        {form.Image5, {68, 45, 28, 16}},     {form.Image6, {113, 45, 28, 16}},
        {form.Image7, {158, 45, 28, 16}},    {form.Image8, {68, 74, 28, 16}},
        {form.Image9, {113, 74, 28, 16}},    {form.Image10, {158, 74, 28, 16}},
        {form.Image11, {67, 103, 28, 16}},   {form.Image12, {112, 103, 28, 16}},
        {form.Image13, {151, 97, 39, 29}},   {form.Image14, {711, 31, 13, 13}},
        {form.Image15, {728, 31, 13, 13}},   {form.Image16, {48, 162, 24, 24}},
        {form.Image100, {578, 51, 96, 46}},  {form.Image101, {445, 68, 92, 17}},
        {form.Image105, {440, 56, 32, 6}},   {form.Image106, {500, 56, 28, 6}},
        {form.Image108, {580, 147, 131, 62}}, {form.Label1, {195, 113, 19, 15}},
        {form.Label2, {218, 113, 19, 15}},   {form.PaintBox1, {112, 141, 427, 73}},
        {form.PaintBox2, {265, 91, 270, 20}}, {form.PaintBox3, {266, 52, 153, 38}},
        {form.Image111, {0, 0, 314, 90}},    {form.Image102, {256, 248, 56, 55}},
        {form.Image103, {8, 224, 20000, 73}}, {form.Image104, {192, 304, 8, 20}},
    };
    for (const auto& e : expected) EXPECT_EQ(e.w->geometry(), e.r) << e.w->objectName().toStdString();
    // Default volumes of 25 put both knobs at 88 - r(13.25) = 75.
    EXPECT_EQ(form.Image109->geometry(), QRect(194, 75, 20, 20));
    EXPECT_EQ(form.Image110->geometry(), QRect(217, 75, 20, 20));
    EXPECT_FALSE(form.Image105->isVisibleTo(&form));
    EXPECT_FALSE(form.Image106->isVisibleTo(&form));
    EXPECT_FALSE(form.Image111->isVisibleTo(&form));
}

TEST_F(StartupTest, ButtonsHintsAndPointersFollowTheTable) {
    TForm1 form(env.AppDir());
    const QStringList order = {"Image2",  "Image3",  "Image4",  "Image5",  "Image6",
                               "Image7",  "Image8",  "Image9",  "Image10", "Image11",
                               "Image12", "Image13", "Image14", "Image15", "Image16"};
    for (int i = 0; i < 15; ++i) {
        TImage* b = form.Buttons[static_cast<size_t>(i)];
        EXPECT_EQ(b->objectName(), order[i]);
        EXPECT_EQ(b->cursor().shape(), i <= 11 ? Qt::PointingHandCursor : Qt::ArrowCursor) << i;
        EXPECT_EQ(b->Transparent(), i != 1 && i != 2) << i;
        EXPECT_FALSE(b->toolTip().isEmpty()) << i;
    }
    EXPECT_EQ(form.Image2->toolTip(), QString::fromUtf8("关闭本系统"));
    EXPECT_EQ(form.Image13->toolTip(), QString::fromUtf8("切换录音模式(声控录音/手动录音)"));
    EXPECT_TRUE(form.Image108->toolTip().isEmpty());
    EXPECT_EQ(form.Image108->cursor().shape(), Qt::PointingHandCursor);
    EXPECT_EQ(form.Image109->toolTip(), QString::fromUtf8("播放音量"));
    EXPECT_EQ(form.Image110->toolTip(), QString::fromUtf8("录音音量"));
}

TEST_F(StartupTest, TimersHaveTheirIntervalsAndStates) {
    TForm1 form(env.AppDir());
    const struct {
        QTimer* t;
        int interval;
        bool active;
    } expected[] = {{form.Timer1, 50, true},  {form.Timer2, 500, true}, {form.Timer3, 50, false},
                    {form.Timer4, 100, true}, {form.Timer5, 1000, true}, {form.Timer7, 2000, false},
                    {form.TFlying, 100, true}};
    for (const auto& e : expected) {
        EXPECT_EQ(e.t->interval(), e.interval) << e.t->objectName().toStdString();
        EXPECT_EQ(e.t->isActive(), e.active) << e.t->objectName().toStdString();
    }
    form.Timer4Timer();
    EXPECT_FALSE(form.Timer4->isActive());
    form.Timer5Timer();
    EXPECT_FALSE(form.Timer5->isActive());
}

// Every timer reaches its handler through the event loop: the first strip
// and the capture start run once, the meter, the clock and the idle count
// keep running.
TEST_F(StartupTest, TimersRunTheirHandlersFromTheEventLoop) {
    QDir().mkpath(env.AppDir() + "record");
    QFile take(env.AppDir() + "record/PLEN20261207090000.wav");
    ASSERT_TRUE(take.open(QIODevice::WriteOnly));
    take.write(QByteArray(44, '\0'));
    take.close();
    TForm1 form(env.AppDir());
    const QImage blankMeter = form.Image100->Picture();
    using testing_support::WaitUntil;
    EXPECT_TRUE(WaitUntil([&] { return !form.Timer4->isActive() && form.Strip().Recordings.size() == 1; }, 5000));
    EXPECT_TRUE(WaitUntil([&] { return !form.Timer5->isActive(); }, 5000));
    EXPECT_TRUE(WaitUntil([&] { return form.Image100->Picture() != blankMeter; }, 5000));
    EXPECT_TRUE(WaitUntil([&] { return form.Skin().IdleTicks >= 2; }, 5000));

    TFRecord recording;
    recording.Recording = true;
    recording.SampleRate = 22050;
    form.Capture = &recording;
    const QImage clock = form.Image101->Picture();
    EXPECT_TRUE(WaitUntil([&] { return form.Image101->Picture() != clock; }, 5000));
    form.Capture = nullptr;
}

TEST_F(StartupTest, HelpBannerAndMiniPanelCommands) {
    TForm1 form(env.AppDir());
    // Without a help file of its own the program opens the manual.
    // The help file is looked for off the GUI thread, and opened when found.
    form.Image15Click();
    ASSERT_TRUE(testing_support::WaitUntil([&] { return env.opener.opened.size() == 1; }, 5000));
    form.Image108Click();
    ASSERT_EQ(env.opener.opened.size(), 2);
    EXPECT_TRUE(env.opener.opened[0].endsWith("/manual.html")) << env.opener.opened[0].toStdString();
    EXPECT_TRUE(env.opener.opened[1].startsWith("https://"));
    QFile own(env.AppDir() + "PLENhelp.chm");
    ASSERT_TRUE(own.open(QIODevice::WriteOnly));
    own.close();
    form.Image15Click();
    ASSERT_TRUE(testing_support::WaitUntil([&] { return env.opener.opened.size() == 3; }, 5000));
    EXPECT_EQ(env.opener.opened.back(), env.AppDir() + "PLENhelp.chm");
    form.Image14Click();
    EXPECT_EQ(form.Skin().IdleTicks, 10000);
}

TEST_F(StartupTest, ClosingTwiceIsHarmless) {
    auto* form = new TForm1(env.AppDir());
    form->show();
    form->Image2Click();
    EXPECT_FALSE(form->isVisible());
    form->FormClose();
    form->close();
    delete form;
}

TEST(SingleInstance, KeyIgnoresLetterCase) {
    EXPECT_EQ(platform::LockFileInstance::LockPath("Brovane Somora recorder"),
              platform::LockFileInstance::LockPath("BROVANE SOMORA RECORDER"));
    EXPECT_NE(platform::LockFileInstance::LockPath("Brovane Somora recorder"),
              platform::LockFileInstance::LockPath("another"));
}

TEST(SingleInstance, SecondStartEndsSilentlyWhileTheFirstRuns) {
    const QByteArray exe = SOMORABOX_EXE_PATH;
    QTemporaryDir dir;
    ASSERT_TRUE(testing_support::CopyProgram(dir.path()));
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    QDir().mkpath(dir.filePath("runtime"));
    environment.insert("XDG_RUNTIME_DIR", dir.filePath("runtime"));
    environment.insert("XDG_CONFIG_HOME", dir.filePath("config"));
    environment.insert("QT_QPA_PLATFORM", "offscreen");

    QProcess first;
    first.setProcessEnvironment(environment);
    first.start(dir.filePath("Somorabox"), {});
    ASSERT_TRUE(first.waitForStarted());
    // Give the first instance time to take its lock and create its folder.
    for (int i = 0; i < 50 && !QDir(dir.filePath("record")).exists(); ++i) QThread::msleep(100);
    ASSERT_TRUE(QDir(dir.filePath("record")).exists());

    QProcess second;
    second.setProcessEnvironment(environment);
    second.start(dir.filePath("Somorabox"), {});
    ASSERT_TRUE(second.waitForFinished(10000));
    EXPECT_EQ(second.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(second.exitCode(), 0);
    EXPECT_TRUE(second.readAllStandardOutput().isEmpty());
    EXPECT_EQ(first.state(), QProcess::Running);

    first.terminate();
    first.waitForFinished(5000);
    if (first.state() != QProcess::NotRunning) first.kill();
}

}  // namespace
