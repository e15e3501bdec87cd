// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// A wave output for tests: it plays nothing, records every call and reports
// only when the test says so, on the calling thread.
#include <QByteArray>

#include <deque>
#include <vector>

#include "platform/WaveOut.h"

namespace platform {

class FakeWaveOut final : public WaveOutDevice {
public:
    struct Written {
        int index;
        uint32_t length;
        QByteArray bytes;  // the bytes as they were when written
    };

    // Script.
    bool failOpen = false;
    // Writes that succeed before every further one fails; -1: all succeed.
    int writesBeforeFailure = -1;
    // Hand the queued buffers back as played on Reset (as some systems do)
    // instead of dropping them silently.
    bool reportOnReset = false;

    // Record.
    std::vector<WaveFormat> opens;
    std::vector<Written> writes;
    int resets = 0;
    int closes = 0;
    bool isOpen = false;

    WaveResult Open(const WaveFormat& format, Handlers handlers) override;
    WaveResult Write(WaveOutBuffer* buffer) override;
    WaveResult Reset() override;
    WaveResult Close() override;

    // Reports the opening (once per successful Open).
    void ReportOpen();
    // Reports up to `count` queued buffers as played, oldest first; returns
    // how many were reported.
    int CompleteBuffers(int count = 1);
    // Completes every buffer, including those queued while completing, until
    // none is left or `limit` were reported.
    int CompleteAll(int limit = 100000);
    // Reports the closing that Close announced.
    void ReportClose();

    int Queued() const { return static_cast<int>(queue_.size()); }
    bool OpenPending() const { return openPending_; }
    bool ClosePending() const { return closePending_; }

private:
    Handlers handlers_;
    std::deque<WaveOutBuffer*> queue_;
    bool openPending_ = false;
    bool closePending_ = false;
};

}  // namespace platform
