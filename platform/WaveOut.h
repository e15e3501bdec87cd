// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// Wave output: plays caller-owned buffers in the order written and reports,
// on the GUI thread, the opening, each played buffer and the closing.
#include <cstdint>
#include <functional>
#include <memory>

#include "platform/WaveIn.h"

namespace platform {

struct WaveFormat {
    uint16_t formatTag = 1;
    uint16_t channels = 0;
    uint32_t samplesPerSec = 0;
    uint32_t avgBytesPerSec = 0;
    uint16_t blockAlign = 0;
    uint16_t bitsPerSample = 0;
};

struct WaveOutBuffer {
    char* data = nullptr;  // owned by the caller
    uint32_t length = 0;   // bytes to play
    int index = 0;         // the caller's own number for the buffer
};

class WaveOutDevice {
public:
    struct Handlers {
        std::function<void()> onOpen;
        std::function<void(WaveOutBuffer*)> onDone;
        std::function<void()> onClose;
    };
    virtual ~WaveOutDevice() = default;
    // Opens the default output. On success `onOpen` follows on the calling
    // thread's event loop; then `onDone` once per played buffer, in order;
    // `onClose` after Close. An error (a format the output cannot play, no
    // output at all) means nothing was opened and no handler will run.
    virtual WaveResult Open(const WaveFormat& format, Handlers handlers) = 0;
    // Queues a buffer for playing; an error means it was not queued. The
    // buffer's bytes must stay unchanged until it is reported as played.
    // A trailing part of a frame is not played.
    virtual WaveResult Write(WaveOutBuffer* buffer) = 0;
    // Stops at once and gives every queued buffer back to the caller: when it
    // returns the device no longer reads any of them, and none of them is
    // reported as played afterwards.
    virtual WaveResult Reset() = 0;
    // Closes the device; `onClose` follows. A second Close does nothing.
    virtual WaveResult Close() = 0;
};

std::unique_ptr<WaveOutDevice> MakeAlsaWaveOut();

}  // namespace platform
