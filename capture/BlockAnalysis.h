// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The analysis of one block of 16-bit stereo frames, shared by capture and
// playback: DC removal, level, waveform points and the 20 band levels.
#include <QPoint>

#include <cstdint>
#include <vector>

struct BlockParams {
    int frames;        // N: stereo frames in the block
    int levelDivisor;  // D
};
constexpr BlockParams kCaptureBlock{2048, 2048};
constexpr BlockParams kPlaybackBlock{512, 1024};

// Removes each channel's mean in place (rounded halves to even, clipped) and
// returns the level L = sum|x| / 2 / D * 100 / 32767.
double AnalyseBlock(int16_t* samples, const BlockParams& params);

// Whether a sample of the block, as it came from the input (before the DC
// removal), reached full scale (32767 or -32768).
bool ReachesFullScale(const int16_t* samples, int count);

// The 20 band levels at 40 + 400 * i Hz, each min(100, round(round(m) + L)).
void ComputeBands(const int16_t* samples, int frames, int sampleRate, double level,
                  int32_t bands[20]);

// What the analysis of one capture block gives: its level L and its bands.
struct BlockResult {
    double level = 0.0;
    int32_t bands[20] = {};
    bool fullScale = false;  // ReachesFullScale before the analysis
};

// The instruction set the analysis runs on, chosen once from the processor:
// AVX2 where it has it, else the baseline. Both give the same bits.
enum class AnalysisPath { Plain, Avx2 };
AnalysisPath CurrentAnalysisPath();
// Switches the analysis to `path` (for tests and benchmarks, while no
// analysis runs); false when the processor lacks it.
bool UseAnalysisPath(AnalysisPath path);
void UseBestAnalysisPath();

// Waveform points of a corrected capture block for a box of width w and height h.
void CaptureWavePoints(const int16_t* samples, int width, int height, std::vector<QPoint>& points);
// Waveform points of a playback block (1024 points).
void PlaybackWavePoints(const int16_t* samples, int width, int height, std::vector<QPoint>& points);
