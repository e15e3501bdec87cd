// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The take name and where a take lives in the archive's bucket, in one place.
//
// A take is named from the local time of its first sample:
// "PLEN" + yyyyMMddHHmmss (14 digits) + ".wav". When that name is taken, or a
// split take starts within the second its predecessor started, "-N" (N from
// 2 up, at most six digits) goes before the extension. The archive keeps a
// take as PREFIX/yyyy/MM/dd/NAME.flac (or .wav), "-N" after NAME for another
// take that was given the same key, and a take's note as the object of the
// same key with ".note" for its extension. Beside a take in the record folder,
// its note and hold are the files of its name with ".note" and ".hold".
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
bool IsRecordingName(const QString& name);
// A take in the archive by the grammar (".flac" or ".wav") whose digits are
// a date and time.
bool IsArchivedName(const QString& name);
// Any file the archive sends as a take: "PLEN…" + ".wav" in any case, whether
// or not the rest follows the grammar (a recording renamed by hand, or
// written by an older build, is archived too; one whose name shows no time
// goes to the top of PREFIX, see `ObjectKey`).
bool IsLooseRecordingName(const QString& name);
// Starts with "PLEN" (case-sensitive): the files the clean-ups may remove.
bool HasPrefix(const QString& name);

// The local time the 14 digits after the prefix stand for; invalid when
// they are no date and time.
QDateTime StartTime(const QString& name);
// The 14 digits after the prefix as "yyyy-MM-ddTHH:mm:ss", as written (no
// check); for names that passed the grammar.
QString StartText(const QString& name);

// "PLEN….wav" -> "PLEN….note" (`extension` ".note" or ".hold"); a name
// without ".wav" (any case) gets the extension added.
QString MarkFile(const QString& name, QLatin1String extension);
// "PLEN….note" or "PLEN….hold" -> "PLEN….wav".
QString TakeOfMark(const QString& mark);

// The key of a take `name` (a recording's name, ".wav" in any case) under
// `prefix`: PREFIX/yyyy/MM/dd/BASE(-copy when copy ≥ 2).flac|.wav; without
// the day's folders when the name shows no valid time.
QString ObjectKey(const QString& prefix, const QString& name, int copy, bool flac);
// ROOT/yyyy/MM/dd/NAME for an archived `name` (as `IsArchivedName`); empty
// otherwise.
QString ArchivedKey(const QString& root, const QString& name);
// The key of a take's note: the take's key with ".note" for its extension.
QString NoteKey(const QString& takeKey);
// The root and file name of a key ROOT/yyyy/MM/dd/FILE whose folders are the
// day FILE's name shows ("PLEN" + yyyyMMdd…); false for any other key. The
// file is not checked further.
bool SplitKey(const QString& key, QString* root, QString* file);

}  // namespace takes
