// SPDX-License-Identifier: GPL-3.0-or-later
// The live stream and the page's metrics. With a scripted encoder: a
// listener who joins late gets the header pages first and then whole pages;
// a listener that stops reading is dropped while the others go on, and
// feeding never waits. Over HTTP on 127.0.0.1 with the real encoder: the
// stream is Ogg Opus from its first byte, a listener beyond the cap gets
// 503 and the connection closed, a look-alike path is no stream, and
// /metrics counts what it should; listeners coming and going at once while
// the encoder starts, stops and changes rate leave every place free.
#include <gtest/gtest.h>

#include <QDir>

#include <httplib.h>
#include <prometheus/counter.h>

#include <atomic>
#include <cmath>
#include <cstring>
#include <mutex>
#include <thread>
#include <vector>

#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include "support/TestSupport.h"
#include "web/LiveStream.h"
#include "http/Metrics.h"
#include "web/WebServer.h"

using testing_support::WaitUntil;

namespace {

constexpr int kFrames = 2048;

// Two header pages at its start, then one 1 KB page per block, numbered.
class ScriptedEncoder : public platform::LiveEncoder {
public:
    explicit ScriptedEncoder(PageSink sink) : sink_(std::move(sink)) {
        sink_(reinterpret_cast<const unsigned char*>("<head1>"), 7, true);
        sink_(reinterpret_cast<const unsigned char*>("<head2>"), 7, true);
    }
    bool Encode(const int16_t*, int) override {
        std::string page = "<page" + std::to_string(next_++) + ">";
        page.resize(1024, '.');
        sink_(reinterpret_cast<const unsigned char*>(page.data()), page.size(), false);
        return true;
    }

private:
    PageSink sink_;
    int next_ = 0;
};

LiveStream::Limits SmallLimits() {
    LiveStream::Limits limits;
    limits.maxListeners = 3;
    limits.queueBytes = 16 * 1024;
    limits.waitMs = 10;
    return limits;
}

// One listener's answer, pulled as the server's worker would.
struct Listener {
    std::unique_ptr<httplib::Response> res = std::make_unique<httplib::Response>();
    std::string got;
    // One turn of the stream's provider; false once the stream ended it.
    bool Pull() {
        httplib::DataSink sink;
        sink.write = [this](const char* data, size_t n) {
            got.append(data, n);
            return true;
        };
        return res->content_provider_(0, 0, sink);
    }
    bool Has(int page) const { return got.find("<page" + std::to_string(page) + ">") != std::string::npos; }
};

std::vector<int16_t> Tone(int rate, int frames, int64_t* phase) {
    std::vector<int16_t> block(2 * static_cast<size_t>(frames));
    for (int i = 0; i < frames; ++i, ++*phase) {
        const auto v = static_cast<int16_t>(8000 * std::sin(2 * M_PI * 440 * static_cast<double>(*phase) / rate));
        block[2 * static_cast<size_t>(i)] = block[2 * static_cast<size_t>(i) + 1] = v;
    }
    return block;
}

TEST(LiveStream, LateListenersStartWithTheHeadersAndSlowOnesAreDropped) {
    testing_support::CoreApp();
    LiveStream live(SmallLimits(), [](int, int, const LiveStream::Limits&, platform::LiveEncoder::PageSink sink,
                                      QString*) { return std::make_unique<ScriptedEncoder>(std::move(sink)); });
    live.Open();
    const std::vector<int16_t> block(2 * kFrames, 0);
    // Nobody listens: nothing is copied, nothing encoded.
    for (int i = 0; i < 10; ++i) live.Feed(block.data(), kFrames, 44100);

    Listener first;
    live.Serve(*first.res);
    ASSERT_EQ(first.res->status, 200);
    EXPECT_EQ(live.Listeners(), 1);
    live.Feed(block.data(), kFrames, 44100);
    ASSERT_TRUE(WaitUntil([&] { return first.Pull() && first.Has(0); }, 5000));
    EXPECT_EQ(first.got.rfind("<head1><head2><page0>", 0), 0u) << first.got.substr(0, 40);

    // The second joins a running stream: the headers, then the next page.
    Listener late, stalled;
    live.Serve(*late.res);
    live.Serve(*stalled.res);
    Listener refused;
    live.Serve(*refused.res);
    EXPECT_EQ(refused.res->status, 503);
    EXPECT_EQ(refused.res->get_header_value("Connection"), "close");
    live.Feed(block.data(), kFrames, 44100);
    ASSERT_TRUE(WaitUntil([&] { return late.Pull() && late.Has(1); }, 5000));
    EXPECT_EQ(late.got.rfind("<head1><head2><page1>", 0), 0u) << late.got.substr(0, 40);

    // `stalled` never reads: past its 16 KB it is dropped, the others are
    // not, and feeding went on regardless.
    for (int i = 2; i < 32; ++i) {
        live.Feed(block.data(), kFrames, 44100);
        ASSERT_TRUE(WaitUntil([&] { return first.Pull() && late.Pull() && first.Has(i) && late.Has(i); }, 5000)) << i;
    }
    EXPECT_EQ(live.DroppedListeners(), 1u);
    EXPECT_EQ(live.DroppedBlocks(), 0u);
    EXPECT_FALSE(stalled.Pull());
    EXPECT_EQ(stalled.got, "");
    // A listener's answer ending leaves its place free.
    stalled.res.reset();
    EXPECT_EQ(live.Listeners(), 2);
    live.Close();
    EXPECT_FALSE(first.Pull());
}

int Connect(int port) {
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_port = htons(static_cast<uint16_t>(port));
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (::connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0) {
        ::close(fd);
        return -1;
    }
    timeval timeout{5, 0};
    ::setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &timeout, sizeof timeout);
    return fd;
}

TEST(LiveStream, OverHttpOggOpusForEachListenerUpToTheCapAndTheirMetrics) {
    testing_support::CoreApp();
    testing_support::TestEnvironment env;
    WebOptions options;
    options.recordFolder = env.AppDir() + "record/";
    ASSERT_TRUE(QDir().mkpath(options.recordFolder));
    options.maxLiveListeners = 2;
    WebServer server(options);
    QString error;
    ASSERT_TRUE(server.Start(&error)) << error.toStdString();
    prometheus::Counter& made = server.PageMetrics().Counter("somorabox_takes_made_total", "Takes opened");
    made.Increment();

    // The capture's side: real-time blocks at 44.1 kHz while the test runs.
    std::atomic<bool> stop{false};
    std::thread capture([&] {
        int64_t phase = 0;
        while (!stop) {
            const std::vector<int16_t> block = Tone(44100, kFrames, &phase);
            server.FeedLive(block.data(), kFrames, 44100);
            std::this_thread::sleep_for(std::chrono::milliseconds(46));
        }
    });
    std::mutex mutex;
    std::string streams[2];
    std::vector<std::thread> readers;
    for (std::string& got : streams) {
        readers.emplace_back([&server, &stop, &mutex, &got] {
            httplib::Client c("127.0.0.1", server.Port());
            c.Get("/live.ogg", [&](const char* data, size_t n) {
                std::lock_guard lock(mutex);
                got.append(data, n);
                return !stop;
            });
        });
        std::this_thread::sleep_for(std::chrono::milliseconds(400));  // the second joins a running stream
    }
    auto both = [&] {
        std::lock_guard lock(mutex);
        return streams[0].size() > 4000 && streams[1].size() > 4000;
    };
    EXPECT_TRUE(WaitUntil(both, 10000));
    {
        std::lock_guard lock(mutex);
        for (const std::string& got : streams) {
            EXPECT_EQ(got.rfind("OggS", 0), 0u);
            EXPECT_EQ(got.find("OpusHead"), 28u);  // in the first page, after its 27-byte header and 1 lacing value
            EXPECT_NE(got.find("OpusTags"), std::string::npos);
        }
    }
    // A third is refused at the door, and the door closes.
    const int fd = Connect(server.Port());
    ASSERT_GE(fd, 0);
    const std::string request = "GET /live.ogg HTTP/1.1\r\nHost: 127.0.0.1\r\n\r\n";
    ::send(fd, request.data(), request.size(), MSG_NOSIGNAL);
    std::string answer;
    char buffer[1024];
    for (ssize_t n; (n = ::recv(fd, buffer, sizeof buffer, 0)) > 0;) answer.append(buffer, static_cast<size_t>(n));
    ::close(fd);
    EXPECT_EQ(answer.rfind("HTTP/1.1 503", 0), 0u) << answer;
    EXPECT_NE(answer.find("Connection: close"), std::string::npos) << answer;
    // The route is its path, not a pattern that other paths match (which
    // would be served on a general worker).
    httplib::Client other("127.0.0.1", server.Port());
    auto lookalike = other.Get("/live-ogg");
    ASSERT_TRUE(lookalike);
    EXPECT_EQ(lookalike->status, 404);

    httplib::Client client("127.0.0.1", server.Port());
    auto metrics = client.Get("/metrics");
    ASSERT_TRUE(metrics);
    EXPECT_EQ(metrics->status, 200);
    EXPECT_EQ(metrics->get_header_value("Content-Type"), Metrics::ContentType());
    for (const char* line : {"somorabox_live_listeners 2", "somorabox_takes_made_total 1", "somorabox_record_free_bytes "})
        EXPECT_NE(metrics->body.find(line), std::string::npos) << line << "\n" << metrics->body;

    stop = true;
    for (std::thread& t : readers) t.join();
    capture.join();
    EXPECT_TRUE(WaitUntil([&] { return server.LiveListeners() == 0; }, 5000));
    server.Stop();
}

}  // namespace

namespace {

// Listeners come and go at once, from many threads, while the capture
// feeds and its rate changes now and then: the encoder starts and stops
// under them, and every place is free again at the end.
TEST(LiveStream, ListenersComingAndGoingWhileTheEncoderStartsAndStops) {
    testing_support::CoreApp();
    testing_support::TestEnvironment env;
    WebOptions options;
    options.recordFolder = env.AppDir() + "record/";
    ASSERT_TRUE(QDir().mkpath(options.recordFolder));
    options.maxLiveListeners = 4;
    WebServer server(options);
    QString error;
    ASSERT_TRUE(server.Start(&error)) << error.toStdString();
    std::atomic<bool> stop{false};
    std::thread capture([&] {
        int64_t phase = 0;
        for (int i = 0; !stop; ++i) {
            const int rate = i / 40 % 2 ? 48000 : 44100;
            const std::vector<int16_t> block = Tone(rate, 1024, &phase);
            server.FeedLive(block.data(), 1024, rate);
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
    });
    std::atomic<int> answered{0};
    std::vector<std::thread> churn;
    for (int t = 0; t < 6; ++t)
        churn.emplace_back([&, t] {
            for (int i = 0; i < 12; ++i) {
                const int fd = Connect(server.Port());
                if (fd < 0) continue;
                const std::string request = "GET /live.ogg HTTP/1.1\r\nHost: 127.0.0.1\r\n\r\n";
                ::send(fd, request.data(), request.size(), MSG_NOSIGNAL);
                char buffer[512];
                // Some leave before a byte, some after the first, some later.
                for (int reads = 0; reads < (t + i) % 3; ++reads)
                    if (::recv(fd, buffer, sizeof buffer, 0) > 0 && reads == 0) ++answered;
                ::close(fd);
            }
        });
    for (std::thread& t : churn) t.join();
    stop = true;
    capture.join();
    EXPECT_GT(answered.load(), 0);
    EXPECT_TRUE(WaitUntil([&] { return server.LiveListeners() == 0; }, 15000));
    server.Stop();
}

}  // namespace

namespace {

// A listener that never reads is ended within seconds of its socket
// filling, not once the kernel has taken megabytes of the stream for it.
TEST(LiveStream, AListenerThatNeverReadsLeavesItsPlace) {
    testing_support::CoreApp();
    testing_support::TestEnvironment env;
    WebOptions options;
    options.recordFolder = env.AppDir() + "record/";
    ASSERT_TRUE(QDir().mkpath(options.recordFolder));
    WebServer server(options);
    QString error;
    ASSERT_TRUE(server.Start(&error)) << error.toStdString();
    std::atomic<bool> stop{false};
    std::thread capture([&] {  // about ten times real time
        int64_t phase = 0;
        while (!stop) {
            const std::vector<int16_t> block = Tone(44100, kFrames, &phase);
            server.FeedLive(block.data(), kFrames, 44100);
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
    });
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    const int small = 4096;
    ::setsockopt(fd, SOL_SOCKET, SO_RCVBUF, &small, sizeof small);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_port = htons(server.Port());
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ASSERT_EQ(::connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr), 0);
    const std::string request = "GET /live.ogg HTTP/1.1\r\nHost: 127.0.0.1\r\n\r\n";
    ::send(fd, request.data(), request.size(), MSG_NOSIGNAL);
    EXPECT_TRUE(WaitUntil([&] { return server.LiveListeners() == 1; }, 5000));
    EXPECT_TRUE(WaitUntil([&] { return server.LiveListeners() == 0; }, 15000));
    ::close(fd);
    stop = true;
    capture.join();
    server.Stop();
}

}  // namespace
