// SPDX-License-Identifier: GPL-3.0-or-later
// The capture through ALSA and a running sound server: speech played into the
// default sink reaches the engine through its monitor, and the level, the
// bands and the waveform box follow it. Skipped without a reachable server.
#include <gtest/gtest.h>

#include <QApplication>
#include <QElapsedTimer>
#include <QProcess>
#include <QStandardPaths>

#include <algorithm>
#include <memory>

#include "app/Controls.h"
#include "capture/Unit2.h"
#include "platform/AlsaNames.h"
#include "settings/publicunit.h"
#include "support/SoundServer.h"
#include "support/TestSupport.h"

namespace {

QApplication& App() { return testing_support::GuiApp(); }

using testing_support::Wait;
using testing_support::WaitUntil;

struct Sample {
    int32_t level = 0;
    int32_t bandMax = 0;
    int swing = 0;  // height of the drawn waveform in pixels
};

Sample Take(const TFRecord& record, const TWaveBox& box) {
    Sample s;
    s.level = record.Level;
    s.bandMax = *std::max_element(BandLevels, BandLevels + 20);
    const auto& points = box.Points();
    if (!points.empty()) {
        const auto [lo, hi] = std::minmax_element(points.begin(), points.end(),
                                                  [](QPoint a, QPoint b) { return a.y() < b.y(); });
        s.swing = hi->y() - lo->y();
    }
    return s;
}

TEST(CaptureAlsa, SpeechRaisesLevelBandsAndWaveformAndSilenceBringsThemBackToZero) {
    if (!testing_support::VenueServerReachable())
        GTEST_SKIP() << "no sound server with the sink \"venue\" (run under scripts/with-pulse.sh)";
    ASSERT_TRUE(testing_support::ResetVenueVolumes());
    const QString espeak = QStandardPaths::findExecutable("espeak-ng");
    const QString paplay = QStandardPaths::findExecutable("paplay");
    ASSERT_FALSE(espeak.isEmpty() || paplay.isEmpty())
        << "espeak-ng or paplay missing (scripts/deps.sh installs them)";
    App();
    testing_support::TestEnvironment env;

    const QString speech = env.AppDir() + "speech.wav";
    ASSERT_EQ(QProcess::execute(espeak, {"-w", speech, "Testing the venue line input, one, two, three."}), 0);

    std::unique_ptr<platform::WaveInDevice> alsa = platform::MakeAlsaWaveIn();
    platform::Services().waveIn = alsa.get();
    const QStringList names = alsa->DeviceNames();
    ASSERT_FALSE(names.isEmpty());
    EXPECT_EQ(names[0], platform::AlsaDefaultDeviceName());

    TWaveBox box(nullptr, QStringLiteral("PaintBox2"));
    box.resize(270, 60);
    TFRecord record;
    record.Display = &box;
    record.DeviceName = platform::AlsaDefaultDeviceName().toUpper();
    record.SampleRate = 22050;
    record.TriggerMargin = 2;
    record.StopDelay = 3;
    record.RecordFolder = env.AppDir();
    WaveBackColor = RGB(0, 204, 255);
    Playing = false;
    record.StartInput();
    ASSERT_TRUE(record.Capturing);

    // Silence first: the blocks arrive and measure nothing. (A null sink
    // may hold its monitor's first sound back for up to two seconds.)
    ASSERT_TRUE(WaitUntil([&] { return !box.Points().empty(); }, 8000))
        << "no block arrived from the capture device";
    Sample quiet = Take(record, box);
    EXPECT_EQ(quiet.level, 0);
    EXPECT_EQ(quiet.bandMax, 0);
    EXPECT_EQ(quiet.swing, 0);
    EXPECT_EQ(box.BackColor(), RGB(0, 204, 255));

    // Speech: sample every 50 ms while it plays.
    QProcess player;
    player.start(paplay, {QStringLiteral("-d"), QStringLiteral("venue"), speech});
    ASSERT_TRUE(player.waitForStarted());
    Sample loudest;
    QElapsedTimer clock;
    clock.start();
    while (player.state() != QProcess::NotRunning && clock.elapsed() < 20000) {
        Wait(50);
        const Sample s = Take(record, box);
        loudest.level = std::max(loudest.level, s.level);
        loudest.bandMax = std::max(loudest.bandMax, s.bandMax);
        loudest.swing = std::max(loudest.swing, s.swing);
    }
    EXPECT_EQ(player.exitCode(), 0);
    EXPECT_GE(loudest.level, 1);
    EXPECT_GE(loudest.bandMax, 20);
    EXPECT_GE(loudest.swing, 3);

    // Silence again, once the last burst of sound has passed the monitor.
    const bool settled = WaitUntil(
        [&] {
            quiet = Take(record, box);
            return quiet.level == 0 && quiet.bandMax == 0 && quiet.swing == 0;
        },
        10000);
    EXPECT_TRUE(settled) << "level " << quiet.level << ", bands " << quiet.bandMax << ", swing " << quiet.swing;

    record.StopInput();
    EXPECT_FALSE(record.Capturing);
    // After the stop nothing more arrives.
    const auto before = box.Points();
    Wait(300);
    EXPECT_EQ(box.Points(), before);
}

TEST(CaptureAlsa, RestartsAtAnotherRateAndAnUnknownNameOpensNothing) {
    if (!testing_support::VenueServerReachable())
        GTEST_SKIP() << "no sound server with the sink \"venue\" (run under scripts/with-pulse.sh)";
    ASSERT_TRUE(testing_support::ResetVenueVolumes());
    App();
    testing_support::TestEnvironment env;
    std::unique_ptr<platform::WaveInDevice> alsa = platform::MakeAlsaWaveIn();
    platform::Services().waveIn = alsa.get();
    TWaveBox box(nullptr, QStringLiteral("PaintBox2"));
    box.resize(4000, 60);
    TFRecord record;
    record.Display = &box;
    record.RecordFolder = env.AppDir();
    for (int rate : {44100, 11025, 22050}) {
        record.DeviceName = platform::AlsaDefaultDeviceName();
        record.SampleRate = rate;
        record.StartInput();
        ASSERT_TRUE(record.Capturing);
        EXPECT_TRUE(WaitUntil([&] { return !box.Points().empty(); }, 8000)) << rate;
        EXPECT_EQ(box.Points().size(), 2048u) << rate;
        record.StopInput();
        box.ShowWave(nullptr, 0, 0, 0);
    }
    record.DeviceName = QStringLiteral("No Such Card");
    record.StartInput();
    EXPECT_FALSE(record.Capturing);
}

}  // namespace
