// SPDX-License-Identifier: GPL-3.0-or-later
// The block-exact rules of the recording control: start, end, ten-second
// rule, modes, playback and stop ends, automatic gain.
#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QtEndian>

#include <cmath>
#include <cstring>
#include <vector>

#include "capture/RecordingControl.h"
#include "capture/TakeWriter.h"
#include "capture/Unit2.h"
#include "mixer/MixerControl.h"
#include "settings/publicunit.h"
#include "support/TestSupport.h"

namespace {

std::vector<int> g_applied;  // every recording volume sent to the mixer
void RecordApply(int percent) { g_applied.push_back(percent); }

struct Event {
    bool recording;
    QString file;
};

class Control : public ::testing::Test {
protected:
    testing_support::TestEnvironment env;
    TFRecord rec;
    CaptureConfig config;
    std::vector<Event> events;
    std::vector<TakeEvent> takes;
    std::array<int16_t, 2 * TFRecord::kBlockFrames> block{};
    int16_t blockNo = 0;

    void SetUp() override {
        config.recordingVolume = 25;
        config.endRecordingIfPlaying = true;
        RecordingVolumeSet = RecordingVolumeNow = 50;
        g_applied.clear();
        rec.OnRecordingVolume = &RecordApply;
        QDir().mkpath(Folder());
        config.recordFolder = Folder();
        config.stopDelay = 3;
        Configure(22050, 2);
        rec.OnRecordingEvent = [this](QObject* sender, const QString& file) {
            EXPECT_EQ(sender, &rec);
            events.push_back({rec.Recording, file});
        };
        rec.OnTakeEvent = [this](TakeEvent e, const QString&, int32_t) { takes.push_back(e); };
    }

    QString Folder() const { return env.AppDir() + "record/"; }
    // What reached the disk once the writer has done everything handed to it.
    QStringList Files() const {
        rec.Writer->WaitIdle();
        return QDir(Folder()).entryList(QDir::Files, QDir::Name);
    }
    // Automatic gain on or off, starting each take at `volume`.
    void Agc(bool on, int volume = 25) {
        config.agc = on;
        config.recordingVolume = volume;
        rec.Configure(config);
    }
    // What StartInput leaves behind.
    void Configure(int rate, int margin) {
        config.sampleRate = rate;
        config.triggerMargin = margin;
        rec.Configure(config);
        rec.Recording = false;
        rec.NoiseFloor = 100;
        rec.LoudCount = 0;
    }
    // One analysed block at level L; its samples carry the block's number.
    void Step(double L) {
        block.fill(++blockNo);
        rec.Level = static_cast<int32_t>(std::nearbyint(L));
        rec.ControlStep(L, block.data());
    }
    void Steps(int n, double L) {
        for (int i = 0; i < n; ++i) Step(L);
    }
    bool Exists(const QString& file) const {
        rec.Writer->WaitIdle();
        return QFile::exists(file);
    }
    QByteArray Data(const QString& file) {
        rec.Writer->WaitIdle();
        QFile f(file);
        EXPECT_TRUE(f.open(QIODevice::ReadOnly));
        return f.readAll();
    }
};

TEST_F(Control, FirstBlockAfterStartSetsTheFloorAndLaterRiseStartsOnThatBlock) {
    Step(100.0);  // never loud against the floor of 100
    EXPECT_FALSE(rec.Recording);
    EXPECT_EQ(rec.NoiseFloor, 100);
    Step(0.0);
    EXPECT_EQ(rec.NoiseFloor, 0);
    Step(3.0);
    ASSERT_TRUE(rec.Recording);
    ASSERT_EQ(events.size(), 1u);
    EXPECT_TRUE(events[0].recording);
    EXPECT_EQ(events[0].file, Folder() + "PLEN20261207090500.wav");
    // The starting block is the first block of data.
    const QByteArray data = Data(rec.FileName);
    ASSERT_EQ(data.size(), 44 + 8192);
    EXPECT_EQ(data[44], 3);
}

TEST_F(Control, SlowRiseNeverStartsWithMarginTwoButDoesWithMarginOne) {
    for (int level = 0; level <= 100; level += 2) Step(level);
    EXPECT_FALSE(rec.Recording);
    EXPECT_TRUE(Files().isEmpty());
    Configure(22050, 1);
    Step(0.0);
    Step(2.0);
    EXPECT_TRUE(rec.Recording);
}

TEST_F(Control, ALevelOfExactlyTheThresholdIsQuietAndTheRealLevelDecides) {
    Step(10.0);
    Step(12.0);  // T = 12
    EXPECT_FALSE(rec.Recording);
    EXPECT_EQ(rec.NoiseFloor, 12);
    Step(14.4);  // rounds to 14 = T, but 14.4 > 14
    ASSERT_TRUE(rec.Recording);
    EXPECT_EQ(rec.NoiseFloor, 12);  // frozen while recording
    Steps(32, 14.0);  // quiet at exactly T
    EXPECT_TRUE(rec.Recording);
    Step(14.0);
    EXPECT_FALSE(rec.Recording);
}

struct RateCase {
    int rate, endQuiet, keep;
};

TEST_F(Control, EndAfterQuietAndTenSecondRuleAtEveryRate) {
    // At 8192 Hz 3 s and 10 s are whole numbers of blocks: "more than" and
    // "at least" are exact there.
    for (RateCase c : {RateCase{11025, 17, 54}, RateCase{22050, 33, 108}, RateCase{44100, 65, 216},
                       RateCase{8192, 13, 40}}) {
        SCOPED_TRACE(c.rate);
        for (int total : {c.keep - 1, c.keep}) {
            Configure(c.rate, 2);
            events.clear();
            takes.clear();
            env.clock.now = env.clock.now.addSecs(60);
            Step(0.0);
            Steps(total - c.endQuiet, 50.0);
            Steps(c.endQuiet - 1, 1.0);
            ASSERT_TRUE(rec.Recording);
            Step(1.0);
            ASSERT_FALSE(rec.Recording);
            EXPECT_EQ(rec.FramesWritten, total * 2048);
            const bool kept = total == c.keep;
            EXPECT_EQ(Exists(rec.FileName), kept);
            EXPECT_EQ(events.size(), kept ? 2u : 1u);  // never told of a deleted take
            EXPECT_EQ(takes.back(), kept ? TakeEvent::Kept : TakeEvent::Deleted);
            if (kept) {
                EXPECT_FALSE(events[1].recording);
                EXPECT_EQ(Data(rec.FileName).size(), 44 + total * 8192);
            }
        }
    }
}

TEST_F(Control, ManualTakesFollowTheRequestAndTheTenSecondRule) {
    rec.Manual = rec.ManualRequest = true;
    Step(0.0);  // the first block starts a manual take
    ASSERT_TRUE(rec.Recording);
    Steps(53, 0.0);  // 54 blocks = 5 s of silence: still running
    EXPECT_TRUE(rec.Recording);
    rec.ManualRequest = false;
    Step(0.0);
    EXPECT_FALSE(rec.Recording);
    EXPECT_TRUE(Files().isEmpty());

    rec.ManualRequest = true;
    Steps(107, 0.0);
    rec.ManualRequest = false;
    Step(0.0);
    EXPECT_EQ(Files().size(), 1);
}

TEST_F(Control, ModeSwitchesDuringATake) {
    // Voice to manual without a request ends the take at the next block.
    Step(0.0);
    Steps(120, 50.0);
    rec.Manual = true;
    Step(50.0);
    EXPECT_FALSE(rec.Recording);
    EXPECT_EQ(Files().size(), 1);  // 121 blocks: kept

    // Manual to voice: the take runs on until more than 3 s of quiet.
    rec.ManualRequest = true;
    Step(50.0);
    ASSERT_TRUE(rec.Recording);
    Steps(10, 50.0);
    rec.Manual = false;
    Steps(32, 1.0);
    EXPECT_TRUE(rec.Recording);
    Step(1.0);
    EXPECT_FALSE(rec.Recording);
}

TEST_F(Control, PlaybackAndStopEndsKeepTheTakeWhateverItsLength) {
    Agc(true);
    rec.Manual = rec.ManualRequest = true;
    Step(30.0);
    const QString first = rec.FileName;
    rec.PlaybackCheck();
    EXPECT_FALSE(rec.Recording);
    ASSERT_EQ(events.size(), 2u);
    EXPECT_FALSE(events[1].recording);
    const QByteArray data = Data(first);
    ASSERT_EQ(data.size(), 8236);
    EXPECT_EQ(qFromLittleEndian<quint32>(data.constData() + 4), 8228u);
    EXPECT_EQ(qFromLittleEndian<quint32>(data.constData() + 40), 8192u);
    EXPECT_EQ(g_applied, std::vector<int>{23});  // lowered, not restored

    rec.PlaybackCheck();  // idle: nothing happens
    EXPECT_EQ(events.size(), 2u);

    // The request still stands: a new take in the same second gets its own name.
    Step(30.0);
    ASSERT_TRUE(rec.Recording);
    EXPECT_EQ(rec.FileName, Folder() + "PLEN20261207090500-2.wav");
    EXPECT_EQ(g_applied.back(), 23);  // again from RecordingVolume - 2
    rec.EndRecordingByStop();
    EXPECT_FALSE(rec.Recording);
    EXPECT_EQ(events.back().file, rec.FileName);
    EXPECT_FALSE(events.back().recording);
    EXPECT_EQ(Data(rec.FileName).size(), 8236);
    EXPECT_EQ(Data(first), data);
    EXPECT_EQ(g_applied.size(), 2u);
    rec.EndRecordingByStop();
    EXPECT_EQ(events.size(), 4u);
}

TEST_F(Control, PreRollBeginsVoiceTakesOnlyWithTheSoundSinceTheLastTakeOrGap) {
    rec.PreRollMs = 500;  // 11025 frames at 22050 Hz: five blocks and 785 frames
    rec.StartInput();     // without a device it only makes the ring ready
    int32_t frames = 0;
    rec.OnTakeEvent = [&](TakeEvent, const QString&, int32_t f) { frames = f; };
    Steps(8, 0.0);
    Step(3.0);  // block 9 starts the take
    ASSERT_TRUE(rec.Recording);
    EXPECT_EQ(rec.FileName, Folder() + "PLEN20261207090459.wav");  // named from its first sample
    QByteArray data = Data(rec.FileName);
    ASSERT_EQ(data.size(), 44 + 11025 * 4 + 8192);
    EXPECT_EQ(data[44], 3);  // the last 785 frames of block 3, then blocks 4 to 8
    EXPECT_EQ(data[44 + 785 * 4 - 2], 3);
    EXPECT_EQ(data[44 + 785 * 4], 4);
    EXPECT_EQ(data[44 + 11025 * 4], 9);
    Steps(33, 0.0);  // the stop delay and the ten-second rule count from block 9
    EXPECT_FALSE(rec.Recording);
    EXPECT_EQ(frames, 11025 + 34 * 2048);  // the length reported is the file's
    EXPECT_TRUE(Files().isEmpty());

    // Two blocks after that take: the next one reaches back no further.
    Steps(2, 0.0);
    Step(3.0);
    ASSERT_TRUE(rec.Recording);
    data = Data(rec.FileName);
    ASSERT_EQ(data.size(), 44 + 3 * 8192);
    EXPECT_EQ(data[44], blockNo - 2);

    // Sound discarded during playback breaks the pre-roll.
    rec.PlaybackCheck();
    Steps(3, 0.0);
    rec.PlaybackCheck();
    Step(0.0);
    Step(3.0);
    ASSERT_TRUE(rec.Recording);
    EXPECT_EQ(Data(rec.FileName).size(), 44 + 2 * 8192);

    // A manual take has none.
    rec.PlaybackCheck();
    Steps(6, 0.0);
    rec.Manual = rec.ManualRequest = true;
    Step(0.0);
    ASSERT_TRUE(rec.Recording);
    EXPECT_EQ(Data(rec.FileName).size(), 44 + 8192);
}

TEST_F(Control, AutomaticGainStepsDownWhileLoudAndRestoresAtANormalEnd) {
    for (int start : {25, 24}) {
        SCOPED_TRACE(start);
        Agc(true, start);
        g_applied.clear();
        env.clock.now = env.clock.now.addSecs(1);
        Step(0.0);
        Steps(20, 21.0);
        std::vector<int> expected;
        for (int v = start - 2; v >= start % 2; v -= 2) expected.push_back(v);
        EXPECT_EQ(g_applied, expected);
        EXPECT_EQ(RecordingVolumeSet, start);
        EXPECT_EQ(RecordingVolumeNow, start % 2);
        Steps(3, 20.0);  // loud, but not loud enough to lower the gain
        EXPECT_EQ(g_applied, expected);
        Steps(33, 1.0);
        EXPECT_FALSE(rec.Recording);
        expected.push_back(start);
        EXPECT_EQ(g_applied, expected);
    }
    Agc(false);
    g_applied.clear();
    Steps(40, 60.0);
    Steps(40, 0.0);
    EXPECT_TRUE(g_applied.empty());
    EXPECT_EQ(RecordingVolumeNow, 0);
}

// A take goes on in the next file where one is full, without a frame lost
// or written twice; its files are kept or deleted together by the ten-second
// rule of the whole take.
TEST_F(Control, AFullFileGoesOnInTheNextAndTheFilesShareTheTenSecondRule) {
    rec.FileFrameLimit = 23000;  // 1.04 s: the files end inside blocks
    std::vector<std::pair<TakeEvent, int32_t>> seen;
    rec.OnTakeEvent = [&](TakeEvent e, const QString&, int32_t frames) { seen.emplace_back(e, frames); };
    rec.Manual = rec.ManualRequest = true;
    Steps(119, 0.0);
    rec.ManualRequest = false;
    Step(0.0);  // block 120 still goes into the take
    ASSERT_FALSE(rec.Recording);
    const QStringList files = Files();
    ASSERT_EQ(files.size(), 11);  // ten full files, then 15760 frames
    EXPECT_EQ(files[1], "PLEN20261207090501.wav");  // named from its first frame
    QByteArray sound;
    for (const QString& f : files) {
        const QByteArray data = Data(Folder() + f);
        EXPECT_EQ(qFromLittleEndian<quint32>(data.constData() + 40), static_cast<quint32>(data.size() - 44));
        sound += data.mid(44);
    }
    ASSERT_EQ(sound.size(), 120 * 8192);
    for (int16_t b = 1; b <= 120; ++b) {
        const std::vector<int16_t> want(2 * TFRecord::kBlockFrames, b);
        ASSERT_EQ(std::memcmp(sound.constData() + (b - 1) * 8192, want.data(), 8192), 0) << "block " << b;
    }
    std::vector<int32_t> kept;
    for (const auto& [e, frames] : seen)
        if (e == TakeEvent::Kept) kept.push_back(frames);
    std::vector<int32_t> expected(10, 23000);
    expected.push_back(15760);
    EXPECT_EQ(kept, expected);

    // 40960 frames in two files: both go.
    env.clock.now = env.clock.now.addSecs(60);
    seen.clear();
    rec.ManualRequest = true;
    Steps(19, 0.0);
    rec.ManualRequest = false;
    Step(0.0);
    EXPECT_EQ(Files(), files);
    EXPECT_EQ(seen, (std::vector<std::pair<TakeEvent, int32_t>>{{TakeEvent::Opened, 0},
                                                                 {TakeEvent::Opened, 0},
                                                                 {TakeEvent::Deleted, 23000},
                                                                 {TakeEvent::Deleted, 17960}}));
}

TEST_F(Control, MaxTakeMinutesSplitsOnWholeMultiplesFromMidnight) {
    env.clock.now = QDateTime(QDate(2026, 12, 7), QTime(9, 59, 59, 500));
    rec.MaxTakeMinutes = 60;
    rec.Manual = rec.ManualRequest = true;
    Steps(119, 0.0);
    rec.ManualRequest = false;
    Step(0.0);
    // Half a second (under ten, kept with the rest), then from 10:00 on.
    ASSERT_EQ(Files(), (QStringList{"PLEN20261207095959.wav", "PLEN20261207100000.wav"}));
    EXPECT_EQ(Data(Folder() + "PLEN20261207095959.wav").size(), 44 + 11025 * 4);
    EXPECT_EQ(Data(Folder() + "PLEN20261207100000.wav").size(), 44 + (120 * 2048 - 11025) * 4);
}

// The engine does not wait for the disk: a take whose file cannot be made
// opens all the same, its writer says so, and the take ends as a deleted one
// (the session holds new takes until the disk takes sound again); once the
// folder is there, the next loud block records.
TEST_F(Control, NoFolderMeansTheWriterReportsTheTakeAndTheNextLoudBlockTriesAgain) {
    testing_support::CoreApp();
    QDir(Folder()).removeRecursively();
    QStringList failed;
    QObject::connect(rec.Writer, &TakeWriter::openFailed, &rec, [&](const QString& path) {
        failed << path;
        rec.AbandonTake();
    });
    Step(0.0);
    Steps(3, 50.0);
    ASSERT_TRUE(testing_support::WaitUntil([&] { return !failed.isEmpty(); }, 5000));
    EXPECT_FALSE(rec.Recording);
    EXPECT_EQ(takes, (std::vector<TakeEvent>{TakeEvent::Opened, TakeEvent::Deleted}));
    EXPECT_EQ(rec.NoiseFloor, 0);
    EXPECT_TRUE(Files().isEmpty());
    QDir().mkpath(Folder());
    Step(50.0);
    EXPECT_TRUE(rec.Recording);
    EXPECT_EQ(rec.LoudCount, 0);
    EXPECT_EQ(Files().size(), 1);
}

}  // namespace
