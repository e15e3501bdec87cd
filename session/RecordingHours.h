// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The recording hours ([Schedule] Hours): the weekly spans of local time in
// which takes may be made, e.g. "Mon-Fri 08:00-18:00, Sun 09:00-12:30".
// Empty means always. Pure logic: the caller hands in the local time.
#include <QDateTime>
#include <QString>

#include <utility>
#include <vector>

class RecordingHours {
public:
    // Always inside.
    RecordingHours() = default;

    // Reads `text`: items separated by commas, each "[DAYS] HH:MM-HH:MM",
    // where DAYS is a day (Mon … Sun) or a range of days ("Mon-Fri",
    // "Fri-Mon"), and no DAYS means every day. A span that ends at or before
    // its start runs past midnight into the next day; "24:00" ends a day.
    // False with a one-line reason that quotes the bad part; `out` is left
    // as it was.
    static bool Parse(const QString& text, RecordingHours* out, QString* error);

    // True when there are no hours to keep to (empty, or every minute of the week).
    bool Always() const { return spans_.empty(); }
    bool Inside(const QDateTime& local) const;
    // Where the present state ends: the end of the hours when inside, the next
    // start when outside; invalid when always.
    QDateTime NextChange(const QDateTime& local) const;
    // "recording hours: until 18:00" (with the day when it is not today:
    // "until Sat 02:00"), "outside recording hours: next Mon 08:00"; empty
    // when always.
    QString StateText(const QDateTime& local) const;

    // "Mon" … "Sun" for Qt's day of the week (1 = Monday).
    static QString DayName(int dayOfWeek);

private:
    static constexpr int kWeekMinutes = 7 * 24 * 60;
    // Disjoint, sorted spans in minutes from Monday 00:00, [first, second);
    // a span may end past the week's end (it wraps into Monday).
    std::vector<std::pair<int, int>> spans_;
};
