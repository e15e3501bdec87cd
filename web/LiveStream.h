// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The live stream of the line input (/live.ogg): one encoder for every
// listener, running only while someone listens. The GUI thread's block
// handler copies each block into a bounded hand-off and returns; the
// encoder has a thread of its own and hands every page to each listener's
// bounded queue. A listener whose queue overflows is dropped; the capture
// never waits for anyone. A listener who joins a running stream gets the
// stream's header pages first, then the pages from the next one on.
#include <QString>

#include <atomic>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <functional>
#include <list>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "platform/LiveEncoder.h"

namespace httplib {
struct Response;
}

class LiveStream {
public:
    struct Limits {
        int maxListeners = 16;
        size_t queueBytes = 128 * 1024;  // a listener's pages not yet sent (about 8 s)
        size_t handOffBlocks = 64;      // blocks waiting for the encoder (about 3 s)
        // Constant; Chromium's player reads a stream 32 KB at a time, so
        // 16 KB/s lets it start within about 2 s and keep playing.
        int bitrate = 128000;
        int pageMs = 100;
        // How long a listener's worker waits for pages before it looks again
        // whether the stream was closed.
        int waitMs = 1000;
        // Without sound from the line input for this long (a lost or stopped
        // input), the listeners get silence, so their players go on and a
        // listener who left is noticed at the next write.
        int silenceAfterMs = 1000;
        // A listener that got nothing for this long (no sound ever came) is ended.
        int idleEndMs = 10000;
    };
    using EncoderFactory = std::function<std::unique_ptr<platform::LiveEncoder>(
        int rate, int channels, const Limits& limits, platform::LiveEncoder::PageSink sink, QString* error)>;

    explicit LiveStream(Limits limits, EncoderFactory factory = {});
    ~LiveStream();

    void Open();   // before serving (again): starts the encoder's thread
    void Close();  // ends every listener and the encoder's thread

    // From the block handler (GUI thread): a copy of `frames` interleaved
    // stereo frames at `rate`, only while someone listens; never waits for
    // the encoder (a full hand-off drops the block).
    void Feed(const int16_t* block, int frames, int rate);
    // Answers with the stream, or 503 when every place is taken.
    void Serve(httplib::Response& res);

    int Listeners() const { return listeners_.load(std::memory_order_relaxed); }
    // Listeners dropped for falling behind, and blocks the encoder missed.
    uint64_t DroppedListeners() const { return droppedListeners_.load(std::memory_order_relaxed); }
    uint64_t DroppedBlocks() const { return droppedBlocks_.load(std::memory_order_relaxed); }

private:
    struct Listener {
        std::deque<std::string> pages;
        size_t bytes = 0;
        bool started = false;  // has the header pages
        bool dropped = false;
        int idleMs = 0;  // waited without a page (its worker's own)
    };
    struct Block {
        std::vector<int16_t> samples;
        int rate = 0;
    };
    void Run();
    void Broadcast(const unsigned char* page, size_t size, bool header);
    void EndEveryListenerLocked();

    const Limits limits_;
    EncoderFactory factory_;

    std::atomic<bool> wanted_{false};  // someone listens: Feed copies
    std::atomic<int> listeners_{0};
    std::atomic<uint64_t> droppedListeners_{0}, droppedBlocks_{0};

    std::mutex handOffMutex_;  // the GUI thread's only lock here
    std::condition_variable handOffReady_;
    std::deque<Block> handOff_;
    std::vector<std::vector<int16_t>> spare_;  // buffers to reuse
    bool stop_ = false;

    std::mutex mutex_;  // listeners and the header pages
    std::condition_variable pageReady_;
    std::list<std::shared_ptr<Listener>> open_;
    std::string headers_;
    bool closed_ = true;

    std::thread thread_;
};
