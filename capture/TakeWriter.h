// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The take writer: appends the blocks of the open take, patches the header
// at its close and removes a take that is too short, on a thread of its own,
// so that the block handler never waits for the disk.
//
// The block handler hands over a copy of each block; the writer does the
// file operations strictly in the order they were handed over. Blocks handed
// over while the writer is busy join the last one queued (up to
// kBatchBlocks), so that the writer is woken once for them all. The queue
// holds `capacityBlocks` blocks of sound that have not reached the disk yet;
// it takes memory only while the disk falls behind. When it is full, Append
// refuses the block: the caller decides what to do with the take (the
// capture engine closes and keeps it and reports the disk as too slow).
#include <QObject>
#include <QDateTime>
#include <QString>

#include <condition_variable>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include "platform/Platform.h"

class TakeStore;

class TakeWriter : public QObject {
    Q_OBJECT
public:
    static constexpr int kBlockBytes = 8192;
    // Blocks queued behind a busy writer travel together, this many at most,
    // so that it is woken once for them all.
    static constexpr int kBatchBlocks = 8;
    // A minute of stereo 16-bit sound at 48 kHz, in blocks of 2048 frames.
    static constexpr int kDefaultCapacityBlocks = 60 * 48000 / 2048 + 1;

    explicit TakeWriter(int capacityBlocks = kDefaultCapacityBlocks, QObject* parent = nullptr);
    ~TakeWriter() override;  // finishes everything queued, then ends the thread

    // Names new takes from what the store knows, without asking the disk.
    void UseStore(TakeStore* store) { store_ = store; }
    // The name for a new take in `folder` starting at `start`, never `taken`
    // (the last take's, which may not exist yet); empty when there is none.
    QString NameTake(const QString& folder, const QDateTime& start, const QString& taken);
    // With true, Append waits for room instead of refusing a block: for a
    // source that can wait, such as a file being replayed.
    void SetWaitWhenFull(bool wait) { waitWhenFull_ = wait; }

    // The open take: the file with its provisional header. Hands over any
    // take still open (it is closed first, in order).
    void Begin(std::unique_ptr<platform::WritableFile> file);
    // The same for a take whose file the writer creates itself (with the
    // provisional header, never replacing a file); when that fails,
    // `openFailed` is raised and the take's blocks go nowhere.
    void BeginNew(const QString& path, int32_t sampleRate);
    // Appends one block of `bytes` bytes to the open take. False (and the
    // block is not taken) when the queue is full or no take is open.
    bool Append(const void* block, int bytes);
    // Closes the open take: patches its sizes, syncs and closes; with
    // `discard`, removes it instead, while it is still locked.
    void End(bool discard = false);
    // A take closed earlier whose fate was decided later (the first pieces
    // of a take split before the ten-second rule could tell): with `remove`
    // it is removed; either way `closed` reports it again, in order with
    // everything handed over.
    void Settle(const QString& path, bool remove);
    // Waits until everything handed over so far has been done.
    void WaitIdle();
    // The same for at most `ms` milliseconds; false when the disk has not
    // answered by then.
    bool WaitIdleFor(int ms);
    // The name of the take the writer thread is working on (empty: none).
    QString TakeInHand() const;

    // Blocks handed over and not yet written.
    int QueuedBlocks() const;
    int CapacityBlocks() const { return capacity_; }
    bool TakeOpen() const { return takeOpen_; }
    // True from a refused block until the queue has drained.
    bool Behind() const;

signals:
    // An append that did not reach the disk in full (no space, an I/O error),
    // once per take; delivered on the thread that owns the writer.
    void writeFailed(const QString& reason);
    // The last queued block reached the disk after the queue had been full.
    void caughtUp();
    // The file of a take begun with BeginNew could not be created.
    void openFailed(const QString& path);
    // The take `path` is closed (kept or removed): everything handed over
    // for it is done.
    void closed(const QString& path);
    // A take's close or removal that did not succeed, as one line for the
    // operator.
    void fileProblem(const QString& line);

private:
    struct Command {
        enum Kind { Open, Block, Close, Settle } kind = Block;
        std::unique_ptr<platform::WritableFile> file;  // Open
        QString createPath;                            // Open: create this file; Settle: the take
        int32_t sampleRate = 0;
        std::unique_ptr<char[]> data;                  // Block: one or more blocks in a row
        int bytes = 0;
        int blocks = 0;                                // Block: how many
        int sizes[kBatchBlocks] = {};                  // Block: the bytes of each
        bool discard = false;                          // Close, Settle: remove the take
    };

    void Run();
    void Execute(Command& command);
    void Push(Command command);
    void CloseTake(bool discard);

    TakeStore* store_ = nullptr;
    const int capacity_;
    bool takeOpen_ = false;  // caller's view
    bool waitWhenFull_ = false;
    std::condition_variable room_;

    mutable std::mutex mutex_;
    std::condition_variable wake_;
    std::condition_variable idle_;
    std::deque<Command> queue_;
    int queuedBlocks_ = 0;
    bool busy_ = false;
    bool quit_ = false;
    bool wasFull_ = false;
    bool writerWaiting_ = false;  // the writer thread waits for a command
    std::vector<std::unique_ptr<char[]>> spare_;  // a few buffers kept for reuse

    // Writer side.
    std::unique_ptr<platform::WritableFile> file_;
    QString path_;  // guarded by mutex_: read by TakeInHand
    bool failedReported_ = false;

    std::thread thread_;
};
