// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The recorder's small web server: a page, a JSON view of the takes and of
// the live state, Server-Sent Events, the takes themselves with ranges, and
// deleting, notes and holds behind the administrator password. It runs on threads of its own;
// the front end feeds it from the GUI thread through PublishState and
// PublishEvent, which never wait for a client.
#include <QDateTime>
#include <QJsonObject>
#include <QObject>
#include <QString>

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "http/HttpOptions.h"

class Metrics;
class TakeStore;

// The recorder's page: the HTTP layer's options, and what the page serves.
struct WebOptions : HttpOptions {
    QString recordFolder;    // ends with "/"
    // The store the takes are read and deleted through (the session's);
    // without one, the server makes its own over recordFolder.
    TakeStore* store = nullptr;
    int maxEventClients = 8;
    // Listeners of /live.ogg at once; each holds a worker of its own.
    int maxLiveListeners = 16;
    // Whether the archive has a take (by file name), asked from the server's
    // threads; empty: no archive, and the listing says nothing of it.
    std::function<bool(const QString&)> archived;
};

// What the page shows at its top.
struct LiveState {
    bool listening = false;
    bool recording = false;
    QString take;            // file name of the take being written
    QDateTime takeStart;     // local
    int level = 0;           // 0-100
    QString input;           // input state text, e.g. "listening", "stopped"
    QString disk;            // disk state text, e.g. "ok"
    QString archive;         // archive state text, e.g. "ok", "refused: CODE"; empty: no archive
    int archiveQueued = 0;
    qint64 archiveQueuedBytes = 0;
    QDateTime silentSince;   // local; invalid when not silent
    bool clipping = false;
    QString hours;           // "recording hours: until 18:00", …; empty when always
    bool insideHours = true;
    QDateTime hoursChange;   // local: the end of the hours or the next start
};

class WebServer : public QObject {
    Q_OBJECT
public:
    explicit WebServer(WebOptions options, QObject* parent = nullptr);
    ~WebServer() override;

    // Binds and starts serving; false with a one-line reason when the address
    // cannot be used, the page's resources are missing, or a network address
    // would be guarded by an empty or the factory password.
    bool Start(QString* error);
    void Stop();
    bool Running() const;
    // The port listened on (the chosen one when the options asked for 0).
    quint16 Port() const;
    // "http://ADDRESS:PORT/" of the running server ("https://" over TLS).
    QString Url() const;
    // The text printed after the address: the certificate's SHA-256 over
    // TLS ("(certificate SHA-256 AB:CD:…)"), else empty.
    QString Identity() const;

    void PublishState(const LiveState& state);
    // `type` is the event name sent to the page ("take", "state", …).
    void PublishEvent(const QString& type, const QJsonObject& data);
    void SetPassword(const QString& password);

    // A block of the line input (interleaved stereo) for the live stream,
    // from the block handler; copied only while someone listens, never waits.
    void FeedLive(const int16_t* block, int frames, int rate);
    int LiveListeners() const;
    // What /metrics shows; counters and gauges are added and set from the
    // GUI thread, Sample() from its timer.
    Metrics& PageMetrics();

signals:
    // A take was deleted through the web (emitted on a server thread; a
    // receiver on the GUI thread gets it queued).
    void TakeDeleted(const QString& name);
    // A take's note (`hold` false) or hold was set or lifted through the
    // web (emitted on a server thread, as TakeDeleted).
    void TakeMarked(const QString& name, bool hold);

private:
    struct Impl;
    std::unique_ptr<Impl> d_;
};
