// SPDX-License-Identifier: GPL-3.0-or-later
#include "session/RecordingHours.h"

#include <QRegularExpression>
#include <QTimeZone>
#include <QStringList>

#include <algorithm>

namespace {

const char* const kDays[] = {"Mon", "Tue", "Wed", "Thu", "Fri", "Sat", "Sun"};

// 0 (Monday) … 6, or -1.
int DayIndex(const QString& name) {
    for (int i = 0; i < 7; ++i)
        if (name.compare(QLatin1String(kDays[i]), Qt::CaseInsensitive) == 0) return i;
    return -1;
}

// Minutes of the day for "H:MM" or "HH:MM", 0 … 1440 (24:00), or -1.
int Minutes(const QString& text) {
    static const QRegularExpression pattern(QStringLiteral("^(\\d{1,2}):(\\d{2})$"));
    const QRegularExpressionMatch m = pattern.match(text);
    if (!m.hasMatch()) return -1;
    const int h = m.captured(1).toInt(), min = m.captured(2).toInt();
    if (min > 59 || h > 24 || (h == 24 && min != 0)) return -1;
    return h * 60 + min;
}

// Seconds from Monday 00:00 of the week `local` is in.
int64_t SecondOfWeek(const QDateTime& local) {
    const QTime t = local.time();
    return (int64_t{local.date().dayOfWeek() - 1} * 1440 + t.hour() * 60 + t.minute()) * 60 + t.second();
}

QString Clock(int minuteOfDay) {
    return QStringLiteral("%1:%2").arg(minuteOfDay / 60, 2, 10, QLatin1Char('0')).arg(minuteOfDay % 60, 2, 10,
                                                                                         QLatin1Char('0'));
}

}  // namespace

QString RecordingHours::DayName(int dayOfWeek) {
    return dayOfWeek >= 1 && dayOfWeek <= 7 ? QLatin1String(kDays[dayOfWeek - 1]) : QString();
}

bool RecordingHours::Parse(const QString& text, RecordingHours* out, QString* error) {
    auto refuse = [error](const QString& why) {
        if (error) *error = why;
        return false;
    };
    std::vector<std::pair<int, int>> spans;
    const QString whole = text.trimmed();
    if (!whole.isEmpty()) {
        static const QRegularExpression dash(QStringLiteral("\\s*-\\s*"));
        for (const QString& raw : whole.split(QLatin1Char(','))) {
            const QString item = raw.trimmed();
            if (item.isEmpty()) return refuse(QStringLiteral("an empty item between commas"));
            static const QRegularExpression space(QStringLiteral("\\s+"));
            const QStringList parts = QString(item).replace(dash, QStringLiteral("-")).split(space, Qt::SkipEmptyParts);
            if (parts.size() > 2) return refuse(QStringLiteral("'%1' is not DAYS HH:MM-HH:MM").arg(item));
            const QString times = parts.last();
            int first = 0, last = 6;
            if (parts.size() == 2) {
                const QStringList days = parts.first().split(QLatin1Char('-'));
                if (days.size() > 2) return refuse(QStringLiteral("'%1' is no day or range of days").arg(parts.first()));
                first = DayIndex(days.first());
                last = DayIndex(days.last());
                for (const QString& day : days)
                    if (DayIndex(day) < 0)
                        return refuse(QStringLiteral("'%1' is no day (Mon, Tue, Wed, Thu, Fri, Sat, Sun)").arg(day));
            }
            const QStringList ends = times.split(QLatin1Char('-'));
            if (ends.size() != 2)
                return refuse(QStringLiteral("'%1' is no span of hours (HH:MM-HH:MM)").arg(times));
            for (const QString& end : ends)
                if (Minutes(end) < 0) return refuse(QStringLiteral("'%1' is no time (00:00 to 24:00)").arg(end));
            const int start = Minutes(ends[0]);
            int stop = Minutes(ends[1]);
            if (start == 1440) return refuse(QStringLiteral("'%1' starts at 24:00").arg(times));
            if (start == stop) return refuse(QStringLiteral("'%1' is an empty span").arg(times));
            // An end at or before the start is on the next day.
            if (stop < start) stop += 1440;
            for (int d = first;; d = (d + 1) % 7) {
                spans.emplace_back(d * 1440 + start, d * 1440 + stop);
                if (d == last) break;
            }
        }
    }
    // Spans past the week's end wrap into Monday; then they are sorted and
    // joined where they overlap or touch.
    std::vector<std::pair<int, int>> split;
    for (const auto& [s, e] : spans) {
        if (e <= kWeekMinutes) {
            split.emplace_back(s, e);
        } else {
            split.emplace_back(s, kWeekMinutes);
            split.emplace_back(0, e - kWeekMinutes);
        }
    }
    std::sort(split.begin(), split.end());
    std::vector<std::pair<int, int>> joined;
    for (const auto& span : split) {
        if (!joined.empty() && span.first <= joined.back().second)
            joined.back().second = std::max(joined.back().second, span.second);
        else
            joined.push_back(span);
    }
    if (joined.size() == 1 && joined.front() == std::pair{0, kWeekMinutes}) joined.clear();
    out->spans_ = std::move(joined);
    return true;
}

bool RecordingHours::Inside(const QDateTime& local) const {
    if (Always()) return true;
    const int64_t s = SecondOfWeek(local);
    return std::any_of(spans_.begin(), spans_.end(),
                       [s](const auto& span) { return s >= span.first * 60LL && s < span.second * 60LL; });
}

QDateTime RecordingHours::NextChange(const QDateTime& local) const {
    if (Always()) return {};
    const int64_t now = SecondOfWeek(local);
    // The minute of the change, counted from this week's Monday 00:00 (it
    // may lie in the next week).
    int64_t at = 0;
    if (Inside(local)) {
        // The end of the run of spans from here, across the week's end.
        at = now / 60;
        for (size_t round = 0; round <= spans_.size(); ++round) {
            const int64_t inWeek = at % kWeekMinutes;
            const auto span = std::find_if(spans_.begin(), spans_.end(),
                                           [inWeek](const auto& s) { return inWeek >= s.first && inWeek < s.second; });
            if (span == spans_.end()) break;
            at += span->second - inWeek;
        }
    } else {
        int64_t best = -1;
        for (const auto& span : spans_) {
            int64_t delta = span.first * 60LL - now;
            if (delta <= 0) delta += kWeekMinutes * 60LL;
            if (best < 0 || delta < best) best = delta;
        }
        at = (now + best) / 60;
    }
    const QDate monday = local.date().addDays(1 - local.date().dayOfWeek());
    const QDate date = monday.addDays(at / 1440);
    const QTime time(static_cast<int>(at % 1440) / 60, static_cast<int>(at % 60));
    // The same wall-clock reading in the same zone, whatever lies between.
    switch (local.timeSpec()) {
        case Qt::LocalTime: return QDateTime(date, time);
        case Qt::TimeZone: return QDateTime(date, time, local.timeZone());
        default: return QDateTime(date, time, local.timeSpec(), local.offsetFromUtc());
    }
}

QString RecordingHours::StateText(const QDateTime& local) const {
    if (Always()) return {};
    const QDateTime change = NextChange(local);
    const int minute = change.time().hour() * 60 + change.time().minute();
    if (!Inside(local))
        return QStringLiteral("outside recording hours: next %1 %2").arg(DayName(change.date().dayOfWeek()), Clock(minute));
    if (change.date() == local.date()) return QStringLiteral("recording hours: until %1").arg(Clock(minute));
    // The end of today's hours at midnight reads as 24:00.
    if (minute == 0 && change.date() == local.date().addDays(1)) return QStringLiteral("recording hours: until 24:00");
    return QStringLiteral("recording hours: until %1 %2").arg(DayName(change.date().dayOfWeek()), Clock(minute));
}
