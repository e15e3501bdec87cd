// SPDX-License-Identifier: GPL-3.0-or-later
#include "capture/BlockAnalysis.h"

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstring>
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

namespace {

using V8i = int32_t __attribute__((vector_size(32)));
using V8s = int16_t __attribute__((vector_size(16)));
using V4d = double __attribute__((vector_size(32)));

// The bodies below are compiled twice, once for the baseline instruction set
// and once for AVX2, from the same source: the operations and their order are
// the same, so both give the same bits (-ffp-contract=off keeps multiplies
// and adds apart on either).
#define SOMORA_KERNEL static inline __attribute__((always_inline))

// The two channel sums of a block. Eight samples (four frames) at a time:
// the even lanes hold the left channel, the odd ones the right; a lane's sum
// stays within 32 bits for 65536 steps.
SOMORA_KERNEL void ChannelSums(const int16_t* samples, int n, int64_t sums[2]) {
    const int count = 2 * n;
    int j = 0;
    while (j + 8 <= count) {
        V8i acc = {};
        const int stop = std::min(count, j + 8 * 65536);
        for (; j + 8 <= stop; j += 8) {
            V8s xs;
            std::memcpy(&xs, samples + j, sizeof xs);
            acc += __builtin_convertvector(xs, V8i);
        }
        for (int l = 0; l < 8; ++l) sums[l & 1] += acc[l];
    }
    for (; j < count; ++j) sums[j & 1] += samples[j];
}

// The correction x := nearest(x - mean), clipped, for blocks whose frame
// count is a power of two. Then the mean sum/N has at most log2 N fraction
// bits and x - mean is exact in double, so the rounding can be done in
// integers: with mean = a + r/N (0 <= r < N), nearest(x - mean) is x - a when
// 2r < N, x - a - 1 when 2r > N, and for 2r = N the even one of the two.
// Returns the sum of the corrected |x|.
SOMORA_KERNEL int64_t CorrectExact(int16_t* samples, int n, const int64_t sums[2]) {
    int32_t a[2], down[2], half[2];
    for (int c = 0; c < 2; ++c) {
        int64_t q = sums[c] / n;
        int64_t r = sums[c] - q * n;
        if (r < 0) {
            q -= 1;
            r += n;
        }
        a[c] = static_cast<int32_t>(q);
        down[c] = 2 * r > n ? 1 : 0;
        half[c] = 2 * r == n ? 1 : 0;
    }
    const V8i va = {a[0], a[1], a[0], a[1], a[0], a[1], a[0], a[1]};
    const V8i vdown = {down[0], down[1], down[0], down[1], down[0], down[1], down[0], down[1]};
    const V8i vhalf = {half[0], half[1], half[0], half[1], half[0], half[1], half[0], half[1]};
    const V8i lo = {-32768, -32768, -32768, -32768, -32768, -32768, -32768, -32768};
    const V8i hi = {32767, 32767, 32767, 32767, 32767, 32767, 32767, 32767};
    const int count = 2 * n;
    int64_t total = 0;
    int j = 0;
    while (j + 8 <= count) {
        // Lane sums stay below 2^31: at most 4096 steps of 32768 each.
        V8i acc = {};
        const int stop = std::min(count, j + 8 * 4096);
        for (; j + 8 <= stop; j += 8) {
            V8s xs;
            std::memcpy(&xs, samples + j, sizeof xs);
            const V8i k = __builtin_convertvector(xs, V8i) - va;
            V8i x = k - (vdown | (vhalf & k));
            x = x < lo ? lo : x;
            x = x > hi ? hi : x;
            const V8s out = __builtin_convertvector(x, V8s);
            std::memcpy(samples + j, &out, sizeof out);
            acc += x < 0 ? -x : x;
        }
        for (int l = 0; l < 8; ++l) total += acc[l];
    }
    for (; j < count; ++j) {
        const int c = j & 1;
        const int32_t k = samples[j] - a[c];
        int32_t x = k - (down[c] | (half[c] & k));
        x = std::clamp(x, -32768, 32767);
        samples[j] = static_cast<int16_t>(x);
        total += x < 0 ? -x : x;
    }
    return total;
}

// The same for any frame count, in real arithmetic as stated.
int64_t CorrectGeneral(int16_t* samples, int n, const int64_t sums[2]) {
    const double mean[2] = {static_cast<double>(sums[0]) / n, static_cast<double>(sums[1]) / n};
    int64_t total = 0;
    for (int j = 0; j < 2 * n; ++j) {
        const double v = samples[j] - mean[j & 1];
        int32_t x;
        if (v >= -32768.0 && v <= 32767.0)
            x = static_cast<int32_t>(std::rint(v));
        else
            x = v < 0 ? -32768 : 32767;
        samples[j] = static_cast<int16_t>(x);
        total += x < 0 ? -static_cast<int64_t>(x) : x;
    }
    return total;
}

// DC removal in place; returns the sum of the corrected |x|.
SOMORA_KERNEL int64_t Correct(int16_t* samples, int n) {
    int64_t sums[2] = {0, 0};
    ChannelSums(samples, n, sums);
    const bool powerOfTwo = (n & (n - 1)) == 0;
    return powerOfTwo ? CorrectExact(samples, n, sums) : CorrectGeneral(samples, n, sums);
}

// The filter input of frame f: (left + right) / 256, truncated toward zero.
SOMORA_KERNEL double FilterInput(const int16_t* samples, int f) {
    return static_cast<double>((samples[2 * f] + samples[2 * f + 1]) / 256);
}

constexpr int kVectors = kBands / 4;

// The 20 recursive filters side by side, four to a vector; every lane does
// exactly s := c * s1 - s2 + x in that order, in double precision. With
// sixteen vector registers (AVX2) the five vectors of states stay in
// registers when the loop over them is unrolled; on the baseline, where each
// takes two registers, the loop is left as it is.
template <bool kUnrolled>
SOMORA_KERNEL void RunFilters(const int16_t* samples, int frames, const double* c, double* outS1, double* outS2) {
    V4d vc[kVectors], s1[kVectors], s2[kVectors];
    for (int b = 0; b < kVectors; ++b) {
        std::memcpy(&vc[b], c + 4 * b, sizeof(V4d));
        s1[b] = V4d{};
        s2[b] = V4d{};
    }
    const auto step = [&](int b, const V4d& vx) {
        const V4d s = vc[b] * s1[b] - s2[b] + vx;
        s2[b] = s1[b];
        s1[b] = s;
    };
    for (int f = 0; f < frames; ++f) {
        const double x = FilterInput(samples, f);
        const V4d vx = {x, x, x, x};
        if constexpr (kUnrolled) {
#pragma GCC unroll 8
            for (int b = 0; b < kVectors; ++b) step(b, vx);
        } else {
            for (int b = 0; b < kVectors; ++b) step(b, vx);
        }
    }
    for (int b = 0; b < kVectors; ++b) {
        std::memcpy(outS1 + 4 * b, &s1[b], sizeof(V4d));
        std::memcpy(outS2 + 4 * b, &s2[b], sizeof(V4d));
    }
}

#undef SOMORA_KERNEL

// One set of the kernels per instruction set.
struct Kernels {
    AnalysisPath path;
    int64_t (*correct)(int16_t*, int);
    void (*filters)(const int16_t*, int, const double*, double*, double*);
};

int64_t CorrectPlain(int16_t* s, int n) { return Correct(s, n); }
void FiltersPlain(const int16_t* s, int n, const double* c, double* o1, double* o2) {
    RunFilters<false>(s, n, c, o1, o2);
}

__attribute__((target("avx2"))) int64_t CorrectAvx2(int16_t* s, int n) { return Correct(s, n); }
__attribute__((target("avx2"))) void FiltersAvx2(const int16_t* s, int n, const double* c, double* o1, double* o2) {
    RunFilters<true>(s, n, c, o1, o2);
}

constexpr Kernels kPlainKernels{AnalysisPath::Plain, CorrectPlain, FiltersPlain};
constexpr Kernels kAvx2Kernels{AnalysisPath::Avx2, CorrectAvx2, FiltersAvx2};

bool HasAvx2() {
    __builtin_cpu_init();
    return __builtin_cpu_supports("avx2");
}

std::atomic<const Kernels*>& ActiveKernels() {
    static std::atomic<const Kernels*> active{HasAvx2() ? &kAvx2Kernels : &kPlainKernels};
    return active;
}

const Kernels& Active() { return *ActiveKernels().load(std::memory_order_relaxed); }

// Band levels from the filter states of one block.
void BandsFromStates(const BandConstants& k, const double* s1, const double* s2, double level, int32_t bands[20]) {
    for (int i = 0; i < kBands; ++i) {
        const double y = s1[i] - k.decay[i] * s2[i];
        const double magnitude = std::fabs(y);
        const double m = magnitude >= 1.0 ? 20.0 * std::log10(magnitude) : 0.0;
        const double value = std::rint(std::rint(m) + level);
        bands[i] = static_cast<int32_t>(std::min(100.0, value));
    }
}

double LevelOf(int64_t total, int divisor) { return static_cast<double>(total) / 2 / divisor * 100 / 32767; }

}  // namespace

AnalysisPath CurrentAnalysisPath() { return Active().path; }

bool UseAnalysisPath(AnalysisPath path) {
    if (path == AnalysisPath::Avx2 && !HasAvx2()) return false;
    ActiveKernels().store(path == AnalysisPath::Avx2 ? &kAvx2Kernels : &kPlainKernels);
    return true;
}

void UseBestAnalysisPath() { UseAnalysisPath(HasAvx2() ? AnalysisPath::Avx2 : AnalysisPath::Plain); }

double AnalyseBlock(int16_t* samples, const BlockParams& params) {
    const int n = params.frames;
    if (n <= 0 || params.levelDivisor == 0) return 0.0;
    return LevelOf(Active().correct(samples, n), params.levelDivisor);
}

bool ReachesFullScale(const int16_t* samples, int count) {
    // Branch-free, so that the compiler vectorises it.
    int16_t low = 0, high = 0;
    for (int i = 0; i < count; ++i) {
        low = std::min(low, samples[i]);
        high = std::max(high, samples[i]);
    }
    return high == INT16_MAX || low == INT16_MIN;
}

void ComputeBands(const int16_t* samples, int frames, int sampleRate, double level,
                  int32_t bands[20]) {
    const BandConstants& k = ConstantsFor(sampleRate);
    double s1[kBands];
    double s2[kBands];
    Active().filters(samples, std::max(frames, 0), k.c, s1, s2);
    BandsFromStates(k, s1, s2, level, bands);
}

void CaptureWavePoints(const int16_t* samples, int width, int height, std::vector<QPoint>& points) {
    const int shown = std::min(2048, width);
    const int half = shown / 2;
    const double yscale = height / 65536.0;
    const double middle = height / 2.0;
    points.resize(static_cast<size_t>(2 * std::max(half, 0)));
    for (int k = 0; k < half; ++k) {
        points[static_cast<size_t>(k)] =
            QPoint(k, static_cast<int>(std::rint(middle - samples[2 * k] * yscale)));
        points[static_cast<size_t>(half + k)] =
            QPoint(half + k, static_cast<int>(std::rint(middle - samples[2 * k + 1] * yscale)));
    }
}

void PlaybackWavePoints(const int16_t* samples, int width, int height, std::vector<QPoint>& points) {
    const double xscale = width / 1024.0;
    const double yscale = height / 65536.0;
    const double middle = height / 2.0;
    points.resize(1024);
    for (int k = 0; k < 512; ++k) {
        const int x = static_cast<int>(std::rint(k * xscale));
        points[static_cast<size_t>(k)] =
            QPoint(x, static_cast<int>(std::rint(middle - samples[2 * k] * yscale)));
        points[static_cast<size_t>(512 + k)] =
            QPoint(x + width / 2, static_cast<int>(std::rint(middle - samples[2 * k + 1] * yscale)));
    }
}
