// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The recorder session: the one object that each front end (the window, the
// headless recorder, the replay) builds once. It owns the capture engine,
// the playback engine, the take writer thread, the mixer set-up and the
// settings snapshot the capture runs with, and it reports what happens
// through Qt signals on the GUI thread.
//
// It also watches the input and the disk: a failed input (a read error, the
// device or the sound server gone, no data for more than two seconds) ends an
// open take, which is kept, and the whole capture start is tried again every
// two seconds until the input is back; a disk that is full or too slow ends
// the open take, which is kept with what reached the disk, and no new take
// opens until the disk takes sound again.
#include <QHash>
#include <QObject>
#include <QString>
#include <QTimer>

#include <functional>
#include <memory>

#include "capture/Unit2.h"
#include "session/RecordingHours.h"
#include "settings/publicunit.h"

class AlertWatch;
class Archiver;
class Heartbeat;
class MixerControl;
class SoundAlarms;
class TFPlay;
class TakeStore;
class TakeWriter;
class WaveDisplay;

enum class InputState { Stopped, Listening, Lost };
enum class DiskState { Ok, Full, Behind, Unwritable };

QString InputStateName(InputState state);  // "stopped", "listening", "lost"
QString DiskStateName(DiskState state);    // "ok", "full", "behind", "unwritable"

// The sound alarms' changes ([Alerts] SilentMinutes and ClipPercent).
enum class SoundAlarm { Silent, SoundBack, SilenceEnded, Clipping, ClippingOver };
// "silent since 14:05" while silent, "clipping" while clipping, else empty.
QString SilentStateText(const QDateTime& since);

class RecorderSession : public QObject {
    Q_OBJECT
public:
    struct Options {
        QString recordFolder;         // ends with "/"
        bool cleanUp = true;          // false: the store deletes nothing by itself and does
                                      // not list the takes as they open and close (replay)
        bool mixer = true;            // false: no mixer set-up, no volume changes (replay)
        bool voiceOnly = false;       // true: the voice trigger whatever ManualMode says (replay)
        bool watchInput = true;       // false: a failed input is not opened again (replay)
        bool waitForDisk = false;     // true: a full writer queue waits instead of ending the take (replay)
        int sampleRate = 0;           // 0: the setting SamplingRate
        int writerBlocks = 0;         // blocks the writer may hold; 0: a minute at 48 kHz
        bool bandsShown = true;       // false: nothing shows the 20 bands, they are not computed
        bool archive = true;          // false: no archive and no alerts, whatever the settings below say
        bool hours = true;            // false: no recording hours and no sound alarms (replay)
        ArchiveSection archiveSettings{};  // [Archive]; no Endpoint: no archive (and no heartbeat)
        AlertsSection alertSettings{};     // [Alerts]; no Webhook: no alerts
    };

    explicit RecorderSession(Options options, QObject* parent = nullptr);
    ~RecorderSession() override;  // closes like the window: playback, capture, writer

    // The engines, for reading their state; they are configured and
    // commanded through the session.
    const TFRecord& RecordEngine() const { return *record_; }
    const TFPlay& PlayEngine() const { return *play_; }
    TakeWriter& Writer() { return *writer_; }
    // The takes folder: listing, clean-up, deletes, start-up repair.
    TakeStore& Store() { return *store_; }
    // The mixer state of this recorder (the knobs and the settings dialog set
    // volumes and the source through it).
    MixerControl& Mixer() { return *mixer_; }
    // The settings the capture was started with (taken at each start).
    const TAppSettings& Settings() const { return settings_; }
    const Options& SessionOptions() const { return options_; }

    // Takes a snapshot of the settings, configures and starts the capture
    // engine, sets up the mixer (recording source and volumes). `display`
    // shows the waveform (null without a window).
    void StartCapture(WaveDisplay* display = nullptr);
    // Whether a take is safe in an archive, asked from the store's thread,
    // and whether an archive is configured at all: then only archived takes
    // age out, and archived takes go first to keep space free.
    void SetArchive(bool configured, std::function<bool(const QString& name)> archived);
    // Stops the capture (an open take is kept) and starts it again with the
    // settings as they are now.
    void ApplySettings();
    // The end of the program: playback and capture stop, an open take is
    // closed and kept, and everything handed to the writer reaches the disk.
    // The whole stop order is written above ~RecorderSession().
    void Close();

    // The manual commands: record starts a take in manual mode (false in
    // voice mode, where nothing changes), stop ends it.
    bool RequestManualStart();
    void RequestManualStop();
    // Switches between manual and voice mode at once (the setting itself is
    // the window's to write).
    void SetManualMode(bool manual);
    // Plays a take, showing its waveform on `display`; stops the playback.
    void PlayTake(const QString& path, WaveDisplay* display);
    void StopPlayback();

    InputState Input() const { return input_; }
    DiskState Disk() const { return disk_; }
    // Frames of sound lost to overruns since the start.
    int64_t FramesLost() const { return framesLost_; }
    // Hands every block of the line input to `tap` on the GUI thread (the
    // live stream); `tap` must return at once. Empty: none.
    void SetBlockTap(std::function<void(const int16_t* block, int frames, int rate)> tap);
    // Alert messages the webhook took since the start (0 without alerts).
    int64_t AlertsSent() const;

    // The recording hours ([Schedule] Hours): whether takes may be made now,
    // when that changes (invalid when always) and the state as said
    // ("recording hours: until 18:00", "outside recording hours: next Mon
    // 08:00"; empty when always). A malformed value is refused at start
    // (HoursProblem, and the signal settingRefused) and the hours are always.
    bool InsideHours() const { return insideHours_; }
    QDateTime HoursChange() const { return hoursChange_; }
    QString HoursState() const { return hoursState_; }
    QString HoursProblem() const { return hoursProblem_; }
    // The sound alarms: the local time the present silence began (invalid
    // when not silent) and whether the input clips.
    QDateTime SilentSince() const;
    bool Clipping() const;
    // Looks at the clock against the hours again; the session does so by
    // itself just after each change and at least once a minute.
    void CheckHours();

    // The archive ([Archive] in config.ini), null when there is none.
    Archiver* Archive() const { return archiver_.get(); }
    // True while an archive is configured and has not confirmed this take
    // (a file name): the 24-hour clean-up leaves it. Safe from any thread.
    bool KeepForArchive(const QString& name) const;

    // How often a lost input and a full disk are tried again.
    static constexpr int kRetryMs = 2000;
    // How long the end of the program waits for the disk.
    static constexpr int kCloseLimitMs = 5000;

signals:
    void takeEvent(TakeEvent event, const QString& fileName, qint64 frames);
    // After a take was opened, and after one was kept, once the writer has
    // closed it.
    void recordingChanged(const QString& fileName);
    void inputStateChanged(InputState state, const QString& detail);
    void diskStateChanged(DiskState state, const QString& detail);
    // Sound the input could not deliver (an overrun), in milliseconds.
    void soundLost(qint64 milliseconds);
    // A take that could not be closed or removed as it should, as one line
    // (also written to standard error).
    void problem(const QString& line);
    // The recording hours began or ended; `state` as HoursState().
    void hoursChanged(bool inside, const QString& state);
    // A sound alarm was raised or ended; `detail` is one sentence.
    void soundAlarm(SoundAlarm alarm, const QString& detail);
    // A setting of config.ini that cannot be used, as one line saying what
    // is done instead.
    void settingRefused(const QString& line);

private:
    CaptureConfig BuildCaptureConfig() const;
    void StartEngine();
    void SetInput(InputState state, const QString& detail);
    void SetDisk(DiskState state, const QString& detail);
    void OnInputFailed(const QString& detail);
    void OnOverrun(int64_t frames);
    void OnWriteFailed(const QString& reason);
    void RetryInput();
    void CheckDisk();
    void ReportProblem(const QString& line);
    void ApplyStorePolicy();
    void ConnectAlerts();
    void ConnectHeartbeat();
    void BeatNow();
    // The recording hours and the sound alarms, from the settings snapshot.
    void ConfigureWatch();
    void OnBlockMeasured(int32_t level, bool fullScale);
    void ReportAlarms(unsigned changes);

    Options options_;
    TAppSettings settings_;
    std::unique_ptr<TakeStore> store_;
    std::unique_ptr<TakeWriter> writer_;
    std::unique_ptr<TFRecord> record_;
    std::unique_ptr<TFPlay> play_;
    std::unique_ptr<MixerControl> mixer_;
    WaveDisplay* display_ = nullptr;
    InputState input_ = InputState::Stopped;
    DiskState disk_ = DiskState::Ok;
    int64_t framesLost_ = 0;
    bool started_ = false;
    bool closed_ = false;
    bool writerAbandoned_ = false;
    bool archiverAbandoned_ = false;
    bool heartbeatAbandoned_ = false;
    QString keptPending_;  // kept, not yet closed by the writer
    // Kept takes whose files the writer has not closed yet, with their sizes.
    QHash<QString, int64_t> archivePending_;
    bool archiveConfigured_ = false;
    std::function<bool(const QString&)> archived_;
    QTimer inputRetry_;
    QTimer diskCheck_;
    std::unique_ptr<Archiver> archiver_;
    std::unique_ptr<AlertWatch> alerts_;
    QTimer archiveBacklog_;
    std::unique_ptr<Heartbeat> heartbeat_;
    QString lastKept_;
    double lastKeptSeconds_ = 0;
    RecordingHours hours_;
    QString hoursText_;  // the setting hours_ was made from
    bool hoursKnown_ = false;
    bool insideHours_ = true;
    QDateTime hoursChange_;
    QString hoursState_;
    QString hoursProblem_;
    QTimer hoursCheck_;
    std::unique_ptr<SoundAlarms> alarms_;
};
