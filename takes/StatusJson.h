// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The room's heartbeat, PREFIX/status.json (takes::StatusKey): what a
// recorder writes and the fleet page reads, one compact JSON object.
//
//   host, machine, prefix, version   the recorder
//   time                             the write, UTC ("2026-12-07T20:00:00Z")
//   listening, recording             booleans
//   input, disk                      "listening", "lost", …; "ok", "full", …
//   archive                          {state, detail, queued, queued_bytes,
//                                     set_aside, oldest (when queued)}
//   last_take                        {name, seconds} (once there is one)
//   clipping                         boolean
//   silent_since                     local with its offset (while silent)
//   hours                            {inside, state, until or next} (with
//                                     recording hours)
#include <QDateTime>
#include <QJsonObject>
#include <QLatin1String>
#include <QString>

namespace takes {

namespace status_field {
inline constexpr QLatin1String kHost{"host"};
inline constexpr QLatin1String kMachine{"machine"};
inline constexpr QLatin1String kPrefix{"prefix"};
inline constexpr QLatin1String kVersion{"version"};
inline constexpr QLatin1String kTime{"time"};
inline constexpr QLatin1String kListening{"listening"};
inline constexpr QLatin1String kRecording{"recording"};
inline constexpr QLatin1String kInput{"input"};
inline constexpr QLatin1String kDisk{"disk"};
inline constexpr QLatin1String kArchive{"archive"};
inline constexpr QLatin1String kLastTake{"last_take"};
inline constexpr QLatin1String kClipping{"clipping"};
inline constexpr QLatin1String kSilentSince{"silent_since"};
inline constexpr QLatin1String kHours{"hours"};
// Inside "archive".
inline constexpr QLatin1String kState{"state"};
inline constexpr QLatin1String kDetail{"detail"};
inline constexpr QLatin1String kQueued{"queued"};
inline constexpr QLatin1String kQueuedBytes{"queued_bytes"};
inline constexpr QLatin1String kSetAside{"set_aside"};
inline constexpr QLatin1String kOldest{"oldest"};
// Inside "last_take".
inline constexpr QLatin1String kName{"name"};
inline constexpr QLatin1String kSeconds{"seconds"};
// Inside "hours" (and kState).
inline constexpr QLatin1String kInside{"inside"};
inline constexpr QLatin1String kUntil{"until"};
inline constexpr QLatin1String kNext{"next"};
}  // namespace status_field

struct RoomStatus {
    QString host;
    QString machine;
    QString prefix;
    QString version;
    QDateTime time;  // UTC
    bool listening = false;
    bool recording = false;
    QString input;
    QString disk;
    struct Archive {
        QString state;  // "ok", "unreachable", "refused"
        QString detail;
        int queued = 0;
        qint64 queuedBytes = 0;
        int setAside = 0;
        QString oldest;  // the oldest queued take; empty: none
    } archive;
    QString lastTake;  // empty: none yet
    double lastTakeSeconds = 0;
    bool clipping = false;
    QDateTime silentSince;  // invalid: not silent
    QString hours;          // the hours' state line; empty: no recording hours
    bool insideHours = true;
    QDateTime hoursChange;  // the end of the hours, or their next start

    QJsonObject ToJson() const;
    // What a document holds; a field it lacks keeps its default above (an
    // older recorder's heartbeat reads too).
    static RoomStatus FromJson(const QJsonObject& json);
};

}  // namespace takes
