// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The metrics of a page (/metrics), kept in a prometheus-cpp registry and
// written by its text serializer. Counters and gauges are atomics: they are
// set from the GUI thread and read by the server's threads without a lock
// either side waits on. A tracked gauge reads its value on the thread that
// calls Sample (the front end's sampling timer), so it may read what only
// that thread may touch:
//
//     metrics.Track("somorabox_x", "what x is", [&session] { return session.X(); });
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

namespace prometheus {
class Counter;
class Gauge;
class Registry;
}  // namespace prometheus

class Metrics {
public:
    using Labels = std::map<std::string, std::string>;

    Metrics();
    ~Metrics();

    // A counter or gauge of this name and labels, made on first use. Set up
    // before the server answers; the returned reference is for any thread.
    prometheus::Counter& Counter(const std::string& name, const std::string& help, const Labels& labels = {});
    prometheus::Gauge& Gauge(const std::string& name, const std::string& help, const Labels& labels = {});
    // A gauge set from `read` at each Sample.
    void Track(const std::string& name, const std::string& help, std::function<double()> read);
    // Runs every tracked read (on the thread that owns what they read).
    void Sample();

    // The exposition text ("text/plain; version=0.0.4").
    std::string Text() const;
    static const char* ContentType();

private:
    std::shared_ptr<prometheus::Registry> registry_;
    std::mutex trackedMutex_;  // only Track and Sample, both on the sampling thread
    std::vector<std::pair<prometheus::Gauge*, std::function<double()>>> tracked_;
};
