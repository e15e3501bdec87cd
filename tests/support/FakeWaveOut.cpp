// SPDX-License-Identifier: GPL-3.0-or-later
#include "support/FakeWaveOut.h"

namespace platform {

WaveResult FakeWaveOut::Open(const WaveFormat& format, Handlers handlers) {
    opens.push_back(format);
    if (failOpen || isOpen) return kWaveError;
    handlers_ = std::move(handlers);
    isOpen = true;
    openPending_ = true;
    closePending_ = false;
    queue_.clear();
    return kWaveOk;
}

WaveResult FakeWaveOut::Write(WaveOutBuffer* buffer) {
    if (!isOpen || !buffer) return kWaveError;
    if (writesBeforeFailure == 0) return kWaveError;
    if (writesBeforeFailure > 0) --writesBeforeFailure;
    writes.push_back({buffer->index, buffer->length,
                      QByteArray(buffer->data, static_cast<qsizetype>(buffer->length))});
    queue_.push_back(buffer);
    return kWaveOk;
}

WaveResult FakeWaveOut::Reset() {
    ++resets;
    std::deque<WaveOutBuffer*> dropped;
    dropped.swap(queue_);
    if (reportOnReset && handlers_.onDone)
        for (WaveOutBuffer* buffer : dropped) handlers_.onDone(buffer);
    return kWaveOk;
}

WaveResult FakeWaveOut::Close() {
    ++closes;
    if (!isOpen) return kWaveOk;
    isOpen = false;
    openPending_ = false;
    queue_.clear();
    closePending_ = true;
    return kWaveOk;
}

void FakeWaveOut::ReportOpen() {
    if (!openPending_) return;
    openPending_ = false;
    if (handlers_.onOpen) handlers_.onOpen();
}

int FakeWaveOut::CompleteBuffers(int count) {
    int done = 0;
    while (done < count && !queue_.empty()) {
        WaveOutBuffer* buffer = queue_.front();
        queue_.pop_front();
        ++done;
        if (handlers_.onDone) handlers_.onDone(buffer);
    }
    return done;
}

int FakeWaveOut::CompleteAll(int limit) {
    int done = 0;
    while (done < limit && CompleteBuffers(1) == 1) ++done;
    return done;
}

void FakeWaveOut::ReportClose() {
    if (!closePending_) return;
    closePending_ = false;
    if (handlers_.onClose) handlers_.onClose();
}

}  // namespace platform
