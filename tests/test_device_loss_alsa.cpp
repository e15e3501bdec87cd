// SPDX-License-Identifier: GPL-3.0-or-later
// Wave input and output through a sound server of the test's own that is
// killed under them: the input reports the failure once (and no failure while
// it merely gets no buffers for a while), a device cannot be opened while
// the server is down, and playback that loses its server still gives every
// buffer back. Skipped without pulseaudio.
#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFileInfo>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QThread>

#include <array>
#include <cmath>
#include <cstdlib>
#include <vector>

#include "platform/WaveIn.h"
#include "platform/WaveOut.h"

namespace {

QCoreApplication& App() {
    static int argc = 1;
    static char name[] = "test_device_loss_alsa";
    static char* argv[] = {name, nullptr};
    static QCoreApplication app(argc, argv);
    return app;
}

bool WaitUntil(const std::function<bool()>& done, int ms) {
    QElapsedTimer t;
    t.start();
    while (!done()) {
        if (t.elapsed() > ms) return false;
        App().processEvents(QEventLoop::AllEvents, 20);
        QThread::msleep(5);
    }
    return true;
}

// A PulseAudio with one null sink, in a folder of its own; ALSA's pulse
// plugin in this process reaches it through PULSE_SERVER.
class PrivateServer {
public:
    bool Start() {
        if (!dir_.isValid()) return false;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("XDG_RUNTIME_DIR"), dir_.path());
        env.remove(QStringLiteral("PULSE_SERVER"));
        server_.setProcessEnvironment(env);
        server_.setStandardOutputFile(QProcess::nullDevice());
        server_.setStandardErrorFile(QProcess::nullDevice());
        server_.start(QStringLiteral("pulseaudio"),
                      {"-n", "--daemonize=no", "--exit-idle-time=-1", "--disable-shm=yes",
                       "--load=module-native-protocol-unix", "--load=module-null-sink sink_name=line"});
        if (!server_.waitForStarted(5000)) return false;
        const QString socket = dir_.path() + "/pulse/native";
        qputenv("PULSE_SERVER", ("unix:" + socket).toUtf8());
        return WaitUntil([&] { return QFileInfo::exists(socket); }, 10000);
    }
    void Kill() {
        server_.kill();
        server_.waitForFinished(5000);
        QFile::remove(dir_.path() + "/pulse/native");
    }
    ~PrivateServer() { Kill(); }

private:
    QTemporaryDir dir_;
    QProcess server_;
};

class DeviceLoss : public ::testing::Test {
protected:
    void SetUp() override {
        App();
        if (QStandardPaths::findExecutable(QStringLiteral("pulseaudio")).isEmpty())
            GTEST_SKIP() << "pulseaudio missing";
        ASSERT_TRUE(server.Start()) << "the private sound server did not start";
    }
    void TearDown() override { qunsetenv("PULSE_SERVER"); }

    // Opens the input with `kBuffers` buffers; each buffer that arrives is
    // queued again unless `withhold` is set.
    void OpenInput(int rate = kRate) {
        input = platform::MakeAlsaWaveIn(1);
        input->SetEventHandler([&](platform::WaveInEvent e, int64_t lost) {
            (e == platform::WaveInEvent::Failed ? failures : overruns) += 1;
            if (e == platform::WaveInEvent::Overrun) framesLost += lost;
        });
        ASSERT_EQ(input->Open(0, rate,
                              [&](platform::WaveInBuffer* b) {
                                  ++filled;
                                  if (!withhold) input->AddBuffer(b);
                              }),
                  platform::kWaveOk);
        memory.resize(kBuffers * kBytes);
        for (int i = 0; i < kBuffers; ++i) {
            buffers[i] = {memory.data() + i * kBytes, kBytes, 0, i};
            ASSERT_EQ(input->AddBuffer(&buffers[i]), platform::kWaveOk);
        }
        ASSERT_EQ(input->Start(), platform::kWaveOk);
    }

    static constexpr int kRate = 22050;
    static constexpr int kBuffers = 4;
    static constexpr uint32_t kBytes = 8192;
    PrivateServer server;
    std::unique_ptr<platform::WaveInDevice> input;
    std::vector<char> memory;
    std::array<platform::WaveInBuffer, kBuffers> buffers{};
    int filled = 0, failures = 0, overruns = 0;
    int64_t framesLost = 0;
    bool withhold = false;
};

TEST_F(DeviceLoss, InputReportsTheLostServerOnceAndCannotOpenWithoutIt) {
    OpenInput();
    ASSERT_TRUE(WaitUntil([&] { return filled > 8; }, 10000)) << "no sound arrived";
    EXPECT_EQ(overruns + failures, 0);

    // Buffers held back for longer than the silence limit: no failure, and
    // reading goes on once they are back. (The sound server keeps the sound
    // meanwhile; a card would overrun and report it.)
    withhold = true;
    ASSERT_TRUE(WaitUntil([&] { return filled >= 12; }, 5000));
    QElapsedTimer held;
    held.start();
    WaitUntil([&] { return held.elapsed() > platform::kWaveInSilenceLimitMs + 500; }, 5000);
    withhold = false;
    for (auto& b : buffers) input->AddBuffer(&b);
    const int before = filled;
    ASSERT_TRUE(WaitUntil([&] { return filled > before + 8; }, 5000)) << "reading did not go on";
    EXPECT_EQ(failures, 0);
    EXPECT_EQ(overruns, 0) << "sound the server kept counted as lost";

    server.Kill();
    ASSERT_TRUE(WaitUntil([&] { return failures > 0; }, 10000)) << "the lost server was not reported";
    const int after = filled;
    WaitUntil([&] { return false; }, 500);
    EXPECT_EQ(failures, 1);
    EXPECT_EQ(filled, after) << "buffers arrived after the failure";
    EXPECT_EQ(input->Close(), platform::kWaveOk);

    std::unique_ptr<platform::WaveInDevice> again = platform::MakeAlsaWaveIn(1);
    EXPECT_NE(again->Open(0, kRate, [](platform::WaveInBuffer*) {}), platform::kWaveOk)
        << "opened an input without its sound server";
}

TEST_F(DeviceLoss, SoundTheServerDropsIsReportedAsAnOverrunWithItsLength) {
    // The server keeps about 4 MB for a reader that takes nothing: some 24 s
    // at 44.1 kHz. Held back for 32 s, about 8 s are dropped.
    constexpr int kFastRate = 44100;
    OpenInput(kFastRate);
    ASSERT_TRUE(WaitUntil([&] { return filled > 8; }, 10000)) << "no sound arrived";
    withhold = true;
    ASSERT_TRUE(WaitUntil([&] { return filled >= 12; }, 5000));
    QElapsedTimer held;
    held.start();
    WaitUntil([&] { return held.elapsed() > 32000; }, 40000);
    withhold = false;
    for (auto& b : buffers) input->AddBuffer(&b);
    ASSERT_TRUE(WaitUntil([&] { return overruns > 0; }, 10000)) << "the dropped sound was not reported";
    const int before = filled;
    ASSERT_TRUE(WaitUntil([&] { return filled > before + 8; }, 5000)) << "reading did not go on";
    EXPECT_EQ(overruns, 1);
    EXPECT_EQ(failures, 0);
    EXPECT_GT(framesLost, 4 * kFastRate);
    EXPECT_LT(framesLost, 12 * kFastRate);
    EXPECT_EQ(input->Close(), platform::kWaveOk);
}

TEST_F(DeviceLoss, PlaybackThatLosesItsServerGivesEveryBufferBack) {
    std::unique_ptr<platform::WaveOutDevice> output = platform::MakeAlsaWaveOut();
    constexpr int kSeconds = 6;
    std::vector<int16_t> tone(size_t(kRate) * kSeconds * 2);
    for (size_t i = 0; i < tone.size(); ++i) tone[i] = int16_t(8000 * std::sin(double(i / 2) * 0.06));
    std::array<platform::WaveOutBuffer, kSeconds> parts;
    int done = 0, opened = 0, closed = 0;
    platform::WaveOutDevice::Handlers handlers;
    handlers.onOpen = [&] { ++opened; };
    handlers.onDone = [&](platform::WaveOutBuffer*) { ++done; };
    handlers.onClose = [&] { ++closed; };
    const platform::WaveFormat format{1, 2, uint32_t(kRate), uint32_t(kRate) * 4, 4, 16};
    ASSERT_EQ(output->Open(format, handlers), platform::kWaveOk);
    for (int i = 0; i < kSeconds; ++i) {
        parts[size_t(i)] = {reinterpret_cast<char*>(tone.data()) + size_t(i) * kRate * 4, uint32_t(kRate) * 4, i};
        ASSERT_EQ(output->Write(&parts[size_t(i)]), platform::kWaveOk);
    }
    ASSERT_TRUE(WaitUntil([&] { return done >= 1; }, 5000)) << "nothing was played";
    server.Kill();
    ASSERT_TRUE(WaitUntil([&] { return done == kSeconds; }, 15000)) << "buffers stayed with the lost device";
    EXPECT_EQ(output->Close(), platform::kWaveOk);
    ASSERT_TRUE(WaitUntil([&] { return closed == 1; }, 2000));
    EXPECT_EQ(opened, 1);
}

}  // namespace
