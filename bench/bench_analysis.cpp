// SPDX-License-Identifier: GPL-3.0-or-later
// The analysis of one block: the capture block (2048 frames, 20 bands) and the
// playback block (512 frames), on speech-like noise.
#include <benchmark/benchmark.h>

#include <QPoint>

#include <array>
#include <cmath>
#include <cstdint>
#include <random>
#include <vector>

#include "capture/BlockAnalysis.h"

namespace {

std::vector<int16_t> NoiseBlock(int frames) {
    std::mt19937 gen(7);
    std::normal_distribution<double> noise(0.0, 3000.0);
    std::vector<int16_t> block(static_cast<size_t>(2 * frames));
    for (size_t i = 0; i < block.size(); ++i) {
        const double v = 120.0 + noise(gen) + 6000.0 * std::sin(0.03 * static_cast<double>(i / 2));
        block[i] = static_cast<int16_t>(std::clamp(v, -32768.0, 32767.0));
    }
    return block;
}

// The argument 0 forces the baseline instruction set, 1 takes the best one
// the processor has.
void BM_CaptureBlock(benchmark::State& state) {
    if (state.range(0) == 0) UseAnalysisPath(AnalysisPath::Plain);
    const std::vector<int16_t> input = NoiseBlock(2048);
    std::vector<int16_t> work(input.size());
    int32_t bands[20];
    for (auto _ : state) {
        work = input;
        const double level = AnalyseBlock(work.data(), kCaptureBlock);
        ComputeBands(work.data(), 2048, 44100, level, bands);
        benchmark::DoNotOptimize(bands);
    }
    UseBestAnalysisPath();
}
BENCHMARK(BM_CaptureBlock)->Arg(0)->Arg(1);

void BM_CaptureLevelOnly(benchmark::State& state) {
    const std::vector<int16_t> input = NoiseBlock(2048);
    std::vector<int16_t> work(input.size());
    for (auto _ : state) {
        work = input;
        benchmark::DoNotOptimize(AnalyseBlock(work.data(), kCaptureBlock));
    }
}
BENCHMARK(BM_CaptureLevelOnly);

void BM_CaptureBandsOnly(benchmark::State& state) {
    const std::vector<int16_t> input = NoiseBlock(2048);
    int32_t bands[20];
    for (auto _ : state) {
        ComputeBands(input.data(), 2048, 44100, 12.5, bands);
        benchmark::DoNotOptimize(bands);
    }
}
BENCHMARK(BM_CaptureBandsOnly);

void BM_CaptureWaveform(benchmark::State& state) {
    const std::vector<int16_t> input = NoiseBlock(2048);
    std::vector<QPoint> points;
    points.reserve(2048);
    for (auto _ : state) {
        CaptureWavePoints(input.data(), static_cast<int>(state.range(0)), 60, points);
        benchmark::DoNotOptimize(points.data());
    }
}
BENCHMARK(BM_CaptureWaveform)->Arg(270)->Arg(4096);

void BM_PlaybackBlock(benchmark::State& state) {
    const std::vector<int16_t> input = NoiseBlock(512);
    std::vector<int16_t> work(input.size());
    int32_t bands[20];
    for (auto _ : state) {
        work = input;
        const double level = AnalyseBlock(work.data(), kPlaybackBlock);
        ComputeBands(work.data(), 512, 22050, level, bands);
        benchmark::DoNotOptimize(bands);
    }
}
BENCHMARK(BM_PlaybackBlock);

}  // namespace
