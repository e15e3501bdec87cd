// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The take name, in one place.
//
// A take is named from the local time of its first sample:
// "PLEN" + yyyyMMddHHmmss (14 digits) + ".wav". When that name is taken, or a
// split take starts within the second its predecessor started, "-N" (N from
// 2 up, at most six digits) goes before the extension. Where a take lives in
// the bucket is takes/ObjectKey.h; its note and hold, takes/TakeRecords.h.
#include <QDateTime>
#include <QString>

namespace takes {

// The prefix of every take's file name.
inline constexpr QLatin1String kPrefix{"PLEN"};
// The most "-N" suffixes tried for one start time.
inline constexpr int kMaxSuffix = 999;

// "PLEN" + yyyyMMddHHmmss + ("-N" for `suffix` ≥ 2) + `extension`.
QString MakeName(const QDateTime& start, int suffix = 1, QLatin1String extension = QLatin1String(".wav"));

// A name taken apart by the grammar: "PLEN" + 14 digits (+ "-" + 1 to 6
// digits) + ".wav" or ".flac", case as written. The digits are not checked to
// be a date (see `Start`).
struct Name {
    bool valid = false;
    QStringView stamp;      // the 14 digits
    int suffix = 1;         // N of "-N"; 1 without
    QStringView extension;  // ".wav" or ".flac"
};
// Views into `name`, which must outlive the result.
Name Parse(const QString& name);

// A take of the record folder by the grammar (".wav").
bool IsTakeName(const QString& name);
// A take in the archive by the grammar (".flac" or ".wav") whose digits are
// a date and time.
bool IsArchivedTakeName(const QString& name);
// Any file the archive sends as a take: "PLEN…" + ".wav" in any case, whether
// or not the rest follows the grammar (a recording renamed by hand, or
// written by an older build, is archived too; one whose name shows no time
// goes to the top of PREFIX, see `ObjectKey`).
bool IsLooseTakeName(const QString& name);
// Ends with ".wav" in any case: a recording of the record folder as the
// strip lists it and the take store reads, marks and deletes it, whatever
// its name.
bool IsWaveFile(const QString& name);
// Starts with "PLEN" (case-sensitive): the files the clean-ups may remove.
bool HasPrefix(const QString& name);

// The local time the 14 digits after the prefix stand for; invalid when
// they are no date and time.
QDateTime StartTime(const QString& name);
// The 14 digits after the prefix as "yyyy-MM-ddTHH:mm:ss", as written (no
// check); for names that passed the grammar.
QString StartText(const QString& name);

// ISO 8601 with the offset from UTC always written out:
// 2026-12-07T10:00:00+01:00 (a take's start in its metadata, the times of
// status.json).
QString IsoWithOffset(const QDateTime& time);

}  // namespace takes
