// SPDX-License-Identifier: GPL-3.0-or-later
// The main window's stop and close commands against a playing recording.
#include <gtest/gtest.h>

#include <memory>

#include <QApplication>
#include <QFile>

#include <cstring>

#include "app/Unit1.h"
#include "support/FakeWaveOut.h"
#include "playback/Unit4.h"
#include "settings/publicunit.h"
#include "session/RecorderSession.h"
#include "support/TestSupport.h"

namespace {

QApplication& App() { return testing_support::GuiApp(); }

class PlaybackCommandsTest : public ::testing::Test {
protected:
    void SetUp() override {
        App();
        platform::Services().waveOut = &device;
        Playing = false;
        form = new TForm1(env.AppDir());
        session = std::make_unique<RecorderSession>(RecorderSession::Options{.recordFolder = env.AppDir() + "record/"});
        form->UseSession(session.get());
        QByteArray wav(44, '\0');
        const unsigned char header[] = {1, 0, 2, 0, 0x22, 0x56, 0, 0, 0x88, 0x58, 0x01, 0, 4, 0, 16, 0};
        std::memcpy(wav.data() + 20, header, sizeof header);
        wav += QByteArray(8 * 2048, '\x10');
        path = env.AppDir() + "record/a.wav";
        QFile f(path);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write(wav);
    }
    void TearDown() override {
        delete form;
        session.reset();
        Playing = false;
    }

    testing_support::TestEnvironment env;
    platform::FakeWaveOut device;
    TForm1* form = nullptr;
    std::unique_ptr<RecorderSession> session;
    QString path;
};

TEST_F(PlaybackCommandsTest, StopCommandStopsOnlyAPlayback) {
    form->Image9Click();
    EXPECT_EQ(device.resets, 0);
    session->PlayTake(path, nullptr);
    ASSERT_TRUE(testing_support::WaitUntil([&] { return device.OpenPending(); }, 5000));
    device.ReportOpen();
    ASSERT_TRUE(Playing);
    form->Image9Click();
    EXPECT_EQ(device.resets, 1);
    EXPECT_EQ(device.closes, 1);
    device.ReportClose();
    EXPECT_FALSE(Playing);
}

TEST_F(PlaybackCommandsTest, CloseCommandStopsThePlaybackOnceAlthoughItStopsTwice) {
    session->PlayTake(path, nullptr);
    ASSERT_TRUE(testing_support::WaitUntil([&] { return device.OpenPending(); }, 5000));
    device.ReportOpen();
    form->Image2Click();  // stops, closes the window, whose closing stops again
    EXPECT_EQ(device.resets, 1);
    EXPECT_EQ(device.closes, 1);
    EXPECT_TRUE(Playing) << "until the device reports the close";
    device.ReportClose();
    EXPECT_FALSE(Playing);
}

}  // namespace
