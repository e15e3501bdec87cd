// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// How recordings are aged: by the local date and time their files show.
#include <QDateTime>
#include <QString>

#include "takes/TakeName.h"

constexpr qint64 kDayMs = 24LL * 60 * 60 * 1000;

// The wall-clock reading of a local time in milliseconds, without regard to
// daylight-saving shifts: recordings are compared and aged by the local date
// and time they show, not by elapsed physical time.
inline qint64 WallMs(const QDateTime& t) {
    if (!t.isValid()) return 0;
    return t.date().toJulianDay() * kDayMs + t.time().msecsSinceStartOfDay();
}

// The time cut down to whole even seconds, the resolution the strip keeps.
inline QDateTime ToTwoSeconds(const QDateTime& t) {
    if (!t.isValid()) return t;
    const QTime time = t.time();
    return t.addMSecs(-(time.msec() + (time.second() % 2) * 1000));
}

// True for a recording ("PLEN…") whose last write, at two-second resolution,
// lies more than a day before `nowMs` (a WallMs reading). The 24-hour
// clean-up removes such files when the setting ManageFile is on.
inline bool RecordingExpired(const QString& name, const QDateTime& lastWrite, qint64 nowMs) {
    const QDateTime time = ToTwoSeconds(lastWrite);
    return takes::HasPrefix(name) && time.isValid() && nowMs - WallMs(time) > kDayMs;
}
