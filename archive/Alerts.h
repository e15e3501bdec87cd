// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// Messages to an operator's webhook when a room stops recording: one JSON
// object per event ({"host", "event", "detail", "time"}) POSTed from a
// thread of its own, retried with back-off, never holding up the recording.
// AlertWatch decides what is said (on the GUI thread); AlertSender delivers.
#include <QDateTime>
#include <QObject>
#include <QString>
#include <QTimer>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <deque>
#include <memory>
#include <mutex>
#include <thread>

#include "archive/ArchiveConfig.h"

namespace platform {
class HttpClient;
}

class AlertSender {
public:
    struct Timing {
        std::chrono::milliseconds firstRetry{5000};
        std::chrono::milliseconds maxRetry{300000};
        // How long the end of the program waits for what is still queued.
        std::chrono::milliseconds drainOnStop{3000};
    };
    AlertSender(QString url, std::unique_ptr<platform::HttpClient> http, Timing timing);
    ~AlertSender();  // delivers what it can within drainOnStop, then ends

    // Queues one message; never waits.
    void Post(const QByteArray& json);
    // Messages the receiver took (or refused for good) so far; any thread.
    int64_t Sent() const { return sent_.load(std::memory_order_relaxed); }

private:
    void Run();

    const std::string url_;
    std::unique_ptr<platform::HttpClient> http_;
    const Timing timing_;
    std::mutex mutex_;
    std::condition_variable wake_;
    std::deque<QByteArray> queue_;
    bool stop_ = false;
    std::chrono::steady_clock::time_point deadline_{};
    std::atomic<int64_t> sent_{0};
    std::thread thread_;
};

class AlertWatch : public QObject {
    Q_OBJECT
public:
    AlertWatch(AlertConfig config, QString host, std::unique_ptr<AlertSender> sender, QObject* parent = nullptr);
    ~AlertWatch() override;

    // The events as the session and the archive report them.
    void Started();
    void Stopped();
    void InputLost(const QString& detail);
    void InputListening(const QString& detail);
    void DiskFull(const QString& detail);
    void DiskTooSlow(const QString& detail);
    void DiskWritable(const QString& detail);
    void ArchiveRefused(const QString& code);
    void ArchiveOk();
    // Another machine writes the archive's prefix; said once.
    void PrefixShared(const QString& prefix);
    // Polled every half minute: the archive's queue has not been empty for
    // this long (0: it is empty).
    void ArchiveBacklog(int64_t behindMs, int takes, int64_t bytes, const QString& oldest);
    // The sound alarms: "silent", "sound_back", "clipping", "clipping_over".
    // A silence that ends with the recording hours is said no more and
    // sends nothing, so that the next silence is said again.
    void Silent(const QString& detail);
    void SoundBack(const QString& detail);
    void SilenceEnded();
    void Clipping(const QString& detail);
    void ClippingOver(const QString& detail);

    // The JSON text of one event.
    static QByteArray Message(const QString& host, const QString& event, const QString& detail, const QDateTime& time);
    // Messages delivered so far (AlertSender::Sent).
    int64_t Sent() const;

private:
    // Sends `event` unless the same one was the last sent for `topic`.
    void Send(int topic, const QString& event, const QString& detail);

    AlertConfig config_;
    QString host_;
    std::unique_ptr<AlertSender> sender_;
    QString last_[5];  // input, disk, archive, silence, clipping
    QTimer inputLost_;
    QString lostDetail_;
    bool prefixShared_ = false;
};
