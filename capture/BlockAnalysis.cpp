#include "capture/BlockAnalysis.h"

#include <algorithm>
#include <cmath>
#include <numbers>

namespace {

constexpr int kBands = 20;

// Per-band filter constants for one sampling rate, computed once per rate.
struct BandConstants {
    int rate = 0;
    double c[kBands] = {};      // 2 cos w
    double decay[kBands] = {};  // e^-w
};

const BandConstants& ConstantsFor(int rate) {
    // The capture and the playback each keep one rate for long stretches;
    // two slots avoid recomputing when both run.
    static thread_local BandConstants cached[2];
    static thread_local int next = 0;
    for (const BandConstants& s : cached)
        if (s.rate == rate) return s;
    BandConstants& s = cached[next];
    next = 1 - next;
    s.rate = rate;
    for (int i = 0; i < kBands; ++i) {
        const double f = 40.0 + 400.0 * i;
        const double w = 2.0 * std::numbers::pi * f / rate;
        s.c[i] = 2.0 * std::cos(w);
        s.decay[i] = std::exp(-w);
    }
    return s;
}

}  // namespace

double AnalyseBlock(int16_t* samples, const BlockParams& params) {
    const int n = params.frames;
    int64_t sumLeft = 0;
    int64_t sumRight = 0;
    for (int k = 0; k < n; ++k) {
        sumLeft += samples[2 * k];
        sumRight += samples[2 * k + 1];
    }
    const double mean[2] = {static_cast<double>(sumLeft) / n, static_cast<double>(sumRight) / n};
    int64_t total = 0;
    for (int j = 0; j < 2 * n; ++j) {
        const double v = samples[j] - mean[j & 1];
        int32_t x;
        if (v >= -32768.0 && v <= 32767.0)
            x = static_cast<int32_t>(std::nearbyint(v));
        else
            x = v < 0 ? -32768 : 32767;
        samples[j] = static_cast<int16_t>(x);
        total += x < 0 ? -static_cast<int64_t>(x) : x;
    }
    return static_cast<double>(total) / 2 / params.levelDivisor * 100 / 32767;
}

void ComputeBands(const int16_t* samples, int frames, int sampleRate, double level,
                  int32_t bands[20]) {
    const BandConstants& k = ConstantsFor(sampleRate);
    // The 20 filters are independent: run them side by side, frame by frame,
    // each with exactly its own arithmetic (c * s1 - s2 + x, in that order).
    double s1[kBands] = {};
    double s2[kBands] = {};
    for (int f = 0; f < frames; ++f) {
        const double x = static_cast<double>((samples[2 * f] + samples[2 * f + 1]) / 256);
        for (int i = 0; i < kBands; ++i) {
            const double s = k.c[i] * s1[i] - s2[i] + x;
            s2[i] = s1[i];
            s1[i] = s;
        }
    }
    for (int i = 0; i < kBands; ++i) {
        const double y = s1[i] - k.decay[i] * s2[i];
        const double magnitude = std::fabs(y);
        const double m = magnitude >= 1.0 ? 20.0 * std::log10(magnitude) : 0.0;
        const double value = std::nearbyint(std::nearbyint(m) + level);
        bands[i] = static_cast<int32_t>(std::min(100.0, value));
    }
}

void CaptureWavePoints(const int16_t* samples, int width, int height, std::vector<QPoint>& points) {
    const int shown = std::min(2048, width);
    const int half = shown / 2;
    const double yscale = height / 65536.0;
    const double middle = height / 2.0;
    points.resize(static_cast<size_t>(2 * std::max(half, 0)));
    for (int k = 0; k < half; ++k) {
        points[static_cast<size_t>(k)] =
            QPoint(k, static_cast<int>(std::nearbyint(middle - samples[2 * k] * yscale)));
        points[static_cast<size_t>(half + k)] =
            QPoint(half + k, static_cast<int>(std::nearbyint(middle - samples[2 * k + 1] * yscale)));
    }
}

void PlaybackWavePoints(const int16_t* samples, int width, int height, std::vector<QPoint>& points) {
    const double xscale = width / 1024.0;
    const double yscale = height / 65536.0;
    const double middle = height / 2.0;
    points.resize(1024);
    for (int k = 0; k < 512; ++k) {
        const int x = static_cast<int>(std::nearbyint(k * xscale));
        points[static_cast<size_t>(k)] =
            QPoint(x, static_cast<int>(std::nearbyint(middle - samples[2 * k] * yscale)));
        points[static_cast<size_t>(512 + k)] =
            QPoint(x + width / 2, static_cast<int>(std::nearbyint(middle - samples[2 * k + 1] * yscale)));
    }
}
