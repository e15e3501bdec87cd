// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The private sound server of scripts/with-pulse.sh or with-pipewire.sh, for
// the tests that play into its line-input sink "venue" (whose monitor is the
// default source) and listen to its default sink "speakers".
#include <QByteArray>
#include <QProcess>
#include <QString>
#include <QStringList>

#include <memory>

namespace testing_support {

// True when `pactl` reaches a server whose default sink is "speakers" and
// default source "venue.monitor" (a desktop's own server is left alone).
bool VenueServerReachable();

// Runs pactl with `arguments`; true when it ended with 0 within 5 s.
bool Pactl(const QStringList& arguments);

// Puts both sinks and their monitors at 100 % and unmuted: a program that
// ran the mixer operations on the same server (the scripted tests start the
// whole recorder) may have left them otherwise.
bool ResetVenueVolumes();

// A recording of "speakers.monitor" (what the recorder plays) as raw 16-bit
// mono at `rate`, from construction until Finish.
class MonitorRecorder {
public:
    explicit MonitorRecorder(int rate);
    ~MonitorRecorder();
    bool Started() const { return started_; }
    // Ends the recording and returns its samples.
    QByteArray Finish();

private:
    std::unique_ptr<QProcess> parec_;
    bool started_ = false;
};

}  // namespace testing_support
