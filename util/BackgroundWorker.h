// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// One thread that runs named jobs in the order they were posted: the archive,
// the heartbeat, the alerts, the settings saver and the take store each run
// on one.
//
// A job may be retried: it is run again after a back-off that doubles up to
// a ceiling, and the jobs behind it wait. A long-running job (a loop) sleeps
// through SleepUntil(), which Wake() and a stop cut short.
//
// A stop is always bounded. RequestStop(drain) lets the jobs queued so far
// run for `drain` more; after that none is started and a running one sees
// Expired(). StopWithin(limit) waits at most `limit` for the thread and
// reports what it abandoned: the jobs never run and the one still running,
// if the thread is held (inside a system call on a disk that does not
// answer). A held thread keeps the worker's state, not its owner: an owner
// whose jobs use it must then stay alive (it is left to the process's end).
#include <QString>
#include <QStringList>

#include <algorithm>
#include <chrono>
#include <cstddef>
#include <functional>
#include <memory>
#include <thread>

// Waits that double from `first` up to `ceiling`.
class Backoff {
public:
    Backoff(std::chrono::milliseconds first, std::chrono::milliseconds ceiling)
        : first_(first), ceiling_(std::max(first, ceiling)), next_(first) {}
    // The wait before the next try; the one after it is twice as long, up to
    // the ceiling.
    std::chrono::milliseconds Next() {
        const std::chrono::milliseconds now = next_;
        next_ = std::min(next_ * 2, ceiling_);
        return now;
    }
    // A success: the next failure waits `first` again.
    void Reset() { next_ = first_; }

private:
    std::chrono::milliseconds first_, ceiling_, next_;
};

class BackgroundWorker {
public:
    using Clock = std::chrono::steady_clock;
    struct Options {
        QString name;  // what the reports call it: "archive", "take store", …
        // The back-off of retried jobs.
        std::chrono::milliseconds firstRetry{5000};
        std::chrono::milliseconds maxRetry{300000};
        // The most jobs waiting; a job posted beyond it drops the oldest
        // waiting one (named in the stop's report). 0: no limit.
        size_t maxQueued = 0;
        // How long the destructor waits when no stop was asked for before.
        std::chrono::milliseconds endLimit{5000};
    };
    // What a stop left undone.
    struct StopReport {
        QString worker;         // Options::name
        bool ended = true;      // the thread ended within the limit
        QString running;        // the job the thread is held in, when not
        QStringList abandoned;  // jobs never run (or given up between retries)
        int dropped = 0;        // jobs dropped earlier for Options::maxQueued
        bool Clean() const { return ended && abandoned.isEmpty() && dropped == 0; }
        // One line for the log naming what was abandoned; empty when clean.
        QString Line() const;
    };

    explicit BackgroundWorker(Options options);
    // Stops within Options::endLimit unless a stop was waited for before;
    // a held thread then goes on alone.
    ~BackgroundWorker();
    BackgroundWorker(const BackgroundWorker&) = delete;
    BackgroundWorker& operator=(const BackgroundWorker&) = delete;

    // Queues a job; the thread starts with the first. False (and the job
    // dropped) once a stop was asked for.
    bool Post(QString name, std::function<void()> job);
    // Queues a job that is tried until it returns true, after waits of the
    // back-off; the jobs behind it wait meanwhile. Given up (and named) when
    // a stop's drain time is over.
    bool PostRetried(QString name, std::function<bool()> attempt);

    // For the jobs: a stop was asked for (a loop ends, a request may be cut).
    bool Stopping() const;
    // A stop was asked for and its drain time is over: cut everything short.
    bool Expired() const;
    // Sleeps until `until`, Wake() or a stop; false when stopping. A Wake()
    // while no job sleeps is kept for the next sleep.
    bool SleepUntil(Clock::time_point until);
    void Wake();
    bool OnWorkerThread() const;

    // True once every job posted so far has run (true at once on the
    // worker's own thread); false after `ms`, or when the jobs will never
    // run (stopped).
    bool WaitIdleFor(std::chrono::milliseconds ms);

    // Asks the thread to end; the jobs queued may still run for `drain`.
    // Only the first call counts.
    void RequestStop(std::chrono::milliseconds drain = std::chrono::milliseconds(0));
    // Asks (unless asked before, with nine tenths of `limit` as the drain, the
    // rest for the job in hand to see Expired()) and waits at most `limit`
    // for the thread. May be called again, e.g. to wait once more.
    StopReport StopWithin(std::chrono::milliseconds limit);
    // Asks for a stop and waits for the thread without a limit: only for an
    // owner's destructor whose jobs use the owner, after a StopWithin() that
    // was held and that the owner's own owner did not keep it alive for.
    void Join();

private:
    struct State;
    void Start();  // with State::mutex held
    static void Run(const std::shared_ptr<State>& state);

    const Options options_;
    const std::shared_ptr<State> state_;
    std::thread thread_;
};
