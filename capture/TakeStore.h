// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The take store: the one owner of the takes folder. It lists the takes,
// applies the clean-up rules (24 hours, a minimum of free space), deletes a
// take on request (never one that is being written) and repairs the takes a
// stop left open, all in order on a BackgroundWorker; the answers come back
// as signals, delivered on the thread that owns the store.
//
// A take may carry a note and a hold, each a file beside it (takes/TakeRecords.h:
// NAME.note with the note's text, NAME.hold). A held take is never removed, neither by the clean-up nor
// on request; a take's marks go with it, and marks whose take has gone are
// removed by the next listing.
#include <QDateTime>
#include <QHash>
#include <QList>
#include <QMetaType>
#include <QObject>
#include <QSet>
#include <QString>

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <condition_variable>
#include <mutex>
#include <vector>

#include "platform/Platform.h"
#include "util/BackgroundWorker.h"

struct TakeInfo {
    QString name;        // file name without folder
    QDateTime lastWrite; // local time
    bool held = false;   // NAME.hold is there
};

Q_DECLARE_METATYPE(TakeInfo)

class TakeStore : public QObject {
    Q_OBJECT
public:
    // What the clean-up may remove. `archived`, when set, must be safe to
    // call from the store's thread.
    struct Policy {
        bool expireAfterDay = false;  // the setting ManageFile
        int64_t keepFreeMB = 0;       // [Disk] KeepFreeMB; 0: off
        bool archiveConfigured = false;
        std::function<bool(const QString& name)> archived;
    };

    // How long the end waits for the store's thread.
    static constexpr int kEndLimitMs = 2000;

    // `folder` ends with "/"; the folder is made on the store's thread.
    explicit TakeStore(QString folder, QObject* parent = nullptr);
    // Stop(kEndLimitMs); a thread still held then is waited for (an owner
    // that cannot wait keeps the store instead).
    ~TakeStore() override;

    // Finishes what was asked within `limitMs`, then ends the thread; false
    // when the disk still holds it (it keeps this store, which must then
    // stay). `abandoned`, when given, gets the line naming the requests left
    // undone (empty when none).
    bool Stop(int limitMs, QString* abandoned = nullptr);

    const QString& Folder() const { return folder_; }
    QString PathOf(const QString& name) const { return folder_ + name; }

    void SetPolicy(Policy policy);
    // The take being written, which the clean-up never touches.
    void SetOpenTake(const QString& name);

    // The name for a new take whose first sample is at `start`: the first of
    // PLEN<time>.wav, PLEN<time>-2.wav, … that is neither listed nor given
    // out before. Touches no disk, so any thread may ask; empty when every
    // name is taken. (A file made behind the store's back under that name
    // makes the writer's creation fail, which is reported.)
    QString NameTake(const QDateTime& start);

    // Asynchronous requests, done in order on the store's thread.
    // Lists the takes after the clean-up; answered by `listed`.
    void Refresh();
    // Deletes a take unless it is being written, then lists; answered by
    // `deleted` and `listed`.
    void Delete(const QString& name);
    // Repairs the takes a stop left open; answered by `repaired`.
    void Repair();

    // For servers on threads of their own: done on the caller's thread, safe
    // from any thread. `name` is a file name in the folder.
    QList<platform::DirEntry> ListTakes() const;
    std::unique_ptr<platform::TakeReader> OpenTake(const QString& name, platform::TakeOpen* result) const;
    int64_t ReadHead(const QString& name, void* data, int64_t size) const;
    int64_t FreeBytes() const;
    // Removes a take (and its note) unless it is held, being written or read.
    bool Remove(const QString& name) const;

    // The take's note and hold, read and written on the caller's thread
    // (safe from any thread; a mark is set only on a take that is there).
    enum class Mark { Done, Missing, Failed };
    // An empty note clears it (an empty file: the archive deletes the note's
    // object from it). The note must pass takes::NoteProblem.
    Mark SetNote(const QString& name, const QByteArray& utf8) const;
    Mark SetHold(const QString& name, bool held) const;
    QByteArray Note(const QString& name) const;  // empty when none
    bool Held(const QString& name) const;
    // The notes and holds in the folder (file names), from one reading of
    // its names; for listing many takes at once.
    struct Marks {
        QSet<QString> notes, holds;
    };
    Marks ListMarks() const;
    // The bytes per second that each take's header gives, in the order of
    // `list` (0 for a file that is no PCM take). A header is read once and
    // remembered until the take goes; one still too short to tell is read
    // again next time. Once `stop` is set the rest are not read (0).
    std::vector<int32_t> ByteRates(const QList<platform::DirEntry>& list,
                                   const std::atomic<bool>* stop = nullptr) const;
    // Drops what is remembered of a take that changed or went.
    void Forget(const QString& name) const;

    // Waits until every request so far has been done (for the end and for tests).
    void WaitIdle();
    // The same for at most `ms` milliseconds; false when the disk held the
    // store up longer (the requests are still done later).
    bool WaitIdleFor(int ms);

signals:
    void listed(const QList<TakeInfo>& takes);
    // A take the clean-up removed, with the reason, e.g. "older than 24 hours".
    void removed(const QString& name, const QString& reason);
    void deleted(const QString& name, bool ok);
    void repaired(int count);

private:
    void Post(const QString& name, std::function<void()> work);
    void ListAndCleanUp();
    // Removes a take and its note unless it is held (the check and the
    // removal under marksMutex_).
    bool RemoveUnlessHeld(platform::Files* files, const QString& name) const;
    // Removes the marks in `marks` (file names) whose take has gone.
    void SweepMarks(platform::Files* files, const QSet<QString>& marks) const;

    const QString folder_;
    mutable std::mutex mutex_;
    Policy policy_;
    QString openTake_;
    QSet<QString> listedNames_;  // the names in the folder at the last listing
    bool namesKnown_ = false;    // the first listing is done
    std::condition_variable namesListed_;
    QSet<QString> givenNames_;   // names handed out by NameTake

    // Held while a mark is set, and while a take is checked for its hold
    // and removed, so a hold never comes between the two.
    mutable std::mutex marksMutex_;
    mutable std::mutex headerMutex_;
    mutable QHash<QString, int32_t> byteRates_;  // header bytes per second by name
    BackgroundWorker worker_;  // last: its thread ends before the rest goes
};
