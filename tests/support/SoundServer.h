#pragma once
// The private sound server of scripts/with-pulse.sh, for the tests that play
// into its null sink "venue" and record from its monitor.
#include <QByteArray>
#include <QProcess>
#include <QString>
#include <QStringList>

#include <memory>

namespace testing_support {

// True when `pactl` reaches a server whose default sink is "venue" (a
// desktop's own server is left alone).
bool VenueServerReachable();

// Runs pactl with `arguments`; true when it ended with 0 within 5 s.
bool Pactl(const QStringList& arguments);

// Puts the sink "venue" and its monitor at 100 % and unmuted. The monitor
// carries the sink's volume, and a program that ran the mixer operations on
// the same server (the scripted tests start the whole recorder) may have left
// both lower.
bool ResetVenueVolumes();

// A recording of "venue.monitor" as raw 16-bit mono at `rate`, from
// construction until Finish.
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
