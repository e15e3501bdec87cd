// The work the GUI thread does for every played block: analysis, waveform
// points, bands and the refill from the file. At 22050 Hz a block lasts
// 23.2 ms; this must stay far below that.
#include <benchmark/benchmark.h>

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

void BM_PlayedBlock(benchmark::State& state) {
    QTemporaryDir dir;
    const QString path = WriteTone(dir.path(), 2000);
    platform::PosixFiles files;
    platform::FakeWaveOut device;
    platform::Services().files = &files;
    platform::Services().waveOut = &device;
    NullDisplay display;
    TFPlay play;
    play.Display = &display;
    play.Play(path);
    device.ReportOpen();
    for (auto _ : state) {
        if (device.CompleteBuffers(1) == 0) {
            state.PauseTiming();
            device.ReportClose();
            play.Play(path);
            device.ReportOpen();
            state.ResumeTiming();
        }
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
