// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The room's heartbeat: PREFIX/status.json in the bucket, written every
// minute and soon after every change of state, so that a page over the whole
// bucket sees which rooms record. It is written by one job on a
// BackgroundWorker that only ever sends the newest state; nothing waits for
// it. A failed write is
// reported to the archive, whose state then shows it.
//
// The document names this machine by its identity; before each write the
// one in the store is read, and another machine's identity there, written
// in the last 5 minutes (not a machine this one replaced), is told to the
// archive (Archiver::PrefixShared).
#include <QByteArray>
#include <QDateTime>
#include <QString>

#include <chrono>
#include <memory>
#include <mutex>

#include "archive/ArchiveConfig.h"
#include "archive/Archiver.h"
#include "takes/StatusJson.h"
#include "util/BackgroundWorker.h"

namespace platform {
class HttpClient;
}

// What the recorder session knows: its part of the document (listening,
// recording, input, disk, the last take, silence, clipping, hours). The
// heartbeat fills in the rest; the archive's part is read when sent.
using HeartbeatState = takes::RoomStatus;

class Heartbeat {
public:
    struct Timing {
        std::chrono::milliseconds interval{60000};
        // A failed write is tried again this soon, whatever the interval.
        std::chrono::milliseconds retry{10000};
        // How long the last state may take to reach the store at the end.
        std::chrono::milliseconds lastWrite{2000};
    };

    // `archive` (not owned) gives its status and hears of failures.
    Heartbeat(ArchiveConfig config, Archiver* archive, std::unique_ptr<platform::HttpClient> http, Timing timing);
    ~Heartbeat();

    void Start();
    // Sends the newest state once more (within Timing::lastWrite) and ends
    // the thread, waiting at most a second longer; false when the thread is
    // still held then (it keeps this object, which must then stay).
    // `abandoned`, when given, gets the line that names what the stop left
    // (empty when nothing).
    bool Stop(QString* abandoned = nullptr);
    // The same without waiting: a write under way is cut off and the last
    // one begins; Stop() then waits for it.
    void RequestStop();
    // The newest state; any thread, never waits for the store.
    void Update(const HeartbeatState& state);

    // The object's key: PREFIX/status.json.
    QString Key() const;
    // The document written.
    static QByteArray Json(const ArchiveConfig& config, const HeartbeatState& state, const Archiver::Status& archive,
                           const QDateTime& timeUtc);

private:
    void Run();
    bool Write(const HeartbeatState& state, std::chrono::steady_clock::time_point deadline);

    const ArchiveConfig config_;
    Archiver* const archive_;
    std::unique_ptr<platform::HttpClient> http_;
    const Timing timing_;

    std::mutex mutex_;
    HeartbeatState state_;
    bool dirty_ = true;
    bool lastCut_ = false;  // the last write was cut off at its limit
    bool started_ = false;
    BackgroundWorker worker_;  // last: its thread ends before the rest goes
};
