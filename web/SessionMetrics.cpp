// SPDX-License-Identifier: GPL-3.0-or-later
// The session's side of the live stream and of /metrics. Everything here
// runs on the GUI thread; the server's threads only read the atomics of the
// metrics and the live stream's hand-off.
#include "web/SessionMetrics.h"

#include <QDateTime>
#include <QElapsedTimer>
#include <QPointer>
#include <QTimer>

#include <memory>

#include <prometheus/counter.h>
#include <prometheus/gauge.h>

#include "archive/Archiver.h"
#include "capture/Unit2.h"
#include "session/RecorderSession.h"
#include "http/Metrics.h"
#include "web/WebServer.h"

void TapLiveInput(RecorderSession& session, WebServer* server) {
    QPointer<WebServer> to(server);
    session.SetBlockTap([to](const int16_t* block, int frames, int rate) {
        if (to) to->FeedLive(block, frames, rate);
    });
    QObject::connect(server, &QObject::destroyed, &session, [from = &session] { from->SetBlockTap({}); });
}

void FeedMetrics(RecorderSession& session, WebServer* server) {
    Metrics& m = server->PageMetrics();
    RecorderSession* from = &session;
    prometheus::Counter& made = m.Counter("somorabox_takes_made_total", "Takes opened");
    prometheus::Counter& kept = m.Counter("somorabox_takes_kept_total", "Takes closed and kept");
    prometheus::Counter& recorded = m.Counter("somorabox_recorded_seconds_total", "Sound in the takes kept");
    prometheus::Counter& overruns = m.Counter("somorabox_overruns_total", "Overruns of the line input");
    prometheus::Counter& soundLost =
        m.Counter("somorabox_overrun_lost_seconds_total", "Sound the line input lost to overruns");
    prometheus::Counter& inputLost =
        m.Counter("somorabox_input_lost_seconds_total", "Time the line input was lost");
    prometheus::Counter& alerts = m.Counter("somorabox_alerts_sent_total", "Alert messages the webhook took");

    QObject::connect(&session, &RecorderSession::takeEvent, server,
                     [&made, &kept, &recorded, from](TakeEvent event, const QString&, qint64 frames) {
                         if (event == TakeEvent::Opened) made.Increment();
                         if (event != TakeEvent::Kept) return;
                         kept.Increment();
                         const int rate = from->RecordEngine().SampleRate;
                         if (rate > 0 && frames > 0) recorded.Increment(static_cast<double>(frames) / rate);
                     });
    QObject::connect(&session, &RecorderSession::soundLost, server, [&overruns, &soundLost](qint64 ms) {
        overruns.Increment();
        soundLost.Increment(static_cast<double>(ms) / 1000.0);
    });
    m.Track("somorabox_input_level_ratio", "Level of the line input now, 0 to 1",
            [from] { return from->RecordEngine().Capturing ? from->RecordEngine().Level / 100.0 : 0.0; });
    m.Track("somorabox_input_listening", "1 while the line input is heard",
            [from] { return from->Input() == InputState::Listening ? 1.0 : 0.0; });
    m.Track("somorabox_recording", "1 while a take is open", [from] { return from->RecordEngine().Recording ? 1.0 : 0.0; });
    if (Archiver* archive = session.Archive()) {
        m.Track("somorabox_archive_backlog_takes", "Kept takes not archived yet",
                [archive] { return archive->CurrentStatus().queued; });
        m.Track("somorabox_archive_backlog_bytes", "Bytes of the kept takes not archived yet",
                [archive] { return static_cast<double>(archive->CurrentStatus().queuedBytes); });
        prometheus::Gauge& last = m.Gauge("somorabox_archive_last_success_timestamp_seconds",
                                          "When the last take was archived (Unix time; 0: none since the start)");
        QObject::connect(archive, &Archiver::archived, server, [&last] {
            last.Set(static_cast<double>(QDateTime::currentMSecsSinceEpoch()) / 1000.0);
        });
    }

    // The input's lost time and the alerts delivered are added up at each sample.
    struct Totals {
        QElapsedTimer lostSince;
        int64_t alertsSent = 0;
    };
    auto totals = std::make_shared<Totals>();
    auto sample = [&m, &inputLost, &alerts, from, totals] {
        if (from->Input() == InputState::Lost) {
            if (totals->lostSince.isValid()) inputLost.Increment(totals->lostSince.restart() / 1000.0);
            else totals->lostSince.start();
        } else if (totals->lostSince.isValid()) {
            inputLost.Increment(totals->lostSince.elapsed() / 1000.0);
            totals->lostSince.invalidate();
        }
        const int64_t sent = from->AlertsSent();
        if (sent > totals->alertsSent) alerts.Increment(static_cast<double>(sent - totals->alertsSent));
        totals->alertsSent = sent;
        m.Sample();
    };
    QObject::connect(&session, &RecorderSession::inputStateChanged, server, sample);
    auto* timer = new QTimer(server);
    QObject::connect(timer, &QTimer::timeout, server, sample);
    timer->start(500);
}
