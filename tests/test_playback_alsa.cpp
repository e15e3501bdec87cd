// SPDX-License-Identifier: GPL-3.0-or-later
// Playback through ALSA's default device into the sound server, heard back
// from the monitor of its null sink. Skipped when no sound server answers.
#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QThread>

#include <algorithm>
#include <cmath>
#include <vector>

#include "platform/WaveOut.h"
#include "playback/Unit4.h"
#include "settings/publicunit.h"
#include "support/SoundServer.h"
#include "support/TestSupport.h"
#include "support/WaveFiles.h"

namespace {

constexpr int kMonitorRate = 22050;

QCoreApplication& App() { return testing_support::CoreApp(); }

using testing_support::Wait;

// A 1 kHz tone of `seconds` in the given PCM format (8 or 16 bits).
QByteArray ToneWav(int channels, int rate, int bits, double seconds) {
    const testing_support::WaveSpec format{1, static_cast<uint16_t>(channels), static_cast<uint32_t>(rate),
                                         static_cast<uint16_t>(bits)};
    return testing_support::ToneWaveFile(format, 1000.0, 0.5, static_cast<int>(rate * seconds));
}

// Goertzel power of `f` Hz over `n` samples of the monitor.
double Power(const int16_t* s, int n, double f) { return testing_support::TonePower(s, n, 1, f, kMonitorRate); }

struct Heard {
    double seconds = 0;      // time with sound in it
    double frequency = 0;    // the strongest tone in the loudest stretch
};

Heard Analyse(const QByteArray& raw) {
    const auto* s = reinterpret_cast<const int16_t*>(raw.constData());
    const int n = static_cast<int>(raw.size() / 2);
    const int window = kMonitorRate / 50;  // 20 ms
    Heard heard;
    int loudest = -1;
    double loudestEnergy = 0;
    for (int start = 0; start + window <= n; start += window) {
        double e = 0;
        for (int i = 0; i < window; ++i) e += static_cast<double>(s[start + i]) * s[start + i];
        const double rms = std::sqrt(e / window);
        // The monitor may miss the first moments while the sink wakes up.
        if (rms > 2000) heard.seconds += 0.02;
        if (e > loudestEnergy) {
            loudestEnergy = e;
            loudest = start;
        }
    }
    if (loudest < 0) return heard;
    const int span = std::min(n - loudest, kMonitorRate / 5);
    double best = 0;
    for (double f = 100; f <= 5000; f += 5) {
        const double p = Power(s + loudest, span, f);
        if (p > best) {
            best = p;
            heard.frequency = f;
        }
    }
    return heard;
}

class AlsaPlaybackTest : public ::testing::Test {
protected:
    void SetUp() override {
        App();
        if (!testing_support::VenueServerReachable()) GTEST_SKIP() << "no sound server with the sink \"venue\"";
        ASSERT_TRUE(testing_support::ResetVenueVolumes());
        device = platform::MakeAlsaWaveOut();
        platform::Services().waveOut = device.get();
        env.files.MakePath(env.AppDir() + "record/");
        Playing = false;
    }
    void TearDown() override { Playing = false; }

    // Plays `wav` with the playback window while the monitor is recorded.
    QByteArray PlayAndListen(const QByteArray& wav, bool& ended, bool& started) {
        const QString path = env.AppDir() + "record/tone.wav";
        EXPECT_TRUE(testing_support::WriteFileBytes(path, wav));

        testing_support::MonitorRecorder monitor(kMonitorRate);
        EXPECT_TRUE(monitor.Started());
        Wait(400);

        TFPlay play;
        play.Play(path);
        QElapsedTimer t;
        t.start();
        started = false;
        while (t.elapsed() < 15000) {
            App().processEvents(QEventLoop::AllEvents, 10);
            started = started || Playing;
            if (started && !Playing) break;
            QThread::msleep(2);
        }
        ended = started && !Playing;
        Wait(400);
        return monitor.Finish();
    }

    testing_support::TestEnvironment env;
    std::unique_ptr<platform::WaveOutDevice> device;
};

TEST_F(AlsaPlaybackTest, RecordingIsHeardOnTheSink) {
    bool started = false, ended = false;
    const Heard heard = Analyse(PlayAndListen(ToneWav(2, 22050, 16, 2.0), ended, started));
    EXPECT_TRUE(started);
    EXPECT_TRUE(ended) << "playback ends by itself at the end of the file";
    EXPECT_NEAR(heard.frequency, 1000, 15);
    EXPECT_GT(heard.seconds, 1.6);
    EXPECT_LT(heard.seconds, 2.6);
}

TEST_F(AlsaPlaybackTest, MonoEightBitFilePlaysInItsOwnFormat) {
    // Played in any other format the tone would change pitch and length.
    bool started = false, ended = false;
    const Heard heard = Analyse(PlayAndListen(ToneWav(1, 8000, 8, 1.5), ended, started));
    EXPECT_TRUE(ended);
    EXPECT_NEAR(heard.frequency, 1000, 15);
    EXPECT_GT(heard.seconds, 1.0);
    EXPECT_LT(heard.seconds, 2.1);
}

TEST_F(AlsaPlaybackTest, DeviceReportsInOrderAndDropsWhatTheResetTakesBack) {
    std::vector<int> done;
    int opens = 0, closes = 0;
    platform::WaveOutDevice::Handlers handlers;
    handlers.onOpen = [&] { ++opens; };
    handlers.onDone = [&](platform::WaveOutBuffer* b) { done.push_back(b->index); };
    handlers.onClose = [&] { ++closes; };

    platform::WaveFormat format{1, 2, 22050, 88200, 4, 16};
    platform::WaveFormat badAlign = format;
    badAlign.blockAlign = 0;
    EXPECT_NE(device->Open(badAlign, handlers), platform::kWaveOk);
    badAlign.blockAlign = 3;
    EXPECT_NE(device->Open(badAlign, handlers), platform::kWaveOk);

    std::vector<char> memory(8 * 2048, 0);
    std::vector<platform::WaveOutBuffer> buffers(8);
    for (int i = 0; i < 8; ++i) buffers[i] = {memory.data() + i * 2048, 2048, i};

    ASSERT_EQ(device->Open(format, handlers), platform::kWaveOk);
    for (int i = 0; i < 8; ++i) ASSERT_EQ(device->Write(&buffers[i]), platform::kWaveOk);
    QElapsedTimer t;  // 8 blocks last 0.19 s
    t.start();
    while (done.size() < 8 && t.elapsed() < 5000) Wait(10);
    EXPECT_EQ(opens, 1);
    EXPECT_EQ(done, (std::vector<int>{0, 1, 2, 3, 4, 5, 6, 7}));

    done.clear();
    for (int i = 0; i < 8; ++i) device->Write(&buffers[i]);
    device->Reset();
    device->Close();
    device->Close();
    Wait(500);
    EXPECT_TRUE(done.empty()) << "nothing is reported after a reset";
    EXPECT_EQ(closes, 1);
}

}  // namespace
