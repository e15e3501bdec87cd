// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The encoder of the live stream: interleaved 16-bit sound at the capture
// rate in, Ogg pages out. Runs on the live stream's own thread.
#include <QString>

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>

namespace platform {

class LiveEncoder {
public:
    // One whole Ogg page; `header` for the stream's header pages, which
    // Create hands out before any sound.
    using PageSink = std::function<void(const unsigned char* page, size_t size, bool header)>;

    virtual ~LiveEncoder() = default;
    // Encodes `frames` frames; the pages they complete go to the sink.
    virtual bool Encode(const int16_t* interleaved, int frames) = 0;
};

// Ogg Opus through libopusenc (OpusLiveEncoder.cpp): 48 kHz made from
// `rate`, pages flushed at least every `pageMs` milliseconds of sound.
std::unique_ptr<LiveEncoder> MakeOpusLiveEncoder(int rate, int channels, int bitrate, int pageMs,
                                                 LiveEncoder::PageSink sink, QString* error);

}  // namespace platform
