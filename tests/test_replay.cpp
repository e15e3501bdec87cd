// SPDX-License-Identifier: GPL-3.0-or-later
// Replay of generated sound through the built program: the takes, their
// names, lengths and bytes, and the refusals that write nothing.
#include <gtest/gtest.h>

#include <QDateTime>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>

#include "support/TestSupport.h"
#include <QProcess>
#include <QTemporaryDir>
#include <QThread>
#include <QtEndian>

#include <sndfile.h>

#include <algorithm>
#include <csignal>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <numbers>
#include <vector>

#include "capture/BlockAnalysis.h"

namespace {

constexpr int kFrames = 2048;  // frames per block

// Interleaved 16-bit samples of a sound being built segment by segment.
struct Sound {
    int rate = 44100;
    int channels = 2;
    std::vector<int> dc;  // offset per channel
    std::vector<int16_t> samples;
    int64_t frames() const { return static_cast<int64_t>(samples.size()) / channels; }

    void Add(int64_t count, double amplitude, double noise = 0) {
        for (int64_t i = 0; i < count; ++i) {
            const double t = static_cast<double>(frames()) / rate;
            const double tone = amplitude * std::sin(2 * std::numbers::pi * 440 * t);
            for (int c = 0; c < channels; ++c) {
                noiseState_ = noiseState_ * 1103515245u + 12345u;
                const double n = noise * (static_cast<double>((noiseState_ >> 8) % 2001) / 1000.0 - 1.0);
                const double v = std::clamp(tone + n + dc[static_cast<size_t>(c)], -32768.0, 32767.0);
                samples.push_back(static_cast<int16_t>(std::lrint(v)));
            }
        }
    }
    void Tone(int64_t count) { Add(count, 6000); }
    void Quiet(int64_t count) { Add(count, 0); }

private:
    uint32_t noiseState_ = 1;
};

void Put32(QByteArray& b, uint32_t v) {
    char c[4];
    qToLittleEndian(v, c);
    b.append(c, 4);
}
void Put16(QByteArray& b, uint16_t v) {
    char c[2];
    qToLittleEndian(v, c);
    b.append(c, 2);
}

struct WavOptions {
    bool oddChunkFirst = false;  // a "LIST" chunk of odd size before "fmt "
    bool dataSizeZero = false;   // as a recording that was never closed
    uint16_t bits = 16;
};

QByteArray WavBytes(const Sound& s, WavOptions o = {}) {
    QByteArray data(reinterpret_cast<const char*>(s.samples.data()),
                    static_cast<qsizetype>(s.samples.size() * 2));
    if (o.bits == 8) data = data.left(data.size() / 2);
    QByteArray b("RIFF");
    QByteArray body("WAVE");
    if (o.oddChunkFirst) {
        body.append("LIST");
        Put32(body, 3);
        body.append("abc\0", 4);  // three bytes and the pad byte
    }
    body.append("fmt ");
    Put32(body, 16);
    Put16(body, 1);
    Put16(body, static_cast<uint16_t>(s.channels));
    Put32(body, static_cast<uint32_t>(s.rate));
    Put32(body, static_cast<uint32_t>(s.rate * s.channels * o.bits / 8));
    Put16(body, static_cast<uint16_t>(s.channels * o.bits / 8));
    Put16(body, o.bits);
    body.append("data");
    Put32(body, o.dataSizeZero ? 0u : static_cast<uint32_t>(data.size()));
    body.append(data);
    Put32(b, static_cast<uint32_t>(body.size()));
    b.append(body);
    return b;
}

void WriteFile(const QString& path, const QByteArray& bytes) {
    QFile f(path);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    ASSERT_EQ(f.write(bytes), bytes.size());
}

// The corrected capture blocks of a sound: stereo (mono doubled), the last
// block filled up with silence, each channel's mean removed per block.
struct Blocks {
    std::vector<std::vector<int16_t>> corrected;
    std::vector<double> levels;
};

Blocks Correct(const Sound& s) {
    Blocks out;
    const int64_t frames = s.frames();
    for (int64_t first = 0; first < frames; first += kFrames) {
        std::vector<int16_t> block(2 * kFrames, 0);
        for (int64_t f = first; f < std::min(frames, first + kFrames); ++f)
            for (int c = 0; c < 2; ++c)
                block[static_cast<size_t>(2 * (f - first) + c)] =
                    s.samples[static_cast<size_t>(f * s.channels + (s.channels == 2 ? c : 0))];
        out.levels.push_back(AnalyseBlock(block.data(), kCaptureBlock));
        out.corrected.push_back(std::move(block));
    }
    return out;
}

struct Take {
    int64_t first;   // block that opened it
    int64_t blocks;  // blocks in the file
    bool kept;
    bool operator==(const Take&) const = default;
};

std::ostream& operator<<(std::ostream& os, const Take& t) {
    return os << "{first " << t.first << ", " << t.blocks << " blocks, " << (t.kept ? "kept" : "deleted") << "}";
}

// The voice trigger worked out by hand over the block levels: a take opens on
// a block louder than the last idle quiet block plus the margin, ends after
// more than three seconds of quiet, stays when ten seconds or more long; the
// end of the sound keeps an open take.
std::vector<Take> VoiceTakes(const std::vector<double>& levels, int margin, int rate) {
    std::vector<Take> takes;
    int floor = 100;
    int loud = 0;
    int quiet = 0;
    bool open = false;
    Take take{};
    for (int64_t k = 0; k < static_cast<int64_t>(levels.size()); ++k) {
        const double L = levels[static_cast<size_t>(k)];
        const bool isQuiet = L <= floor + margin;
        loud = isQuiet ? 0 : loud + 1;
        if (!open && loud >= 1) {
            open = true;
            take = {k, 0, false};
            quiet = 0;
            loud = 0;
        }
        if (open) {
            ++take.blocks;
            quiet = isQuiet ? quiet + 1 : 0;
            if (int64_t{quiet} * kFrames > 3 * int64_t{rate}) {
                take.kept = take.blocks * kFrames >= 10 * int64_t{rate};
                takes.push_back(take);
                open = false;
            }
        } else if (loud == 0) {
            floor = static_cast<int>(std::nearbyint(L));
        }
    }
    if (open) {
        take.kept = true;
        takes.push_back(take);
    }
    return takes;
}

// Named when the opening block would have been complete, less the pre-roll
// of `preRoll` frames that the take begins with.
QString NameOf(const QDateTime& start, const Take& t, int rate, int64_t preRoll = 0) {
    return "PLEN" +
           start.addMSecs((t.first + 1) * kFrames * 1000 / rate)
               .addMSecs(-(preRoll * 1000 / rate))
               .toString("yyyyMMddHHmmss") +
           ".wav";
}

uint32_t U32(const QByteArray& b, int at) { return qFromLittleEndian<uint32_t>(b.constData() + at); }
uint16_t U16(const QByteArray& b, int at) { return qFromLittleEndian<uint16_t>(b.constData() + at); }

struct Outcome {
    int code = -1;
    QString out;
    QString err;
};

class ReplayTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        program_ = new QTemporaryDir();
        const QString exe = program_->filePath("Somorabox");
        ASSERT_TRUE(testing_support::CopyProgram(program_->path()));
    }
    static void TearDownTestSuite() {
        delete program_;
        program_ = nullptr;
    }

    void SetUp() override { Config("[Settings]\nRecordingLevel=2\n"); }

    // config.ini beside the program.
    void Config(const QByteArray& text) { WriteFile(program_->filePath("config.ini"), text); }

    Outcome Replay(const QStringList& args) {
        QProcess p;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert("XDG_CONFIG_HOME", work.filePath("config"));
        p.setProcessEnvironment(env);
        p.start(program_->filePath("Somorabox"), QStringList{"--replay"} + args);
        Outcome r;
        if (!p.waitForFinished(120000)) {
            p.kill();
            p.waitForFinished();
            return r;
        }
        r.code = p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1;
        r.out = QString::fromLocal8Bit(p.readAllStandardOutput());
        r.err = QString::fromLocal8Bit(p.readAllStandardError());
        return r;
    }

    QStringList Files(const QString& dir) {
        return QDir(dir).entryList(QDir::Files | QDir::Hidden | QDir::NoDotAndDotDot, QDir::Name);
    }

    // The output of a replay of `sound` that made `expected` takes, each
    // preceded by up to `preRollMs` of the sound since the previous take.
    void ExpectTakes(const Outcome& run, const QString& out, const Sound& sound, const QDateTime& start,
                     const std::vector<Take>& expected, int preRollMs = 0) {
        ASSERT_EQ(run.code, 0) << run.err.toStdString();
        const Blocks blocks = Correct(sound);
        QStringList lines;
        QStringList keptNames;
        int kept = 0;
        int64_t previousEnd = 0;
        for (const Take& t : expected) {
            const int64_t pre = std::min<int64_t>(int64_t{preRollMs} * sound.rate / 1000,
                                                  (t.first - previousEnd) * kFrames);
            previousEnd = t.first + t.blocks;
            const QString name = NameOf(start, t, sound.rate, pre);
            const QString seconds =
                QString::number(static_cast<double>(pre + t.blocks * kFrames) / sound.rate, 'f', 1);
            lines << "opened " + name << (t.kept ? "kept " : "deleted ") + name + " " + seconds + " s";
            if (!t.kept) continue;
            ++kept;
            keptNames << name;
            QFile f(out + "/" + name);
            ASSERT_TRUE(f.open(QIODevice::ReadOnly)) << name.toStdString();
            const QByteArray bytes = f.readAll();
            ASSERT_EQ(bytes.size(), 44 + pre * 4 + t.blocks * 8192) << name.toStdString();
            EXPECT_EQ(bytes.left(4), "RIFF");
            EXPECT_EQ(U32(bytes, 4), static_cast<uint32_t>(bytes.size() - 8));
            EXPECT_EQ(U16(bytes, 20), 1);
            EXPECT_EQ(U16(bytes, 22), 2);
            EXPECT_EQ(U32(bytes, 24), static_cast<uint32_t>(sound.rate));
            EXPECT_EQ(U32(bytes, 28), static_cast<uint32_t>(4 * sound.rate));
            EXPECT_EQ(U16(bytes, 34), 16);
            EXPECT_EQ(U32(bytes, 40), static_cast<uint32_t>(bytes.size() - 44));
            // The frames of the corrected sound from the pre-roll's start on.
            const int64_t from = t.first * kFrames - pre;
            for (int64_t f = 0, total = pre + t.blocks * kFrames; f < total;) {
                const int64_t frame = from + f;
                const int64_t n = std::min<int64_t>(kFrames - frame % kFrames, total - f);
                const auto& want = blocks.corrected[static_cast<size_t>(frame / kFrames)];
                ASSERT_EQ(std::memcmp(bytes.constData() + 44 + f * 4, want.data() + frame % kFrames * 2,
                                      static_cast<size_t>(n * 4)),
                          0)
                    << name.toStdString() << " frame " << f;
                f += n;
            }
        }
        QStringList printed = run.out.split('\n', Qt::SkipEmptyParts);
        ASSERT_FALSE(printed.isEmpty());
        const QString summary = printed.takeLast();
        EXPECT_EQ(printed, lines);
        EXPECT_TRUE(summary.startsWith(QStringLiteral("takes kept: %1, deleted: %2, ")
                                           .arg(kept)
                                           .arg(expected.size() - static_cast<size_t>(kept))))
            << summary.toStdString();
        EXPECT_EQ(Files(out), keptNames);
    }

    static QTemporaryDir* program_;
    QTemporaryDir work;
};

QTemporaryDir* ReplayTest::program_ = nullptr;

const QDateTime kStart(QDate(2026, 12, 7), QTime(10, 0, 0));
const QString kStartText = "2026-12-07 10:00:00";

TEST_F(ReplayTest, TonesAndPausesAt44100WithDcOffset) {
    Sound s;
    s.rate = 44100;
    s.dc = {1500, -2500};
    s.Quiet(22 * kFrames);
    s.Tone(258 * kFrames);  // 12 s
    s.Quiet(54 * kFrames);  // 2.5 s: the take goes on
    s.Tone(43 * kFrames);   // 2 s
    s.Quiet(75 * kFrames);  // 3.5 s: the take ends after 65 quiet blocks
    s.Tone(86 * kFrames);   // 4 s: 151 blocks in all, deleted
    s.Quiet(100 * kFrames);
    s.Tone(151 * kFrames);  // 151 + 65 = 216 blocks, just ten seconds: kept
    s.Quiet(100 * kFrames);
    s.Tone(150 * kFrames);  // 215 blocks: deleted
    s.Quiet(100 * kFrames);
    s.Tone(43 * kFrames);   // still sounding near the end
    s.Quiet(1000);          // the last block is filled up with silence
    const std::vector<Take> expected = {
        {22, 258 + 54 + 43 + 65, true}, {452, 86 + 65, false}, {638, 216, true},
        {889, 215, false},              {1139, 44, true},  // open at the end: kept however short
    };
    ASSERT_EQ(VoiceTakes(Correct(s).levels, 2, s.rate), expected);

    const QString wav = work.filePath("in.wav");
    WriteFile(wav, WavBytes(s));
    const QString out = work.filePath("out");
    const Outcome run = Replay({wav, "--out", out, "--start", kStartText});
    ExpectTakes(run, out, s, kStart, expected);
    EXPECT_TRUE(run.out.contains("PLEN20261207100001.wav")) << run.out.toStdString();
}

TEST_F(ReplayTest, NoisyMonoAt11025WithTheSettingsMargin) {
    Config("[Settings]\nRecordingLevel=6\nManualMode=1\nSamplingRate=44100\n");
    Sound s;
    s.rate = 11025;
    s.channels = 1;
    s.dc = {4000};
    const auto sec = [&](double t) { return static_cast<int64_t>(t * s.rate); };
    s.Add(sec(0.7), 0, 300);
    s.Add(sec(12.3), 6000, 300);
    s.Add(sec(2.5), 0, 300);  // shorter than the quiet that ends a take
    s.Add(sec(1.0), 6000, 300);
    s.Add(sec(3.5), 0, 300);
    s.Add(sec(4.0), 6000, 300);
    s.Add(sec(4.0), 0, 300);
    const std::vector<Take> expected = VoiceTakes(Correct(s).levels, 6, s.rate);
    ASSERT_EQ(expected.size(), 2u);
    EXPECT_TRUE(expected[0].kept);
    EXPECT_FALSE(expected[1].kept);

    const QString wav = work.filePath("mono.wav");
    WriteFile(wav, WavBytes(s));
    const QString out = work.filePath("takes");
    ExpectTakes(Replay({wav, "--out", out, "--start", kStartText}), out, s, kStart, expected);
}

TEST_F(ReplayTest, PreRollPrecedesTheSameTakesWithTheSoundSinceThePreviousOne) {
    Sound s;
    s.rate = 11025;
    s.dc = {800, -1200};
    s.Quiet(3 * kFrames);   // the first take can reach back only to the start
    s.Tone(60 * kFrames);
    s.Quiet(21 * kFrames);  // 17 end the take; 4 before the next one
    s.Tone(60 * kFrames);
    s.Quiet(50 * kFrames);
    s.Tone(30 * kFrames);   // under ten seconds from its start: deleted, pre-roll or not
    s.Quiet(50 * kFrames);
    s.Tone(70 * kFrames);
    s.Quiet(20 * kFrames);
    const std::vector<Take> expected = VoiceTakes(Correct(s).levels, 2, s.rate);
    ASSERT_EQ(expected.size(), 4u);
    EXPECT_EQ(expected[0].first, 3);
    EXPECT_EQ(expected[1].first - (expected[0].first + expected[0].blocks), 4);
    EXPECT_FALSE(expected[2].kept);

    const QString wav = work.filePath("in.wav");
    WriteFile(wav, WavBytes(s));
    // 1.5 s is eight blocks and part of a ninth; a value above the largest
    // (5 s, 27 blocks) counts as the largest.
    for (const auto& [text, ms] : {std::pair{"1500", 1500}, std::pair{"99999", 5000}}) {
        Config(QByteArray("[Settings]\nRecordingLevel=2\n[Recording]\nPreRollMs=") + text + "\n");
        const QString out = work.filePath(QStringLiteral("out%1").arg(ms));
        ExpectTakes(Replay({wav, "--out", out, "--start", kStartText}), out, s, kStart, expected, ms);
    }
}

// Takes split on whole minutes: their files, one after the other, hold the
// sound the trigger kept, frame for frame; a short take across a minute goes
// in whole, and a long one keeps its first file however short.
TEST_F(ReplayTest, TakesSplitOnWholeMinutesHoldTheKeptSoundFrameForFrame) {
    Sound s;
    s.rate = 11025;
    s.dc = {0, 0};
    s.Quiet(3 * kFrames);
    s.Tone(800 * kFrames);   // 10:00:00.7 to 10:02:32: three files
    s.Quiet(150 * kFrames);
    s.Tone(27 * kFrames);    // 10:02:57 on, 8 s in all: both files go
    s.Quiet(285 * kFrames);
    s.Tone(108 * kFrames);   // 10:03:55 on: 4.8 s, then the rest from 10:04
    s.Quiet(20 * kFrames);
    const Blocks blocks = Correct(s);
    const std::vector<Take> takes = VoiceTakes(blocks.levels, 2, s.rate);
    ASSERT_EQ(takes.size(), 3u);
    EXPECT_FALSE(takes[1].kept);
    QByteArray kept;
    for (const Take& t : takes)
        for (int64_t b = t.first; t.kept && b < t.first + t.blocks; ++b)
            kept.append(reinterpret_cast<const char*>(blocks.corrected[static_cast<size_t>(b)].data()), 8192);

    const QString wav = work.filePath("long.wav");
    WriteFile(wav, WavBytes(s));
    Config("[Settings]\nRecordingLevel=2\n[Recording]\nMaxTakeMinutes=1\n");
    const QString out = work.filePath("out");
    const Outcome run = Replay({wav, "--out", out, "--start", kStartText});
    ASSERT_EQ(run.code, 0) << run.err.toStdString();
    EXPECT_TRUE(run.out.contains("takes kept: 5, deleted: 2, ")) << run.out.toStdString();
    const QStringList files = Files(out);
    ASSERT_EQ(files, (QStringList{"PLEN20261207100000.wav", "PLEN20261207100100.wav", "PLEN20261207100200.wav",
                                  "PLEN20261207100355.wav", "PLEN20261207100400.wav"}));
    QByteArray joined;
    for (const QString& name : files) {
        QFile f(out + "/" + name);
        ASSERT_TRUE(f.open(QIODevice::ReadOnly));
        const QByteArray bytes = f.readAll();
        EXPECT_EQ(U32(bytes, 40), static_cast<uint32_t>(bytes.size() - 44)) << name.toStdString();
        EXPECT_LE(bytes.size() - 44, 60 * 4 * s.rate) << name.toStdString();
        joined += bytes.mid(44);
    }
    ASSERT_EQ(joined.size(), kept.size());
    EXPECT_TRUE(joined == kept);
}

// One second of quiet, two of tone, running to the end of the file.
Sound ShortTake() {
    Sound s;
    s.rate = 11025;
    s.dc = {0, 0};
    s.Quiet(11025);
    s.Tone(22050);
    return s;
}

TEST_F(ReplayTest, StartTimeFromTheFileAndNamesThatAreTakenStayIntact) {
    const Sound s = ShortTake();
    const std::vector<Take> expected = VoiceTakes(Correct(s).levels, 2, s.rate);
    ASSERT_EQ(expected.size(), 1u);
    const QString wav = work.filePath("short.wav");
    WriteFile(wav, WavBytes(s));
    // Written at 12:00:30 after three seconds of sound: it began at 12:00:27.
    const QDateTime written(QDate(2026, 3, 1), QTime(12, 0, 30));
    {
        QFile f(wav);
        ASSERT_TRUE(f.open(QIODevice::ReadWrite));
        ASSERT_TRUE(f.setFileTime(written, QFileDevice::FileModificationTime));
    }
    const QString out = work.filePath("out");
    const QDateTime start = written.addSecs(-3);
    ExpectTakes(Replay({wav, "--out", out}), out, s, start, expected);
    const QString name = NameOf(start, expected[0], s.rate);
    EXPECT_EQ(name, "PLEN20260301120028.wav");

    // Again into the same folder: the first take stays, the new one gets "-2".
    QFile first(out + "/" + name);
    ASSERT_TRUE(first.open(QIODevice::ReadOnly));
    const QByteArray before = first.readAll();
    first.close();
    const Outcome again = Replay({wav, "--out", out});
    ASSERT_EQ(again.code, 0);
    EXPECT_TRUE(again.out.startsWith("opened PLEN20260301120028-2.wav\n")) << again.out.toStdString();
    EXPECT_EQ(Files(out), QStringList({"PLEN20260301120028-2.wav", name}));
    ASSERT_TRUE(first.open(QIODevice::ReadOnly));
    EXPECT_EQ(first.readAll(), before);
}

TEST_F(ReplayTest, UnusualChunksPacedReplayAndRecordingLeftOpen) {
    const Sound s = ShortTake();
    const std::vector<Take> expected = VoiceTakes(Correct(s).levels, 2, s.rate);
    // A chunk of odd size before the format, and the data size of a
    // recording that was never closed (the data runs to the end of the file).
    const QString wav = work.filePath("open.wav");
    WriteFile(wav, WavBytes(s, {.oddChunkFirst = true, .dataSizeZero = true}));
    const QString out = work.filePath("paced");
    QElapsedTimer clock;
    clock.start();
    const Outcome run = Replay({wav, "--realtime", "--out", out, "--start", kStartText});
    const qint64 ms = clock.elapsed();
    ExpectTakes(run, out, s, kStart, expected);
    // Three seconds of sound handed on at their own pace.
    EXPECT_GE(ms, 2500);
}

TEST_F(ReplayTest, AnInterruptedReplayKeepsItsOpenTake) {
    Sound s;
    s.rate = 11025;
    s.dc = {0, 0};
    s.Quiet(11025);
    s.Tone(30 * 11025);
    const QString wav = work.filePath("long.wav");
    WriteFile(wav, WavBytes(s));
    const QString out = work.filePath("out");
    QProcess p;
    p.start(program_->filePath("Somorabox"), {"--replay", wav, "--realtime", "--out", out});
    ASSERT_TRUE(p.waitForStarted());
    // The take opens about a second into the sound.
    QByteArray printed;
    for (int i = 0; i < 100 && !printed.contains("opened "); ++i) {
        p.waitForReadyRead(100);
        printed += p.readAllStandardOutput();
    }
    ASSERT_TRUE(printed.contains("opened ")) << printed.toStdString();
    QThread::msleep(1000);
    ::kill(static_cast<pid_t>(p.processId()), SIGINT);
    ASSERT_TRUE(p.waitForFinished(10000));
    EXPECT_EQ(p.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(p.exitCode(), 128 + SIGINT);
    printed += p.readAllStandardOutput();
    EXPECT_TRUE(printed.contains("\nkept PLEN")) << printed.toStdString();
    EXPECT_TRUE(printed.contains("takes kept: 1, deleted: 0")) << printed.toStdString();
    EXPECT_TRUE(p.readAllStandardError().contains("stopped by a signal"));
    const QStringList takes = Files(out);
    ASSERT_EQ(takes.size(), 1);
    QFile f(out + "/" + takes[0]);
    ASSERT_TRUE(f.open(QIODevice::ReadOnly));
    const QByteArray bytes = f.readAll();
    ASSERT_GT(bytes.size(), 44 + 8192);
    EXPECT_EQ(U32(bytes, 4), static_cast<uint32_t>(bytes.size() - 8));
    EXPECT_EQ(U32(bytes, 40), static_cast<uint32_t>(bytes.size() - 44));
    EXPECT_EQ((bytes.size() - 44) % 8192, 0);
}

// `s` written by libsndfile in `format`; with `extra` channels beyond the
// sound's own, which hold a loud tone that must not reach the takes.
void WriteSoundFile(const QString& path, const Sound& s, int format, int extra = 0) {
    const int channels = s.channels + extra;
    SF_INFO info{};
    info.samplerate = s.rate;
    info.channels = channels;
    info.format = format;
    SNDFILE* f = sf_open(QFile::encodeName(path).constData(), SFM_WRITE, &info);
    ASSERT_NE(f, nullptr) << sf_strerror(nullptr);
    std::vector<int16_t> frames;
    for (int64_t k = 0; k < s.frames(); ++k) {
        for (int c = 0; c < s.channels; ++c) frames.push_back(s.samples[static_cast<size_t>(k * s.channels + c)]);
        for (int c = 0; c < extra; ++c) frames.push_back(static_cast<int16_t>(k % 2 ? 30000 : -30000));
    }
    if ((format & SF_FORMAT_SUBMASK) == SF_FORMAT_FLOAT) {
        // Floating-point sound at full scale 1.0, as sound editors write it.
        std::vector<double> reals(frames.begin(), frames.end());
        for (double& v : reals) v /= 32768;
        ASSERT_EQ(sf_writef_double(f, reals.data(), s.frames()), s.frames());
    } else {
        ASSERT_EQ(sf_writef_short(f, frames.data(), s.frames()), s.frames());
    }
    ASSERT_EQ(sf_close(f), 0);
}

TEST_F(ReplayTest, WiderFormatsMadeFromTheSameSoundGiveTheSameTakes) {
    Sound s;
    s.rate = 22050;
    s.dc = {700, -300};
    s.Add(15 * kFrames, 0, 200);
    s.Add(120 * kFrames, 6000, 200);  // about 11 s: kept
    s.Add(40 * kFrames, 0, 200);
    s.Add(30 * kFrames, 6000, 200);  // deleted
    s.Add(40 * kFrames + 99, 0, 200);
    const std::vector<Take> expected = VoiceTakes(Correct(s).levels, 2, s.rate);
    ASSERT_EQ(expected.size(), 2u);

    const struct {
        const char* name;
        int format;
        int extra;
    } formats[] = {
        {"24.wav", SF_FORMAT_WAV | SF_FORMAT_PCM_24, 0},
        {"32.wav", SF_FORMAT_WAV | SF_FORMAT_PCM_32, 0},
        {"float.wav", SF_FORMAT_WAV | SF_FORMAT_FLOAT, 0},
        {"extensible.wav", SF_FORMAT_WAVEX | SF_FORMAT_PCM_24, 0},
        {"16.flac", SF_FORMAT_FLAC | SF_FORMAT_PCM_16, 0},
        {"24.flac", SF_FORMAT_FLAC | SF_FORMAT_PCM_24, 0},
        {"16.aiff", SF_FORMAT_AIFF | SF_FORMAT_PCM_16, 0},
        {"four-channels.wav", SF_FORMAT_WAV | SF_FORMAT_PCM_16, 2},
    };
    for (const auto& f : formats) {
        SCOPED_TRACE(f.name);
        const QString path = work.filePath(f.name);
        WriteSoundFile(path, s, f.format, f.extra);
        const QString out = work.filePath(QStringLiteral("out-") + f.name);
        ExpectTakes(Replay({path, "--out", out, "--start", kStartText}), out, s, kStart, expected);
    }

    // A FLAC file cut off in its middle: the takes up to the cut are kept,
    // and the run says it did not reach the end.
    QFile flac(work.filePath("24.flac"));
    ASSERT_TRUE(flac.open(QIODevice::ReadOnly));
    const QByteArray whole = flac.readAll();
    const QString cut = work.filePath("cut.flac");
    WriteFile(cut, whole.left(whole.size() * 3 / 4));
    const Outcome run = Replay({cut, "--out", work.filePath("cut"), "--start", kStartText});
    EXPECT_EQ(run.code, 1);
    EXPECT_TRUE(run.err.contains("could be read only up to")) << run.err.toStdString();
    EXPECT_EQ(run.err.count('\n'), 1);
    EXPECT_TRUE(run.out.contains("kept " + NameOf(kStart, expected[0], s.rate))) << run.out.toStdString();
}

TEST_F(ReplayTest, RefusalsWriteNothing) {
    Sound s = ShortTake();
    const QString good = work.filePath("good.wav");
    WriteFile(good, WavBytes(s));
    const QString text = work.filePath("text.wav");
    WriteFile(text, "this is no sound file at all, just some words\n");
    const QString nothing = work.filePath("nothing.wav");
    WriteFile(nothing, WavBytes(Sound()));
    const QString truncated = work.filePath("truncated.wav");
    WriteFile(truncated, WavBytes(s).left(30));
    const QString empty = work.filePath("empty.wav");
    WriteFile(empty, QByteArray());
    const QString out = work.filePath("never/made");

    const struct {
        QStringList args;
        const char* what;
    } cases[] = {
        {{text, "--out", out}, "is not a sound file"},
        {{nothing, "--out", out}, "holds no sound"},
        {{truncated, "--out", out}, "cannot be read"},
        {{empty, "--out", out}, "is empty"},
        {{work.filePath("missing.wav"), "--out", out}, "cannot be opened"},
        {{good, "--out", "/etc/passwd/x"}, "cannot write to the folder"},
        {{good, "--out", "/proc/somora-test"}, "cannot write to the folder"},
        {{good, "--out", out, "--speed"}, "unknown option '--speed'"},
        {{good, "--out"}, "--out needs a value"},
        {{good, "--out", out, "--start"}, "--start needs a value"},
        {{good, "--out", out, "--start", "2026-02-30 10:00:00"}, "--start wants"},
        {{good, good, "--out", out}, "one sound file at a time"},
        {{"--out", out}, "needs a sound file"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.args.join(' ').toStdString());
        const Outcome run = Replay(c.args);
        EXPECT_EQ(run.code, 2);
        EXPECT_TRUE(run.out.isEmpty()) << run.out.toStdString();
        EXPECT_EQ(run.err.count('\n'), 1) << run.err.toStdString();
        EXPECT_TRUE(run.err.contains(c.what)) << run.err.toStdString();
        EXPECT_FALSE(QDir(work.filePath("never")).exists());
    }
    EXPECT_EQ(Files(work.path()), QStringList({"empty.wav", "good.wav", "nothing.wav", "text.wav", "truncated.wav"}));
}

TEST(ProgramOptions, HelpListsTheModesAndUnknownOptionsAreRefused) {
    QProcess help;
    help.start(QString::fromLocal8Bit(SOMORABOX_EXE_PATH), {"--help"});
    ASSERT_TRUE(help.waitForFinished(10000));
    EXPECT_EQ(help.exitCode(), 0);
    const QString text = QString::fromLocal8Bit(help.readAllStandardOutput());
    for (const char* option : {"--headless", "--replay", "--out", "--realtime", "--start", "ManualMode", "--web"})
        EXPECT_TRUE(text.contains(option)) << option;

    for (const QStringList& args : {QStringList{"--bogus"}, QStringList{"--headless", "--now"},
                                    QStringList{"--headless", "--web"}, QStringList{"--headless", "--web", "nowhere:80"}}) {
        QProcess p;
        p.start(QString::fromLocal8Bit(SOMORABOX_EXE_PATH), args);
        ASSERT_TRUE(p.waitForFinished(10000));
        EXPECT_EQ(p.exitCode(), 2);
        EXPECT_TRUE(p.readAllStandardOutput().isEmpty());
        EXPECT_EQ(p.readAllStandardError().count('\n'), 1);
    }
}

}  // namespace
