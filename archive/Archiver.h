// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The archive: every kept take goes to the object store once, oldest first,
// never the take being written, on a thread of its own at the lowest
// priority. What the store confirmed is written to a journal that survives
// restarts and crashes; on start every take in the folder that the journal
// does not name is queued again.
//
// Failures: no answer, a timeout or a 5xx is tried again after 5 s, doubling
// up to 5 minutes; a refusal of the store as a whole (a bad key or
// signature, no bucket, or a setting that stops every upload) is the state
// Refused and is tried again every 5 minutes. A refusal of one object (too
// large, access denied on its key, a bad digest) sets that take aside: it
// stays here, is tried again a day later and the queue goes on.
//
// Nothing in the store is ever replaced: each upload is conditional. When a
// take's key already holds an object, that object is this take when its
// ETag is the MD5 sent: an earlier upload of ours whose answer was lost. Else
// another recording has the key and the take goes beside it, NAME-2.flac,
// NAME-3.flac, …
//
// A take's note and hold follow it once it is archived: the note as the
// object beside it with the extension ".note" (deleted when the note is
// cleared), the hold as the object's legal hold (ON, lifted with OFF). A
// bucket without Object Lock refuses legal holds: that is said once
// (`noObjectLock`) and the hold stays a local one. Marks are sent before the
// next upload, with the uploads' retries.
//
// The GUI thread calls the public functions (each only takes a mutex) and
// gets the signals queued. The archive runs as one job on a BackgroundWorker;
// no signal is emitted with the mutex held: what to report is collected
// under it and emitted, in order, once it is let go (EmitReports).
#include <QDateTime>
#include <QObject>
#include <QString>

#include <chrono>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <set>
#include <vector>

#include "archive/ArchiveConfig.h"
#include "archive/S3Client.h"
#include "util/BackgroundWorker.h"

namespace platform {
class AppendLog;
class HttpClient;
class TakeEncoder;
class Files;
}  // namespace platform

enum class ArchiveState { Ok, Unreachable, Refused };
QString ArchiveStateName(ArchiveState state);  // "ok", "unreachable", "refused"

// The takes the store has confirmed, by file name; safe from any thread. It
// may outlive its archive (a server thread may still ask while the program
// ends).
class ArchivedTakes {
public:
    bool Contains(const QString& name) const {
        std::lock_guard lock(mutex_);
        return names_.count(name) > 0;
    }
    void Add(const QString& name) {
        std::lock_guard lock(mutex_);
        names_.insert(name);
    }

private:
    mutable std::mutex mutex_;
    std::set<QString> names_;
};

class Archiver : public QObject {
    Q_OBJECT
public:
    struct Parts {
        std::unique_ptr<platform::HttpClient> http;
        std::unique_ptr<platform::TakeEncoder> encoder;
        std::unique_ptr<platform::AppendLog> journal;
        platform::Files* takeFiles = nullptr;  // the takes' listing (not owned)
        bool lowerPriority = true;
    };
    struct Timing {
        std::chrono::milliseconds firstRetry{5000};
        std::chrono::milliseconds maxRetry{300000};
        std::chrono::milliseconds refusedRetry{300000};
        std::chrono::milliseconds setAsideRetry{24 * 3600 * 1000};
    };
    struct Status {
        ArchiveState state = ArchiveState::Ok;
        QString detail;
        int queued = 0;
        int64_t queuedBytes = 0;
        QString oldest;
        // How long the queue has not been empty; 0 when it is.
        int64_t behindMs = 0;
        int setAside = 0;            // takes refused one by one, waiting a day
        bool prefixShared = false;   // another machine writes the same prefix
        bool noObjectLock = false;   // the bucket refused a legal hold
    };

    // `recordFolder` and `workFolder` end with "/"; the FLAC copies are made
    // in `workFolder`.
    Archiver(ArchiveConfig config, QString recordFolder, QString workFolder, Parts parts, Timing timing,
             QObject* parent = nullptr);
    ~Archiver() override;

    const ArchiveConfig& Config() const { return config_; }
    // Starts the thread: the journal is read and the folder listed there.
    void Start();
    // Ends the thread; an upload under way is cut off (sent again next time).
    // Waits for a thread held by the disk (the destructor's stop): a caller
    // that cannot wait uses StopWithin().
    void Stop();
    // Asks the thread to end and returns at once.
    void RequestStop();
    // Ends the thread within `ms`; false when it is still held (inside a
    // system call on a disk that does not answer): the thread keeps this
    // object, which must then never be destroyed. `abandoned`, when given,
    // gets the line that names what the stop left (empty when nothing).
    bool StopWithin(int ms, QString* abandoned = nullptr);

    // The take being written (never sent), by file name; empty: none.
    void SetOpenTake(const QString& name);
    // A take closed and kept: queued.
    void TakeKept(const QString& name, int64_t bytes);
    // A take deleted here (the ten-second rule, the strip, the web page).
    void TakeRemoved(const QString& name);
    // A take's note or hold changed here: sent to the store once the take
    // is archived (at once when it is).
    void NoteChanged(const QString& name);
    void HoldChanged(const QString& name);

    // Whether the store has confirmed this take (file name); any thread.
    bool IsArchived(const QString& name) const { return archived_->Contains(name); }
    std::shared_ptr<const ArchivedTakes> Archived() const { return archived_; }
    Status CurrentStatus() const;
    // The outcome of the heartbeat's request to the store: a failure
    // becomes the archive's state unless the uploads' own failure stands; a
    // success ends a state that only such a failure set. Any thread.
    void HeartbeatResult(S3Result::Kind kind, const QString& detail);

    // The object key of a take: PREFIX/yyyy/mm/dd/NAME.flac (or .wav);
    // `copy` 2 and above: NAME-2.flac, the key beside a taken one.
    QString KeyFor(const QString& name, int copy = 1) const;

    // The heartbeat found another machine's identity in PREFIX/status.json;
    // said once (prefixShared). Any thread.
    void PrefixShared();

signals:
    void archived(const QString& name, const QString& bucket, const QString& key, qint64 bytes);
    void stateChanged(ArchiveState state, const QString& detail);
    void behind(int takes, qint64 bytes, const QString& oldest);
    void skipped(const QString& name, const QString& reason);
    // A take the store refused by itself (`code`): kept here, tried again a
    // day later.
    void setAside(const QString& name, const QString& code);
    // The take's own key held another recording; it went to `key` instead.
    void keyTaken(const QString& name, const QString& takenKey, const QString& key);
    // Another machine writes the same prefix (`prefix`).
    void prefixShared(const QString& prefix);
    // The bucket has no Object Lock: holds are kept here only. Said once.
    void noObjectLock(const QString& bucket);
    // The journal was read: IsArchived answers for every earlier take.
    void journalLoaded();

private:
    // How long Stop() waits before it waits on without a limit.
    static constexpr int kStopLimitMs = 5000;
    enum class Outcome { Done, Gone, Failed, Retry, Refused, SetAside, Cancelled };
    enum MarkBits { kNote = 1, kHold = 2 };
    struct AsideTake {
        int64_t bytes = 0;
        std::chrono::steady_clock::time_point retryAt;
    };
    void Run();
    Outcome Upload(const QString& name, QString* detail, QString* key, int64_t* bytes);
    // Sends the marks `bits` of an archived take at `key`; the bits still to
    // send are left in `*bits`.
    Outcome SendMarks(const QString& name, const QString& key, int* bits, QString* detail);
    // The marks a take has here (kNote, kHold).
    int LocalMarks(const QString& name) const;
    void MarkChanged(const QString& name, int bit);
    void SetState(ArchiveState state, const QString& detail);  // with mutex_ held
    void RetryAsideNow();                                      // with mutex_ held
    void EmitBehind();                                         // with mutex_ held
    // A signal to emit once mutex_ is let go (with mutex_ held).
    void Report(std::function<void()> emitter);
    // Emits what was reported, in order (without mutex_).
    void EmitReports();
    bool Stopping() const;

    const ArchiveConfig config_;
    const QString recordFolder_;
    const QString workFolder_;
    Parts parts_;
    const Timing timing_;

    mutable std::mutex mutex_;
    std::vector<std::function<void()>> reports_;  // signals not emitted yet
    bool reporting_ = false;                      // a thread is emitting them
    QString inHand_;                              // the take being sent
    bool started_ = false;                        // Start() was called
    const std::shared_ptr<ArchivedTakes> archived_ = std::make_shared<ArchivedTakes>();
    std::map<QString, int64_t> pending_;  // take name → bytes; names sort by time
    std::set<QString> skipped_;           // failed for good this run
    std::map<QString, AsideTake> setAside_;  // refused one by one
    bool prefixShared_ = false;
    bool noObjectLock_ = false;
    std::map<QString, QString> keys_;  // archived take → its object key
    std::map<QString, int> marks_;     // archived take → marks to send (MarkBits)
    QString openTake_;
    ArchiveState state_ = ArchiveState::Ok;
    QString detail_;
    bool otherFailed_ = false;  // the state is another request's failure
    std::chrono::steady_clock::time_point nextAttempt_{};
    std::chrono::steady_clock::time_point behindSince_{};
    Backoff retry_;
    BackgroundWorker worker_;  // last: its thread ends before the rest goes
};
