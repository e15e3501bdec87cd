// SPDX-License-Identifier: GPL-3.0-or-later
#include "fleet/FleetIndex.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonObject>
#include <QRegularExpression>
#include <QTimeZone>

#include <sqlite3.h>

namespace {

// The schema's version: a database of another one is made anew.
constexpr int kVersion = 1;

const char* const kSchema = R"SQL(
CREATE TABLE IF NOT EXISTS takes(
  id INTEGER PRIMARY KEY,
  key TEXT NOT NULL UNIQUE,
  room TEXT NOT NULL,
  name TEXT NOT NULL,
  start TEXT NOT NULL,
  wall INTEGER NOT NULL,
  utc INTEGER NOT NULL,
  seconds REAL,
  size INTEGER NOT NULL DEFAULT 0,
  note TEXT NOT NULL DEFAULT '',
  note_tag TEXT NOT NULL DEFAULT '',
  note_seen INTEGER NOT NULL DEFAULT 0,
  held INTEGER NOT NULL DEFAULT 0,
  seen INTEGER NOT NULL DEFAULT 0);
CREATE INDEX IF NOT EXISTS takes_utc ON takes(utc);
CREATE INDEX IF NOT EXISTS takes_wall ON takes(wall);
CREATE INDEX IF NOT EXISTS takes_room ON takes(room, utc);
CREATE INDEX IF NOT EXISTS takes_seen ON takes(seen);
CREATE VIRTUAL TABLE IF NOT EXISTS notes USING fts5(note, content='takes', content_rowid='id', tokenize='trigram');
CREATE TRIGGER IF NOT EXISTS takes_ai AFTER INSERT ON takes WHEN new.note != '' BEGIN
  INSERT INTO notes(rowid, note) VALUES (new.id, new.note);
END;
CREATE TRIGGER IF NOT EXISTS takes_ad AFTER DELETE ON takes WHEN old.note != '' BEGIN
  INSERT INTO notes(notes, rowid, note) VALUES ('delete', old.id, old.note);
END;
CREATE TRIGGER IF NOT EXISTS takes_au AFTER UPDATE OF note ON takes WHEN old.note != new.note BEGIN
  INSERT INTO notes(notes, rowid, note) SELECT 'delete', old.id, old.note WHERE old.note != '';
  INSERT INTO notes(rowid, note) SELECT new.id, new.note WHERE new.note != '';
END;
)SQL";

// A prepared statement, finalized at the end of its scope; or one of the
// writer's kept statements, made ready for its next use instead.
class Statement {
public:
    Statement(sqlite3* db, const char* sql) { ok_ = sqlite3_prepare_v2(db, sql, -1, &s_, nullptr) == SQLITE_OK; }
    explicit Statement(sqlite3_stmt* kept) : s_(kept), ok_(kept != nullptr), kept_(true) {}
    ~Statement() {
        if (!kept_) {
            sqlite3_finalize(s_);
        } else if (s_) {
            sqlite3_reset(s_);
            sqlite3_clear_bindings(s_);
        }
    }
    Statement(const Statement&) = delete;
    Statement& operator=(const Statement&) = delete;
    bool Ok() const { return ok_; }
    Statement& Bind(int i, const QString& text) {
        const QByteArray utf8 = text.toUtf8();
        sqlite3_bind_text(s_, i, utf8.constData(), static_cast<int>(utf8.size()), SQLITE_TRANSIENT);
        return *this;
    }
    Statement& Bind(int i, int64_t n) {
        sqlite3_bind_int64(s_, i, n);
        return *this;
    }
    Statement& BindAlways(int i, double x) {
        sqlite3_bind_double(s_, i, x);
        return *this;
    }
    Statement& BindReal(int i, double x) {
        if (x < 0)
            sqlite3_bind_null(s_, i);
        else
            sqlite3_bind_double(s_, i, x);
        return *this;
    }
    int Step() { return ok_ ? sqlite3_step(s_) : SQLITE_ERROR; }
    bool Run() { return Step() == SQLITE_DONE; }
    QString Text(int i) const {
        return QString::fromUtf8(reinterpret_cast<const char*>(sqlite3_column_text(s_, i)), sqlite3_column_bytes(s_, i));
    }
    int64_t Int(int i) const { return sqlite3_column_int64(s_, i); }
    bool Null(int i) const { return sqlite3_column_type(s_, i) == SQLITE_NULL; }
    double Real(int i) const { return sqlite3_column_double(s_, i); }

private:
    sqlite3_stmt* s_ = nullptr;
    bool ok_ = false;
    bool kept_ = false;
};

bool Exec(sqlite3* db, const char* sql, QString* error = nullptr) {
    char* message = nullptr;
    const bool ok = sqlite3_exec(db, sql, nullptr, nullptr, &message) == SQLITE_OK;
    if (!ok && error) *error = QString::fromUtf8(message ? message : sqlite3_errmsg(db));
    sqlite3_free(message);
    return ok;
}

sqlite3* OpenDb(const QString& path, bool write) {
    sqlite3* db = nullptr;
    const int flags = (write ? SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE : SQLITE_OPEN_READONLY) |
                      SQLITE_OPEN_NOMUTEX | SQLITE_OPEN_PRIVATECACHE;
    if (sqlite3_open_v2(QFile::encodeName(path).constData(), &db, flags, nullptr) != SQLITE_OK) {
        sqlite3_close(db);
        return nullptr;
    }
    sqlite3_busy_timeout(db, 2000);
    return db;
}

// The room's wall clock time as seconds (as if it were UTC) and the instant
// of a take's start; the instant is the wall clock time when the start has
// no offset.
void Times(const QString& start, int64_t* wall, int64_t* utc) {
    const QDateTime t = QDateTime::fromString(start, Qt::ISODate);
    if (!t.isValid()) {
        *wall = *utc = 0;
        return;
    }
    *wall = QDateTime(t.date(), t.time(), QTimeZone::utc()).toSecsSinceEpoch();
    *utc = t.timeSpec() == Qt::LocalTime ? *wall : t.toSecsSinceEpoch();
}

}  // namespace

FleetIndex::FleetIndex(QString path) : path_(std::move(path)) {}

sqlite3_stmt* FleetIndex::Kept(const char* sql) {
    const auto it = kept_.find(sql);
    if (it != kept_.end()) return it->second;
    sqlite3_stmt* s = nullptr;
    if (sqlite3_prepare_v3(writer_, sql, -1, SQLITE_PREPARE_PERSISTENT, &s, nullptr) != SQLITE_OK) return nullptr;
    kept_[sql] = s;
    return s;
}

FleetIndex::~FleetIndex() {
    for (const auto& [sql, s] : kept_) sqlite3_finalize(s);
    for (sqlite3* db : readers_) sqlite3_close(db);
    sqlite3_close(writer_);
}

bool FleetIndex::Open(QString* error) {
    QDir().mkpath(QFileInfo(path_).absolutePath());
    for (int attempt = 0; attempt < 2; ++attempt) {
        writer_ = OpenDb(path_, true);
        QString why = QStringLiteral("cannot open the database");
        bool ok = writer_ != nullptr;
        if (ok) {
            Statement version(writer_, "PRAGMA user_version");
            ok = version.Step() == SQLITE_ROW;
            const int found = ok ? static_cast<int>(version.Int(0)) : -1;
            Statement tables(writer_, "SELECT count(*) FROM sqlite_master");
            const bool empty = tables.Step() == SQLITE_ROW && tables.Int(0) == 0;
            ok = ok && (found == kVersion || (found == 0 && empty));
            if (!ok) why = QStringLiteral("the database is of another version");
        }
        ok = ok && Exec(writer_, "PRAGMA journal_mode=WAL", &why) && Exec(writer_, "PRAGMA synchronous=NORMAL", &why) &&
             Exec(writer_, kSchema, &why) &&
             Exec(writer_, ("PRAGMA user_version=" + std::to_string(kVersion)).c_str(), &why);
        if (ok) {
            Statement seen(writer_, "SELECT coalesce(max(seen), 0) FROM takes");
            if (seen.Step() == SQLITE_ROW) pass_ = seen.Int(0);
            return true;
        }
        // A cache: one that cannot be used is made anew.
        sqlite3_close(writer_);
        writer_ = nullptr;
        if (attempt == 0) {
            for (const char* suffix : {"", "-wal", "-shm"}) QFile::remove(path_ + QLatin1String(suffix));
            continue;
        }
        *error = QStringLiteral("the search index %1: %2").arg(path_, why);
    }
    return false;
}

bool FleetIndex::Begin() { return Exec(writer_, "BEGIN"); }
bool FleetIndex::Commit() { return Exec(writer_, "COMMIT"); }

void FleetIndex::BeginPass() { ++pass_; }

bool FleetIndex::EndPass() {
    Statement gone(writer_, "DELETE FROM takes WHERE seen < ?");
    Statement notes(writer_, "UPDATE takes SET note = '', note_tag = '' WHERE note != '' AND note_seen < ?");
    return gone.Bind(1, pass_).Run() && notes.Bind(1, pass_).Run();
}

bool FleetIndex::PutTake(const Take& take) {
    int64_t wall = 0, utc = 0;
    Times(take.start, &wall, &utc);
    // A start with its offset replaces one taken from the name.
    Statement s(Kept(
                "INSERT INTO takes(key, room, name, start, wall, utc, seconds, size, seen) VALUES (?,?,?,?,?,?,?,?,?) "
                "ON CONFLICT(key) DO UPDATE SET seen = excluded.seen, size = excluded.size, "
                "start = CASE WHEN excluded.utc != excluded.wall OR takes.utc = takes.wall THEN excluded.start "
                "ELSE takes.start END, "
                "wall = CASE WHEN excluded.utc != excluded.wall OR takes.utc = takes.wall THEN excluded.wall "
                "ELSE takes.wall END, "
                "utc = CASE WHEN excluded.utc != excluded.wall OR takes.utc = takes.wall THEN excluded.utc "
                "ELSE takes.utc END, "
                "seconds = coalesce(excluded.seconds, takes.seconds)"));
    return s.Bind(1, take.key)
        .Bind(2, take.room)
        .Bind(3, take.name)
        .Bind(4, take.start)
        .Bind(5, wall)
        .Bind(6, utc)
        .BindReal(7, take.seconds)
        .Bind(8, take.size)
        .Bind(9, pass_)
        .Run();
}

bool FleetIndex::NoteKnown(const QString& key, const QString& tag) {
    Statement s(Kept("UPDATE takes SET note_seen = ? WHERE key = ? AND note_tag = ?"));
    return s.Bind(1, pass_).Bind(2, key).Bind(3, tag).Run() && sqlite3_changes(writer_) > 0;
}

bool FleetIndex::SetNote(const QString& key, const QString& note, const QString& tag) {
    // A note as shown (no tag) keeps the tag it was read with while it is
    // the same text.
    Statement s(Kept("UPDATE takes SET note = ?1, note_tag = CASE WHEN ?2 != '' THEN ?2 WHEN note = ?1 THEN note_tag "
                     "ELSE '' END, note_seen = ?3 WHERE key = ?4"));
    return s.Bind(1, note).Bind(2, note.isEmpty() ? QString() : tag).Bind(3, pass_).Bind(4, key).Run();
}

bool FleetIndex::SetHeld(const QString& key, bool held) {
    Statement s(Kept("UPDATE takes SET held = ? WHERE key = ?"));
    return s.Bind(1, held ? 1 : 0).Bind(2, key).Run();
}

bool FleetIndex::SetLength(const QString& key, const QString& start, double seconds) {
    int64_t wall = 0, utc = 0;
    Times(start, &wall, &utc);
    Statement s(Kept(
                "UPDATE takes SET seconds = ?, start = CASE WHEN ? THEN ? ELSE start END, "
                "wall = CASE WHEN ? THEN ? ELSE wall END, utc = CASE WHEN ? THEN ? ELSE utc END WHERE key = ?"));
    const int64_t better = utc != wall ? 1 : 0;
    // A length that cannot be known is kept as -1 so that the take is not
    // asked again.
    return s.BindAlways(1, seconds < 0 ? -1 : seconds)
        .Bind(2, better)
        .Bind(3, start)
        .Bind(4, better)
        .Bind(5, wall)
        .Bind(6, better)
        .Bind(7, utc)
        .Bind(8, key)
        .Run();
}

QStringList FleetIndex::WithoutLength(int n) {
    Statement s(writer_, "SELECT key FROM takes WHERE seconds IS NULL ORDER BY utc DESC LIMIT ?");
    s.Bind(1, n);
    QStringList keys;
    while (s.Step() == SQLITE_ROW) keys << s.Text(0);
    return keys;
}

int64_t FleetIndex::Count() {
    Statement s(writer_, "SELECT count(*) FROM takes");
    return s.Step() == SQLITE_ROW ? s.Int(0) : 0;
}

bool FleetIndex::SplitWords(const QString& words, QString* match, QStringList* likes, QString* error) {
    if (words.size() > kMaxQuery) {
        *error = QStringLiteral("the search is longer than %1 characters").arg(kMaxQuery);
        return false;
    }
    QStringList phrases;
    for (QString word : words.split(QRegularExpression(QStringLiteral("[\\s\\p{Cc}]+")), Qt::SkipEmptyParts)) {
        // Trigrams: a word of fewer than three characters is no phrase the
        // index can match, so it is looked for as a part of the note.
        if (word.size() < 3) {
            word.replace('\\', QLatin1String("\\\\")).replace('%', QLatin1String("\\%")).replace('_', QLatin1String("\\_"));
            *likes << '%' + word + '%';
        } else {
            // One string token: operators, stars, columns and brackets in
            // it are text.
            phrases << '"' + word.replace('"', QLatin1String("\"\"")) + '"';
        }
    }
    *match = phrases.join(' ');
    return true;
}

sqlite3* FleetIndex::Reader() {
    {
        std::lock_guard lock(readersMutex_);
        if (!readers_.empty()) {
            sqlite3* db = readers_.back();
            readers_.pop_back();
            return db;
        }
    }
    return OpenDb(path_, false);
}

void FleetIndex::Return(sqlite3* db) {
    std::lock_guard lock(readersMutex_);
    if (readers_.size() < 8)
        readers_.push_back(db);
    else
        sqlite3_close(db);
}

bool FleetIndex::Search(const Query& query, QJsonArray* takes, QString* error, bool* badQuery) {
    *badQuery = true;
    QString match;
    QStringList likes;
    if (!SplitWords(query.words, &match, &likes, error)) return false;
    // Only fixed fragments make the statement; every value is bound.
    std::string sql = "SELECT room, name, start, seconds, note, held FROM takes WHERE 1";
    if (!match.isEmpty()) sql += " AND id IN (SELECT rowid FROM notes WHERE notes MATCH ?)";
    for (qsizetype i = 0; i < likes.size(); ++i) sql += " AND note LIKE ? ESCAPE '\\'";
    if (!query.room.isEmpty()) sql += " AND room = ?";
    auto bound = [](const QDateTime& t) { return t.timeSpec() == Qt::LocalTime ? " wall" : " utc"; };
    if (query.from.isValid()) sql += std::string(" AND") + bound(query.from) + " >= ?";
    if (query.to.isValid()) sql += std::string(" AND") + bound(query.to) + " < ?";
    sql += " ORDER BY utc DESC, name DESC LIMIT ?";
    *badQuery = false;
    sqlite3* db = Reader();
    if (!db) {
        *error = QStringLiteral("the search index cannot be opened");
        return false;
    }
    bool ok = false;
    {
        Statement s(db, sql.c_str());
        int i = 1;
        if (!match.isEmpty()) s.Bind(i++, match);
        for (const QString& like : likes) s.Bind(i++, like);
        if (!query.room.isEmpty()) s.Bind(i++, query.room);
        auto seconds = [](const QDateTime& t) {
            return t.timeSpec() == Qt::LocalTime ? QDateTime(t.date(), t.time(), QTimeZone::utc()).toSecsSinceEpoch()
                                                 : t.toSecsSinceEpoch();
        };
        if (query.from.isValid()) s.Bind(i++, seconds(query.from));
        if (query.to.isValid()) s.Bind(i++, seconds(query.to));
        s.Bind(i, static_cast<int64_t>(query.limit));
        int step = SQLITE_ERROR;
        while ((step = s.Step()) == SQLITE_ROW) {
            takes->append(QJsonObject{{"room", s.Text(0)},
                                      {"name", s.Text(1)},
                                      {"start", s.Text(2)},
                                      {"seconds", s.Null(3) || s.Real(3) < 0 ? QJsonValue() : QJsonValue(s.Real(3))},
                                      {"note", s.Text(4)},
                                      {"held", s.Int(5) != 0}});
        }
        ok = step == SQLITE_DONE;
        if (!ok) *error = QStringLiteral("the search index: ") + QString::fromUtf8(sqlite3_errmsg(db));
    }
    Return(db);
    return ok;
}
