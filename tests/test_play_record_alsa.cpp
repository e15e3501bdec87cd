// SPDX-License-Identifier: GPL-3.0-or-later
// Playback against recording through the real sound server: the capture
// engine records the monitor of the line-input sink "venue" while the
// playback engine plays into the default sink "speakers". With EndRecordingIfPlaying on, starting a
// playback ends an open take and keeps it, nothing is recorded or measured
// by the capture side while it plays, and capture goes on afterwards.
// Skipped when the server of scripts/with-pulse.sh is not reachable.
#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QStandardPaths>
#include <QtEndian>

#include <QFileInfo>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstring>
#include <memory>
#include <set>
#include <vector>

#include "capture/BlockAnalysis.h"
#include "capture/RecordingControl.h"
#include "capture/TakeWriter.h"
#include "capture/Unit2.h"
#include "platform/AlsaNames.h"
#include "platform/WaveIn.h"
#include "platform/WaveOut.h"
#include "playback/Unit4.h"
#include "settings/publicunit.h"
#include "support/SoundServer.h"
#include "support/TestSupport.h"
#include "support/WaveFiles.h"

namespace {

using testing_support::TonePower;
using testing_support::Wait;
using testing_support::WaitUntil;
using testing_support::WaveSpec;

constexpr int kRate = 22050;
constexpr double kVenueHz = 440;  // the sound of the venue
constexpr double kPlayHz = 1240;  // the recording that is played back
constexpr int kFull = 32767;

QCoreApplication& App() { return testing_support::CoreApp(); }

// The amplitude of a tone of `hz` in a run of samples, as a share of full scale.
double Amplitude(const int16_t* samples, int count, int stride, double hz) {
    if (count <= 0) return 0;
    const double power = TonePower(samples, count, stride, hz, kRate);
    return 2 * std::sqrt(std::max(power, 0.0)) / count / kFull;
}

// Seconds of sound in which `hz` is at least `share` of full scale, judged
// in windows of 0.1 s over one channel of `count` frames of `channels`.
double SecondsOfTone(const int16_t* s, int count, int channels, double hz, double share) {
    const int window = kRate / 10;
    double seconds = 0;
    for (int start = 0; start + window <= count; start += window)
        if (Amplitude(s + static_cast<ptrdiff_t>(start) * channels, window, channels, hz) >= share) seconds += 0.1;
    return seconds;
}
double SecondsOfTone(const QByteArray& mono, double hz, double share) {
    return SecondsOfTone(reinterpret_cast<const int16_t*>(mono.constData()), static_cast<int>(mono.size() / 2), 1,
                         hz, share);
}
double SecondsOfTone(const std::vector<int16_t>& stereo, double hz, double share) {
    return SecondsOfTone(stereo.data(), static_cast<int>(stereo.size() / 2), 2, hz, share);
}

// The samples after the 44-byte header of a recording.
std::vector<int16_t> SamplesOf(const QString& path) {
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly)) return {};
    const QByteArray bytes = f.readAll();
    if (bytes.size() <= 44) return {};
    std::vector<int16_t> samples(static_cast<size_t>(bytes.size() - 44) / 2);
    std::memcpy(samples.data(), bytes.constData() + 44, samples.size() * 2);
    return samples;
}

// A closed take carries the sizes of its length.
bool Closed(const QString& path) {
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly)) return false;
    const QByteArray h = f.read(44);
    if (h.size() != 44) return false;
    return qFromLittleEndian<uint32_t>(h.constData() + 4) == f.size() - 8 &&
           qFromLittleEndian<uint32_t>(h.constData() + 40) == f.size() - 44;
}

class CountingDisplay final : public WaveDisplay {
public:
    int DisplayWidth() const override { return 270; }
    int DisplayHeight() const override { return 60; }
    void ShowWave(const QPoint*, int, TColor, TColor) override { ++shown; }
    int shown = 0;
};

struct Event {
    TakeEvent what;
    QString file;
    int32_t frames;
    bool playing;  // the flag when it happened
};

// Everything the playback engine may show for the blocks of `data` (stereo,
// 16 bits, whole blocks): the levels and the band sets.
struct PlayedFigures {
    std::set<int32_t> levels;
    std::set<std::array<int32_t, 20>> bands;
};

PlayedFigures FiguresOf(const QByteArray& data) {
    PlayedFigures figures;
    std::array<int16_t, TFPlay::kBlockBytes / 2> work{};
    for (qsizetype at = 0; at + TFPlay::kBlockBytes <= data.size(); at += TFPlay::kBlockBytes) {
        std::memcpy(work.data(), data.constData() + at, TFPlay::kBlockBytes);
        const double level = AnalyseBlock(work.data(), kPlaybackBlock);
        std::array<int32_t, 20> bands{};
        ComputeBands(work.data(), kPlaybackBlock.frames, kRate, level, bands.data());
        figures.levels.insert(static_cast<int32_t>(std::nearbyint(level)));
        figures.bands.insert(bands);
    }
    return figures;
}

class PlayRecordAlsa : public ::testing::Test {
protected:
    void SetUp() override {
        App();
        if (!testing_support::VenueServerReachable())
            GTEST_SKIP() << "no sound server with the sink \"venue\" (run under scripts/with-pulse.sh)";
        paplay_ = QStandardPaths::findExecutable(QStringLiteral("paplay"));
        ASSERT_FALSE(paplay_.isEmpty() || QStandardPaths::findExecutable(QStringLiteral("parec")).isEmpty())
            << "paplay or parec missing (scripts/deps.sh installs them)";
        ASSERT_TRUE(testing_support::ResetVenueVolumes());

        waveIn_ = platform::MakeAlsaWaveIn();
        waveOut_ = platform::MakeAlsaWaveOut();
        platform::Services().waveIn = waveIn_.get();
        platform::Services().waveOut = waveOut_.get();
        folder_ = env_.AppDir() + "record/";
        ASSERT_TRUE(QDir().mkpath(folder_));

        Playing = false;

        record_ = std::make_unique<TFRecord>();
        config_.display = &display_;
        config_.deviceName = platform::AlsaDefaultDeviceName();
        config_.sampleRate = kRate;
        config_.triggerMargin = 2;
        config_.stopDelay = 3;
        config_.recordFolder = folder_;
        config_.endRecordingIfPlaying = true;
        config_.agc = false;  // the mixer is not touched here
        record_->Configure(config_);
        record_->OnTakeEvent = [this](TakeEvent what, const QString& file, int32_t frames) {
            events_.push_back({what, file, frames, Playing});
        };
        record_->OnRecordingEvent = [this](QObject*, const QString& file) { raised_.append(file); };
        play_ = std::make_unique<TFPlay>();

        // The recording to play back: 3 s of a tone, whole playback blocks.
        const WaveSpec stereo;
        playedData_ = testing_support::ToneSamples(stereo, kPlayHz, 0.3, 130 * kPlaybackBlock.frames);
        playedPath_ = env_.AppDir() + "played.wav";
        ASSERT_TRUE(testing_support::WriteFileBytes(playedPath_, testing_support::WaveFileBytes(stereo, playedData_)));
    }

    void TearDown() override {
        if (venue_.state() != QProcess::NotRunning) {
            venue_.kill();
            venue_.waitForFinished(2000);
        }
        if (play_ && Playing) {
            play_->StopPlayback();
            WaitUntil([] { return !Playing; }, 3000);
        }
        if (record_) record_->StopInput();
        play_.reset();
        record_.reset();
        Playing = false;
    }

    // Starts the venue's sound: `seconds` of the venue tone into the sink.
    void StartVenueSound(int seconds) {
        const QString path = env_.AppDir() + "venue.wav";
        ASSERT_TRUE(testing_support::WriteFileBytes(
            path, testing_support::ToneWaveFile(WaveSpec{}, kVenueHz, 0.4, seconds * kRate)));
        venue_.start(paplay_, {QStringLiteral("-d"), QStringLiteral("venue"), path});
        ASSERT_TRUE(venue_.waitForStarted(5000));
    }

    void StopVenueSound() {
        venue_.kill();
        venue_.waitForFinished(2000);
    }

    // Starts the capture and waits for its first blocks and some quiet.
    void StartCapture() {
        record_->StartInput();
        ASSERT_TRUE(record_->Capturing);
        // A null sink may hold its monitor's first sound back for a while.
        ASSERT_TRUE(WaitUntil([&] { return display_.shown > 0; }, 8000)) << "no block from the capture device";
        Wait(500);
    }

    int Count(TakeEvent what, bool playing) const {
        int n = 0;
        for (const Event& e : events_) n += e.what == what && e.playing == playing;
        return n;
    }

    QStringList Takes() const { return QDir(folder_).entryList({QStringLiteral("*.wav")}, QDir::Files, QDir::Name); }

    testing_support::TestEnvironment env_;
    std::unique_ptr<platform::WaveInDevice> waveIn_;
    std::unique_ptr<platform::WaveOutDevice> waveOut_;
    CountingDisplay display_;
    CaptureConfig config_;
    std::unique_ptr<TFRecord> record_;
    std::unique_ptr<TFPlay> play_;
    std::vector<Event> events_;
    QStringList raised_;
    QString folder_;
    QString paplay_;
    QProcess venue_;
    QByteArray playedData_;
    QString playedPath_;
};

TEST_F(PlayRecordAlsa, PlaybackEndsAndKeepsTheOpenTakeSuspendsCaptureAndCaptureGoesOnAfterIt) {
    StartCapture();
    ASSERT_TRUE(events_.empty()) << "a silent sink opened a take";

    // The venue's sound opens a take.
    StartVenueSound(30);
    ASSERT_TRUE(WaitUntil([&] { return record_->Recording; }, 10000)) << "the venue's sound opened no take";
    const QString first = record_->FileName;
    Wait(1500);  // far less than ten seconds: kept all the same

    // Playback starts while the venue's sound goes on.
    testing_support::MonitorRecorder monitor(kRate);
    ASSERT_TRUE(monitor.Started());
    play_->Play(playedPath_);
    ASSERT_TRUE(WaitUntil([] { return Playing; }, 5000)) << "playback did not start";

    // From now on the capture side measures and counts nothing.
    const int32_t level = record_->Level, floor = record_->NoiseFloor;
    const int32_t loud = record_->LoudCount, quietCount = record_->QuietCount;
    const int shown = display_.shown;
    ASSERT_TRUE(WaitUntil([&] { return !record_->Recording; }, 3000)) << "the take stayed open during playback";
    EXPECT_FALSE(record_->Writer->TakeOpen());
    record_->Writer->WaitIdle();  // what the writer was handed is on disk
    ASSERT_TRUE(Closed(first));
    const qint64 firstSize = QFileInfo(first).size();

    const PlayedFigures expected = FiguresOf(playedData_);
    int foreignBands = 0, foreignLevels = 0, playedBlocksSeen = 0, changed = 0;
    int32_t loudestPlayed = 0;
    QElapsedTimer clock;
    clock.start();
    while (Playing && clock.elapsed() < 15000) {
        Wait(20);
        if (!Playing) break;
        changed += record_->Level != level || record_->NoiseFloor != floor || record_->LoudCount != loud ||
                   record_->QuietCount != quietCount || display_.shown != shown || record_->Recording;
        if (play_->BytesPlayed > 0) {
            ++playedBlocksSeen;
            std::array<int32_t, 20> bands;
            std::copy(BandLevels, BandLevels + 20, bands.begin());
            foreignBands += !expected.bands.count(bands);
            foreignLevels += !expected.levels.count(play_->Level);
            loudestPlayed = std::max(loudestPlayed, play_->Level);
        }
    }
    ASSERT_FALSE(Playing) << "playback did not end by itself";
    const QByteArray heard = monitor.Finish();

    EXPECT_EQ(changed, 0) << "the capture side measured or recorded during playback";
    EXPECT_GT(playedBlocksSeen, 20);
    EXPECT_EQ(foreignBands, 0) << "the bands did not come from the played blocks";
    EXPECT_EQ(foreignLevels, 0);
    EXPECT_GT(loudestPlayed, 0);

    // The played tone reached the speakers.
    EXPECT_GT(SecondsOfTone(heard, kPlayHz, 0.1), 2.0);

    // The first take: opened before, kept when playback began, never longer.
    ASSERT_GE(events_.size(), 2u);
    EXPECT_EQ(events_[0].what, TakeEvent::Opened);
    EXPECT_FALSE(events_[0].playing);
    EXPECT_EQ(events_[1].what, TakeEvent::Kept);
    EXPECT_TRUE(events_[1].playing);
    EXPECT_EQ(events_[1].file, first);
    EXPECT_LT(events_[1].frames, 10 * kRate);
    EXPECT_EQ(Count(TakeEvent::Opened, true), 0) << "a take opened during playback";
    EXPECT_EQ(QFileInfo(first).size(), firstSize);
    EXPECT_EQ(raised_.mid(0, 2), QStringList({first, first}));
    const std::vector<int16_t> kept = SamplesOf(first);
    EXPECT_GT(SecondsOfTone(kept, kVenueHz, 0.1), 0.5);
    EXPECT_EQ(SecondsOfTone(kept, kPlayHz, 0.01), 0) << "the take holds played sound";

    // The venue's sound goes on: a new take opens after the playback.
    ASSERT_TRUE(WaitUntil([&] { return record_->Recording; }, 5000)) << "capture did not go on after playback";
    const QString second = record_->FileName;
    EXPECT_NE(second, first);
    const int shownAfter = display_.shown;
    Wait(1000);
    EXPECT_GT(display_.shown, shownAfter);
    StopVenueSound();
    record_->StopInput();
    record_->Writer->WaitIdle();  // what the writer was handed is on disk
    EXPECT_TRUE(Closed(second));
    EXPECT_EQ(Count(TakeEvent::Deleted, false) + Count(TakeEvent::Deleted, true), 0);
    QStringList both{QFileInfo(first).fileName(), QFileInfo(second).fileName()};
    both.sort();
    EXPECT_EQ(Takes().join(' ').toStdString(), both.join(' ').toStdString());
    EXPECT_GT(SecondsOfTone(SamplesOf(second), kVenueHz, 0.1), 0.5);
}

TEST_F(PlayRecordAlsa, ManualTakeEndsWhenPlaybackBeginsAndTheNextStartsAfterIt) {
    record_->Manual = true;
    record_->ManualRequest = true;
    StartCapture();
    ASSERT_TRUE(record_->Recording) << "the manual request opened no take";
    const QString first = record_->FileName;

    play_->Play(playedPath_);
    ASSERT_TRUE(WaitUntil([] { return Playing; }, 5000));
    ASSERT_TRUE(WaitUntil([&] { return !record_->Recording; }, 3000));
    record_->Writer->WaitIdle();  // what the writer was handed is on disk
    EXPECT_TRUE(Closed(first));
    ASSERT_TRUE(WaitUntil([] { return !Playing; }, 15000)) << "playback did not end by itself";
    EXPECT_FALSE(record_->Recording);

    // The request still stands: the first block after playback opens a new take.
    ASSERT_TRUE(WaitUntil([&] { return record_->Recording; }, 2000));
    EXPECT_NE(record_->FileName, first);
    record_->StopInput();
    record_->Writer->WaitIdle();  // what the writer was handed is on disk
    EXPECT_TRUE(Closed(record_->FileName));
    EXPECT_EQ(Count(TakeEvent::Opened, true), 0);
    EXPECT_EQ(Count(TakeEvent::Kept, true), 1);
    EXPECT_EQ(Takes().size(), 2);
}

TEST_F(PlayRecordAlsa, WithTheSettingOffTheTakeGoesOnAndHoldsThePlayedSound) {
    // The playback reaches the line input here, as a microphone hears the speakers.
    ASSERT_TRUE(testing_support::Pactl({QStringLiteral("set-default-sink"), QStringLiteral("venue")}));
    struct Restore {
        ~Restore() { testing_support::Pactl({QStringLiteral("set-default-sink"), QStringLiteral("speakers")}); }
    } restore;
    config_.endRecordingIfPlaying = false;
    record_->Configure(config_);
    record_->Manual = true;
    record_->ManualRequest = true;
    StartCapture();
    ASSERT_TRUE(record_->Recording);
    const QString take = record_->FileName;

    play_->Play(playedPath_);
    ASSERT_TRUE(WaitUntil([] { return Playing; }, 5000));
    int32_t loudest = 0;
    QElapsedTimer clock;
    clock.start();
    while (Playing && clock.elapsed() < 15000) {
        Wait(20);
        loudest = std::max(loudest, record_->Level);
    }
    ASSERT_FALSE(Playing);
    Wait(500);  // the end of the played sound through the monitor
    EXPECT_TRUE(record_->Recording);
    EXPECT_GT(loudest, 0) << "the capture did not hear the playback";
    record_->StopInput();

    ASSERT_EQ(events_.size(), 2u);
    EXPECT_EQ(events_[1].what, TakeEvent::Kept);
    EXPECT_GT(SecondsOfTone(SamplesOf(take), kPlayHz, 0.1), 2.0);
}

}  // namespace
