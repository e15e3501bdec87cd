// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The bucket as the fleet page sees it: the rooms (the top-level folders),
// each room's heartbeat (ROOM/status.json), and one room's takes of one day
// (ROOM/yyyy/MM/dd/; the layout is takes/ObjectKey.h), listed with ListObjectsV2 and kept for a few seconds
// so that many browsers cost the store little. Every request runs on the
// caller's thread (a server worker) over a small pool of HTTP clients; room,
// day and take names are checked here before any of them becomes a key.
#include <QByteArray>
#include <QDateTime>
#include <QJsonArray>
#include <QJsonObject>
#include <QString>
#include <QStringList>

#include <chrono>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <vector>

#include "archive/ArchiveConfig.h"
#include "archive/S3Client.h"

namespace platform {
class HttpClient;
}

// A room: letters (any script), digits, '.', '_' and '-', starting with a
// letter or a digit, at most 128 characters, no "..".
bool IsRoomName(const QString& room);
// A calendar day "yyyy-MM-dd".
bool IsDay(const QString& day);
// ROOM/yyyy/MM/dd/NAME (takes::ArchivedKey); empty unless the room passes
// the check above and the name takes::IsArchivedTakeName.
QString ArchivedTakeKey(const QString& room, const QString& name);
// The room and file name of a key ROOM/yyyy/MM/dd/FILE whose folder is the
// file's day; false for any other key.
bool SplitTakeKey(const QString& key, QString* room, QString* file);

// One answer of ListObjectsV2.
struct ListedObject {
    QString key;
    int64_t size = 0;
    QString etag;
};
struct ListPage {
    QStringList prefixes;  // CommonPrefixes, as the store gives them
    std::vector<ListedObject> objects;
    QString nextToken;     // empty: the last page
};
// False with `error` for a body that is not a ListBucketResult.
bool ParseListObjects(const QByteArray& xml, ListPage* page, QString* error);

// Runs `work(i)` for i in [0, n) on up to `threads` threads (this one
// among them), and returns when every i is done.
void ForEach(int n, int threads, const std::function<void(int)>& work);

class FleetBucket {
public:
    struct Options {
        int staleSeconds = 180;
        std::chrono::milliseconds cacheFor{5000};
        int parallelRequests = 8;
    };
    using HttpFactory = std::function<std::unique_ptr<platform::HttpClient>()>;
    using Now = std::function<QDateTime()>;  // UTC

    FleetBucket(ArchiveConfig config, HttpFactory http, Options options, Now now);
    ~FleetBucket();

    // Every room with its heartbeat's fields, `room`, `heartbeat` (its time
    // or null), `heartbeat_age` (seconds, by the store's clock where it
    // tells; absent without a heartbeat) and `stale`. False with a reason
    // when the store failed.
    bool Rooms(QJsonArray* rooms, QString* error);
    // The takes of a room's day, oldest first: name, start, seconds, bytes,
    // key, note (its note object's text, "" without one) and held (the
    // take's legal hold, read once in 10 s at most; false in a bucket
    // without Object Lock).
    bool Takes(const QString& room, const QString& day, QJsonArray* takes, QString* error);

    // Writes a take's note object (an empty note deletes it). The store's
    // answer as it came.
    S3Result PutNote(const QString& takeKey, const QString& note);
    // Whether the bucket has Object Lock (asked once a minute at most): 1
    // yes, 0 no, -1 the store did not tell (`error`).
    int BucketLock(QString* error);
    // Sets or lifts the legal hold of a take's object.
    S3Result SetHold(const QString& takeKey, bool held);
    // The legal holds of these takes as the store has them now (each asked
    // at most once in 10 s), in parallel; a take the store did not tell
    // about is left out of `held`. Nothing where the bucket has no
    // Object Lock.
    void ReadHolds(const std::vector<QString>& takeKeys, std::map<QString, bool>* held);

    // For the search index: every object of the bucket, a page at a time as
    // the store lists them (not kept); `page` returns false to stop. And one
    // note's text with its ETag, and one take's start and length (HEAD).
    bool ListAll(const std::function<bool(const ListPage&)>& page, QString* error);
    bool ReadNote(const QString& noteKey, QString* text, QString* etag, QString* error);
    bool ReadTakeMeta(const QString& takeKey, QString* start, double* seconds);

    struct ObjectInfo {
        int status = 0;  // the store's HTTP status; 0: no answer
        int64_t size = 0;
        QString contentType;
        QString error;
        QByteArray peaks;  // the take's outline as the archive sent it, if it did
    };
    ObjectInfo Head(const QString& key);
    // Bytes [offset, offset + length) of `key` handed to `sink` as they come.
    // False when the store failed or `sink` refused.
    bool Fetch(const QString& key, int64_t offset, int64_t length,
               const std::function<bool(const char*, size_t)>& sink);

private:
    class Lease;
    S3Result Request(platform::HttpRequest request, const QString& key, const QueryList& query);
    bool List(const QString& prefix, ListPage* all, QString* error);
    // ListObjectsV2 with `query` added, a page at a time (1,000 keys) until
    // the last or until `page` returns false.
    bool Pages(QueryList query, QString* error, const std::function<bool(ListPage&)>& page);

    const ArchiveConfig config_;
    const HttpFactory http_;
    const Options options_;
    const Now now_;
    using Clock = std::chrono::steady_clock;

    std::mutex poolMutex_;
    std::vector<std::unique_ptr<platform::HttpClient>> idle_;

    std::mutex cacheMutex_;
    struct CachedList {
        Clock::time_point at;
        ListPage page;
    };
    std::map<QString, CachedList> lists_;  // by prefix
    struct CachedBeat {
        Clock::time_point at;
        QJsonObject beat;
        // Seconds from the heartbeat's write to its fetch by the store's own
        // clock (Last-Modified against Date); -1 when the store gave neither.
        qint64 storeAge = -1;
    };
    std::map<QString, CachedBeat> beats_;  // by room
    CachedBeat Room(const QString& room);
    struct TakeMeta {
        QString start;
        double seconds = -1;
    };
    std::map<QString, TakeMeta> metas_;  // by key and size; a take's object does not change
    struct CachedNote {
        QString etag, text;
    };
    std::map<QString, CachedNote> notes_;  // by note key; the ETag says when it changed
    struct CachedHold {
        Clock::time_point at;
        bool held = false;
    };
    std::map<QString, CachedHold> holds_;  // by take key
    Clock::time_point lockAt_{};
    int lock_ = -1;
    bool ReadHold(const QString& takeKey, bool* held);
};
