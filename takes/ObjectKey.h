// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// Where a take lives in the archive's bucket, and what its object carries.
//
// A take is the object PREFIX/yyyy/MM/dd/NAME.flac (or .wav), the day being
// the one its name shows; another take given the same key goes beside it as
// NAME-2.flac, NAME-3.flac, …; a name that shows no time goes to the top of
// PREFIX. A take's note is the object of the take's key with ".note" for
// its extension, and the room's heartbeat is PREFIX/status.json
// (takes/StatusJson.h).
//
// The take's object carries its metadata as x-amz-meta-NAME headers: start
// (the local start with its offset), length (seconds, three decimals), rate
// (frames per second), host and machine (the recorder's).
#include <QLatin1String>
#include <QString>
#include <QStringList>

#include <map>
#include <string>
#include <utility>
#include <vector>

namespace takes {

// The key of a take `name` (a recording's name, ".wav" in any case) under
// `prefix`: PREFIX/yyyy/MM/dd/BASE(-copy when copy ≥ 2).flac|.wav; without
// the day's folders when the name shows no valid time.
QString ObjectKey(const QString& prefix, const QString& name, int copy, bool flac);
// ROOT/yyyy/MM/dd/NAME for an archived `name` (as `IsArchivedTakeName`); empty
// otherwise.
QString ArchivedKey(const QString& root, const QString& name);
// The root and file name of a key ROOT/yyyy/MM/dd/FILE whose folders are the
// day FILE's name shows ("PLEN" + yyyyMMdd…); false for any other key. The
// file is not checked further.
bool SplitKey(const QString& key, QString* root, QString* file);

// The key of a take's note: the take's key with ".note" for its extension.
QString NoteKey(const QString& takeKey);
// A note's key (".note").
bool IsNoteKey(const QString& key);
// The keys of the takes a note may belong to: its key with ".flac" and ".wav".
QStringList TakeKeysOfNote(const QString& noteKey);

// The heartbeat's key: PREFIX/status.json.
QString StatusKey(const QString& prefix);

// A take object's content type by the extension of its key or name:
// "audio/flac" for ".flac", else "audio/wav".
QLatin1String ContentType(const QString& keyOrName);

// A take object's metadata. Missing values: an empty text, seconds -1, rate 0.
struct ObjectMeta {
    QString start;        // "2026-12-07T20:15:00+01:00"
    double seconds = -1;  // the length
    int rate = 0;
    QString host;
    QString machine;
    QString peaks;        // the take's outline (PeakOutline::Encoded)

    // (NAME, value) pairs, each sent as x-amz-meta-NAME: start when known,
    // length and rate when the rate is, host, and machine and outline when
    // known.
    std::vector<std::pair<QString, QString>> Pairs() const;
    // Read from an answer's headers (names in lower case, as the HTTP
    // client gives them).
    static ObjectMeta FromHeaders(const std::map<std::string, std::string>& headers);
};

}  // namespace takes
