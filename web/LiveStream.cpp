// SPDX-License-Identifier: GPL-3.0-or-later
// The live stream: the hand-off from the block handler, the encoder's
// thread, and each listener's queue.
#include "web/LiveStream.h"

#include <algorithm>
#include <cstdio>

#include <httplib.h>

#include "http/PageRoutes.h"

namespace {

std::unique_ptr<platform::LiveEncoder> OpusEncoder(int rate, int channels, const LiveStream::Limits& limits,
                                                   platform::LiveEncoder::PageSink sink, QString* error) {
    return platform::MakeOpusLiveEncoder(rate, channels, limits.bitrate, limits.pageMs, std::move(sink), error);
}

}  // namespace

LiveStream::LiveStream(Limits limits, EncoderFactory factory)
    : limits_(limits), factory_(factory ? std::move(factory) : EncoderFactory(OpusEncoder)) {}

LiveStream::~LiveStream() { Close(); }

void LiveStream::Open() {
    {
        std::lock_guard lock(mutex_);
        closed_ = false;
    }
    if (thread_.joinable()) return;
    {
        std::lock_guard lock(handOffMutex_);
        stop_ = false;
    }
    thread_ = std::thread([this] { Run(); });
}

void LiveStream::Close() {
    {
        std::lock_guard lock(mutex_);
        closed_ = true;
        EndEveryListenerLocked();
    }
    pageReady_.notify_all();
    {
        std::lock_guard lock(handOffMutex_);
        stop_ = true;
        handOff_.clear();
    }
    handOffReady_.notify_all();
    if (thread_.joinable()) thread_.join();
}

void LiveStream::Feed(const int16_t* block, int frames, int rate) {
    if (!wanted_.load(std::memory_order_acquire) || frames <= 0 || rate <= 0) return;
    {
        std::lock_guard lock(handOffMutex_);
        if (stop_) return;
        if (handOff_.size() >= limits_.handOffBlocks) {
            droppedBlocks_.fetch_add(1, std::memory_order_relaxed);
            return;
        }
        Block b;
        if (!spare_.empty()) {
            b.samples = std::move(spare_.back());
            spare_.pop_back();
        }
        b.samples.assign(block, block + 2 * static_cast<size_t>(frames));
        b.rate = rate;
        handOff_.push_back(std::move(b));
    }
    handOffReady_.notify_one();
}

void LiveStream::Run() {
    std::unique_ptr<platform::LiveEncoder> encoder;
    int rate = 0;
    int refusedRate = 0;  // the encoder could not be made for it: not tried again while anyone listens
    const platform::LiveEncoder::PageSink sink = [this](const unsigned char* page, size_t size, bool header) {
        Broadcast(page, size, header);
    };
    using Clock = std::chrono::steady_clock;
    const auto silenceAfter = std::chrono::milliseconds(limits_.silenceAfterMs);
    Clock::time_point heard{};  // the last block of sound, or the last silence made for lack of one
    std::vector<int16_t> silence;
    std::deque<Block> blocks;
    for (;;) {
        {
            std::unique_lock lock(handOffMutex_);
            for (Block& b : blocks) spare_.push_back(std::move(b.samples));
            blocks.clear();
            auto ready = [&] {
                return stop_ || !handOff_.empty() || (encoder && !wanted_.load(std::memory_order_acquire));
            };
            // Only a running encoder looks at the clock (for the silence).
            if (encoder)
                handOffReady_.wait_for(lock, std::chrono::milliseconds(250), ready);
            else
                handOffReady_.wait(lock, ready);
            if (stop_) return;
            blocks.swap(handOff_);
        }
        const Clock::time_point now = Clock::now();
        if (blocks.empty() && encoder && now - heard >= silenceAfter && wanted_.load(std::memory_order_acquire)) {
            // The line input is silent for want of sound: silence in real
            // time (at most a second of it at once).
            const auto gap = std::min<Clock::duration>(now - heard, std::chrono::seconds(1));
            const auto frames = static_cast<size_t>(
                std::chrono::duration_cast<std::chrono::milliseconds>(gap).count() * rate / 1000);
            silence.assign(2 * frames, 0);
            encoder->Encode(silence.data(), static_cast<int>(frames));
            heard = now;
            continue;
        }
        if (!blocks.empty()) heard = now;
        bool anyone;
        {
            std::lock_guard lock(mutex_);
            anyone = !open_.empty();
        }
        if (!anyone) {
            // Nobody listens: no encoder. The next listener starts a new stream.
            encoder.reset();
            refusedRate = 0;
            continue;
        }
        for (const Block& b : blocks) {
            if (b.rate == refusedRate) break;
            if (!encoder || b.rate != rate) {
                {
                    // A new stream (the capture rate changed): whoever has
                    // the old one starts again.
                    std::lock_guard lock(mutex_);
                    if (encoder) EndEveryListenerLocked();
                    headers_.clear();
                }
                pageReady_.notify_all();
                encoder.reset();
                QString why;
                encoder = factory_(b.rate, 2, limits_, sink, &why);
                rate = b.rate;
                if (!encoder) {
                    refusedRate = b.rate;
                    std::fprintf(stderr, "%s\n", qPrintable(why));
                    std::lock_guard lock(mutex_);
                    EndEveryListenerLocked();
                    pageReady_.notify_all();
                    break;
                }
            }
            encoder->Encode(b.samples.data(), static_cast<int>(b.samples.size() / 2));
        }
    }
}

void LiveStream::Broadcast(const unsigned char* page, size_t size, bool header) {
    {
        std::lock_guard lock(mutex_);
        if (header) {
            headers_.append(reinterpret_cast<const char*>(page), size);
            return;
        }
        for (const std::shared_ptr<Listener>& l : open_) {
            if (l->dropped) continue;
            if (!l->started) {
                // Joins here: the header pages, then this page on.
                if (headers_.empty()) continue;
                l->pages.push_back(headers_);
                l->bytes += headers_.size();
                l->started = true;
            }
            l->pages.emplace_back(reinterpret_cast<const char*>(page), size);
            l->bytes += size;
            if (l->bytes > limits_.queueBytes) {
                // Fell behind: dropped, so that it holds no more memory.
                l->dropped = true;
                l->pages.clear();
                l->bytes = 0;
                droppedListeners_.fetch_add(1, std::memory_order_relaxed);
            }
        }
    }
    pageReady_.notify_all();
}

void LiveStream::EndEveryListenerLocked() {
    for (const std::shared_ptr<Listener>& l : open_) {
        l->dropped = true;
        l->pages.clear();
        l->bytes = 0;
    }
}

void LiveStream::Serve(httplib::Response& res) {
    auto me = std::make_shared<Listener>();
    {
        std::lock_guard lock(mutex_);
        if (closed_ || static_cast<int>(open_.size()) >= limits_.maxListeners) {
            res.status = 503;
            res.set_header("Retry-After", "5");
            res.set_header("Connection", "close");
            res.set_content("too many live listeners\n", "text/plain");
            return;
        }
        open_.push_back(me);
        listeners_.store(static_cast<int>(open_.size()), std::memory_order_relaxed);
        wanted_.store(true, std::memory_order_release);
    }
    // A stream has no ranges: a player's "bytes=0-" gets the whole stream
    // as 200 (the library would call it 206, without a Content-Range, which
    // a browser refuses).
    res.status = 200;
    res.set_header("Accept-Ranges", "none");
    StreamHeaders(res);
    res.set_chunked_content_provider(
        "audio/ogg",
        [this, me](size_t, httplib::DataSink& sink) {
            std::string out;
            {
                std::unique_lock lock(mutex_);
                const bool some = pageReady_.wait_for(lock, std::chrono::milliseconds(limits_.waitMs),
                                                      [&] { return closed_ || me->dropped || !me->pages.empty(); });
                if (closed_ || me->dropped) return false;
                if (!some) {
                    me->idleMs += limits_.waitMs;
                    return me->idleMs < limits_.idleEndMs;
                }
                me->idleMs = 0;
                for (std::string& page : me->pages) out += page;
                me->pages.clear();
                me->bytes = 0;
            }
            return out.empty() || sink.write(out.data(), out.size());
        },
        [this, me](bool) {
            bool nobody;
            {
                std::lock_guard lock(mutex_);
                open_.remove(me);
                listeners_.store(static_cast<int>(open_.size()), std::memory_order_relaxed);
                nobody = open_.empty();
                if (nobody) wanted_.store(false, std::memory_order_release);
            }
            if (nobody) {
                // The encoder's thread stops the encoder.
                std::lock_guard lock(handOffMutex_);
                handOff_.clear();
            }
            handOffReady_.notify_all();
        });
}
