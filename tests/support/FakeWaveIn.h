// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// A wave input for tests: the test feeds it block by block and every call it
// receives is written down. Delivery is synchronous: Feed calls the handler
// before it returns.
#include <QString>
#include <QStringList>

#include <cstdint>
#include <deque>
#include <utility>
#include <vector>

#include "platform/WaveIn.h"

namespace platform {

class FakeWaveIn final : public WaveInDevice {
public:
    QStringList names{QStringLiteral("Fake Card")};
    WaveResult openResult = kWaveOk;
    WaveResult startResult = kWaveOk;
    // Every call, e.g. "DeviceNames", "Open 0 22050", "AddBuffer 3", "Start",
    // "Reset", "Close".
    QStringList calls;
    bool open = false;
    bool started = false;
    int openedDevice = -1;
    int openedRate = 0;

    QStringList DeviceNames() override;
    WaveResult Open(int device, int sampleRate, DataHandler onData) override;
    WaveResult AddBuffer(WaveInBuffer* buffer) override;
    WaveResult Start() override;
    WaveResult Reset() override;
    WaveResult Close() override;
    void SetEventHandler(EventHandler onEvent) override { onEvent_ = std::move(onEvent); }
    // Buffers are handed on unprocessed, on the caller's thread.
    void SetAheadStage(AheadStage) override {}

    // Buffers waiting to be filled, oldest first.
    const std::deque<WaveInBuffer*>& Queued() const { return queue_; }
    // Fills the oldest queued buffer with `frames` stereo frames (the rest of
    // the buffer is zeroed) and hands it to the handler. False when the device
    // is not started or no buffer is queued.
    bool Feed(const int16_t* samples, int frames);
    bool Feed(const std::vector<int16_t>& samples) {
        return Feed(samples.data(), static_cast<int>(samples.size() / 2));
    }
    // Hands a buffer to the handler as it is, whatever the device's state:
    // what a late or stray delivery would look like.
    void DeliverAsIs(WaveInBuffer* buffer);
    // Reports an event to the handler, as a failing device would. False
    // when the device is not open.
    bool Raise(WaveInEvent event, int64_t framesLost = 0);

private:
    DataHandler onData_;
    EventHandler onEvent_;
    std::deque<WaveInBuffer*> queue_;
};

}  // namespace platform
