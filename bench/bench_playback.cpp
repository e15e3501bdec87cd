// SPDX-License-Identifier: GPL-3.0-or-later
// The work the GUI thread does for every played block: analysis, waveform
// points, bands and the refill from the file. At 22050 Hz a block lasts
// 23.2 ms; this must stay far below that.
#include <benchmark/benchmark.h>

#include <QCoreApplication>
#include <QFile>
#include <QTemporaryDir>

#include <cmath>
#include <cstring>

#include "platform/Defaults.h"
#include "support/FakeWaveOut.h"
#include "playback/Unit4.h"
#include "settings/publicunit.h"

namespace {

class NullDisplay final : public WaveDisplay {
public:
    int DisplayWidth() const override { return 270; }
    int DisplayHeight() const override { return 20; }
    void ShowWave(const QPoint* points, int count, TColor, TColor) override {
        benchmark::DoNotOptimize(points);
        benchmark::DoNotOptimize(count);
    }
};

QString WriteTone(const QString& folder, int blocks) {
    QByteArray wav(44, '\0');
    const unsigned char format[] = {1, 0, 2, 0, 0x22, 0x56, 0, 0, 0x88, 0x58, 0x01, 0, 4, 0, 16, 0};
    std::memcpy(wav.data() + 20, format, sizeof format);
    QByteArray data(blocks * 2048, '\0');
    auto* s = reinterpret_cast<int16_t*>(data.data());
    for (int i = 0; i < blocks * 512; ++i)
        s[2 * i] = s[2 * i + 1] = static_cast<int16_t>(12000 * std::sin(i * 0.285));
    const QString path = folder + "/tone.wav";
    QFile f(path);
    f.open(QIODevice::WriteOnly);
    f.write(wav + data);
    return path;
}

// Plays `path` once its header is read.
void StartPlaying(TFPlay& play, platform::FakeWaveOut& device, const QString& path) {
    play.Play(path);
    while (!device.OpenPending()) QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
    device.ReportOpen();
}

void BM_PlayedBlock(benchmark::State& state) {
    // The file's reader reports through the event loop.
    static int argc = 1;
    static char name[] = "bench_playback";
    static char* argv[] = {name, nullptr};
    static QCoreApplication app(argc, argv);
    QTemporaryDir dir;
    const QString path = WriteTone(dir.path(), 2000);
    platform::PosixFiles files;
    platform::FakeWaveOut device;
    platform::Services().files = &files;
    platform::Services().waveOut = &device;
    NullDisplay display;
    TFPlay play;
    play.Display = &display;
    StartPlaying(play, device, path);
    for (auto _ : state) {
        if (device.Queued() == 0) {
            state.PauseTiming();
            // Blocks still being read come with the event loop; at the end
            // the file plays again.
            while (device.Queued() == 0) {
                if (device.ClosePending()) {
                    device.ReportClose();
                    StartPlaying(play, device, path);
                } else {
                    QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
                }
            }
            state.ResumeTiming();
        }
        device.CompleteBuffers(1);
        if (device.writes.size() > 4096) device.writes.clear();
    }
    play.StopPlayback();
    device.ReportClose();
    platform::Services().files = nullptr;
    platform::Services().waveOut = nullptr;
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_PlayedBlock);

}  // namespace
