// SPDX-License-Identifier: GPL-3.0-or-later
#include "fleet/FleetBucket.h"

#include <QCryptographicHash>
#include <QDate>
#include <QJsonDocument>
#include <QRegularExpression>
#include <QXmlStreamReader>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <thread>

#include "archive/StoreAccess.h"
#include "platform/Http.h"
#include "takes/ObjectKey.h"
#include "takes/StatusJson.h"
#include "takes/TakeName.h"
#include "takes/TakeRecords.h"

bool IsRoomName(const QString& room) {
    static const QRegularExpression pattern(QStringLiteral("^[\\p{L}\\p{N}][\\p{L}\\p{N}._-]{0,127}$"));
    return pattern.match(room).hasMatch() && !room.contains(QLatin1String(".."));
}

bool IsDay(const QString& day) {
    static const QRegularExpression pattern(QStringLiteral("^[0-9]{4}-[0-9]{2}-[0-9]{2}$"));
    return pattern.match(day).hasMatch() && QDate::fromString(day, Qt::ISODate).isValid();
}

QString ArchivedTakeKey(const QString& room, const QString& name) {
    return IsRoomName(room) ? takes::ArchivedKey(room, name) : QString();
}

bool SplitTakeKey(const QString& key, QString* room, QString* file) {
    QString root, name;
    if (!takes::SplitKey(key, &root, &name) || !IsRoomName(root)) return false;
    *room = root;
    *file = name;
    return true;
}

bool ParseListObjects(const QByteArray& xml, ListPage* page, QString* error) {
    QXmlStreamReader reader(xml);
    if (!reader.readNextStartElement() || reader.name() != QLatin1String("ListBucketResult")) {
        *error = QStringLiteral("the store's listing is no ListBucketResult");
        return false;
    }
    bool truncated = false;
    QString token;
    while (reader.readNextStartElement()) {
        const auto name = reader.name();
        if (name == QLatin1String("Contents")) {
            ListedObject object;
            while (reader.readNextStartElement()) {
                if (reader.name() == QLatin1String("Key"))
                    object.key = reader.readElementText();
                else if (reader.name() == QLatin1String("Size"))
                    object.size = reader.readElementText().toLongLong();
                else if (reader.name() == QLatin1String("ETag"))
                    object.etag = reader.readElementText();
                else
                    reader.skipCurrentElement();
            }
            page->objects.push_back(std::move(object));
        } else if (name == QLatin1String("CommonPrefixes")) {
            while (reader.readNextStartElement()) {
                if (reader.name() == QLatin1String("Prefix"))
                    page->prefixes << reader.readElementText();
                else
                    reader.skipCurrentElement();
            }
        } else if (name == QLatin1String("IsTruncated")) {
            truncated = reader.readElementText() == QLatin1String("true");
        } else if (name == QLatin1String("NextContinuationToken")) {
            token = reader.readElementText();
        } else {
            reader.skipCurrentElement();
        }
    }
    if (reader.hasError()) {
        *error = QStringLiteral("the store's listing cannot be read: ") + reader.errorString();
        return false;
    }
    page->nextToken = truncated ? token : QString();
    if (truncated && token.isEmpty()) {
        *error = QStringLiteral("the store's listing is cut off without a continuation token");
        return false;
    }
    return true;
}

void ForEach(int n, int threads, const std::function<void(int)>& work) {
    std::atomic<int> next{0};
    auto run = [&] {
        for (int i = next++; i < n; i = next++) work(i);
    };
    std::vector<std::thread> pool;
    for (int t = 1; t < std::min(n, threads); ++t) pool.emplace_back(run);
    run();
    for (std::thread& thread : pool) thread.join();
}

// An HTTP client of the pool for one request (each keeps its connection).
class FleetBucket::Lease {
public:
    explicit Lease(FleetBucket& store) : store_(store) {
        std::lock_guard lock(store_.poolMutex_);
        if (!store_.idle_.empty()) {
            client_ = std::move(store_.idle_.back());
            store_.idle_.pop_back();
        }
        if (!client_) client_ = store_.http_();
    }
    ~Lease() {
        std::lock_guard lock(store_.poolMutex_);
        if (store_.idle_.size() < 16) store_.idle_.push_back(std::move(client_));
    }
    platform::HttpClient& Client() { return *client_; }

private:
    FleetBucket& store_;
    std::unique_ptr<platform::HttpClient> client_;
};

FleetBucket::FleetBucket(ArchiveConfig config, HttpFactory http, Options options, Now now)
    : config_(std::move(config)), http_(std::move(http)), options_(options), now_(std::move(now)) {}

FleetBucket::~FleetBucket() = default;

S3Result FleetBucket::Request(platform::HttpRequest request, const QString& key, const QueryList& query) {
    S3Settings settings;
    QString error;
    if (!S3SettingsFrom(config_, &settings, &error)) {
        S3Result refused;
        refused.kind = S3Result::Kind::Refused;
        refused.detail = error;
        return refused;
    }
    // A body goes with its MD5 (the store checks it; a legal hold needs it)
    // and is signed with its SHA-256.
    QByteArray sha;
    if (!request.body.isEmpty()) {
        request.headers.push_back(
            "Content-MD5: " + QCryptographicHash::hash(request.body, QCryptographicHash::Md5).toBase64().toStdString());
        sha = QCryptographicHash::hash(request.body, QCryptographicHash::Sha256);
    }
    request.connectTimeoutSeconds = 5;
    request.stallSeconds = 30;
    Lease lease(*this);
    S3Client client(settings, lease.Client());
    return client.Request(std::move(request), key, query, sha);
}

bool FleetBucket::List(const QString& prefix, ListPage* all, QString* error) {
    {
        std::lock_guard lock(cacheMutex_);
        const auto it = lists_.find(prefix);
        if (it != lists_.end() && Clock::now() - it->second.at < options_.cacheFor) {
            *all = it->second.page;
            return true;
        }
    }
    ListPage result;
    const bool listed = Pages({{"delimiter", "/"}, {"prefix", prefix}}, error, [&result](ListPage& page) {
        result.prefixes += page.prefixes;
        for (ListedObject& o : page.objects) result.objects.push_back(std::move(o));
        return true;
    });
    if (!listed) return false;
    std::lock_guard lock(cacheMutex_);
    const Clock::time_point now = Clock::now();
    // Listings past their time go, so that the cache holds only recent days.
    for (auto it = lists_.begin(); it != lists_.end();)
        it = now - it->second.at >= options_.cacheFor ? lists_.erase(it) : std::next(it);
    lists_[prefix] = CachedList{now, result};
    *all = std::move(result);
    return true;
}

namespace {

// How long a take's legal hold as read is taken as the store's: holds change
// by other hands too (the room, a script), and a page or a search asks again.
constexpr auto kHoldKept = std::chrono::seconds(10);

// An HTTP date ("Mon, 07 Dec 2026 20:00:00 GMT"), invalid when it is none.
QDateTime HttpDate(const std::map<std::string, std::string>& headers, const char* name) {
    const auto it = headers.find(name);
    if (it == headers.end()) return {};
    QString text = QString::fromStdString(it->second).trimmed();
    if (text.endsWith(QLatin1String(" GMT"))) text = text.chopped(3) + QLatin1String("+0000");
    return QDateTime::fromString(text, Qt::RFC2822Date);
}

}  // namespace

FleetBucket::CachedBeat FleetBucket::Room(const QString& room) {
    {
        std::lock_guard lock(cacheMutex_);
        const auto it = beats_.find(room);
        if (it != beats_.end() && Clock::now() - it->second.at < options_.cacheFor) return it->second;
    }
    CachedBeat found{Clock::now(), {}, -1};
    const S3Result r = Request(platform::HttpRequest{}, takes::StatusKey(room), {});
    if (r.kind == S3Result::Kind::Ok) {
        const QJsonDocument doc = QJsonDocument::fromJson(r.response.body);
        if (doc.isObject()) found.beat = doc.object();
        const QDateTime written = HttpDate(r.response.headers, "last-modified");
        const QDateTime fetched = HttpDate(r.response.headers, "date");
        if (written.isValid() && fetched.isValid()) found.storeAge = std::max<qint64>(0, written.secsTo(fetched));
    } else if (r.status != 404) {
        found.beat.insert("error", r.detail);
    }
    std::lock_guard lock(cacheMutex_);
    beats_[room] = found;
    return found;
}

bool FleetBucket::Rooms(QJsonArray* rooms, QString* error) {
    ListPage top;
    if (!List(QString(), &top, error)) return false;
    QStringList names;
    for (QString prefix : top.prefixes) {
        prefix.chop(1);  // the delimiter
        if (IsRoomName(prefix)) names << prefix;
    }
    std::vector<CachedBeat> beats(static_cast<size_t>(names.size()));
    ForEach(static_cast<int>(names.size()), options_.parallelRequests,
            [&](int i) { beats[static_cast<size_t>(i)] = Room(names[i]); });
    const QDateTime now = now_();
    for (qsizetype i = 0; i < names.size(); ++i) {
        const CachedBeat& beat = beats[static_cast<size_t>(i)];
        QJsonObject room = beat.beat;
        const QDateTime time = takes::RoomStatus::FromJson(room).time;
        bool stale = !time.isValid();
        qint64 age = -1;
        if (!stale && beat.storeAge >= 0) {
            // Both ends by the store's clock: a recorder's clock that is off
            // neither hides a silent room nor greys a live one.
            const auto since = std::chrono::duration_cast<std::chrono::seconds>(Clock::now() - beat.at).count();
            age = beat.storeAge + since;
            stale = age > options_.staleSeconds;
        } else if (!stale) {
            age = std::max<qint64>(0, time.secsTo(now));
            stale = age > options_.staleSeconds;
        }
        room.insert("room", names[i]);
        room.insert("heartbeat", time.isValid() ? QJsonValue(time.toUTC().toString(Qt::ISODate)) : QJsonValue());
        room.insert("stale", stale);
        if (age >= 0) room.insert("heartbeat_age", age);
        rooms->append(room);
    }
    return true;
}

bool FleetBucket::Takes(const QString& room, const QString& day, QJsonArray* takes, QString* error) {
    if (!IsRoomName(room) || !IsDay(day)) {
        *error = QStringLiteral("no such room or day");
        return false;
    }
    const QString prefix = room + '/' + QString(day).replace('-', '/') + '/';
    ListPage page;
    if (!List(prefix, &page, error)) return false;
    struct Found {
        QString name, key;
        int64_t size = 0;
        TakeMeta meta;
        bool known = false;
    };
    std::vector<Found> found;
    for (const ListedObject& o : page.objects) {
        const QString name = o.key.mid(prefix.size());
        if (!takes::IsArchivedTakeName(name)) continue;
        Found f{name, o.key, o.size, {}, false};
        std::lock_guard lock(cacheMutex_);
        const auto it = metas_.find(o.key + '\t' + QString::number(o.size));
        if (it != metas_.end()) {
            f.meta = it->second;
            f.known = true;
        }
        found.push_back(std::move(f));
    }
    // Start and length are the objects' own metadata, which a listing lacks.
    ForEach(static_cast<int>(found.size()), options_.parallelRequests, [&](int i) {
        Found& f = found[static_cast<size_t>(i)];
        if (f.known) return;
        platform::HttpRequest head;
        head.method = "HEAD";
        const S3Result r = Request(std::move(head), f.key, {});
        if (r.kind != S3Result::Kind::Ok) return;
        const takes::ObjectMeta meta = takes::ObjectMeta::FromHeaders(r.response.headers);
        f.meta.start = meta.start;
        f.meta.seconds = meta.seconds;
        f.known = true;
        std::lock_guard lock(cacheMutex_);
        if (metas_.size() > 200000) metas_.clear();
        metas_[f.key + '\t' + QString::number(f.size)] = f.meta;
    });
    // Notes: the objects beside the takes, read again only when their ETag
    // changed. Holds: the takes' legal holds where the bucket has Object Lock.
    std::map<QString, QString> noteTags;  // note key -> ETag
    for (const ListedObject& o : page.objects)
        if (takes::IsNoteKey(o.key)) noteTags[o.key] = o.etag;
    std::vector<QString> notes(found.size());
    std::vector<char> held(found.size(), 0);
    QString lockError;
    const bool locked = !found.empty() && BucketLock(&lockError) == 1;
    ForEach(static_cast<int>(found.size()), options_.parallelRequests, [&](int i) {
        const Found& f = found[static_cast<size_t>(i)];
        bool on = false;
        if (locked && ReadHold(f.key, &on)) held[static_cast<size_t>(i)] = on;
        const QString noteKey = takes::NoteKey(f.key);
        const auto tag = noteTags.find(noteKey);
        if (tag == noteTags.end()) return;
        {
            std::lock_guard lock(cacheMutex_);
            const auto it = notes_.find(noteKey);
            if (it != notes_.end() && it->second.etag == tag->second) {
                notes[static_cast<size_t>(i)] = it->second.text;
                return;
            }
        }
        QString text, etag, why;
        if (ReadNote(noteKey, &text, &etag, &why)) notes[static_cast<size_t>(i)] = text;
    });
    for (size_t i = 0; i < found.size(); ++i) {
        const Found& f = found[i];
        QJsonObject take{{"name", f.name}, {"bytes", static_cast<qint64>(f.size)}, {"key", f.key},
                         {"note", notes[i]}, {"held", held[i] != 0}};
        // Without its metadata the name gives the local start time.
        take.insert("start", !f.meta.start.isEmpty() ? f.meta.start : takes::StartText(f.name));
        take.insert("seconds", f.meta.seconds >= 0 ? QJsonValue(f.meta.seconds) : QJsonValue());
        takes->append(take);
    }
    return true;
}

FleetBucket::ObjectInfo FleetBucket::Head(const QString& key) {
    platform::HttpRequest head;
    head.method = "HEAD";
    const S3Result r = Request(std::move(head), key, {});
    ObjectInfo info;
    info.status = r.status;
    if (r.kind != S3Result::Kind::Ok) {
        info.error = r.detail.isEmpty() ? QStringLiteral("HTTP %1").arg(r.status) : r.detail;
        return info;
    }
    const auto length = r.response.headers.find("content-length");
    bool ok = false;
    info.size = length == r.response.headers.end() ? -1 : QByteArray::fromStdString(length->second).toLongLong(&ok);
    if (!ok) info.size = -1;
    const auto type = r.response.headers.find("content-type");
    info.contentType = type == r.response.headers.end() ? QString() : QString::fromStdString(type->second);
    info.peaks = takes::ObjectMeta::FromHeaders(r.response.headers).peaks.toLatin1();
    return info;
}

bool FleetBucket::Fetch(const QString& key, int64_t offset, int64_t length,
                       const std::function<bool(const char*, size_t)>& sink) {
    if (length <= 0) return true;
    platform::HttpRequest get;
    get.headers.push_back("Range: bytes=" + std::to_string(offset) + '-' + std::to_string(offset + length - 1));
    int64_t sent = 0;
    get.onBody = [&](int status, const char* data, size_t size) {
        // A store that ignored the range sends the object from its start.
        if (status != 206 && offset > 0) return false;
        // Never more than was asked for, whatever the store sends.
        const size_t n = static_cast<size_t>(std::min<int64_t>(static_cast<int64_t>(size), length - sent));
        if (n > 0 && !sink(data, n)) return false;
        sent += static_cast<int64_t>(n);
        return true;
    };
    const S3Result r = Request(std::move(get), key, {});
    return r.kind == S3Result::Kind::Ok && (r.status == 206 || (r.status == 200 && offset == 0)) && sent == length;
}

bool FleetBucket::ReadNote(const QString& noteKey, QString* text, QString* etag, QString* error) {
    const S3Result r = Request(platform::HttpRequest{}, noteKey, {});
    if (r.status == 404) {
        text->clear();
        etag->clear();
        return true;
    }
    if (r.kind != S3Result::Kind::Ok) {
        *error = QStringLiteral("the store: ") + r.detail;
        return false;
    }
    *text = takes::NoteOfObject(r.response.body);
    const auto tag = r.response.headers.find("etag");
    *etag = tag == r.response.headers.end() ? QString() : QString::fromStdString(tag->second);
    std::lock_guard lock(cacheMutex_);
    if (notes_.size() > 100000) notes_.clear();
    notes_[noteKey] = CachedNote{*etag, *text};
    return true;
}

S3Result FleetBucket::PutNote(const QString& takeKey, const QString& note) {
    const QString noteKey = takes::NoteKey(takeKey);
    platform::HttpRequest request;
    if (note.isEmpty()) {
        request.method = "DELETE";
    } else {
        request.method = "PUT";
        request.body = note.toUtf8();
        request.headers.push_back(std::string("Content-Type: ") + takes::kNoteContentType);
    }
    const S3Result r = Request(std::move(request), noteKey, {});
    if (r.kind == S3Result::Kind::Ok) {
        std::lock_guard lock(cacheMutex_);
        notes_.erase(noteKey);
        // The day's listing shows the change at once.
        lists_.erase(takeKey.left(takeKey.lastIndexOf('/') + 1));
    }
    return r;
}

int FleetBucket::BucketLock(QString* error) {
    {
        std::lock_guard lock(cacheMutex_);
        if (lock_ >= 0 && Clock::now() - lockAt_ < std::chrono::minutes(1)) return lock_;
    }
    const S3Result r = Request(platform::HttpRequest{}, QString(), {{"object-lock", ""}});
    int found = -1;
    if (r.kind == S3Result::Kind::Ok) {
        found = r.response.body.contains("<ObjectLockEnabled>Enabled</ObjectLockEnabled>") ? 1 : 0;
    } else if (r.status == 404 || r.code == QLatin1String("ObjectLockConfigurationNotFoundError")) {
        found = 0;
    } else {
        *error = QStringLiteral("the store: ") + r.detail;
        return -1;
    }
    std::lock_guard lock(cacheMutex_);
    lock_ = found;
    lockAt_ = Clock::now();
    return found;
}

void FleetBucket::ReadHolds(const std::vector<QString>& takeKeys, std::map<QString, bool>* held) {
    QString error;
    if (takeKeys.empty() || BucketLock(&error) != 1) return;
    std::vector<signed char> on(takeKeys.size(), -1);
    ForEach(static_cast<int>(takeKeys.size()), options_.parallelRequests, [&](int i) {
        bool h = false;
        if (ReadHold(takeKeys[static_cast<size_t>(i)], &h)) on[static_cast<size_t>(i)] = h ? 1 : 0;
    });
    for (size_t i = 0; i < takeKeys.size(); ++i)
        if (on[i] >= 0) (*held)[takeKeys[i]] = on[i] == 1;
}

bool FleetBucket::ReadHold(const QString& takeKey, bool* held) {
    {
        std::lock_guard lock(cacheMutex_);
        const auto it = holds_.find(takeKey);
        if (it != holds_.end() && Clock::now() - it->second.at < kHoldKept) {
            *held = it->second.held;
            return true;
        }
    }
    const S3Result r = Request(platform::HttpRequest{}, takeKey, {{"legal-hold", ""}});
    if (r.kind != S3Result::Kind::Ok && r.status != 404) return false;
    // No legal hold was ever set: the store answers 404 (NoSuchObjectLockConfiguration).
    *held = r.kind == S3Result::Kind::Ok && takes::LegalHoldIsOn(r.response.body);
    std::lock_guard lock(cacheMutex_);
    if (holds_.size() > 100000) holds_.clear();
    holds_[takeKey] = CachedHold{Clock::now(), *held};
    return true;
}

S3Result FleetBucket::SetHold(const QString& takeKey, bool held) {
    platform::HttpRequest request;
    request.method = "PUT";
    request.body = takes::LegalHoldBody(held);
    request.headers.push_back("Content-Type: application/xml");
    const S3Result r = Request(std::move(request), takeKey, {{"legal-hold", ""}});
    if (r.kind == S3Result::Kind::Ok) {
        std::lock_guard lock(cacheMutex_);
        holds_[takeKey] = CachedHold{Clock::now(), held};
    }
    return r;
}

bool FleetBucket::ListAll(const std::function<bool(const ListPage&)>& page, QString* error) {
    return Pages({}, error, [&page](ListPage& one) { return page(one); });
}

bool FleetBucket::Pages(QueryList query, QString* error, const std::function<bool(ListPage&)>& page) {
    query.emplace_back(QStringLiteral("list-type"), QStringLiteral("2"));
    query.emplace_back(QStringLiteral("max-keys"), QStringLiteral("1000"));
    QString token;
    do {
        QueryList asked = query;
        if (!token.isEmpty()) asked.emplace_back(QStringLiteral("continuation-token"), token);
        const S3Result r = Request(platform::HttpRequest{}, QString(), asked);
        if (r.kind != S3Result::Kind::Ok) {
            *error = QStringLiteral("the store: ") + r.detail;
            return false;
        }
        ListPage one;
        if (!ParseListObjects(r.response.body, &one, error)) return false;
        if (!page(one)) return true;
        token = one.nextToken;
    } while (!token.isEmpty());
    return true;
}

bool FleetBucket::ReadTakeMeta(const QString& takeKey, QString* start, double* seconds) {
    platform::HttpRequest head;
    head.method = "HEAD";
    const S3Result r = Request(std::move(head), takeKey, {});
    if (r.status == 404) {
        // Gone since it was listed: nothing to know, and the next pass forgets it.
        start->clear();
        *seconds = -1;
        return true;
    }
    if (r.kind != S3Result::Kind::Ok) return false;
    const takes::ObjectMeta meta = takes::ObjectMeta::FromHeaders(r.response.headers);
    *start = meta.start;
    *seconds = meta.seconds;
    return true;
}
