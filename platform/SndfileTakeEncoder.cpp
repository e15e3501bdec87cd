// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/TakeEncoder.h"

#include <QDir>
#include <QFileInfo>

#include <openssl/evp.h>
#include <sndfile.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>
#include <unistd.h>
#include <vector>

namespace platform {
namespace {

struct SndCloser {
    void operator()(SNDFILE* f) const { sf_close(f); }
};
using SndPtr = std::unique_ptr<SNDFILE, SndCloser>;

struct MdCloser {
    void operator()(EVP_MD_CTX* c) const { EVP_MD_CTX_free(c); }
};
using MdPtr = std::unique_ptr<EVP_MD_CTX, MdCloser>;

// MD5 and SHA-256 of a file in one pass.
bool HashFile(const QString& path, PreparedTake* out, QString* error, const std::function<bool()>& cancelled,
              bool* wasCancelled) {
    FILE* in = std::fopen(path.toLocal8Bit().constData(), "rb");
    if (!in) {
        *error = QStringLiteral("cannot read %1: %2").arg(path, QString::fromLocal8Bit(std::strerror(errno)));
        return false;
    }
    MdPtr md5(EVP_MD_CTX_new());
    MdPtr sha(EVP_MD_CTX_new());
    bool ok = md5 && sha && EVP_DigestInit_ex(md5.get(), EVP_md5(), nullptr) == 1 &&
              EVP_DigestInit_ex(sha.get(), EVP_sha256(), nullptr) == 1;
    std::vector<unsigned char> buffer(1 << 16);
    int64_t total = 0;
    while (ok) {
        if (cancelled && cancelled()) {
            *wasCancelled = true;
            ok = false;
            break;
        }
        const size_t n = std::fread(buffer.data(), 1, buffer.size(), in);
        if (n == 0) {
            if (std::ferror(in)) {
                *error = QStringLiteral("cannot read %1").arg(path);
                ok = false;
            }
            break;
        }
        total += static_cast<int64_t>(n);
        ok = EVP_DigestUpdate(md5.get(), buffer.data(), n) == 1 && EVP_DigestUpdate(sha.get(), buffer.data(), n) == 1;
    }
    std::fclose(in);
    if (!ok) {
        if (error->isEmpty() && !*wasCancelled) *error = QStringLiteral("cannot hash %1").arg(path);
        return false;
    }
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int length = 0;
    if (EVP_DigestFinal_ex(md5.get(), digest, &length) != 1) return false;
    out->md5 = QByteArray(reinterpret_cast<const char*>(digest), static_cast<qsizetype>(length));
    if (EVP_DigestFinal_ex(sha.get(), digest, &length) != 1) return false;
    out->sha256 = QByteArray(reinterpret_cast<const char*>(digest), static_cast<qsizetype>(length));
    out->bytes = total;
    return true;
}

int FlacSubtype(int format) {
    switch (format & SF_FORMAT_SUBMASK) {
        case SF_FORMAT_PCM_S8:
        case SF_FORMAT_PCM_U8: return SF_FORMAT_PCM_S8;
        case SF_FORMAT_PCM_24:
        case SF_FORMAT_PCM_32: return SF_FORMAT_PCM_24;
        default: return SF_FORMAT_PCM_16;
    }
}

class SndfileTakeEncoder final : public TakeEncoder {
public:
    PrepareResult Prepare(const QString& wavPath, bool flac, const QString& tempPath, PreparedTake* out,
                          QString* error, const std::function<bool()>& cancelled) override {
        *out = PreparedTake{};
        error->clear();
        const QByteArray source = wavPath.toLocal8Bit();
        if (::access(source.constData(), F_OK) != 0) {
            *error = QStringLiteral("%1 is gone").arg(wavPath);
            return PrepareResult::Missing;
        }
        SF_INFO info{};
        SndPtr in(sf_open(source.constData(), SFM_READ, &info));
        if (!in) {
            *error = QStringLiteral("cannot read %1: %2").arg(wavPath, QString::fromLocal8Bit(sf_strerror(nullptr)));
            return PrepareResult::Failed;
        }
        // A take whose header still has its provisional sizes is being
        // written (or was cut and not repaired yet): nothing to send yet.
        if (info.frames <= 0) {
            *error = QStringLiteral("%1 holds no sound yet (its header is not patched)").arg(wavPath);
            return PrepareResult::Failed;
        }
        out->frames = info.frames;
        out->rate = info.samplerate;
        out->channels = info.channels;
        bool wasCancelled = false;
        if (!flac) {
            in.reset();
            out->path = wavPath;
            if (HashFile(wavPath, out, error, cancelled, &wasCancelled)) return PrepareResult::Ok;
            return wasCancelled ? PrepareResult::Cancelled : PrepareResult::Failed;
        }
        SF_INFO outInfo{};
        outInfo.samplerate = info.samplerate;
        outInfo.channels = info.channels;
        outInfo.format = SF_FORMAT_FLAC | FlacSubtype(info.format);
        const QByteArray target = tempPath.toLocal8Bit();
        QDir().mkpath(QFileInfo(tempPath).absolutePath());
        ::unlink(target.constData());
        SndPtr enc(sf_open(target.constData(), SFM_WRITE, &outInfo));
        if (!enc) {
            *error = QStringLiteral("cannot write %1: %2").arg(tempPath, QString::fromLocal8Bit(sf_strerror(nullptr)));
            return PrepareResult::Failed;
        }
        out->path = tempPath;
        out->temporary = true;
        constexpr sf_count_t kFrames = 8192;
        std::vector<int> block(static_cast<size_t>(kFrames * std::max(1, info.channels)));
        sf_count_t copied = 0;
        for (;;) {
            if (cancelled && cancelled()) {
                enc.reset();
                Discard(*out);
                return PrepareResult::Cancelled;
            }
            const sf_count_t n = sf_readf_int(in.get(), block.data(), kFrames);
            if (n <= 0) break;
            if (sf_writef_int(enc.get(), block.data(), n) != n) {
                *error = QStringLiteral("cannot write %1: %2").arg(tempPath, QString::fromLocal8Bit(sf_strerror(enc.get())));
                enc.reset();
                Discard(*out);
                return PrepareResult::Failed;
            }
            copied += n;
        }
        if (copied != info.frames) {
            *error = QStringLiteral("%1 ended after %2 of %3 frames").arg(wavPath).arg(copied).arg(info.frames);
            enc.reset();
            Discard(*out);
            return PrepareResult::Failed;
        }
        if (sf_close(enc.release()) != 0) {
            *error = QStringLiteral("cannot finish %1").arg(tempPath);
            Discard(*out);
            return PrepareResult::Failed;
        }
        if (HashFile(tempPath, out, error, cancelled, &wasCancelled)) return PrepareResult::Ok;
        Discard(*out);
        return wasCancelled ? PrepareResult::Cancelled : PrepareResult::Failed;
    }

    void DiscardAll(const QString& folder) override {
        QDir dir(folder);
        for (const QString& name : dir.entryList({QStringLiteral("*.flac")}, QDir::Files)) dir.remove(name);
    }

    void Discard(const PreparedTake& take) override {
        if (take.temporary && !take.path.isEmpty()) ::unlink(take.path.toLocal8Bit().constData());
    }
};

}  // namespace

std::unique_ptr<TakeEncoder> MakeSndfileTakeEncoder() { return std::make_unique<SndfileTakeEncoder>(); }

}  // namespace platform
