// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// What the recorder's page adds to the session besides its state and
// events: the line input for the live stream, and the metrics of /metrics.
// Both are set up once, from the GUI thread, by StartWeb.
class RecorderSession;
class WebServer;

// Each block of the line input goes to the server's live stream (a copy
// only while someone listens).
void TapLiveInput(RecorderSession& session, WebServer* server);
// The session's counters and gauges, kept from its signals and sampled on
// the GUI thread every half second.
void FeedMetrics(RecorderSession& session, WebServer* server);
