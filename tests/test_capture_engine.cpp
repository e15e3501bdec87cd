// SPDX-License-Identifier: GPL-3.0-or-later
// The capture window with a wave input fed by the test: device selection,
// the buffer cycle, the analysis of every block, the suspension during
// playback, and the start and stop of the input.
#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QTimer>

#include <algorithm>
#include <climits>
#include <cmath>
#include <cstring>
#include <vector>

#include "capture/Unit2.h"
#include "support/FakeWaveIn.h"
#include "platform/ReplayWaveIn.h"
#include "settings/publicunit.h"
#include "support/TestSupport.h"
#include "support/WaveFiles.h"

namespace {

class RecordingDisplay final : public WaveDisplay {
public:
    int width = 270;
    int height = 60;
    int shown = 0;
    std::vector<QPoint> points;
    TColor back = 0;
    TColor pen = 0;
    int DisplayWidth() const override { return width; }
    int DisplayHeight() const override { return height; }
    void ShowWave(const QPoint* p, int count, TColor b, TColor pe) override {
        ++shown;
        points.assign(p, p + count);
        back = b;
        pen = pe;
    }
};

std::vector<int16_t> Square(int16_t amplitude) {
    std::vector<int16_t> b(4096);
    for (int k = 0; k < 2048; ++k) b[2 * k] = b[2 * k + 1] = static_cast<int16_t>(k % 2 ? -amplitude : amplitude);
    return b;
}

class CaptureEngine : public ::testing::Test {
protected:
    void SetUp() override {
        platform::Services().waveIn = &device;
        device.names = {QStringLiteral("Some Other Card"), QStringLiteral("PulseAudio")};
        config.deviceName = QStringLiteral("pulseaudio");
        config.sampleRate = 22050;
        config.triggerMargin = 2;
        config.stopDelay = 3;
        config.recordFolder = env.AppDir();
        config.display = &display;
        config.endRecordingIfPlaying = true;
        record.Configure(config);
        WaveBackColor = RGB(0, 204, 255);
        Playing = false;
        std::fill(BandLevels, BandLevels + 20, 0);
    }
    void TearDown() override { record.StopInput(); }

    testing_support::TestEnvironment env;
    platform::FakeWaveIn device;
    RecordingDisplay display;
    CaptureConfig config;
    TFRecord record;
};

TEST_F(CaptureEngine, OpensTheDeviceNamedLikeTheMixerIgnoringCaseAndQueuesAllBuffers) {
    record.NoiseFloor = 7;
    record.LoudCount = 4;
    record.StartInput();
    EXPECT_TRUE(record.Capturing);
    EXPECT_EQ(record.NoiseFloor, 100);
    EXPECT_EQ(record.LoudCount, 0);
    EXPECT_EQ(device.openedDevice, 1);
    EXPECT_EQ(device.openedRate, 22050);
    ASSERT_EQ(device.Queued().size(), 30u);
    for (int i = 0; i < 30; ++i) {
        EXPECT_EQ(device.Queued()[static_cast<size_t>(i)], &record.CaptureHeaders[static_cast<size_t>(i)]);
        EXPECT_EQ(record.CaptureHeaders[static_cast<size_t>(i)].length, 8192u);
    }
    EXPECT_EQ(device.calls.last(), QStringLiteral("Start"));

    // A second start changes nothing.
    device.calls.clear();
    record.StartInput();
    EXPECT_TRUE(device.calls.isEmpty());
}

TEST_F(CaptureEngine, NoMatchingDeviceOpensNothingAndReportsNothing) {
    record.DeviceName = QStringLiteral("PulseAudio2");
    record.StartInput();
    EXPECT_FALSE(record.Capturing);
    EXPECT_EQ(device.calls, QStringList{QStringLiteral("DeviceNames")});

    // No mixer: an empty name matches nothing, not even an unnamed device.
    device.names = {QString()};
    record.DeviceName.clear();
    record.StartInput();
    EXPECT_FALSE(device.open);
    EXPECT_FALSE(record.Capturing);

    // No sound card at all.
    platform::Services().waveIn = nullptr;
    record.DeviceName = QStringLiteral("PulseAudio");
    record.StartInput();
    EXPECT_FALSE(record.Capturing);
    record.StopInput();
    EXPECT_EQ(record.Level, 0);
}

TEST_F(CaptureEngine, DeviceThatFailsToOpenOrStartLeavesTheCaptureStopped) {
    // Its owner sees that nothing listens and opens the device again later.
    device.openResult = platform::kWaveError;
    record.StartInput();
    EXPECT_FALSE(record.Capturing);
    EXPECT_FALSE(device.Feed(Square(1000)));
    record.StopInput();
    EXPECT_FALSE(record.Capturing);

    // Opened but not started: closed again, and the next start works.
    device.openResult = platform::kWaveOk;
    device.startResult = platform::kWaveError;
    record.StartInput();
    EXPECT_FALSE(record.Capturing);
    EXPECT_FALSE(device.open);
    device.startResult = platform::kWaveOk;
    record.StartInput();
    EXPECT_TRUE(record.Capturing);
    EXPECT_TRUE(device.Feed(Square(1000)));
}

TEST_F(CaptureEngine, EveryBlockIsAnalysedDrawnAndHandedBack) {
    record.StartInput();
    ASSERT_TRUE(device.Feed(Square(32767)));
    EXPECT_EQ(record.Level, 100);
    for (int32_t v : BandLevels) {
        EXPECT_GE(v, 0);
        EXPECT_LE(v, 100);
    }
    EXPECT_EQ(*std::max_element(BandLevels, BandLevels + 20), 100);
    EXPECT_EQ(display.shown, 1);
    EXPECT_EQ(display.points.size(), 270u);
    EXPECT_EQ(display.back, RGB(0, 204, 255));
    EXPECT_EQ(display.pen, RGB(0, 102, 153));
    EXPECT_EQ(display.points[0], QPoint(0, 0));
    // The work block holds the corrected copy; the buffer went back last.
    EXPECT_EQ(record.WorkBlock[0], 32767);
    EXPECT_EQ(device.Queued().size(), 30u);
    EXPECT_EQ(device.Queued().back(), &record.CaptureHeaders[0]);

    // Silence with a DC offset: everything falls back to zero.
    std::vector<int16_t> offset(4096, 1500);
    display.width = 5000;
    ASSERT_TRUE(device.Feed(offset));
    EXPECT_EQ(record.Level, 0);
    for (int32_t v : BandLevels) EXPECT_EQ(v, 0);
    ASSERT_EQ(display.points.size(), 2048u);
    EXPECT_TRUE(std::all_of(display.points.begin(), display.points.end(), [](QPoint p) { return p.y() == 30; }));

    // The buffers keep circulating in order.
    for (int i = 0; i < 100; ++i) ASSERT_TRUE(device.Feed(Square(static_cast<int16_t>(i * 300))));
    EXPECT_EQ(device.Queued().size(), 30u);
    EXPECT_EQ(record.Level, 91);  // 99 * 300 * 100 / 32767 = 90.64
}

TEST_F(CaptureEngine, PlaybackSuspendsTheAnalysisWithoutTouchingLevelsOrCounters) {
    record.StartInput();
    ASSERT_TRUE(device.Feed(Square(3000)));
    const int32_t level = record.Level;
    std::vector<int32_t> bands(BandLevels, BandLevels + 20);
    const int shown = display.shown;
    const auto floor = record.NoiseFloor;
    const auto loud = record.LoudCount;
    const auto quiet = record.QuietCount;
    const auto frames = record.FramesWritten;

    Playing = true;
    for (int i = 0; i < 5; ++i) ASSERT_TRUE(device.Feed(Square(static_cast<int16_t>(20000 + i))));
    EXPECT_EQ(record.Level, level);
    EXPECT_EQ(std::vector<int32_t>(BandLevels, BandLevels + 20), bands);
    EXPECT_EQ(display.shown, shown);
    EXPECT_EQ(record.NoiseFloor, floor);
    EXPECT_EQ(record.LoudCount, loud);
    EXPECT_EQ(record.QuietCount, quiet);
    EXPECT_EQ(record.FramesWritten, frames);
    EXPECT_EQ(device.Queued().size(), 30u);

    // Without the setting, playback does not suspend the capture.
    config.endRecordingIfPlaying = false;
    record.Configure(config);
    ASSERT_TRUE(device.Feed(Square(32767)));
    EXPECT_EQ(record.Level, 100);
    Playing = false;
}

TEST_F(CaptureEngine, StopResetsAndClosesAndLateBuffersAreNeverHandledOrQueuedAgain) {
    record.StartInput();
    ASSERT_TRUE(device.Feed(Square(1000)));
    const int32_t level = record.Level;
    device.calls.clear();
    record.StopInput();
    EXPECT_EQ(device.calls, (QStringList{QStringLiteral("Reset"), QStringLiteral("Close")}));
    EXPECT_FALSE(record.Capturing);
    EXPECT_FALSE(record.Recording);

    // A buffer that still turns up after the stop is ignored.
    device.calls.clear();
    platform::WaveInBuffer& late = record.CaptureHeaders[3];
    std::memset(late.data, 0x7f, late.length);
    late.bytesRecorded = late.length;
    device.DeliverAsIs(&late);
    EXPECT_EQ(record.Level, level);
    EXPECT_TRUE(device.calls.isEmpty());

    // Restarted at another rate; a buffer of the old opening marked empty by
    // the reset is neither analysed nor queued a second time.
    record.SampleRate = 44100;
    record.StartInput();
    EXPECT_EQ(device.openedRate, 44100);
    device.calls.clear();
    device.DeliverAsIs(&record.CaptureHeaders[5]);
    EXPECT_TRUE(device.calls.isEmpty());
    EXPECT_EQ(device.Queued().size(), 30u);
    EXPECT_EQ(record.Level, level);

    // A stop is done once.
    record.StopInput();
    device.calls.clear();
    record.StopInput();
    EXPECT_TRUE(device.calls.isEmpty());
}

TEST_F(CaptureEngine, BuffersFromSomewhereElseAreIgnored) {
    record.StartInput();
    std::vector<char> data(8192, 0x11);
    platform::WaveInBuffer stranger{data.data(), 8192, 8192, 0};
    device.calls.clear();
    record.OnWaveInData(&stranger);
    EXPECT_TRUE(device.calls.isEmpty());
    EXPECT_EQ(display.shown, 0);
}

// ---- Replayed files ----------------------------------------------------------

QCoreApplication& App() { return testing_support::CoreApp(); }

// 16-bit samples under a header that states `bits`; a provisional header
// carries the sizes of an empty file, as a take that is still open does.
void WriteWav(const QString& path, int rate, int channels, const std::vector<int16_t>& samples,
              bool provisional = false, int bits = 16) {
    const testing_support::WaveSpec format{1, static_cast<uint16_t>(channels), static_cast<uint32_t>(rate),
                                         static_cast<uint16_t>(bits), channels * 2};
    const auto dataBytes = static_cast<uint32_t>(samples.size() * 2);
    const QByteArray data(reinterpret_cast<const char*>(samples.data()), static_cast<qsizetype>(dataBytes));
    ASSERT_TRUE(testing_support::WriteFileBytes(
        path, testing_support::WaveHeaderBytes(format, provisional ? 36 : 36 + dataBytes, provisional ? 0 : dataBytes) +
                  data));
}

struct ReplayRun {
    std::vector<std::vector<int16_t>> blocks;
    std::vector<uint32_t> recorded;
    int ends = 0;
    qint64 elapsedMs = 0;
};

// Replays `path` into 4 buffers of 2048 frames, handing each back at once.
ReplayRun Replay(platform::ReplayWaveIn& in) {
    App();
    ReplayRun run;
    std::vector<char> memory(4 * 8192);
    platform::WaveInBuffer headers[4];
    QEventLoop loop;
    in.onEnd = [&] {
        ++run.ends;
        loop.quit();
    };
    if (in.Open(0, 22050, [&](platform::WaveInBuffer* b) {
            const auto* s = reinterpret_cast<const int16_t*>(b->data);
            run.blocks.emplace_back(s, s + b->length / 2);
            run.recorded.push_back(b->bytesRecorded);
            in.AddBuffer(b);
        }) != platform::kWaveOk)
        return run;
    for (int i = 0; i < 4; ++i) {
        headers[i] = platform::WaveInBuffer{memory.data() + i * 8192, 8192, 0, i};
        in.AddBuffer(&headers[i]);
    }
    QElapsedTimer clock;
    clock.start();
    in.Start();
    QTimer::singleShot(10000, &loop, &QEventLoop::quit);
    loop.exec();
    run.elapsedMs = clock.elapsed();
    in.Close();
    return run;
}

TEST(ReplayWaveIn, DeliversStereoInWholeBuffersAndPadsTheLastWithSilence) {
    testing_support::TestEnvironment env;
    std::vector<int16_t> samples(2 * 5000);
    for (size_t i = 0; i < samples.size(); ++i) samples[i] = static_cast<int16_t>(i % 2 ? -(int)(i / 2) : (int)(i / 2));
    const QString path = env.AppDir() + "stereo.wav";
    WriteWav(path, 22050, 2, samples);

    platform::ReplayWaveIn in(path);
    ASSERT_TRUE(in.Probe());
    EXPECT_EQ(in.FileSampleRate(), 22050);
    EXPECT_EQ(in.TotalFrames(), 5000);
    EXPECT_EQ(in.DeviceNames(), QStringList{QStringLiteral("Replay")});
    const ReplayRun run = Replay(in);
    EXPECT_EQ(run.ends, 1);
    ASSERT_EQ(run.blocks.size(), 3u);
    EXPECT_EQ(in.FramesDelivered(), 5000);
    std::vector<int16_t> joined;
    for (const auto& b : run.blocks) joined.insert(joined.end(), b.begin(), b.end());
    EXPECT_TRUE(std::equal(samples.begin(), samples.end(), joined.begin()));
    EXPECT_TRUE(std::all_of(joined.begin() + 10000, joined.end(), [](int16_t s) { return s == 0; }));
    EXPECT_EQ(run.recorded.back(), 8192u);
}

TEST(ReplayWaveIn, MonoIsCopiedToBothChannelsAndAnUnclosedRecordingIsReadToTheEnd) {
    testing_support::TestEnvironment env;
    std::vector<int16_t> mono(4096);
    for (size_t i = 0; i < mono.size(); ++i) mono[i] = static_cast<int16_t>(i * 7);
    const QString path = env.AppDir() + "mono.wav";
    WriteWav(path, 11025, 1, mono, /*provisional=*/true);

    platform::ReplayWaveIn in(path, /*paced=*/true);
    const ReplayRun run = Replay(in);
    EXPECT_EQ(in.TotalFrames(), 4096);
    ASSERT_EQ(run.blocks.size(), 2u);
    EXPECT_EQ(run.blocks[1][0], static_cast<int16_t>(2048 * 7));
    EXPECT_EQ(run.blocks[1][1], static_cast<int16_t>(2048 * 7));
    EXPECT_EQ(run.blocks[0][4095], static_cast<int16_t>(2047 * 7));
    // Paced: two blocks at 11025 Hz take 371.5 ms of real time.
    EXPECT_GE(run.elapsedMs, 360);
}

TEST(ReplayWaveIn, FilesWithoutSoundDoNotOpen) {
    testing_support::TestEnvironment env;
    const QString silent = env.AppDir() + "nothing.wav";
    WriteWav(silent, 22050, 2, std::vector<int16_t>());
    const QString text = env.AppDir() + "text.wav";
    {
        QFile f(text);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write("not a sound file at all, only words");
    }
    for (const QString& path : {silent, text, env.AppDir() + "missing.wav"}) {
        platform::ReplayWaveIn in(path);
        EXPECT_FALSE(in.Probe()) << path.toStdString();
        EXPECT_EQ(in.Open(0, 22050, nullptr), platform::kWaveError);
        EXPECT_EQ(in.Start(), platform::kWaveError);
    }
}

TEST(ReplayWaveIn, WiderSamplesAreRoundedToNearestAndClipped) {
    using platform::Sample16FromInt32;
    using platform::Sample16FromReal;
    // 32-bit integer samples: the upper 16 bits, rounded by the lower ones.
    EXPECT_EQ(Sample16FromInt32(5 << 16), 5);
    EXPECT_EQ(Sample16FromInt32((5 << 16) + 0x7FFF), 5);
    EXPECT_EQ(Sample16FromInt32((5 << 16) + 0x8000), 6);  // halfway: to the even one
    EXPECT_EQ(Sample16FromInt32((6 << 16) + 0x8000), 6);
    EXPECT_EQ(Sample16FromInt32(-(3 << 16) - 0x8000), -4);
    EXPECT_EQ(Sample16FromInt32(-(3 << 16) - 0x8001), -4);
    EXPECT_EQ(Sample16FromInt32(INT32_MAX), 32767);  // would round up to 32768
    EXPECT_EQ(Sample16FromInt32(INT32_MIN), -32768);
    // Floating point, full scale 1.0: x / 32768 comes back as x.
    for (int x : {-32768, -12345, -1, 0, 1, 32767}) EXPECT_EQ(Sample16FromReal(x / 32768.0), x);
    EXPECT_EQ(Sample16FromReal(2.5 / 32768), 2);
    EXPECT_EQ(Sample16FromReal(3.5 / 32768), 4);
    EXPECT_EQ(Sample16FromReal(1.0), 32767);
    EXPECT_EQ(Sample16FromReal(7.5), 32767);
    EXPECT_EQ(Sample16FromReal(-1.5), -32768);
    EXPECT_EQ(Sample16FromReal(std::nan("")), 0);
    EXPECT_EQ(Sample16FromReal(-HUGE_VAL), -32768);
}

TEST(ReplayWaveIn, DrivesTheCaptureEngineLikeALineInput) {
    testing_support::TestEnvironment env;
    App();
    // Three blocks of silence, one of a loud square wave, two of silence.
    std::vector<int16_t> samples;
    for (int block = 0; block < 6; ++block) {
        for (int k = 0; k < 2048; ++k) {
            const int16_t v = block == 3 ? static_cast<int16_t>(k % 2 ? -16000 : 16000) : 0;
            samples.push_back(v);
            samples.push_back(v);
        }
    }
    const QString path = env.AppDir() + "take.wav";
    WriteWav(path, 22050, 2, samples);
    platform::ReplayWaveIn in(path, false, QStringLiteral("PulseAudio"));
    platform::Services().waveIn = &in;

    // The height of each drawn waveform, block by block.
    class SwingDisplay final : public WaveDisplay {
    public:
        std::vector<int> swings;
        int DisplayWidth() const override { return 270; }
        int DisplayHeight() const override { return 60; }
        void ShowWave(const QPoint* p, int count, TColor, TColor) override {
            const auto [lo, hi] = std::minmax_element(p, p + count, [](QPoint a, QPoint b) { return a.y() < b.y(); });
            swings.push_back(count ? hi->y() - lo->y() : 0);
        }
    } display;

    TFRecord record;
    record.Display = &display;
    record.DeviceName = QStringLiteral("PULSEAUDIO");
    record.SampleRate = 22050;
    record.RecordFolder = env.AppDir();
    Playing = false;
    QEventLoop loop;
    in.onEnd = [&] { loop.quit(); };
    record.StartInput();
    ASSERT_TRUE(record.Capturing);
    QTimer::singleShot(10000, &loop, &QEventLoop::quit);
    loop.exec();
    EXPECT_EQ(display.swings, (std::vector<int>{0, 0, 0, 30, 0, 0}));
    EXPECT_EQ(record.Level, 0);
    EXPECT_EQ(in.FramesDelivered(), 6 * 2048);
    record.StopInput();
    EXPECT_FALSE(record.Capturing);
}

}  // namespace
