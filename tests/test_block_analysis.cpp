// SPDX-License-Identifier: GPL-3.0-or-later
// The block analysis: DC removal, level, the 20 bands and the waveform points.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <numbers>
#include <random>
#include <vector>

#include "capture/BlockAnalysis.h"

namespace {

using Block = std::vector<int16_t>;

Block Constant(int frames, int16_t left, int16_t right) {
    Block b(static_cast<size_t>(2 * frames));
    for (int k = 0; k < frames; ++k) {
        b[static_cast<size_t>(2 * k)] = left;
        b[static_cast<size_t>(2 * k + 1)] = right;
    }
    return b;
}

Block Tone(int frames, double hz, int rate, double amplitude) {
    Block b(static_cast<size_t>(2 * frames));
    for (int k = 0; k < frames; ++k) {
        const auto v = static_cast<int16_t>(std::lrint(amplitude * std::sin(2 * std::numbers::pi * hz * k / rate)));
        b[static_cast<size_t>(2 * k)] = v;
        b[static_cast<size_t>(2 * k + 1)] = v;
    }
    return b;
}

Block Random(int frames, std::mt19937& gen, int spread, int offset) {
    std::uniform_int_distribution<int> d(-spread, spread);
    Block b(static_cast<size_t>(2 * frames));
    for (int16_t& s : b) s = static_cast<int16_t>(std::clamp(d(gen) + offset, -32768, 32767));
    return b;
}

// The analysis written out plainly in real arithmetic, one operation at a
// time: the optimised analysis must agree with it bit for bit.
double ReferenceAnalyse(Block& b, int frames, int divisor) {
    double sum[2] = {0, 0};
    for (int k = 0; k < frames; ++k) {
        sum[0] += b[static_cast<size_t>(2 * k)];
        sum[1] += b[static_cast<size_t>(2 * k + 1)];
    }
    const double mean[2] = {sum[0] / frames, sum[1] / frames};
    double s = 0;
    for (int j = 0; j < 2 * frames; ++j) {
        const double v = b[static_cast<size_t>(j)] - mean[j % 2];
        const double x = (v >= -32768.0 && v <= 32767.0) ? std::nearbyint(v) : (v < 0 ? -32768.0 : 32767.0);
        b[static_cast<size_t>(j)] = static_cast<int16_t>(x);
        s += std::fabs(x);
    }
    return s / 2 / divisor * 100 / 32767;
}

void ReferenceBands(const Block& b, int frames, int rate, double level, int32_t out[20]) {
    for (int i = 0; i < 20; ++i) {
        const double w = 2 * std::numbers::pi * (40.0 + 400.0 * i) / rate;
        const double c = 2 * std::cos(w);
        double s1 = 0, s2 = 0;
        for (int f = 0; f < frames; ++f) {
            const int x = (b[static_cast<size_t>(2 * f)] + b[static_cast<size_t>(2 * f + 1)]) / 256;
            const double cs = c * s1;
            const double d = cs - s2;
            const double s = d + x;
            s2 = s1;
            s1 = s;
        }
        const double e = std::exp(-w) * s2;
        const double y = s1 - e;
        const double m = std::fabs(y) >= 1 ? 20 * std::log10(std::fabs(y)) : 0;
        out[i] = static_cast<int32_t>(std::min(100.0, std::nearbyint(std::nearbyint(m) + level)));
    }
}

TEST(BlockAnalysis, SilenceAndPureOffsetGiveLevelZeroAndSilentBands) {
    for (const auto& [left, right] : {std::pair<int16_t, int16_t>{0, 0}, {1234, -20000}, {-32768, 32767}}) {
        Block b = Constant(2048, left, right);
        const double level = AnalyseBlock(b.data(), kCaptureBlock);
        EXPECT_EQ(level, 0.0);
        EXPECT_TRUE(std::all_of(b.begin(), b.end(), [](int16_t s) { return s == 0; }));
        int32_t bands[20];
        ComputeBands(b.data(), 2048, 22050, level, bands);
        for (int32_t v : bands) EXPECT_EQ(v, 0);
    }
}

TEST(BlockAnalysis, HalfwayCorrectionsRoundToEven) {
    // Left 0,5,0,5...: mean 2.5, so -2.5 -> -2 and 2.5 -> 2.
    // Right 0,1,...: mean 0.5, so both corrections are +-0.5 -> 0.
    Block b(4096);
    for (int k = 0; k < 2048; ++k) {
        b[static_cast<size_t>(2 * k)] = static_cast<int16_t>(k % 2 ? 5 : 0);
        b[static_cast<size_t>(2 * k + 1)] = static_cast<int16_t>(k % 2);
    }
    const double level = AnalyseBlock(b.data(), kCaptureBlock);
    EXPECT_EQ(b[0], -2);
    EXPECT_EQ(b[2], 2);
    EXPECT_EQ(b[1], 0);
    EXPECT_EQ(b[3], 0);
    EXPECT_DOUBLE_EQ(level, 2048.0 * 2 / 2 / 2048 * 100 / 32767);
}

TEST(BlockAnalysis, FullScaleSquareWaveIsExactlyHundredAndNothingExceedsIt) {
    Block square(4096);
    for (int k = 0; k < 2048; ++k)
        square[static_cast<size_t>(2 * k)] = square[static_cast<size_t>(2 * k + 1)] =
            static_cast<int16_t>(k % 2 ? -32767 : 32767);
    EXPECT_EQ(AnalyseBlock(square.data(), kCaptureBlock), 100.0);

    // The loudest corrected blocks: values at both ends of the range, in
    // halves and in alternation, with the out-of-range corrections clipped.
    std::vector<Block> loud;
    Block alternating(4096), halves(4096);
    for (int k = 0; k < 2048; ++k) {
        alternating[static_cast<size_t>(2 * k)] = alternating[static_cast<size_t>(2 * k + 1)] =
            static_cast<int16_t>(k % 2 ? 32767 : -32768);
        halves[static_cast<size_t>(2 * k)] = halves[static_cast<size_t>(2 * k + 1)] =
            static_cast<int16_t>(k < 1024 ? -32768 : 32767);
    }
    loud.push_back(alternating);
    loud.push_back(halves);
    Block oneHigh = Constant(2048, -32768, -32768);
    oneHigh[0] = oneHigh[1] = 32767;  // mean near -32768: the 32767s clip
    loud.push_back(oneHigh);
    for (Block& b : loud) {
        const double level = AnalyseBlock(b.data(), kCaptureBlock);
        EXPECT_LE(std::nearbyint(level), 100.0);
        int32_t bands[20];
        ComputeBands(b.data(), 2048, 44100, level, bands);
        for (int32_t v : bands) EXPECT_LE(v, 100);
    }
    EXPECT_EQ(oneHigh[0], 32767);
}

// Both instruction sets the processor offers (the baseline always), one
// after the other; the best one is chosen again afterwards.
std::vector<AnalysisPath> AvailablePaths() {
    std::vector<AnalysisPath> paths{AnalysisPath::Plain};
    if (UseAnalysisPath(AnalysisPath::Avx2)) paths.push_back(AnalysisPath::Avx2);
    UseBestAnalysisPath();
    return paths;
}

TEST(BlockAnalysis, AgreesBitForBitWithPlainRealArithmeticOnEveryInstructionSet) {
    for (AnalysisPath path : AvailablePaths()) {
        ASSERT_TRUE(UseAnalysisPath(path));
        SCOPED_TRACE(path == AnalysisPath::Avx2 ? "AVX2" : "baseline");
        std::mt19937 gen(20240607);
        const BlockParams users[] = {kCaptureBlock, kPlaybackBlock, BlockParams{1000, 1000}, BlockParams{3, 7}};
        for (const BlockParams& p : users) {
            for (int round = 0; round < 60; ++round) {
                const int spread = round % 3 == 0 ? 40000 : round % 3 == 1 ? 3 : 3000;
                const int offset = (round * 7919) % 60000 - 30000;
                Block fast = Random(p.frames, gen, spread, offset);
                Block plain = fast;
                const double level = AnalyseBlock(fast.data(), p);
                ASSERT_EQ(level, ReferenceAnalyse(plain, p.frames, p.levelDivisor)) << p.frames << " " << round;
                ASSERT_EQ(fast, plain) << p.frames << " " << round;
                for (int rate : {8000, 11025, 22050, 44100, 48000}) {
                    int32_t got[20], want[20];
                    ComputeBands(fast.data(), p.frames, rate, level, got);
                    ReferenceBands(plain, p.frames, rate, level, want);
                    ASSERT_TRUE(std::equal(got, got + 20, want)) << p.frames << " " << round << " " << rate;
                    for (int32_t v : got) {
                        ASSERT_GE(v, 0);
                        ASSERT_LE(v, 100);
                    }
                }
            }
        }
    }
    UseBestAnalysisPath();
}

TEST(BlockAnalysis, ToneLightsItsOwnBandAndBandsAboveHalfTheRateSeeTheAlias) {
    Block tone = Tone(2048, 440, 22050, 8000);
    double level = AnalyseBlock(tone.data(), kCaptureBlock);
    int32_t bands[20];
    ComputeBands(tone.data(), 2048, 22050, level, bands);
    EXPECT_EQ(std::max_element(bands, bands + 20) - bands, 1);

    // At 11025 Hz, band 14 (5640 Hz) lies above half the rate; its filter
    // has the same coefficient as one at 11025 - 5640 = 5385 Hz, so a tone
    // there lights it, and it is kept, not cut off.
    Block alias = Tone(2048, 5385, 11025, 8000);
    level = AnalyseBlock(alias.data(), kCaptureBlock);
    ComputeBands(alias.data(), 2048, 11025, level, bands);
    EXPECT_GT(bands[14], bands[2]);
    EXPECT_GT(bands[14], 60);
}

TEST(BlockAnalysis, EmptyBlockIsSilentRatherThanUndefined) {
    int16_t none[2] = {5, 5};
    EXPECT_EQ(AnalyseBlock(none, BlockParams{0, 2048}), 0.0);
    EXPECT_EQ(none[0], 5);
    int32_t bands[20];
    ComputeBands(none, 0, 22050, 0.0, bands);
    for (int32_t v : bands) EXPECT_EQ(v, 0);
}

TEST(WavePoints, CaptureDrawsOnePixelPerFrameUpTo2048) {
    Block b(4096);
    for (int k = 0; k < 2048; ++k) {
        b[static_cast<size_t>(2 * k)] = static_cast<int16_t>(k == 0 ? 32767 : 0);
        b[static_cast<size_t>(2 * k + 1)] = static_cast<int16_t>(k == 0 ? -32768 : 0);
    }
    std::vector<QPoint> points;
    CaptureWavePoints(b.data(), 270, 60, points);
    ASSERT_EQ(points.size(), 270u);
    EXPECT_EQ(points[0], QPoint(0, 0));      // 30 - 29.9995
    EXPECT_EQ(points[134], QPoint(134, 30));  // the last left frame shown
    EXPECT_EQ(points[135], QPoint(135, 60));  // right channel, frame 0
    EXPECT_EQ(points[269], QPoint(269, 30));

    CaptureWavePoints(b.data(), 271, 60, points);
    EXPECT_EQ(points.size(), 270u);
    CaptureWavePoints(b.data(), 5000, 60, points);
    ASSERT_EQ(points.size(), 2048u);
    EXPECT_EQ(points[1023].x(), 1023);
    EXPECT_EQ(points[1024], QPoint(1024, 60));
    CaptureWavePoints(b.data(), 0, 60, points);
    EXPECT_TRUE(points.empty());

    // Odd height: the middle 30.5 rounds to the even 30.
    CaptureWavePoints(b.data(), 4, 61, points);
    EXPECT_EQ(points[1], QPoint(1, 30));
}

TEST(WavePoints, PlaybackSpreads512FramesPerChannelOverTheBox) {
    Block b(1024, 0);
    std::vector<QPoint> points;
    PlaybackWavePoints(b.data(), 270, 60, points);
    ASSERT_EQ(points.size(), 1024u);
    EXPECT_EQ(points[0], QPoint(0, 30));
    EXPECT_EQ(points[511].x(), 135);        // nearest(511 * 270 / 1024) = nearest(134.74)
    EXPECT_EQ(points[512].x(), 135);        // 0 + 270 div 2
    EXPECT_EQ(points[1023].x(), 135 + 135);
    PlaybackWavePoints(b.data(), 2048, 60, points);
    EXPECT_EQ(points[1].x(), 2);
    EXPECT_EQ(points[513].x(), 2 + 1024);
}

}  // namespace
