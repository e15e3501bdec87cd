// SPDX-License-Identifier: GPL-3.0-or-later
#include "util/BackgroundWorker.h"

#include <algorithm>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <mutex>
#include <utility>

namespace {

using Clock = BackgroundWorker::Clock;

struct Job {
    QString name;
    std::function<bool()> attempt;  // true: done
};

// The most names one report's line gives.
constexpr int kNamesInLine = 10;

}  // namespace

// What the thread shares with its owner; it outlives the owner when the
// thread is held at the end.
struct BackgroundWorker::State {
    explicit State(const Options& options) : backoff(options.firstRetry, options.maxRetry) {}

    mutable std::mutex mutex;
    std::condition_variable wake;     // the thread: a job, a stop, Wake()
    std::condition_variable changed;  // the waiters: a job handled, the end
    std::deque<Job> queue;
    QString running;
    bool started = false;
    bool stopping = false;
    bool ended = false;
    bool woken = false;
    bool waited = false;  // StopWithin() was called
    Clock::time_point deadline = Clock::time_point::max();  // of the drain
    QStringList abandoned;
    int dropped = 0;
    uint64_t posted = 0;   // jobs ever queued
    uint64_t handled = 0;  // of those, run or dropped
    std::thread::id thread;
    Backoff backoff;

    bool Expired() const { return stopping && Clock::now() >= deadline; }
    // Takes every waiting job out (with `mutex` held); the caller destroys
    // them once it has let the mutex go.
    std::deque<Job> AbandonQueue() {
        for (const Job& job : queue) abandoned << job.name;
        handled += queue.size();
        return std::exchange(queue, {});
    }
};

QString BackgroundWorker::StopReport::Line() const {
    if (Clean()) return {};
    QStringList parts;
    if (!ended) parts << QStringLiteral("still in %1 at the limit; left to end with the process").arg(running);
    if (!abandoned.isEmpty()) {
        QStringList names = abandoned.mid(0, kNamesInLine);
        if (abandoned.size() > kNamesInLine) names << QStringLiteral("%1 more").arg(abandoned.size() - kNamesInLine);
        parts << QStringLiteral("not done: ") + names.join(QStringLiteral(", "));
    }
    if (dropped > 0) parts << QStringLiteral("%1 dropped while the queue was full").arg(dropped);
    return worker + QStringLiteral(": ") + parts.join(QStringLiteral("; "));
}

BackgroundWorker::BackgroundWorker(Options options)
    : options_(std::move(options)), state_(std::make_shared<State>(options_)) {}

BackgroundWorker::~BackgroundWorker() {
    bool waited = false;
    {
        std::lock_guard lock(state_->mutex);
        waited = state_->waited;
    }
    if (!waited) StopWithin(options_.endLimit);
    bool ended = false;
    {
        std::lock_guard lock(state_->mutex);
        ended = state_->ended;
    }
    // Held: the thread keeps the state and ends on its own.
    if (thread_.joinable()) {
        if (ended)
            thread_.join();
        else
            thread_.detach();
    }
}

void BackgroundWorker::Start() {
    if (state_->started) return;
    state_->started = true;
    thread_ = std::thread(&BackgroundWorker::Run, state_);
}

bool BackgroundWorker::Post(QString name, std::function<void()> job) {
    return PostRetried(std::move(name), [job = std::move(job)] {
        job();
        return true;
    });
}

bool BackgroundWorker::PostRetried(QString name, std::function<bool()> attempt) {
    Job dropped;
    {
        std::lock_guard lock(state_->mutex);
        if (state_->stopping) return false;
        if (options_.maxQueued > 0 && state_->queue.size() >= options_.maxQueued) {
            dropped = std::move(state_->queue.front());
            state_->queue.pop_front();
            ++state_->dropped;
            ++state_->handled;
        }
        state_->queue.push_back({std::move(name), std::move(attempt)});
        ++state_->posted;
        Start();
    }
    state_->wake.notify_all();
    return true;
}

bool BackgroundWorker::Stopping() const {
    std::lock_guard lock(state_->mutex);
    return state_->stopping;
}

bool BackgroundWorker::Expired() const {
    std::lock_guard lock(state_->mutex);
    return state_->Expired();
}

bool BackgroundWorker::SleepUntil(Clock::time_point until) {
    std::unique_lock lock(state_->mutex);
    const auto woken = [this] { return state_->woken || state_->stopping; };
    if (until == Clock::time_point::max())
        state_->wake.wait(lock, woken);
    else
        state_->wake.wait_until(lock, until, woken);
    state_->woken = false;
    return !state_->stopping;
}

void BackgroundWorker::Wake() {
    {
        std::lock_guard lock(state_->mutex);
        state_->woken = true;
    }
    state_->wake.notify_all();
}

bool BackgroundWorker::OnWorkerThread() const {
    std::lock_guard lock(state_->mutex);
    return state_->started && state_->thread == std::this_thread::get_id();
}

bool BackgroundWorker::WaitIdleFor(std::chrono::milliseconds ms) {
    if (OnWorkerThread()) return true;
    std::unique_lock lock(state_->mutex);
    const uint64_t target = state_->posted;
    return state_->changed.wait_for(lock, ms, [this, target] { return state_->handled >= target; });
}

void BackgroundWorker::RequestStop(std::chrono::milliseconds drain) {
    {
        std::lock_guard lock(state_->mutex);
        if (state_->stopping) return;
        state_->stopping = true;
        state_->deadline = Clock::now() + drain;
    }
    state_->wake.notify_all();
}

BackgroundWorker::StopReport BackgroundWorker::StopWithin(std::chrono::milliseconds limit) {
    RequestStop(limit * 9 / 10);
    StopReport report;
    report.worker = options_.name;
    std::deque<Job> never;
    {
        std::unique_lock lock(state_->mutex);
        state_->waited = true;
        const bool ended =
            !state_->started || state_->changed.wait_for(lock, limit, [this] { return state_->ended; });
        if (!ended) {
            // Held: what waits behind the job in hand never runs.
            report.ended = false;
            report.running = state_->running;
            never = state_->AbandonQueue();
        }
        report.abandoned = std::exchange(state_->abandoned, {});
        report.dropped = std::exchange(state_->dropped, 0);
    }
    state_->changed.notify_all();
    if (report.ended && thread_.joinable()) thread_.join();
    return report;
}

void BackgroundWorker::Join() {
    RequestStop();
    if (thread_.joinable()) thread_.join();
    std::lock_guard lock(state_->mutex);
    state_->waited = true;
}

void BackgroundWorker::Run(const std::shared_ptr<State>& shared) {
    State& s = *shared;
    std::unique_lock lock(s.mutex);
    s.thread = std::this_thread::get_id();
    for (;;) {
        s.wake.wait(lock, [&s] { return !s.queue.empty() || s.stopping; });
        if (s.Expired()) {
            std::deque<Job> never = s.AbandonQueue();
            lock.unlock();
            never.clear();
            lock.lock();
            break;
        }
        if (s.queue.empty()) break;  // stopping, and everything done
        Job job = std::move(s.queue.front());
        s.queue.pop_front();
        s.running = job.name;
        for (;;) {
            lock.unlock();
            const bool done = job.attempt();
            lock.lock();
            if (done) {
                s.backoff.Reset();
                break;
            }
            // Tried again after the back-off; a stop's deadline cuts the
            // wait short and gives the job up.
            const Clock::time_point until = Clock::now() + s.backoff.Next();
            for (;;) {
                const Clock::time_point limit = s.stopping ? std::min(until, s.deadline) : until;
                if (Clock::now() >= limit) break;
                s.wake.wait_until(lock, limit);
            }
            if (s.Expired()) {
                s.abandoned << job.name;
                break;
            }
        }
        s.running.clear();
        ++s.handled;
        lock.unlock();
        job = Job();  // destroyed without the mutex
        s.changed.notify_all();
        lock.lock();
    }
    s.ended = true;
    s.running.clear();
    lock.unlock();
    s.changed.notify_all();
}
