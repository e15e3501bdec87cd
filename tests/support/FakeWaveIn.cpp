// SPDX-License-Identifier: GPL-3.0-or-later
#include "support/FakeWaveIn.h"

#include <algorithm>
#include <cstring>

namespace platform {

QStringList FakeWaveIn::DeviceNames() {
    calls.append(QStringLiteral("DeviceNames"));
    return names;
}

WaveResult FakeWaveIn::Open(int device, int sampleRate, DataHandler onData) {
    calls.append(QStringLiteral("Open %1 %2").arg(device).arg(sampleRate));
    if (openResult != kWaveOk || open) return kWaveError;
    open = true;
    openedDevice = device;
    openedRate = sampleRate;
    onData_ = std::move(onData);
    return kWaveOk;
}

WaveResult FakeWaveIn::AddBuffer(WaveInBuffer* buffer) {
    calls.append(QStringLiteral("AddBuffer %1").arg(buffer ? buffer->index : -1));
    if (!open || !buffer) return kWaveError;
    buffer->bytesRecorded = 0;
    queue_.push_back(buffer);
    return kWaveOk;
}

WaveResult FakeWaveIn::Start() {
    calls.append(QStringLiteral("Start"));
    if (!open || startResult != kWaveOk) return kWaveError;
    started = true;
    return kWaveOk;
}

WaveResult FakeWaveIn::Reset() {
    calls.append(QStringLiteral("Reset"));
    if (!open) return kWaveError;
    started = false;
    for (WaveInBuffer* b : queue_) b->bytesRecorded = 0;
    queue_.clear();
    return kWaveOk;
}

WaveResult FakeWaveIn::Close() {
    calls.append(QStringLiteral("Close"));
    if (!open) return kWaveError;
    started = false;
    open = false;
    queue_.clear();
    return kWaveOk;
}

bool FakeWaveIn::Feed(const int16_t* samples, int frames) {
    if (!open || !started || queue_.empty()) return false;
    WaveInBuffer* b = queue_.front();
    queue_.pop_front();
    const size_t bytes = std::min<size_t>(static_cast<size_t>(std::max(frames, 0)) * 4, b->length);
    std::memcpy(b->data, samples, bytes);
    std::memset(b->data + bytes, 0, b->length - bytes);
    b->bytesRecorded = static_cast<uint32_t>(bytes);
    if (onData_) onData_(b);
    return true;
}

void FakeWaveIn::DeliverAsIs(WaveInBuffer* buffer) {
    if (onData_) onData_(buffer);
}

bool FakeWaveIn::Raise(WaveInEvent event, int64_t framesLost) {
    if (!open) return false;
    if (onEvent_) onEvent_(event, framesLost);
    return true;
}

}  // namespace platform

