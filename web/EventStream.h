// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The live state and the event stream of the page: the front end publishes
// the state and events from the GUI thread (a mutex held for a copy), and
// each open stream is served from the backlog of recent events.
#include <QJsonObject>
#include <QString>

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <mutex>
#include <string>

#include "web/WebServer.h"

namespace httplib {
struct Response;
}

class EventStream {
public:
    explicit EventStream(int maxClients) : maxClients_(maxClients) {}

    // Before serving (again), and to end every open stream.
    void Open();
    void Close();

    void PublishState(const LiveState& next);
    void Publish(const QString& type, const QJsonObject& data);

    // The state as the page shows it.
    QJsonObject Status();
    // The take being written, empty when none.
    QString WritingTake();
    // Answers with the stream, or 503 when too many are open.
    void Serve(httplib::Response& res);

private:
    using Clock = std::chrono::steady_clock;
    void PushLocked(const std::string& block);
    QJsonObject StatusLocked() const;

    const int maxClients_;
    std::mutex mutex_;
    std::condition_variable wake_;
    bool closed_ = false;
    LiveState state_;
    std::deque<std::pair<uint64_t, std::string>> events_;
    uint64_t nextEvent_ = 1;
    int clients_ = 0;
    Clock::time_point lastLevelSent_{};
    int lastLevel_ = -1;
};
