// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// A take's outline: the loudest sample of each of `kPeakCount` equal parts of
// the take, as a percentage of full scale. The recorder's page draws it from
// the WAV file; the archive sends it with the take, so that the fleet's page
// draws it without reading the sound.
#include <QByteArray>

#include <cstdint>
#include <optional>
#include <vector>

namespace takes {

inline constexpr int kPeakCount = 240;

class PeakOutline {
public:
    // For a take of `frames` frames.
    explicit PeakOutline(int64_t frames);
    // The loudest magnitude of the next frame, 0 to 32768 (16-bit scale).
    void Add(int magnitude) {
        if (frame_ >= frames_) return;
        int& slot = slots_[static_cast<size_t>(frame_ * kPeakCount / frames_)];
        if (magnitude > slot) slot = magnitude;
        ++frame_;
    }
    // `kPeakCount` values, 0 to 100; all 0 for an empty take.
    std::vector<int> Percent() const;
    // The values in the short text an object's metadata can carry (base64 of
    // one byte a value).
    QByteArray Encoded() const;

private:
    int64_t frames_;
    int64_t frame_ = 0;
    std::vector<int> slots_;
};

// The values of `Encoded`; nothing for a text that is not one.
std::optional<std::vector<int>> DecodePeaks(const QByteArray& text);

}  // namespace takes
