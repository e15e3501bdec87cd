// SPDX-License-Identifier: GPL-3.0-or-later
// ALSA wave input with a period of several blocks (as the recorder without a
// window opens it), through a running sound server: every buffer arrives
// full, about as many as the time holds, several per wake, and none after a
// reset. Skipped without a reachable server.
#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFileInfo>
#include <QTimer>

#include <array>
#include <vector>

#include "platform/WaveIn.h"

namespace {

bool ServerReachable() {
    QString socket = qEnvironmentVariable("PULSE_RUNTIME_PATH");
    if (socket.isEmpty() && qEnvironmentVariableIsSet("XDG_RUNTIME_DIR"))
        socket = qEnvironmentVariable("XDG_RUNTIME_DIR") + "/pulse";
    return !socket.isEmpty() && QFileInfo::exists(socket + "/native");
}

void Wait(int ms) {
    QEventLoop loop;
    QTimer::singleShot(ms, &loop, &QEventLoop::quit);
    loop.exec();
}

TEST(AlsaWaveIn, FourBlocksPerWakeArriveFullAndTogether) {
    if (!ServerReachable()) GTEST_SKIP() << "no sound server (run under scripts/with-pulse.sh)";
    static int argc = 1;
    static char name[] = "test_wavein_alsa";
    static char* argv[] = {name, nullptr};
    QCoreApplication app(argc, argv);

    constexpr int kBuffers = 30;
    constexpr uint32_t kBytes = 8192;
    std::vector<char> memory(kBuffers * kBytes);
    std::array<platform::WaveInBuffer, kBuffers> buffers{};
    std::unique_ptr<platform::WaveInDevice> alsa = platform::MakeAlsaWaveIn(4);

    QElapsedTimer clock;
    clock.start();
    std::vector<qint64> arrivals;  // ms of each buffer
    int partial = 0;
    int nextIndex = 0;
    int outOfOrder = 0;
    ASSERT_EQ(alsa->Open(0, 44100,
                         [&](platform::WaveInBuffer* b) {
                             arrivals.push_back(clock.elapsed());
                             if (b->bytesRecorded != kBytes) ++partial;
                             if (b->index != nextIndex) ++outOfOrder;
                             nextIndex = (b->index + 1) % kBuffers;
                             alsa->AddBuffer(b);
                         }),
              platform::kWaveOk);
    for (int i = 0; i < kBuffers; ++i) {
        buffers[i] = {memory.data() + i * kBytes, kBytes, 0, i};
        ASSERT_EQ(alsa->AddBuffer(&buffers[i]), platform::kWaveOk);
    }
    ASSERT_EQ(alsa->Start(), platform::kWaveOk);

    // A null sink may hold its monitor's first sound back for a while.
    for (int i = 0; i < 80 && arrivals.empty(); ++i) Wait(100);
    ASSERT_FALSE(arrivals.empty()) << "no buffer arrived";
    Wait(1000);
    const size_t first = arrivals.size();
    const qint64 from = clock.elapsed();
    Wait(4000);
    const size_t count = arrivals.size() - first;
    const double seconds = static_cast<double>(clock.elapsed() - from) / 1000;

    EXPECT_EQ(partial, 0);
    EXPECT_EQ(outOfOrder, 0);
    // 21.5 blocks a second, give or take a period at either end.
    const double expected = seconds * 44100 / 2048;
    EXPECT_GE(static_cast<double>(count), expected - 10) << count << " buffers in " << seconds << " s";
    EXPECT_LE(static_cast<double>(count), expected + 10) << count << " buffers in " << seconds << " s";
    // Buffers of one period come in one turn of the event loop.
    int wakes = 0;
    for (size_t i = first; i < arrivals.size(); ++i)
        if (i == first || arrivals[i] - arrivals[i - 1] > 5) ++wakes;
    EXPECT_LE(wakes, static_cast<int>(count) / 2) << wakes << " wakes for " << count << " buffers";

    ASSERT_EQ(alsa->Reset(), platform::kWaveOk);
    const size_t afterReset = arrivals.size();
    Wait(500);
    EXPECT_EQ(arrivals.size(), afterReset);
    EXPECT_EQ(alsa->Close(), platform::kWaveOk);
}

}  // namespace
