// SPDX-License-Identifier: GPL-3.0-or-later
// The recorder session with a wave input fed by the test and files that can
// stall or fill up: a lost input, a stalled disk, a full disk and a writer
// that falls a minute behind.
#include <gtest/gtest.h>

#include <QFile>
#include <QTimer>
#include <QtEndian>

#include <atomic>
#include <vector>

#include "capture/TakeStore.h"
#include "capture/TakeWriter.h"
#include "session/RecorderSession.h"
#include "settings/publicunit.h"
#include "support/FakeWaveIn.h"
#include "support/ForwardingFiles.h"
#include "support/TestSupport.h"

namespace {

using testing_support::WaitUntil;

// A square wave whose amplitude names the block, so the file shows the order.
std::vector<int16_t> Block(int16_t amplitude) {
    std::vector<int16_t> b(4096);
    for (int k = 0; k < 2048; ++k) b[2 * k] = b[2 * k + 1] = static_cast<int16_t>(k % 2 ? -amplitude : amplitude);
    return b;
}

// Recording files whose writes can be held (a stalled disk) or refused (a
// full one); everything else goes to the real files of the test folder.
class TroubledFiles final : public testing_support::ForwardingFiles {
public:
    explicit TroubledFiles(platform::Files& real) : ForwardingFiles(real) {}

    void Stall(bool on) { gate.Shut(on); }
    std::atomic<bool> full{false};
    std::atomic<bool> refuseNew{false};
    std::atomic<int64_t> freeBytes{-1};
    testing_support::Gate gate;

    std::unique_ptr<platform::WritableFile> CreateNew(const QString& p) override {
        if (refuseNew) return nullptr;
        auto file = real_.CreateNew(p);
        return file ? std::make_unique<File>(*this, std::move(file)) : nullptr;
    }
    int64_t FreeBytes(const QString&) override { return freeBytes; }

private:
    class File final : public platform::WritableFile {
    public:
        File(TroubledFiles& owner, std::unique_ptr<platform::WritableFile> file)
            : owner_(owner), file_(std::move(file)) {}
        int64_t Append(const void* d, int64_t n) override { return WriteAt(Size(), d, n) ? n : -1; }
        bool WriteAt(int64_t offset, const void* d, int64_t n) override {
            owner_.gate.Pass();
            // A full disk takes no new data but lets what is there be rewritten.
            if (owner_.full && offset + n > file_->Size()) return false;
            return file_->WriteAt(offset, d, n);
        }
        int64_t Size() override { return file_->Size(); }
        bool Sync() override { return file_->Sync(); }
        bool Close() override { return file_->Close(); }
        bool Discard() override { return file_->Discard(); }

    private:
        TroubledFiles& owner_;
        std::unique_ptr<platform::WritableFile> file_;
    };
};

class SessionTest : public ::testing::Test {
protected:
    void SetUp() override {
        testing_support::CoreApp();
        platform::Services().waveIn = &device;
        platform::Services().files = &files;
        AppSettings = TAppSettings{};
        AppSettings.SamplingRate = 22050;
        AppSettings.RecordingLevel = 2;
        Playing = false;
        session = std::make_unique<RecorderSession>(
            RecorderSession::Options{.recordFolder = env.AppDir(), .mixer = false});
        QObject::connect(session.get(), &RecorderSession::takeEvent,
                         [this](TakeEvent e, const QString& name, qint64) { takes.push_back({e, name}); });
        QObject::connect(session.get(), &RecorderSession::diskStateChanged,
                         [this](DiskState s, const QString&) { disk.push_back(s); });
    }
    void TearDown() override {
        files.Stall(false);
        session.reset();
    }

    void Feed(int16_t amplitude, int blocks) {
        for (int i = 0; i < blocks; ++i) ASSERT_TRUE(device.Feed(Block(amplitude)));
    }
    // Quiet, then loud: a take opens on the first loud block.
    void OpenTake() {
        Feed(0, 3);
        Feed(3000, 1);
        ASSERT_TRUE(session->RecordEngine().Recording);
    }
    QByteArray Bytes(const QString& path) {
        QFile f(path);
        return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
    }
    static uint32_t U32At(const QByteArray& b, int at) {
        uint32_t v = 0;
        for (int i = 3; i >= 0; --i) v = (v << 8) | static_cast<uint8_t>(b.at(at + i));
        return v;
    }
    // True when the sizes in the header match the file.
    static bool Patched(const QByteArray& b) {
        return b.size() >= 44 && U32At(b, 4) == uint32_t(b.size() - 8) && U32At(b, 40) == uint32_t(b.size() - 44);
    }

    testing_support::TestEnvironment env;
    TroubledFiles files{env.files};
    platform::FakeWaveIn device;
    std::unique_ptr<RecorderSession> session;
    std::vector<std::pair<TakeEvent, QString>> takes;
    std::vector<DiskState> disk;
};

TEST_F(SessionTest, LostInputKeepsTheTakeAndIsOpenedAgainUntilItIsBack) {
    device.openResult = platform::kWaveError;  // the sound server is not up yet
    session->StartCapture();
    EXPECT_EQ(session->Input(), InputState::Lost);
    device.openResult = platform::kWaveOk;
    ASSERT_TRUE(WaitUntil([&] { return session->Input() == InputState::Listening; }, 10000));

    OpenTake();
    Feed(3000, 5);
    device.Raise(platform::WaveInEvent::Failed);
    ASSERT_TRUE(WaitUntil([&] { return session->Input() == InputState::Lost; }, 5000));
    ASSERT_EQ(takes.size(), 2u);
    EXPECT_EQ(takes[1].first, TakeEvent::Kept);  // kept although shorter than ten seconds
    session->Writer().WaitIdle();
    const QByteArray first = Bytes(takes[0].second);
    EXPECT_EQ(first.size(), 44 + 6 * 8192);
    EXPECT_TRUE(Patched(first));

    // Back by itself, with a fresh reference level, and recording again.
    ASSERT_TRUE(WaitUntil([&] { return session->Input() == InputState::Listening; }, 10000));
    env.clock.now = env.clock.now.addSecs(60);
    OpenTake();
    EXPECT_EQ(takes.back().first, TakeEvent::Opened);
    EXPECT_NE(takes.back().second, takes[0].second);

    device.Raise(platform::WaveInEvent::Overrun, 11025);
    EXPECT_EQ(session->FramesLost(), 11025);
}

TEST_F(SessionTest, TenSecondDiskStallLosesNoBlockAndTheEventLoopRunsOn) {
    session->StartCapture();
    // Stalled from before the take's file is created: that waits too.
    files.Stall(true);
    OpenTake();
    // Ten seconds of sound at 22050 Hz while the disk does not answer.
    for (int i = 0; i < 108; ++i) Feed(static_cast<int16_t>(4000 + i), 1);
    int ticks = 0;
    QTimer timer;
    QObject::connect(&timer, &QTimer::timeout, [&] { ++ticks; });
    timer.start(10);
    ASSERT_TRUE(WaitUntil([&] { return ticks >= 3; }, 5000));
    EXPECT_GT(session->Writer().QueuedBlocks(), 0);
    EXPECT_EQ(files.gate.Waiting(), 1);
    files.Stall(false);
    Feed(0, 40);  // more than three seconds of quiet end the take
    ASSERT_FALSE(session->RecordEngine().Recording);
    session->Close();

    const QByteArray b = Bytes(takes[0].second);
    ASSERT_EQ(b.size(), 44 + (1 + 108 + 33) * 8192);
    EXPECT_TRUE(Patched(b));
    for (int i = 0; i < 108; ++i)
        ASSERT_EQ(static_cast<int16_t>(U32At(b, 44 + (1 + i) * 8192) & 0xFFFF), 4000 + i) << i;
    EXPECT_TRUE(disk.empty());
}

TEST_F(SessionTest, TakeWhoseFileCannotBeCreatedEndsAndIsReported) {
    files.refuseNew = true;  // a read-only or vanished folder
    session->StartCapture();
    OpenTake();
    ASSERT_TRUE(WaitUntil([&] { return session->Disk() == DiskState::Unwritable; }, 5000));
    EXPECT_FALSE(session->RecordEngine().Recording);
    ASSERT_EQ(takes.size(), 2u);
    EXPECT_EQ(takes[1].first, TakeEvent::Deleted);
}

TEST_F(SessionTest, FullDiskKeepsWhatWasWrittenAndRecordingResumesWithSpace) {
    session->StartCapture();
    OpenTake();
    Feed(3000, 3);
    session->Writer().WaitIdle();
    files.full = true;
    files.freeBytes = 0;
    Feed(3000, 2);
    ASSERT_TRUE(WaitUntil([&] { return session->Disk() == DiskState::Full; }, 5000));
    EXPECT_FALSE(session->RecordEngine().Recording);
    ASSERT_EQ(takes.size(), 2u);
    EXPECT_EQ(takes[1].first, TakeEvent::Kept);
    session->Writer().WaitIdle();
    const QByteArray first = Bytes(takes[0].second);
    EXPECT_EQ(first.size(), 44 + 4 * 8192);  // the blocks that reached the disk
    EXPECT_TRUE(Patched(first));

    Feed(3000, 5);  // no take while the disk is full
    EXPECT_EQ(takes.size(), 2u);
    files.full = false;
    files.freeBytes = int64_t{1} << 30;
    ASSERT_TRUE(WaitUntil([&] { return session->Disk() == DiskState::Ok; }, 10000));
    env.clock.now = env.clock.now.addSecs(60);
    Feed(3000, 1);
    EXPECT_EQ(takes.back().first, TakeEvent::Opened);
    EXPECT_EQ(disk, (std::vector<DiskState>{DiskState::Full, DiskState::Ok}));
}

TEST_F(SessionTest, WriterAMinuteBehindClosesTheTakeAndSaysSo) {
    session->StartCapture();
    OpenTake();
    session->Writer().WaitIdle();
    files.Stall(true);
    const int capacity = session->Writer().CapacityBlocks();
    Feed(3000, capacity + 5);
    EXPECT_FALSE(session->RecordEngine().Recording);
    EXPECT_EQ(session->Disk(), DiskState::Behind);
    ASSERT_EQ(takes.size(), 2u);
    EXPECT_EQ(takes[1].first, TakeEvent::Kept);
    files.Stall(false);
    ASSERT_TRUE(WaitUntil([&] { return session->Disk() == DiskState::Ok; }, 10000));
    session->Writer().WaitIdle();
    const QByteArray b = Bytes(takes[0].second);
    EXPECT_EQ(b.size(), 44 + int64_t{capacity + 1} * 8192);
    EXPECT_TRUE(Patched(b));
}

TEST_F(SessionTest, WhatHangsFromTheSessionGoesWhileItsPartsAreWhole) {
    // A web server parented to the session lists takes from its own threads
    // until it is deleted; that must happen before the store goes.
    auto* child = new QObject(session.get());
    bool listed = false;
    QObject::connect(child, &QObject::destroyed, [whole = session.get(), &listed] {
        (void)whole->Store().ListTakes();
        listed = true;
    });
    session.reset();
    EXPECT_TRUE(listed);
}

TEST_F(SessionTest, TakesOnlyInsideTheHoursAndTheSoundAlarmsAreSaid) {
    // The fake clock says Monday 09:05.
    AppSettings.Hours = QStringLiteral("Mon 09:00-09:10");
    AppSettings.SilentMinutes = 1;
    std::vector<SoundAlarm> alarms;
    QStringList hours;
    QObject::connect(session.get(), &RecorderSession::soundAlarm,
                     [&alarms](SoundAlarm a, const QString&) { alarms.push_back(a); });
    QObject::connect(session.get(), &RecorderSession::hoursChanged,
                     [&hours](bool, const QString& state) { hours << state; });
    session->StartCapture();
    EXPECT_EQ(hours, QStringList{"recording hours: until 09:10"});

    Feed(0, 1);
    env.clock.now = env.clock.now.addSecs(61);
    Feed(0, 1);
    ASSERT_EQ(alarms, std::vector<SoundAlarm>{SoundAlarm::Silent});
    EXPECT_EQ(session->SilentSince().time(), QTime(9, 5));
    Feed(32767, 7);  // a full-scale square wave: 7 blocks are over 1 % of a minute
    EXPECT_EQ(alarms, (std::vector<SoundAlarm>{SoundAlarm::Silent, SoundAlarm::SoundBack, SoundAlarm::Clipping}));
    EXPECT_TRUE(session->Clipping());
    ASSERT_TRUE(session->RecordEngine().Recording);

    // The end of the hours ends the take by the usual rules (over ten
    // seconds: kept), and no take opens outside them.
    Feed(3000, 120);
    env.clock.now = QDateTime(QDate(2026, 12, 7), QTime(9, 10));
    session->CheckHours();
    EXPECT_EQ(hours.last(), "outside recording hours: next Mon 09:00");
    Feed(3000, 1);
    ASSERT_EQ(takes.size(), 2u);
    EXPECT_EQ(takes.back().first, TakeEvent::Kept);
    Feed(0, 3);
    Feed(3000, 20);
    EXPECT_EQ(takes.size(), 2u);
    EXPECT_FALSE(session->InsideHours());
}

TEST_F(SessionTest, ManualModeRecordsWithTheHoursAndAMalformedValueRecordsAlways) {
    AppSettings.ManualMode = true;
    AppSettings.Hours = QStringLiteral("Mon 09:00-09:10");
    session->StartCapture();
    Feed(0, 2);
    ASSERT_TRUE(session->RecordEngine().Recording);
    env.clock.now = QDateTime(QDate(2026, 12, 7), QTime(9, 10));
    session->CheckHours();
    Feed(0, 1);
    EXPECT_FALSE(session->RecordEngine().Recording);
    ASSERT_EQ(takes.size(), 2u);
    EXPECT_EQ(takes.back().first, TakeEvent::Deleted);  // under ten seconds

    QStringList refused;
    QObject::connect(session.get(), &RecorderSession::settingRefused,
                     [&refused](const QString& line) { refused << line; });
    AppSettings.ManualMode = false;
    AppSettings.Hours = QStringLiteral("Mon-Fry 09:00-09:10");
    session->ApplySettings();
    ASSERT_EQ(refused.size(), 1);
    EXPECT_TRUE(refused[0].contains("'Fry'")) << refused[0].toStdString();
    EXPECT_TRUE(session->InsideHours());
    OpenTake();
}

}  // namespace
