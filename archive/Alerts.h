// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// Messages to an operator's webhook when a room stops recording: one JSON
// object per event ({"host", "event", "detail", "time"}) POSTed in order by
// a BackgroundWorker, each retried with its back-off, never holding up the
// recording.
// AlertWatch decides what is said (on the GUI thread); AlertSender delivers.
#include <QDateTime>
#include <QObject>
#include <QString>
#include <QTimer>

#include <atomic>
#include <chrono>
#include <memory>

#include "archive/ArchiveConfig.h"
#include "util/BackgroundWorker.h"

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
    ~AlertSender();  // Stop(), then waits for a thread still held

    // Queues one message (`event` names it in a stop's report); never waits.
    void Post(const QByteArray& json, const QString& event = QString());
    // Delivers what it can within drainOnStop, then ends, waiting at most a
    // second longer; false when the thread is still held then. `abandoned`,
    // when given, gets the line naming the messages not delivered (empty
    // when none).
    bool Stop(QString* abandoned = nullptr);
    // Messages the receiver took (or refused for good) so far; any thread.
    int64_t Sent() const { return sent_.load(std::memory_order_relaxed); }

private:
    // One try; true when the receiver took the message or refused it for good.
    bool Deliver(const QByteArray& json);

    const std::string url_;
    std::unique_ptr<platform::HttpClient> http_;
    const Timing timing_;
    std::atomic<int64_t> sent_{0};
    BackgroundWorker worker_;  // last: its thread ends before the rest goes
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
    // Ends the sender (AlertSender::Stop); true without one.
    bool StopSending(QString* abandoned = nullptr);

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
