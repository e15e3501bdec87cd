// SPDX-License-Identifier: GPL-3.0-or-later
// The live stream's Ogg Opus encoder on libopusenc: pages are written
// through its callbacks, the two header pages at once (ope_encoder_flush_header)
// so that a listener who joins later can be given them first.
#include "platform/LiveEncoder.h"

#include <opusenc.h>

namespace platform {
namespace {

class OpusLiveEncoder : public LiveEncoder {
public:
    explicit OpusLiveEncoder(PageSink sink) : sink_(std::move(sink)) {}
    ~OpusLiveEncoder() override {
        if (encoder_) ope_encoder_destroy(encoder_);
        if (comments_) ope_comments_destroy(comments_);
    }

    bool Open(int rate, int channels, int bitrate, int pageMs, QString* error) {
        comments_ = ope_comments_create();
        if (!comments_) return Fail(error, QStringLiteral("no memory for the stream's comments"));
        ope_comments_add(comments_, "TITLE", "live");
        static const OpusEncCallbacks callbacks = {&OpusLiveEncoder::Write, &OpusLiveEncoder::Close};
        int code = OPE_OK;
        encoder_ = ope_encoder_create_callbacks(&callbacks, this, comments_, rate, channels, 0, &code);
        if (!encoder_) return Fail(error, QString::fromUtf8(ope_strerror(code)));
        // Small pages, and no lookahead beyond what the codec itself needs:
        // a listener hears the room within a fraction of a second. A
        // constant bitrate, so that a quiet room fills a browser's read
        // buffer (32 KB in Chromium) as fast as a loud one.
        const int samples48k = pageMs * 48;
        if (ope_encoder_ctl(encoder_, OPE_SET_MUXING_DELAY(samples48k)) != OPE_OK ||
            ope_encoder_ctl(encoder_, OPE_SET_DECISION_DELAY(0)) != OPE_OK ||
            ope_encoder_ctl(encoder_, OPE_SET_COMMENT_PADDING(0)) != OPE_OK ||
            ope_encoder_ctl(encoder_, OPUS_SET_BITRATE(bitrate)) != OPE_OK ||
            ope_encoder_ctl(encoder_, OPUS_SET_VBR(0)) != OPE_OK)
            return Fail(error, QStringLiteral("the encoder refused its settings"));
        header_ = true;
        code = ope_encoder_flush_header(encoder_);
        header_ = false;
        if (code != OPE_OK) return Fail(error, QString::fromUtf8(ope_strerror(code)));
        return true;
    }

    bool Encode(const int16_t* interleaved, int frames) override {
        return ope_encoder_write(encoder_, interleaved, frames) == OPE_OK;
    }

private:
    static int Write(void* self, const unsigned char* page, opus_int32 size) {
        auto* me = static_cast<OpusLiveEncoder*>(self);
        me->sink_(page, static_cast<size_t>(size), me->header_);
        return 0;
    }
    static int Close(void*) { return 0; }
    static bool Fail(QString* error, const QString& text) {
        if (error) *error = QStringLiteral("live stream encoder: ") + text;
        return false;
    }

    PageSink sink_;
    OggOpusComments* comments_ = nullptr;
    OggOpusEnc* encoder_ = nullptr;
    bool header_ = false;
};

}  // namespace

std::unique_ptr<LiveEncoder> MakeOpusLiveEncoder(int rate, int channels, int bitrate, int pageMs,
                                                 LiveEncoder::PageSink sink, QString* error) {
    auto encoder = std::make_unique<OpusLiveEncoder>(std::move(sink));
    if (!encoder->Open(rate, channels, bitrate, pageMs, error)) return nullptr;
    return encoder;
}

}  // namespace platform
