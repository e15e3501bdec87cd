// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// Keeps the fleet's search index (FleetIndex) up to date on a thread of its
// own: a pass over the whole bucket's listing at start and every `relist`
// (the takes, and the note objects read again when their ETag changed),
// then the takes' start and length (HEAD) where the listing lacked them;
// between passes, what the fleet page shows or changes (a room's day, a
// note set, a hold) is queued here and written at once. Searches run on the
// caller's thread and never wait for the index's writes.
#include <QJsonArray>
#include <QString>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include "fleet/FleetIndex.h"

class FleetBucket;

class FleetSearch {
public:
    struct Options {
        std::chrono::seconds relist{300};
        int parallelRequests = 8;
    };
    FleetSearch(std::shared_ptr<FleetBucket> store, QString path, Options options);
    ~FleetSearch();

    // Opens (or makes) the index and starts its thread; false with a reason.
    bool Start(QString* error);
    void Stop();

    // From any thread; written by the index's thread.
    void DaySeen(const QString& room, const QJsonArray& takes);
    void NoteSet(const QString& key, const QString& note);
    void HoldSet(const QString& key, bool held);

    bool Search(const FleetIndex::Query& query, QJsonArray* takes, QString* error, bool* badQuery);

    // Passes over the whole listing finished so far, and how long the first
    // one took (for the log and the benchmark).
    int Passes() const { return passes_; }
    double FirstPassSeconds() const { return firstPass_; }

private:
    void Run();
    void Pass();
    // True when every take's length is known.
    bool FillLengths();
    void Drain();
    bool Stopping() const { return stop_; }

    const std::shared_ptr<FleetBucket> store_;
    const Options options_;
    FleetIndex index_;
    std::thread thread_;
    std::atomic<bool> stop_{false};
    std::atomic<int> passes_{0};
    std::atomic<double> firstPass_{0};
    bool lengthsKnown_ = false;  // said once, on the index's thread
    std::mutex mutex_;
    std::condition_variable wake_;
    std::vector<std::function<void(FleetIndex&)>> queued_;
};
