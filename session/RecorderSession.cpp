// SPDX-License-Identifier: GPL-3.0-or-later
#include "session/RecorderSession.h"

#include <QFileInfo>

#include <algorithm>
#include <cstdio>

#include "archive/Alerts.h"
#include "archive/ArchiveSetup.h"
#include "archive/Archiver.h"
#include "archive/Heartbeat.h"
#include "capture/RecordingControl.h"
#include "capture/TakeStore.h"
#include "capture/TakeWriter.h"
#include "mixer/MixerControl.h"
#include "platform/Platform.h"
#include "platform/WaveIn.h"
#include "playback/Unit4.h"
#include "session/CaptureSetup.h"
#include "session/SoundAlarms.h"

namespace {

// A disk counts as writable again when it has room for about a minute of
// sound at the highest rate.
constexpr int64_t kFreeBytesToResume = 16LL * 1024 * 1024;

}  // namespace

QString InputStateName(InputState state) {
    switch (state) {
        case InputState::Stopped: return QStringLiteral("stopped");
        case InputState::Listening: return QStringLiteral("listening");
        case InputState::Lost: return QStringLiteral("lost");
    }
    return {};
}

QString DiskStateName(DiskState state) {
    switch (state) {
        case DiskState::Ok: return QStringLiteral("ok");
        case DiskState::Full: return QStringLiteral("full");
        case DiskState::Behind: return QStringLiteral("behind");
        case DiskState::Unwritable: return QStringLiteral("unwritable");
    }
    return {};
}

QString SilentStateText(const QDateTime& since) {
    return QStringLiteral("silent since ") + since.toString(QStringLiteral("HH:mm"));
}

RecorderSession::RecorderSession(Options options, QObject* parent)
    : QObject(parent),
      options_(std::move(options)),
      store_(std::make_unique<TakeStore>(options_.recordFolder)),
      writer_(std::make_unique<TakeWriter>(options_.writerBlocks > 0 ? options_.writerBlocks
                                                                     : TakeWriter::kDefaultCapacityBlocks)),
      record_(std::make_unique<TFRecord>(writer_.get())),
      play_(std::make_unique<TFPlay>()),
      mixer_(std::make_unique<MixerControl>()) {
    if (!options_.recordFolder.isEmpty() && !options_.recordFolder.endsWith('/')) options_.recordFolder += '/';
    writer_->UseStore(store_.get());
    writer_->SetWaitWhenFull(options_.waitForDisk);
    record_->OnTakeEvent = [this](TakeEvent event, const QString& fileName, int32_t frames) {
        if (event == TakeEvent::Opened && disk_ == DiskState::Unwritable) SetDisk(DiskState::Ok, fileName);
        // The clean-up runs as takes open and end, never touching the open one.
        store_->SetOpenTake(event == TakeEvent::Opened ? fileName : QString());
        if (event == TakeEvent::Opened && options_.cleanUp) store_->Refresh();
        if (archiver_) {
            const QString name = QFileInfo(fileName).fileName();
            switch (event) {
                case TakeEvent::Opened: archiver_->SetOpenTake(name); break;
                // Handed to the archive once the writer has closed the file
                // with its sizes patched (16-bit stereo after the 44-byte header).
                case TakeEvent::Kept: archivePending_.insert(fileName, int64_t{frames} * 4 + 44); break;
                case TakeEvent::Deleted: archiver_->TakeRemoved(name); break;
            }
        }
        emit takeEvent(event, fileName, frames);
    };
    // A kept take is announced once the writer has closed it, so that a
    // listing made then finds it whole.
    record_->OnRecordingEvent = [this](QObject*, const QString& fileName) {
        if (record_->Recording)
            emit recordingChanged(fileName);
        else
            keptPending_ = fileName;
    };
    connect(writer_.get(), &TakeWriter::closed, this, [this](const QString& path) {
        if (options_.cleanUp) store_->Refresh();
        if (const auto kept = archivePending_.constFind(path); kept != archivePending_.constEnd()) {
            if (archiver_) archiver_->TakeKept(QFileInfo(path).fileName(), kept.value());
            archivePending_.erase(kept);
        }
        if (!path.isEmpty() && path == keptPending_) {
            keptPending_.clear();
            emit recordingChanged(path);
        }
    }, Qt::QueuedConnection);
    record_->OnWriterBehind = [this] {
        SetDisk(DiskState::Behind, QStringLiteral("the disk fell %1 s behind; the take was closed")
                                       .arg(writer_->CapacityBlocks() * int64_t{TFRecord::kBlockFrames} /
                                            std::max(1, record_->SampleRate)));
    };
    record_->OnOpenFailed = [this](const QString& fileName) {
        // Held until the next check, then the next loud block tries again.
        record_->HoldTakes = true;
        diskCheck_.start();
        SetDisk(DiskState::Unwritable, QStringLiteral("cannot create %1").arg(fileName));
    };
    // The writer reports from its own thread; the connections are queued.
    connect(writer_.get(), &TakeWriter::writeFailed, this, &RecorderSession::OnWriteFailed, Qt::QueuedConnection);
    connect(writer_.get(), &TakeWriter::openFailed, this, [this](const QString& path) {
        if (closed_) return;
        if (record_->Recording && record_->FileName == path) record_->AbandonTake();
        record_->OnOpenFailed(path);
    }, Qt::QueuedConnection);
    connect(writer_.get(), &TakeWriter::fileProblem, this, &RecorderSession::ReportProblem, Qt::QueuedConnection);
    connect(writer_.get(), &TakeWriter::caughtUp, this, [this] {
        if (disk_ == DiskState::Behind) SetDisk(DiskState::Ok, QStringLiteral("the disk caught up"));
    }, Qt::QueuedConnection);

    inputRetry_.setInterval(kRetryMs);
    connect(&inputRetry_, &QTimer::timeout, this, &RecorderSession::RetryInput);
    diskCheck_.setInterval(kRetryMs);
    connect(&diskCheck_, &QTimer::timeout, this, &RecorderSession::CheckDisk);
    hoursCheck_.setSingleShot(true);
    connect(&hoursCheck_, &QTimer::timeout, this, &RecorderSession::CheckHours);
    if (options_.mixer) record_->OnRecordingVolume = [this](int percent) { mixer_->ApplyRecordingVolume(percent); };
    if (options_.archive) {
        archiver_ = MakeArchiver(options_.archiveSettings, AppPath, options_.recordFolder);
        alerts_ = MakeAlertWatch(options_.alertSettings);
        ConnectAlerts();
        ConnectHeartbeat();
    }
    // Until the first start, the store cleans up by the settings as they
    // are; with an archive, only what it has ages out.
    settings_ = AppSettings;
    if (archiver_) {
        archiveConfigured_ = true;
        // The store's thread may ask after the archive has gone (its owner
        // ends first): it holds the list, not the archive.
        archived_ = [archived = archiver_->Archived()](const QString& name) { return archived->Contains(name); };
    }
    ApplyStorePolicy();
}

void RecorderSession::ConnectHeartbeat() {
    if (!archiver_) return;
    heartbeat_ = MakeHeartbeat(*archiver_);
    connect(this, &RecorderSession::takeEvent, this, [this](TakeEvent event, const QString& fileName, qint64 frames) {
        if (event != TakeEvent::Kept) return;
        lastKept_ = QFileInfo(fileName).fileName();
        lastKeptSeconds_ = static_cast<double>(frames) / std::max(1, record_->SampleRate);
    });
    connect(this, &RecorderSession::recordingChanged, this, &RecorderSession::BeatNow);
    connect(this, &RecorderSession::inputStateChanged, this, &RecorderSession::BeatNow);
    connect(this, &RecorderSession::diskStateChanged, this, &RecorderSession::BeatNow);
    connect(this, &RecorderSession::hoursChanged, this, &RecorderSession::BeatNow);
    connect(this, &RecorderSession::soundAlarm, this, &RecorderSession::BeatNow);
    connect(archiver_.get(), &Archiver::stateChanged, this, &RecorderSession::BeatNow, Qt::QueuedConnection);
}

void RecorderSession::BeatNow() {
    if (!heartbeat_) return;
    HeartbeatState s;
    s.listening = input_ == InputState::Listening;
    s.recording = record_->Recording;
    s.input = InputStateName(input_);
    s.disk = DiskStateName(disk_);
    s.lastTake = lastKept_;
    s.lastTakeSeconds = lastKeptSeconds_;
    s.silentSince = SilentSince();
    s.clipping = Clipping();
    s.hours = hoursState_;
    s.insideHours = insideHours_;
    s.hoursChange = hoursChange_;
    heartbeat_->Update(s);
}

void RecorderSession::ConnectAlerts() {
    if (!alerts_) return;
    AlertWatch* alerts = alerts_.get();
    connect(this, &RecorderSession::inputStateChanged, alerts, [alerts](InputState state, const QString& detail) {
        if (state == InputState::Lost) alerts->InputLost(detail);
        if (state == InputState::Listening) alerts->InputListening(detail);
    });
    connect(this, &RecorderSession::diskStateChanged, alerts, [alerts](DiskState state, const QString& detail) {
        switch (state) {
            case DiskState::Ok: alerts->DiskWritable(detail); break;
            case DiskState::Full: alerts->DiskFull(detail); break;
            case DiskState::Unwritable: alerts->DiskFull(QStringLiteral("cannot write there: ") + detail); break;
            case DiskState::Behind: alerts->DiskTooSlow(detail); break;
        }
    });
    connect(this, &RecorderSession::soundAlarm, alerts, [alerts](SoundAlarm alarm, const QString& detail) {
        switch (alarm) {
            case SoundAlarm::Silent: alerts->Silent(detail); break;
            case SoundAlarm::SoundBack: alerts->SoundBack(detail); break;
            case SoundAlarm::SilenceEnded: alerts->SilenceEnded(); break;
            case SoundAlarm::Clipping: alerts->Clipping(detail); break;
            case SoundAlarm::ClippingOver: alerts->ClippingOver(detail); break;
        }
    });
    if (!archiver_) return;
    connect(archiver_.get(), &Archiver::stateChanged, alerts, [alerts](ArchiveState state, const QString& detail) {
        if (state == ArchiveState::Refused) alerts->ArchiveRefused(detail);
        if (state == ArchiveState::Ok) alerts->ArchiveOk();
    }, Qt::QueuedConnection);
    connect(archiver_.get(), &Archiver::prefixShared, alerts, &AlertWatch::PrefixShared, Qt::QueuedConnection);
    archiveBacklog_.setInterval(30000);
    connect(&archiveBacklog_, &QTimer::timeout, alerts, [this, alerts] {
        const Archiver::Status s = archiver_->CurrentStatus();
        alerts->ArchiveBacklog(s.behindMs, s.queued, s.queuedBytes, s.oldest);
    });
}

void RecorderSession::SetBlockTap(std::function<void(const int16_t* block, int frames, int rate)> tap) {
    record_->OnBlock = std::move(tap);
}

int64_t RecorderSession::AlertsSent() const { return alerts_ ? alerts_->Sent() : 0; }

bool RecorderSession::KeepForArchive(const QString& name) const {
    return archiver_ && !archiver_->IsArchived(name);
}

// The order in which the program stops, in one place. Every step has a
// limit; a unit still held by the disk or the network when its limit passes
// is left, with its thread, to end with the process (released, never
// destroyed), and what it abandoned is one line on standard error.
//
// The window's close (TForm1::closeEvent, also the close button) hides the
// window and calls Close(); the headless program's signals end its loop, and
// the session's destructor calls Close() too (a second call does nothing).
//  Close():
//   1. The timers stop; playback and capture stop, an open take is closed
//      and kept; the input is said to be stopped.
//   2. The archive is asked to stop (an upload under way is cut off and sent
//      again at the next start); the heartbeat's last state begins at once.
//   3. The take writer gets kCloseLimitMs to put everything on disk; past
//      it, it is left to its file and the take is named ("take may be cut").
//   4. The heartbeat's last write: Heartbeat::Timing::lastWrite and a second.
//   5. The archive's thread: kCloseLimitMs (none when the writer was left:
//      the same disk holds it).
//   6. The "stopped" alert is queued.
//  The window then ends its event loop and deletes the settings dialog,
//  whose SettingsSaver writes the saves asked for within its kEndLimitMs;
//  then the session:
//  ~RecorderSession():
//   7. What hangs from the session (the web page's server threads, the
//      signal watcher) goes first, while the store and the engines are whole.
//   8. The alerts deliver what is queued within AlertSender::Timing::
//      drainOnStop and a second.
//   9. The take store finishes its requests within TakeStore::kEndLimitMs
//      (not waited for, and kept, when the writer was left: it uses it).
//  10. The members go; the writer's, the store's, the archive's, the
//      heartbeat's and the alerts' threads have ended, or were left above.
RecorderSession::~RecorderSession() {
    // What hangs from the session (the web page's server threads, the signal
    // watcher) reads the store and the engines; it goes while they are whole,
    // not after them as the base class would have it.
    while (!children().isEmpty()) delete children().constFirst();
    Close();
    QString abandoned;
    if (alerts_ && !alerts_->StopSending(&abandoned)) (void)alerts_.release();
    if (!abandoned.isEmpty()) ReportProblem(abandoned);
    // The store's thread may be held by the same disk as the writer: then
    // it is not waited for, only told to stop.
    if (!store_->Stop(writerAbandoned_ ? 0 : TakeStore::kEndLimitMs, &abandoned)) (void)store_.release();
    if (!abandoned.isEmpty()) ReportProblem(abandoned);
    // A writer still waiting for the disk is not waited for: it stays, with
    // its thread, until the process ends, and so does the store it uses.
    if (writerAbandoned_) {
        (void)writer_.release();
        (void)store_.release();
    }
    // The heartbeat's thread reads the archive: a held one keeps both.
    if (heartbeatAbandoned_) {
        (void)heartbeat_.release();
        archiverAbandoned_ = true;
    }
    if (archiverAbandoned_) (void)archiver_.release();
    if (platform::WaveInDevice* device = platform::Services().waveIn) device->SetEventHandler({});
}

CaptureConfig RecorderSession::BuildCaptureConfig() const {
    CaptureConfig c;
    platform::WaveInDevice* device = platform::Services().waveIn;
    if (options_.mixer)
        c.deviceName = MixerProductName(0);
    else if (device)
        c.deviceName = device->DeviceNames().value(0);
    c.sampleRate = options_.sampleRate > 0 ? options_.sampleRate : settings_.SamplingRate;
    c.recordFolder = options_.recordFolder;
    c.triggerMargin = settings_.RecordingLevel;
    c.stopDelay = 3;
    c.manual = options_.voiceOnly ? false : settings_.ManualMode;
    c.bandsShown = options_.bandsShown;
    c.agc = settings_.AGC;
    c.endRecordingIfPlaying = settings_.EndRecordingIfPlaying;
    c.recordingVolume = settings_.RecordingVolume;
    c.preRollMs = settings_.PreRollMs;
    c.maxTakeMinutes = settings_.MaxTakeMinutes;
    c.display = display_;
    return c;
}

void RecorderSession::StartCapture(WaveDisplay* display) {
    closed_ = false;
    settings_ = AppSettings;
    display_ = display;
    WaveBackColor = RGB(0, 204, 255);
    ApplyStorePolicy();
    if (!started_) {
        if (archiver_) archiver_->Start();
        if (heartbeat_) heartbeat_->Start();
        if (alerts_) alerts_->Started();
        if (alerts_ && archiver_) archiveBacklog_.start();
    }
    started_ = true;
    if (options_.hours) ConfigureWatch();
    StartEngine();
}

void RecorderSession::ConfigureWatch() {
    if (!hoursKnown_ || settings_.Hours != hoursText_) {
        hoursText_ = settings_.Hours;
        RecordingHours parsed;
        QString why;
        if (RecordingHours::Parse(hoursText_, &parsed, &why)) {
            hoursProblem_.clear();
        } else {
            // A recorder that cannot read its hours records always rather
            // than never.
            hoursProblem_ = QStringLiteral("[Schedule] Hours refused: %1; recording always").arg(why);
            emit settingRefused(hoursProblem_);
        }
        hours_ = parsed;
        hoursKnown_ = false;
    }
    const SoundAlarms::Config config{.silentMinutes = settings_.SilentMinutes, .clipPercent = settings_.ClipPercent};
    if (!alarms_ || alarms_->Settings().silentMinutes != config.silentMinutes ||
        alarms_->Settings().clipPercent != config.clipPercent)
        alarms_ = std::make_unique<SoundAlarms>(config, platform::Services().clock);
    if (config.silentMinutes > 0 || config.clipPercent > 0)
        record_->OnBlockMeasured = [this](int32_t level, bool fullScale) { OnBlockMeasured(level, fullScale); };
    else
        record_->OnBlockMeasured = {};
    CheckHours();
}

void RecorderSession::CheckHours() {
    if (closed_) return;
    platform::Clock* clock = platform::Services().clock;
    const QDateTime now = clock ? clock->LocalNow() : QDateTime::currentDateTime();
    const bool inside = hours_.Inside(now);
    const bool changed = !hoursKnown_ || inside != insideHours_;
    hoursKnown_ = true;
    insideHours_ = inside;
    hoursChange_ = hours_.NextChange(now);
    record_->OutsideHours = !inside;
    // In manual mode the hours are the record and stop commands.
    if (changed && !hours_.Always() && !options_.voiceOnly && settings_.ManualMode) record_->ManualRequest = inside;
    const QString state = hours_.StateText(now);
    if (changed || state != hoursState_) {
        hoursState_ = state;
        if (!hours_.Always()) emit hoursChanged(inside, state);
    }
    if (hours_.Always()) {
        hoursCheck_.stop();
        return;
    }
    // Looked at again just after the change, and at least every minute, so
    // that a clock set forward or a machine woken from sleep is caught up.
    const qint64 wait = std::clamp<qint64>(now.msecsTo(hoursChange_) + 100, 100, 60000);
    hoursCheck_.start(static_cast<int>(wait));
}

QDateTime RecorderSession::SilentSince() const { return alarms_ ? alarms_->SilentSince() : QDateTime(); }

bool RecorderSession::Clipping() const { return alarms_ && alarms_->Clipping(); }

void RecorderSession::OnBlockMeasured(int32_t level, bool fullScale) {
    if (!alarms_) return;
    // Quiet as the voice trigger sees it from silence: at or below the sensitivity.
    if (const unsigned changes = alarms_->Block(level <= settings_.RecordingLevel, fullScale, insideHours_))
        ReportAlarms(changes);
}

void RecorderSession::ReportAlarms(unsigned changes) {
    const QString since = alarms_->SilentSince().toString(QStringLiteral("HH:mm"));
    if (changes & SoundAlarms::kSilent)
        emit soundAlarm(SoundAlarm::Silent, QStringLiteral("Silent since %1: no sound above the sensitivity for %2 min.")
                                                .arg(since)
                                                .arg(alarms_->Settings().silentMinutes));
    if (changes & SoundAlarms::kSoundBack)
        emit soundAlarm(SoundAlarm::SoundBack, QStringLiteral("Sound came back."));
    if (changes & SoundAlarms::kSilenceEnded)
        emit soundAlarm(SoundAlarm::SilenceEnded, QStringLiteral("The recording hours ended during the silence."));
    if (changes & SoundAlarms::kClipping)
        emit soundAlarm(SoundAlarm::Clipping,
                        QStringLiteral("More than %1 % of the last minute's blocks reached full scale.")
                            .arg(alarms_->Settings().clipPercent));
    if (changes & SoundAlarms::kClippingOver)
        emit soundAlarm(SoundAlarm::ClippingOver, QStringLiteral("The input no longer reaches full scale."));
}

void RecorderSession::StartEngine() {
    TFRecord& r = *record_;
    // The device is looked up again at each try: it may have come back
    // under its name.
    r.Configure(BuildCaptureConfig());
    platform::WaveInDevice* device = platform::Services().waveIn;
    if (device) {
        device->SetEventHandler([this](platform::WaveInEvent event, int64_t frames) {
            if (event == platform::WaveInEvent::Overrun) {
                OnOverrun(frames);
            } else {
                // Not from inside the device's own report: the capture is
                // stopped and the device closed on the next turn of the loop.
                QMetaObject::invokeMethod(this, [this] { OnInputFailed(QStringLiteral("the input failed")); },
                                          Qt::QueuedConnection);
            }
        });
    }
    r.StartInput();
    if (options_.mixer) {
        mixer_->InitMixers();
        if (!RecordingSources.isEmpty()) {
            if (settings_.RecordingChannel >= 0)
                mixer_->SelectRecordingSource(settings_.RecordingChannel);
            else
                mixer_->SelectRecordingSource(FindLineInSource());
        }
        mixer_->SetRecordingVolume(settings_.RecordingVolume);
        mixer_->SetPlayingVolume(settings_.PlayingVolume);
    }
    if (r.Capturing) {
        if (alarms_ && options_.hours) {
            if (const unsigned changes = alarms_->Restart(r.SampleRate, TFRecord::kBlockFrames)) ReportAlarms(changes);
        }
        inputRetry_.stop();
        SetInput(InputState::Listening, r.DeviceName);
    } else {
        SetInput(InputState::Lost, r.DeviceName.isEmpty() ? QStringLiteral("no input device")
                                                          : QStringLiteral("cannot open %1").arg(r.DeviceName));
        if (options_.watchInput && !inputRetry_.isActive()) inputRetry_.start();
    }
}

void RecorderSession::SetArchive(bool configured, std::function<bool(const QString& name)> archived) {
    archiveConfigured_ = configured;
    archived_ = std::move(archived);
    ApplyStorePolicy();
}

void RecorderSession::ApplyStorePolicy() {
    if (!options_.cleanUp) return;
    store_->SetPolicy({.expireAfterDay = settings_.ManageFile,
                       .keepFreeMB = settings_.KeepFreeMB,
                       .archiveConfigured = archiveConfigured_,
                       .archived = archived_});
}

void RecorderSession::ApplySettings() {
    record_->StopInput();
    inputRetry_.stop();
    StartCapture(display_);
}

void RecorderSession::Close() {
    if (closed_) return;
    closed_ = true;
    inputRetry_.stop();
    diskCheck_.stop();
    hoursCheck_.stop();
    if (Playing) play_->StopPlayback();
    record_->StopInput();
    if (started_) SetInput(InputState::Stopped, QString());
    // The network ends while the disk is waited for: an upload under way is
    // cut off and the last heartbeat, which says the recorder stopped, is
    // sent meanwhile.
    archiveBacklog_.stop();
    if (archiver_) archiver_->RequestStop();
    BeatNow();
    if (heartbeat_) heartbeat_->RequestStop();
    // A disk that does not answer cannot hold the end of the program: after
    // the limit the writer is left to its file (its thread cannot be stopped
    // inside a write) and the take is named; the process ends when the disk
    // lets the thread go.
    if (!writer_->WaitIdleFor(kCloseLimitMs)) {
        const QString path = writer_->TakeInHand();
        ReportProblem(QStringLiteral("take may be cut: %1 (the disk did not answer)")
                          .arg(path.isEmpty() ? QStringLiteral("?") : path.mid(path.lastIndexOf('/') + 1)));
        writerAbandoned_ = true;
    }
    QString abandoned;
    if (heartbeat_ && !heartbeat_->Stop(&abandoned)) heartbeatAbandoned_ = true;
    if (!abandoned.isEmpty()) ReportProblem(abandoned);
    // The archive's thread may be held by the disk too (an encode, the
    // journal's sync): it is left with its archive, as the writer is.
    if (archiver_ && !archiver_->StopWithin(writerAbandoned_ ? 0 : kCloseLimitMs, &abandoned)) {
        ReportProblem(QStringLiteral("archive stopped while the disk did not answer; the take being sent goes again "
                                     "at the next start"));
        archiverAbandoned_ = true;
    }
    if (!abandoned.isEmpty()) ReportProblem(abandoned);
    if (alerts_ && started_) alerts_->Stopped();
}

void RecorderSession::ReportProblem(const QString& line) {
    std::fprintf(stderr, "%s\n", line.toLocal8Bit().constData());
    std::fflush(stderr);
    emit problem(line);
}

bool RecorderSession::RequestManualStart() {
    if (!record_->Manual) return false;
    record_->ManualRequest = true;
    return true;
}

void RecorderSession::RequestManualStop() { record_->ManualRequest = false; }

void RecorderSession::SetManualMode(bool manual) {
    settings_.ManualMode = manual;
    record_->Manual = options_.voiceOnly ? false : manual;
}

void RecorderSession::PlayTake(const QString& path, WaveDisplay* display) {
    play_->Display = display;
    play_->Play(path);
}

void RecorderSession::StopPlayback() {
    if (Playing) play_->StopPlayback();
}

void RecorderSession::SetInput(InputState state, const QString& detail) {
    if (state == input_) return;
    input_ = state;
    emit inputStateChanged(state, detail);
}

void RecorderSession::SetDisk(DiskState state, const QString& detail) {
    if (state == disk_) return;
    disk_ = state;
    emit diskStateChanged(state, detail);
}

void RecorderSession::OnInputFailed(const QString& detail) {
    if (closed_ || !record_->Capturing) return;
    // An open take is closed and kept with its sizes patched.
    record_->StopInput();
    SetInput(InputState::Lost, detail);
    if (options_.watchInput) inputRetry_.start();
}

void RecorderSession::OnOverrun(int64_t frames) {
    if (frames <= 0) return;
    framesLost_ += frames;
    const int rate = std::max(1, record_->SampleRate);
    emit soundLost(frames * 1000 / rate);
}

void RecorderSession::RetryInput() {
    if (closed_ || record_->Capturing) {
        inputRetry_.stop();
        return;
    }
    StartEngine();
}

void RecorderSession::OnWriteFailed(const QString& reason) {
    if (closed_) return;
    // The open take ends and is kept with what reached the disk.
    record_->EndRecordingByStop();
    record_->HoldTakes = true;
    SetDisk(DiskState::Full, reason);
    diskCheck_.start();
}

void RecorderSession::CheckDisk() {
    platform::Files* files = platform::Services().files;
    const int64_t free = files ? files->FreeBytes(options_.recordFolder) : -1;
    // Without a figure for the free space, the next take simply tries again.
    if (free >= 0 && free < kFreeBytesToResume) return;
    diskCheck_.stop();
    record_->HoldTakes = false;
    if (disk_ == DiskState::Full) SetDisk(DiskState::Ok, QStringLiteral("the disk takes sound again"));
}
