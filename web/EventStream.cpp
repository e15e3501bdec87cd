// SPDX-License-Identifier: GPL-3.0-or-later
// The live state and the Server-Sent Events of the page.
#include "web/EventStream.h"

#include <QJsonDocument>

#include <algorithm>
#include <memory>

#include <httplib.h>

#include "http/PageRoutes.h"

namespace {

constexpr size_t kEventBacklog = 256;

std::string SseBlock(const QString& type, const QJsonObject& data) {
    return "event: " + type.toStdString() + "\ndata: " + QJsonDocument(data).toJson(QJsonDocument::Compact).toStdString() +
           "\n\n";
}

}  // namespace

void EventStream::Open() {
    std::lock_guard lock(mutex_);
    closed_ = false;
}

void EventStream::Close() {
    {
        std::lock_guard lock(mutex_);
        closed_ = true;
    }
    wake_.notify_all();
}

void EventStream::PublishState(const LiveState& next) {
    {
        std::lock_guard lock(mutex_);
        const LiveState& s = state_;
        const bool changed = s.listening != next.listening || s.recording != next.recording || s.take != next.take ||
                             s.input != next.input || s.disk != next.disk ||
                             s.archive != next.archive || s.archiveQueued != next.archiveQueued ||
                             s.silentSince != next.silentSince || s.clipping != next.clipping || s.hours != next.hours;
        state_ = next;
        const Clock::time_point now = Clock::now();
        if (changed) {
            PushLocked(SseBlock(QStringLiteral("state"), StatusLocked()));
            lastLevel_ = next.level;
            lastLevelSent_ = now;
        } else if ((next.level != lastLevel_ && now - lastLevelSent_ >= std::chrono::milliseconds(150)) ||
                   now - lastLevelSent_ >= std::chrono::seconds(1)) {
            PushLocked(SseBlock(QStringLiteral("level"), QJsonObject{{"level", next.level}}));
            lastLevel_ = next.level;
            lastLevelSent_ = now;
        } else {
            return;
        }
    }
    wake_.notify_all();
}

void EventStream::Publish(const QString& type, const QJsonObject& data) {
    {
        std::lock_guard lock(mutex_);
        PushLocked(SseBlock(type, data));
    }
    wake_.notify_all();
}

void EventStream::PushLocked(const std::string& block) {
    events_.emplace_back(nextEvent_++, block);
    while (events_.size() > kEventBacklog) events_.pop_front();
}

QJsonObject EventStream::Status() {
    std::lock_guard lock(mutex_);
    return StatusLocked();
}

QString EventStream::WritingTake() {
    std::lock_guard lock(mutex_);
    return state_.recording ? state_.take : QString();
}

QJsonObject EventStream::StatusLocked() const {
    QJsonObject o{{"listening", state_.listening},
                  {"recording", state_.recording},
                  {"level", state_.level},
                  {"input", state_.input},
                  {"disk", state_.disk}};
    if (!state_.archive.isEmpty())
        o.insert("archive", QJsonObject{{"state", state_.archive},
                                        {"queued", state_.archiveQueued},
                                        {"queued_bytes", state_.archiveQueuedBytes}});
    o.insert("clipping", state_.clipping);
    if (state_.silentSince.isValid()) o.insert("silent_since", state_.silentSince.toString(Qt::ISODate));
    if (!state_.hours.isEmpty())
        o.insert("hours", QJsonObject{{"inside", state_.insideHours},
                                      {"state", state_.hours},
                                      {state_.insideHours ? "until" : "next", state_.hoursChange.toString(Qt::ISODate)}});
    if (state_.recording) {
        o.insert("take", state_.take);
        o.insert("take_start", state_.takeStart.toString(Qt::ISODate));
        o.insert("recording_seconds",
                 state_.takeStart.isValid() ? std::max<qint64>(0, state_.takeStart.secsTo(QDateTime::currentDateTime()))
                                            : 0);
    }
    return o;
}

void EventStream::Serve(httplib::Response& res) {
    struct Cursor {
        uint64_t next = 0;
        bool first = true;
    };
    auto cursor = std::make_shared<Cursor>();
    {
        std::lock_guard lock(mutex_);
        if (clients_ >= maxClients_) {
            res.status = 503;
            res.set_header("Retry-After", "5");
            res.set_content("too many event streams\n", "text/plain");
            return;
        }
        ++clients_;
        cursor->next = nextEvent_;
    }
    StreamHeaders(res);
    res.set_chunked_content_provider(
        "text/event-stream",
        [this, cursor](size_t, httplib::DataSink& sink) {
            std::string out;
            {
                std::unique_lock lock(mutex_);
                if (cursor->first) {
                    // The stream opens with the whole state, so the page
                    // needs no separate request after reconnecting.
                    cursor->first = false;
                    out = "retry: 2000\n\n" + SseBlock(QStringLiteral("state"), StatusLocked());
                } else {
                    wake_.wait_for(lock, std::chrono::seconds(15),
                                   [&] { return closed_ || (nextEvent_ > cursor->next); });
                }
                if (closed_) return false;
                for (const auto& [seq, block] : events_)
                    if (seq >= cursor->next) out += block;
                cursor->next = nextEvent_;
            }
            if (out.empty()) out = ": idle\n\n";
            return sink.write(out.data(), out.size());
        },
        [this](bool) {
            std::lock_guard lock(mutex_);
            --clients_;
        });
}
