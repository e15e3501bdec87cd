// SPDX-License-Identifier: GPL-3.0-or-later
#include "archive/Alerts.h"

#include <QJsonDocument>
#include <QJsonObject>

#include "archive/Archiver.h"
#include "platform/Http.h"
#include "takes/TakeName.h"

namespace {
enum Topic { kInput, kDisk, kArchive, kSilence, kClipping };
}

AlertSender::AlertSender(QString url, std::unique_ptr<platform::HttpClient> http, Timing timing)
    : url_(url.toStdString()),
      http_(std::move(http)),
      timing_(timing),
      // A receiver that is away for days does not fill the memory.
      worker_({.name = QStringLiteral("alerts"),
               .firstRetry = timing.firstRetry,
               .maxRetry = timing.maxRetry,
               .maxQueued = 1000}) {}

AlertSender::~AlertSender() {
    // Held past the limit: waited for all the same, as its jobs use this
    // object.
    if (!Stop()) worker_.Join();
}

bool AlertSender::Stop(QString* abandoned) {
    worker_.RequestStop(timing_.drainOnStop);
    const BackgroundWorker::StopReport report = worker_.StopWithin(timing_.drainOnStop + std::chrono::seconds(1));
    if (abandoned) *abandoned = report.Line();
    return report.ended;
}

void AlertSender::Post(const QByteArray& json, const QString& event) {
    worker_.PostRetried(event.isEmpty() ? QStringLiteral("a message") : event, [this, json] { return Deliver(json); });
}

bool AlertSender::Deliver(const QByteArray& body) {
    platform::HttpRequest request;
    request.method = "POST";
    request.url = url_;
    request.body = body;
    request.headers.push_back("Content-Type: application/json");
    request.connectTimeoutSeconds = 5;
    request.stallSeconds = 10;
    // The end of the program cuts a request short once its drain time is over.
    request.cancelled = [this] { return worker_.Expired(); };
    const platform::HttpResponse response = http_->Send(request);
    // A receiver that refuses the message (4xx) will refuse it again.
    if (response.status >= 200 && response.status < 500 && response.status != 408 && response.status != 429) {
        sent_.fetch_add(1, std::memory_order_relaxed);
        return true;
    }
    return false;
}

int64_t AlertWatch::Sent() const { return sender_ ? sender_->Sent() : 0; }

bool AlertWatch::StopSending(QString* abandoned) { return !sender_ || sender_->Stop(abandoned); }

AlertWatch::AlertWatch(AlertConfig config, QString host, std::unique_ptr<AlertSender> sender, QObject* parent)
    : QObject(parent), config_(std::move(config)), host_(std::move(host)), sender_(std::move(sender)) {
    // Until told otherwise, all is well: the first "back" follows a loss.
    last_[kInput] = QStringLiteral("input_back");
    last_[kDisk] = QStringLiteral("disk_writable");
    last_[kArchive] = QStringLiteral("archive_caught_up");
    last_[kSilence] = QStringLiteral("sound_back");
    last_[kClipping] = QStringLiteral("clipping_over");
    inputLost_.setSingleShot(true);
    inputLost_.setInterval(config_.inputLostSeconds * 1000);
    connect(&inputLost_, &QTimer::timeout, this, [this] {
        Send(kInput, QStringLiteral("input_lost"),
             QStringLiteral("No sound has come in for %1 s: %2").arg(config_.inputLostSeconds).arg(lostDetail_));
    });
}

AlertWatch::~AlertWatch() = default;

QByteArray AlertWatch::Message(const QString& host, const QString& event, const QString& detail, const QDateTime& time) {
    const QJsonObject o{{"host", host},
                        {"event", event},
                        {"detail", detail},
                        {"time", takes::IsoWithOffset(time)}};
    return QJsonDocument(o).toJson(QJsonDocument::Compact);
}

void AlertWatch::Send(int topic, const QString& event, const QString& detail) {
    if (topic >= 0) {
        if (last_[topic] == event) return;
        last_[topic] = event;
    }
    sender_->Post(Message(host_, event, detail, QDateTime::currentDateTime()), event);
}

void AlertWatch::Started() { Send(-1, QStringLiteral("started"), QStringLiteral("The recorder on %1 started.").arg(host_)); }

void AlertWatch::Stopped() {
    inputLost_.stop();
    Send(-1, QStringLiteral("stopped"), QStringLiteral("The recorder on %1 stopped.").arg(host_));
}

void AlertWatch::InputLost(const QString& detail) {
    lostDetail_ = detail;
    if (!inputLost_.isActive() && last_[kInput] != QLatin1String("input_lost")) inputLost_.start();
}

void AlertWatch::InputListening(const QString& detail) {
    inputLost_.stop();
    Send(kInput, QStringLiteral("input_back"), QStringLiteral("Sound comes in again from %1.").arg(detail));
}

void AlertWatch::DiskFull(const QString& detail) {
    Send(kDisk, QStringLiteral("disk_full"), QStringLiteral("The disk takes no more sound: %1").arg(detail));
}

void AlertWatch::DiskTooSlow(const QString& detail) {
    Send(kDisk, QStringLiteral("disk_too_slow"), QStringLiteral("The disk is too slow: %1").arg(detail));
}

void AlertWatch::DiskWritable(const QString& detail) {
    Send(kDisk, QStringLiteral("disk_writable"), QStringLiteral("The disk takes sound again: %1").arg(detail));
}

void AlertWatch::ArchiveRefused(const QString& code) {
    Send(kArchive, QStringLiteral("archive_refused"),
         QStringLiteral("The archive refuses the takes (%1); they stay on this machine.").arg(code));
}

void AlertWatch::ArchiveOk() {
    if (last_[kArchive] == QLatin1String("archive_refused"))
        Send(kArchive, QStringLiteral("archive_caught_up"), QStringLiteral("The archive takes the takes again."));
}

void AlertWatch::PrefixShared(const QString& prefix) {
    if (prefixShared_) return;
    prefixShared_ = true;
    Send(-1, QStringLiteral("prefix_shared"), QStringLiteral("archive prefix shared with another machine: %1").arg(prefix));
}

void AlertWatch::ArchiveBacklog(int64_t behindMs, int takes, int64_t bytes, const QString& oldest) {
    if (takes == 0 || behindMs == 0) {
        if (last_[kArchive] == QLatin1String("archive_behind"))
            Send(kArchive, QStringLiteral("archive_caught_up"), QStringLiteral("Every take is in the archive."));
        return;
    }
    if (behindMs > int64_t{config_.archiveBehindMinutes} * 60 * 1000 && last_[kArchive] != QLatin1String("archive_refused"))
        Send(kArchive, QStringLiteral("archive_behind"),
             QStringLiteral("%1 takes (%2 MB) have waited for the archive for over %3 minutes; the oldest is %4.")
                 .arg(takes)
                 .arg(static_cast<double>(bytes) / 1e6, 0, 'f', 1)
                 .arg(config_.archiveBehindMinutes)
                 .arg(oldest));
}

void AlertWatch::Silent(const QString& detail) { Send(kSilence, QStringLiteral("silent"), detail); }

void AlertWatch::SoundBack(const QString& detail) { Send(kSilence, QStringLiteral("sound_back"), detail); }

void AlertWatch::SilenceEnded() { last_[kSilence] = QStringLiteral("sound_back"); }

void AlertWatch::Clipping(const QString& detail) { Send(kClipping, QStringLiteral("clipping"), detail); }

void AlertWatch::ClippingOver(const QString& detail) { Send(kClipping, QStringLiteral("clipping_over"), detail); }
