// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The fleet's search index: every archived take of the bucket with its
// room, start, length, note and hold, in an SQLite database whose notes are
// searched through FTS5 (trigram tokens, so words of any script match
// anywhere in a note). It is a cache: made anew from the bucket when it is
// missing or unreadable, so deleting it loses nothing.
//
// Changes come from one thread at a time (the indexer's); searches run on
// any thread over their own connections (WAL), never waiting for a write.
#include <QDateTime>
#include <QJsonArray>
#include <QString>
#include <QStringList>

#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <vector>

struct sqlite3;
struct sqlite3_stmt;

class FleetIndex {
public:
    // One take as the bucket has it. `start` is the take's own start
    // (ISO 8601 with the room's offset) or, when unknown, the room's wall
    // clock time from the name; `seconds` < 0: not known yet.
    struct Take {
        QString key, room, name, start;
        double seconds = -1;
        int64_t size = 0;
    };

    // A search: words of the notes (any, all must match), a room, a time
    // range; each part optional. A time without an offset is the room's
    // own wall clock; one with an offset (or Z) is an instant.
    struct Query {
        QString words;
        QString room;
        QDateTime from, to;  // invalid: open
        int limit = 200;
    };
    // The longest search, in characters (a note is at most 500).
    static constexpr int kMaxQuery = 500;

    explicit FleetIndex(QString path);
    ~FleetIndex();
    FleetIndex(const FleetIndex&) = delete;
    FleetIndex& operator=(const FleetIndex&) = delete;

    // Opens the database, or makes it anew when it is missing or unusable.
    bool Open(QString* error);

    // Writes, on one thread at a time, each its own transaction unless
    // between Begin and Commit. A pass over the whole listing: BeginPass,
    // the takes and notes found, EndPass, which forgets the takes and notes
    // the pass did not see (gone from the store).
    bool Begin();
    bool Commit();
    void BeginPass();
    bool EndPass();
    // A take listed or shown. A known take keeps its start and length
    // unless these say more, and its note and hold.
    bool PutTake(const Take& take);
    // True when the take's note was last read with this tag (the note
    // object's ETag), so it need not be read again.
    bool NoteKnown(const QString& key, const QString& tag);
    // `note` "" clears it.
    bool SetNote(const QString& key, const QString& note, const QString& tag);
    bool SetHeld(const QString& key, bool held);
    bool SetLength(const QString& key, const QString& start, double seconds);
    // Takes whose length is not known yet, at most `n`.
    QStringList WithoutLength(int n);
    int64_t Count();

    // Runs a search; false with a reason for a query that cannot be asked
    // (`*badQuery` true: the asker's fault, else the database's).
    bool Search(const Query& query, QJsonArray* takes, QString* error, bool* badQuery);

    // The words of a search as FTS5 phrases (each word one quoted string,
    // inner quotes doubled) for words of 3 characters or more, and the
    // shorter ones as LIKE patterns (%, _ and \ escaped). False for a query
    // longer than kMaxQuery.
    static bool SplitWords(const QString& words, QString* match, QStringList* likes, QString* error);

private:
    sqlite3* Reader();
    // The writer's statement for `sql` (a literal), prepared once.
    sqlite3_stmt* Kept(const char* sql);
    void Return(sqlite3* db);

    const QString path_;
    sqlite3* writer_ = nullptr;
    std::map<const char*, sqlite3_stmt*> kept_;
    int64_t pass_ = 0;
    std::mutex readersMutex_;
    std::vector<sqlite3*> readers_;
};
