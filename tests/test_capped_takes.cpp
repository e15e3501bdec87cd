// SPDX-License-Identifier: GPL-3.0-or-later
// Takes whose header says less than the file holds (the sizes of a take over
// 4 GiB are held at 0xFFFFFFFF): read by their size, archived whole or not
// at all, and left as they are by the start-up repair.
#include <gtest/gtest.h>

#include <QFile>
#include <QTemporaryDir>

#include <sndfile.h>
#include <unistd.h>

#include <cstdint>
#include <vector>

#include "capture/RecordingFile.h"
#include "capture/WaveFile.h"
#include "platform/TakeEncoder.h"
#include "support/TestSupport.h"

namespace {

void WriteTake(const QString& path, const WaveHeader& header, const std::vector<int16_t>& samples) {
    QFile f(path);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.write(reinterpret_cast<const char*>(header.data()), kWaveHeaderBytes);
    f.write(reinterpret_cast<const char*>(samples.data()), static_cast<qint64>(samples.size() * 2));
}

std::vector<int16_t> Decode(const QString& path) {
    SF_INFO info{};
    SNDFILE* f = sf_open(path.toLocal8Bit().constData(), SFM_READ, &info);
    if (!f) return {};
    std::vector<int16_t> samples(static_cast<size_t>(info.frames * info.channels));
    samples.resize(static_cast<size_t>(sf_read_short(f, samples.data(), static_cast<sf_count_t>(samples.size()))));
    sf_close(f);
    return samples;
}

}  // namespace

TEST(CappedTakes, AFileHoldingMoreThanItsHeaderSaysIsArchivedWholeOrNotAtAll) {
    QTemporaryDir dir;
    const QString path = dir.path() + "/PLEN20261207120000.wav";
    constexpr int kRate = 22050;
    std::vector<int16_t> samples(3 * kRate * 2);
    for (size_t i = 0; i < samples.size(); ++i) samples[i] = static_cast<int16_t>(i * 7919);
    // Three seconds under a header that tells of one, with no room after it
    // in the RIFF chunk: as a take whose sizes were held at 32 bits.
    WriteTake(path, MakeWaveHeader(2, 16, kRate, 36 + kRate * 4, kRate * 4), samples);
    EXPECT_EQ(platform::UnderstatedPcmFrames(path), 3 * kRate);

    const auto encoder = platform::MakeSndfileTakeEncoder();
    platform::PreparedTake take;
    QString error;
    const QString flac = dir.path() + "/up/t.flac";
    ASSERT_EQ(encoder->Prepare(path, true, flac, &take, &error, {}), platform::PrepareResult::Ok)
        << error.toStdString();
    EXPECT_EQ(take.frames, 3 * kRate);
    EXPECT_EQ(Decode(take.path), samples);
    encoder->Discard(take);
    ASSERT_EQ(encoder->Prepare(path, false, QString(), &take, &error, {}), platform::PrepareResult::Ok);
    EXPECT_EQ(take.frames, 3 * kRate);

    // A file that loses sound while it is encoded is not prepared at all.
    int polls = 0;
    const auto cut = [&] {
        if (++polls == 2) {
            EXPECT_EQ(::truncate(path.toLocal8Bit().constData(), 44 + 2 * kRate * 4), 0);
        }
        return false;
    };
    EXPECT_EQ(encoder->Prepare(path, true, flac, &take, &error, cut), platform::PrepareResult::Failed);
    EXPECT_TRUE(error.contains("ended after")) << error.toStdString();
    EXPECT_FALSE(QFile::exists(flac));

    // A chunk after the sound (room for it in the RIFF chunk): read by the header.
    WriteTake(path, MakeWaveHeader(2, 16, kRate, 36 + kRate * 4 + 12, kRate * 4), samples);
    EXPECT_EQ(platform::UnderstatedPcmFrames(path), -1);
    // The provisional sizes of a take being written: nothing to send.
    WriteTake(path, MakeWaveHeader(2, 16, kRate, 36, 0), samples);
    EXPECT_EQ(platform::UnderstatedPcmFrames(path), -1);
}

// A sparse file: 4 GiB and 64 MiB of sound, taking no room on the disk.
TEST(CappedTakes, ATakeOverFourGiBIsCountedByItsSizeAndTheRepairLeavesItsCappedHeader) {
    testing_support::TestEnvironment env;
    const QString folder = env.AppDir() + "record/";
    ASSERT_TRUE(env.files.MakePath(folder));
    const QString path = folder + "PLEN20261207120000.wav";
    const int64_t size = kWaveHeaderBytes + (int64_t{4} << 30) + (int64_t{64} << 20);
    const WaveHeader capped = MakeWaveHeader(2, 16, 22050, 0xFFFFFFFFu, 0xFFFFFFFFu);
    WriteTake(path, capped, {});
    ASSERT_EQ(::truncate(path.toLocal8Bit().constData(), size), 0);
    EXPECT_EQ(platform::UnderstatedPcmFrames(path), (size - kWaveHeaderBytes) / 4);
    EXPECT_EQ(RepairRecordings(folder), 0);
    QFile f(path);
    ASSERT_TRUE(f.open(QIODevice::ReadOnly));
    EXPECT_EQ(f.read(kWaveHeaderBytes), QByteArray(reinterpret_cast<const char*>(capped.data()), kWaveHeaderBytes));
}
