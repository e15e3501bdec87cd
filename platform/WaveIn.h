// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// Wave input: a capture device that fills caller-owned buffers with 16-bit
// stereo PCM and hands each filled buffer back on the GUI thread, in order.
#include <QStringList>

#include <cstdint>
#include <functional>
#include <memory>

namespace platform {

struct WaveInBuffer {
    char* data = nullptr;        // owned by the caller
    uint32_t length = 0;         // bytes the device may fill (a whole number of frames)
    uint32_t bytesRecorded = 0;  // bytes the device filled
    int index = 0;               // the caller's own number for the buffer
    // Set by a device that has run the owner's ahead stage on this buffer
    // before handing it on; AddBuffer clears it.
    bool processedAhead = false;
};

// Results follow the system's convention: 0 is success.
using WaveResult = int;
constexpr WaveResult kWaveOk = 0;
constexpr WaveResult kWaveError = 1;

// What an open device reports besides sound.
enum class WaveInEvent {
    // The input stopped for good: a read error, the device or the sound
    // server gone, or no sound for more than kWaveInSilenceLimitMs while
    // started (a device may take longer for its first sound after Start).
    // Nothing more arrives from this opening; Close it.
    Failed,
    // The device overran: `framesLost` frames of sound never reached a
    // buffer. Filling goes on.
    Overrun,
};
constexpr int kWaveInSilenceLimitMs = 2000;

class WaveInDevice {
public:
    using DataHandler = std::function<void(WaveInBuffer*)>;
    using EventHandler = std::function<void(WaveInEvent event, int64_t framesLost)>;
    virtual ~WaveInDevice() = default;
    // The capture devices in device-number order, by name.
    virtual QStringList DeviceNames() = 0;
    // Opens device `device` for 2-channel 16-bit PCM at `sampleRate`; an
    // error when the device or its sound server is not there. Filled
    // buffers reach `onData` on the thread that called Open (it must run a Qt
    // event loop), one at a time, in the order they were filled.
    virtual WaveResult Open(int device, int sampleRate, DataHandler onData) = 0;
    // Queues an empty buffer for filling (its bytesRecorded becomes 0).
    virtual WaveResult AddBuffer(WaveInBuffer* buffer) = 0;
    virtual WaveResult Start() = 0;
    // Stops filling and takes back every queued buffer without reporting it:
    // after Reset no buffer of this opening reaches `onData` again, including
    // ones already filled but not yet delivered. Buffers taken back have
    // bytesRecorded 0 (they carry no new sound). Start may follow again.
    virtual WaveResult Reset() = 0;
    virtual WaveResult Close() = 0;
    // Where events go: like the buffers, on the thread that called Open,
    // through its event loop, after the buffers filled before the event. Set
    // it before Open; a device that cannot fail reports nothing.
    virtual void SetEventHandler(EventHandler onEvent) = 0;
    // Work the owner wants done on every filled buffer before it is handed
    // on (an empty function: none). A device may run it ahead of handing
    // buffers on, on a thread of its own and on the opening thread, so on two
    // different buffers at once; it marks each buffer it ran on with
    // processedAhead. Buffers still reach `onData` in order, and none is
    // touched by the stage any more once Reset has returned. A device
    // without a thread to spare hands buffers on unprocessed.
    using AheadStage = std::function<void(WaveInBuffer*)>;
    virtual void SetAheadStage(AheadStage stage) = 0;
};

// Wave input through ALSA. The device's period is `blocksPerWake` blocks of
// 2048 frames: the reader and the opening thread wake once per period and
// take that many buffers at a time.
std::unique_ptr<WaveInDevice> MakeAlsaWaveIn(int blocksPerWake = 1);

}  // namespace platform
