// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// A take's note and hold, on the recorder and in the store.
//
// On the recorder each is a file beside the take: NAME.note (the note's
// UTF-8 text) and NAME.hold (empty), NAME being the take's file name without
// ".wav". In the store the note is the object beside the take's
// (takes::NoteKey), plain UTF-8 text, and the hold is the take object's
// legal hold (ON, lifted with OFF).
#include <QByteArray>
#include <QLatin1String>
#include <QString>

namespace takes {

inline constexpr QLatin1String kNoteExtension{".note"};
inline constexpr QLatin1String kHoldExtension{".hold"};

// The most characters (code points) of a note.
inline constexpr int kMaxNoteCharacters = 500;
// What is read of a note: a little more than the longest note may be, so
// that a longer file (written behind the recorder's back) is cut rather than
// read whole.
inline constexpr int kNoteReadBytes = 4 * kMaxNoteCharacters + 4;
// Why `utf8` cannot be a take's note (not UTF-8, longer than
// kMaxNoteCharacters, or control characters other than tab and line
// breaks); empty when it can.
QString NoteProblem(const QByteArray& utf8);

// "PLEN….wav" -> "PLEN….note" (`extension` ".note" or ".hold"); a name
// without ".wav" (any case) gets the extension added.
QString MarkFile(const QString& name, QLatin1String extension);
inline QString NoteFile(const QString& name) { return MarkFile(name, kNoteExtension); }
inline QString HoldFile(const QString& name) { return MarkFile(name, kHoldExtension); }
// "PLEN….note" or "PLEN….hold" -> "PLEN….wav".
QString TakeOfMark(const QString& mark);
// A note's or a hold's file by its extension (any case).
bool IsNoteFile(const QString& name);
bool IsHoldFile(const QString& name);

// The note object's content type.
inline constexpr char kNoteContentType[] = "text/plain; charset=utf-8";
// A note object's text: at most kMaxNoteCharacters (anything longer was not
// written by a recorder or the fleet page).
QString NoteOfObject(const QByteArray& body);
// The body that sets a take object's legal hold, and whether an answer's
// body says it is on.
QByteArray LegalHoldBody(bool held);
bool LegalHoldIsOn(const QByteArray& body);

}  // namespace takes
