// SPDX-License-Identifier: GPL-3.0-or-later
// The playback window against a scripted wave output and real files.
#include <gtest/gtest.h>

#include <QByteArray>
#include <QFile>

#include <algorithm>
#include <cstring>
#include <functional>

#include "support/FakeWaveOut.h"
#include "playback/Unit4.h"
#include "settings/publicunit.h"
#include "support/ForwardingFiles.h"
#include "support/TestSupport.h"
#include "support/WaveFiles.h"

namespace {

using WavSpec = testing_support::WaveSpec;

QByteArray Header(const WavSpec& s, int dataBytes) {
    return testing_support::WaveHeaderBytes(s, static_cast<uint32_t>(36 + dataBytes), static_cast<uint32_t>(dataBytes));
}

// Sample data whose every byte tells its offset apart.
QByteArray Counting(int bytes) {
    QByteArray d(bytes, '\0');
    for (int i = 0; i < bytes; ++i) d[i] = static_cast<char>((i * 7 + i / 256) & 0xFF);
    return d;
}

class RecordingDisplay final : public WaveDisplay {
public:
    int DisplayWidth() const override { return 270; }
    int DisplayHeight() const override { return 20; }
    void ShowWave(const QPoint*, int count, TColor back, TColor pen) override {
        ++shown;
        lastCount = count;
        lastBack = back;
        lastPen = pen;
    }
    int shown = 0;
    int lastCount = 0;
    TColor lastBack = 0;
    TColor lastPen = 0;
};

// Files whose readers hold every read past the first `allowed` bytes until
// released, as a disk that stops answering does.
class StallingFiles final : public testing_support::ForwardingFiles {
public:
    explicit StallingFiles(platform::Files& real) : ForwardingFiles(real) { gate_.Shut(true); }
    int64_t allowed = 0;

    bool Stalled() { return gate_.Arrived() > 0; }
    void Release() { gate_.Shut(false); }

    std::unique_ptr<platform::ReadableFile> OpenRead(const QString& path) override {
        auto file = real_.OpenRead(path);
        return file ? std::make_unique<Reader>(*this, std::move(file)) : nullptr;
    }

private:
    class Reader final : public platform::ReadableFile {
    public:
        Reader(StallingFiles& owner, std::unique_ptr<platform::ReadableFile> file)
            : owner_(owner), file_(std::move(file)) {}
        int64_t Read(void* data, int64_t size) override {
            const int64_t at = file_->Position();
            if (at < owner_.allowed) return file_->Read(data, std::min(size, owner_.allowed - at));
            owner_.gate_.Pass();
            return file_->Read(data, size);
        }
        int64_t Size() override { return file_->Size(); }
        int64_t Position() override { return file_->Position(); }
        void Close() override { file_->Close(); }

    private:
        StallingFiles& owner_;
        std::unique_ptr<platform::ReadableFile> file_;
    };

    testing_support::Gate gate_;
};

class PlaybackTest : public ::testing::Test {
protected:
    void SetUp() override {
        testing_support::CoreApp();
        env.files.MakePath(env.AppDir() + "record/");
        platform::Services().waveOut = &device;
        Playing = false;
        for (int32_t& b : BandLevels) b = 77;
        WaveBackColor = RGB(0, 204, 255);
        play.Display = &display;
    }
    void TearDown() override { Playing = false; }

    QString Write(const QString& name, const QByteArray& bytes) {
        const QString path = env.AppDir() + "record/" + name;
        QFile f(path);
        EXPECT_TRUE(f.open(QIODevice::WriteOnly));
        f.write(bytes);
        return path;
    }
    QString WriteWav(const QString& name, const WavSpec& format, const QByteArray& data) {
        return Write(name, Header(format, static_cast<int>(data.size())) + data);
    }
    // Asks for the file, then waits until its header is read and, when it
    // plays, the whole file is read ahead: the device's reports then go on at once.
    void Request(const QString& path) {
        play.Play(path);
        ASSERT_TRUE(testing_support::WaitUntil(
            [&] { return !play.ReadingHeader() && (!play.PlayFile || play.PlayFile->AtEnd()); }, 5000));
    }
    // Opens, plays every block and reports the close.
    void PlayThrough() {
        device.ReportOpen();
        device.CompleteAll();
        device.ReportClose();
    }

    testing_support::TestEnvironment env;
    platform::FakeWaveOut device;
    RecordingDisplay display;
    TFPlay play;
};

TEST_F(PlaybackTest, FileMustHoldHeaderAndOneWholeBlock) {
    Request(WriteWav("short.wav", {}, Counting(2047)));  // 2091 bytes
    EXPECT_TRUE(device.opens.empty());
    EXPECT_FALSE(Playing);

    const QByteArray data = Counting(2048);  // 2092 bytes
    Request(WriteWav("one.wav", {}, data));
    ASSERT_EQ(device.opens.size(), 1u);
    EXPECT_FALSE(Playing) << "Playing starts with the open report";
    device.ReportOpen();
    EXPECT_TRUE(Playing);
    ASSERT_EQ(device.writes.size(), 1u);
    EXPECT_EQ(device.writes[0].bytes, data);

    device.CompleteBuffers(1);
    EXPECT_EQ(device.resets, 1);
    EXPECT_EQ(device.closes, 1);
    EXPECT_TRUE(Playing) << "Playing lasts until the close report";
    EXPECT_EQ(play.BytesPlayed, 2048);
    device.ReportClose();
    EXPECT_FALSE(Playing);
}

TEST_F(PlaybackTest, ShortLastBlockPlaysItsBytesAndCountsAWholeBlock) {
    const QByteArray data = Counting(2 * 2048 + 100);
    Request(WriteWav("tail.wav", {}, data));
    device.ReportOpen();
    ASSERT_EQ(device.writes.size(), 3u);
    EXPECT_EQ(device.writes[2].length, 100u);
    EXPECT_EQ(device.writes[2].bytes, data.right(100));
    device.CompleteAll();
    EXPECT_EQ(play.BytesPlayed, 3 * 2048);
    EXPECT_EQ(play.BytesPerSecond, 88200);
    device.ReportClose();
    EXPECT_FALSE(Playing);
}

TEST_F(PlaybackTest, KeepsThirtyBlocksQueuedAndPlaysTheFileInOrder) {
    const QByteArray data = Counting(45 * 2048 + 10);
    Request(WriteWav("long.wav", {}, data));
    device.ReportOpen();
    EXPECT_EQ(device.Queued(), 30);
    device.CompleteBuffers(1);
    EXPECT_EQ(device.Queued(), 30);
    EXPECT_EQ(device.writes.back().index, 0) << "the buffer that came back is refilled";
    device.CompleteAll();
    QByteArray played;
    for (const auto& w : device.writes) played += w.bytes;
    EXPECT_EQ(played, data);
    EXPECT_EQ(device.resets, 1);
    device.ReportClose();
    EXPECT_FALSE(Playing);
}

TEST_F(PlaybackTest, RefusesHeadersThatCannotBePlayedOrTimed) {
    WavSpec floatTag;
    floatTag.tag = 3;
    WavSpec noRate;
    noRate.rate = 0;
    WavSpec noChannels;
    noChannels.channels = 0;
    WavSpec noBits;
    noBits.bits = 0;
    WavSpec huge;  // channels x bits x rate beyond 32 bits
    huge.channels = 0xFFFF;
    huge.bits = 0xFFFF;
    int n = 0;
    for (const WavSpec& format : {floatTag, noRate, noChannels, noBits, huge}) {
        Request(WriteWav(QStringLiteral("bad%1.wav").arg(n++), format, Counting(4096)));
        EXPECT_TRUE(device.opens.empty()) << "case " << n;
        EXPECT_FALSE(Playing);
    }
    // Shorter than the header: nothing, and the next file still plays.
    Request(Write("tiny.wav", QByteArray(30, 'x')));
    EXPECT_TRUE(device.opens.empty());
    Request(WriteWav("good.wav", {}, Counting(4096)));
    EXPECT_EQ(device.opens.size(), 1u);
}

TEST_F(PlaybackTest, PlaysEachFileInItsOwnFormat) {
    WavSpec mono;
    mono.channels = 1;
    mono.rate = 8000;
    mono.bits = 8;
    Request(WriteWav("mono.wav", mono, Counting(3000)));
    ASSERT_EQ(device.opens.size(), 1u);
    const platform::WaveFormat& f = device.opens[0];
    EXPECT_EQ(f.formatTag, 1);
    EXPECT_EQ(f.channels, 1);
    EXPECT_EQ(f.samplesPerSec, 8000u);
    EXPECT_EQ(f.avgBytesPerSec, 8000u);
    EXPECT_EQ(f.blockAlign, 1);
    EXPECT_EQ(f.bitsPerSample, 8);
    EXPECT_EQ(play.SampleRate, 8000);
    EXPECT_EQ(play.BytesPerSecond, 8000);
    PlayThrough();

    // The header's fields go to the device as they stand, and bytes per
    // second are rounded halves to even: 1 x 4 x 5 / 8 = 2.5 -> 2.
    WavSpec odd;
    odd.channels = 1;
    odd.bits = 4;
    odd.rate = 5;
    odd.blockAlign = 7;
    Request(WriteWav("odd.wav", odd, Counting(2048)));
    ASSERT_EQ(device.opens.size(), 2u);
    EXPECT_EQ(device.opens[1].blockAlign, 7);
    EXPECT_EQ(play.BytesPerSecond, 2);
}

TEST_F(PlaybackTest, FullScaleRecordingShowsHalfLevelAndBandsClearAtClose) {
    QByteArray data(2 * 2048, '\0');
    auto* s = reinterpret_cast<int16_t*>(data.data());
    for (int frame = 0; frame < 1024; ++frame) s[2 * frame] = s[2 * frame + 1] = frame % 2 ? -32767 : 32767;
    Request(WriteWav("loud.wav", {}, data));
    device.ReportOpen();
    device.CompleteBuffers(1);
    EXPECT_EQ(play.Level, 50);
    EXPECT_EQ(display.shown, 1);
    EXPECT_EQ(display.lastCount, 1024);
    EXPECT_EQ(display.lastBack, RGB(0, 204, 255));
    EXPECT_EQ(display.lastPen, RGB(0, 102, 153));
    EXPECT_EQ(device.writes[0].bytes, data.left(2048)) << "the analysis works on a copy";
    bool anyBand = false;
    for (int32_t b : BandLevels) anyBand = anyBand || b != 0;
    EXPECT_TRUE(anyBand);

    device.CompleteAll();
    device.ReportClose();
    EXPECT_FALSE(Playing);
    for (int32_t b : BandLevels) EXPECT_EQ(b, 0);
    play.StopPlayback();
    EXPECT_EQ(device.closes, 1) << "a stop after the close report does nothing";
}

TEST_F(PlaybackTest, SecondStopBeforeCloseReportChangesNothing) {
    Request(WriteWav("a.wav", {}, Counting(10 * 2048)));
    device.ReportOpen();
    device.CompleteBuffers(2);
    const size_t written = device.writes.size();
    play.StopPlayback();
    play.StopPlayback();
    EXPECT_EQ(device.resets, 1);
    EXPECT_EQ(device.closes, 1);
    EXPECT_EQ(device.writes.size(), written);
    EXPECT_TRUE(Playing);
    device.ReportClose();
    EXPECT_FALSE(Playing);
    for (int32_t b : BandLevels) EXPECT_EQ(b, 0);
}

TEST_F(PlaybackTest, BlocksGivenBackByTheResetAreNotRefilled) {
    device.reportOnReset = true;
    Request(WriteWav("a.wav", {}, Counting(40 * 2048)));
    device.ReportOpen();
    device.CompleteBuffers(1);
    const size_t written = device.writes.size();
    const int32_t played = play.BytesPlayed;
    const int shown = display.shown;
    play.StopPlayback();
    EXPECT_EQ(device.writes.size(), written);
    EXPECT_EQ(play.BytesPlayed, played);
    EXPECT_EQ(display.shown, shown);
    device.ReportClose();
    EXPECT_FALSE(Playing);
}

TEST_F(PlaybackTest, SecondPlayBeforeOpenReportOpensNothing) {
    const QByteArray first = Counting(3 * 2048);
    Request(WriteWav("first.wav", {}, first));
    Request(WriteWav("second.wav", {}, QByteArray(3 * 2048, '\x11')));
    EXPECT_EQ(device.opens.size(), 1u);
    device.ReportOpen();
    EXPECT_EQ(device.writes[0].bytes, first.left(2048));
    Request(WriteWav("third.wav", {}, QByteArray(3 * 2048, '\x22')));
    EXPECT_EQ(device.opens.size(), 1u) << "Play while playing does nothing";
    PlayThrough();
}

TEST_F(PlaybackTest, FileBeingRecordedIsNotPlayed) {
    const QString path = env.AppDir() + "record/PLEN20261207090500.wav";
    auto writer = env.files.CreateNew(path);
    ASSERT_TRUE(writer);
    const QByteArray bytes = Header({}, 4096) + Counting(4096);
    writer->Append(bytes.constData(), bytes.size());
    Request(path);
    EXPECT_TRUE(device.opens.empty());
    EXPECT_FALSE(Playing);
    writer->Close();
    Request(path);
    EXPECT_EQ(device.opens.size(), 1u);
}

TEST_F(PlaybackTest, RefusedOpenReleasesTheFile) {
    device.failOpen = true;
    const QString path = WriteWav("a.wav", {}, Counting(4096));
    Request(path);
    EXPECT_FALSE(Playing);
    EXPECT_FALSE(play.PlayFile);
    device.failOpen = false;
    Request(path);
    EXPECT_EQ(device.opens.size(), 2u) << "a refused open does not block the next request";
}

TEST_F(PlaybackTest, RefusedWritesEndThePlayback) {
    device.writesBeforeFailure = 3;
    Request(WriteWav("a.wav", {}, Counting(10 * 2048)));
    device.ReportOpen();
    EXPECT_EQ(device.Queued(), 3);
    device.writesBeforeFailure = -1;  // later writes would succeed, but the refilling has ended
    EXPECT_EQ(device.CompleteAll(), 3);
    EXPECT_EQ(device.writes.size(), 3u);
    EXPECT_EQ(device.closes, 1);
    device.ReportClose();

    // Not a single block queued: nothing will come back, so the playback ends at once.
    device.writesBeforeFailure = 0;
    Request(WriteWav("b.wav", {}, Counting(10 * 2048)));
    device.ReportOpen();
    EXPECT_EQ(device.closes, 2);
    device.ReportClose();
    EXPECT_FALSE(Playing);
}

TEST_F(PlaybackTest, StalledDiskNeitherBlocksNorGarblesAndPlaybackResumes) {
    StallingFiles stalling(env.files);
    stalling.allowed = 44 + 4 * 2048;  // the header and four blocks
    platform::Services().files = &stalling;
    const QByteArray data = Counting(45 * 2048 + 10);
    play.Play(WriteWav("long.wav", {}, data));
    ASSERT_TRUE(testing_support::WaitUntil([&] { return device.OpenPending() && stalling.Stalled(); }, 5000));
    device.ReportOpen();
    EXPECT_TRUE(Playing);
    EXPECT_EQ(device.Queued(), 4) << "what was read before the stall";
    // Played while the reader is held: the window's thread goes on, the
    // device runs dry, nothing else is queued and the playback does not end.
    EXPECT_EQ(device.CompleteAll(), 4);
    EXPECT_EQ(device.Queued(), 0);
    EXPECT_TRUE(Playing);
    EXPECT_EQ(device.closes, 0);

    stalling.Release();
    ASSERT_TRUE(testing_support::WaitUntil(
        [&] {
            device.CompleteAll();
            return device.closes == 1;
        },
        5000));
    QByteArray played;
    for (const auto& w : device.writes) played += w.bytes;
    EXPECT_EQ(played, data) << "every byte once, in order";
    device.ReportClose();
    EXPECT_FALSE(Playing);
}

}  // namespace
