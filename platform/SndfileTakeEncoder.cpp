// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/TakeEncoder.h"

#include "takes/TakePeaks.h"

#include <QDir>
#include <QFileInfo>

#include <openssl/evp.h>
#include <sndfile.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
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

uint32_t U32(const unsigned char* p) {
    return uint32_t{p[0]} | (uint32_t{p[1]} << 8) | (uint32_t{p[2]} << 16) | (uint32_t{p[3]} << 24);
}
uint16_t U16(const unsigned char* p) { return static_cast<uint16_t>(p[0] | (p[1] << 8)); }

// A canonical PCM file whose sound runs on past what its header says.
struct Understated {
    int64_t frames = 0;
    int channels = 0;
    int rate = 0;
    int bits = 0;
};

bool ReadUnderstated(int fd, Understated* out) {
    constexpr int64_t kHeader = 44;
    unsigned char h[kHeader];
    struct stat st {};
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode) || ::pread(fd, h, kHeader, 0) != kHeader) return false;
    if (std::memcmp(h, "RIFF", 4) != 0 || std::memcmp(h + 8, "WAVEfmt ", 8) != 0 || U32(h + 16) != 16 ||
        U16(h + 20) != 1 || std::memcmp(h + 36, "data", 4) != 0)
        return false;
    const int channels = U16(h + 22);
    const int bits = U16(h + 34);
    const int64_t rate = U32(h + 24);
    const int64_t align = int64_t{channels} * (bits / 8);
    if (channels == 0 || rate == 0 || rate > (1 << 30) || (bits != 8 && bits != 16 && bits != 24 && bits != 32) ||
        U16(h + 32) != align)
        return false;
    const int64_t riff = U32(h + 4);
    const int64_t data = U32(h + 40);
    // No sound yet: the provisional sizes of a take being written. A RIFF
    // chunk with room after the sound holds another chunk there.
    if (data == 0 || riff > data + 36) return false;
    const int64_t frames = (static_cast<int64_t>(st.st_size) - kHeader) / align;
    if (frames <= data / align) return false;
    out->frames = frames;
    out->channels = channels;
    out->rate = static_cast<int>(rate);
    out->bits = bits;
    return true;
}

// The sound of an understated file as raw frames for libsndfile: a window
// of the file from the end of the header, as long as the file's whole frames.
struct Window {
    int fd = -1;
    int64_t length = 0;
    int64_t pos = 0;
};

sf_count_t WindowLength(void* user) { return static_cast<Window*>(user)->length; }

sf_count_t WindowSeek(sf_count_t offset, int whence, void* user) {
    auto* w = static_cast<Window*>(user);
    const int64_t base = whence == SEEK_CUR ? w->pos : whence == SEEK_END ? w->length : 0;
    w->pos = std::clamp<int64_t>(base + offset, 0, w->length);
    return w->pos;
}

sf_count_t WindowRead(void* ptr, sf_count_t count, void* user) {
    auto* w = static_cast<Window*>(user);
    auto* to = static_cast<char*>(ptr);
    sf_count_t got = 0;
    while (got < count && w->pos < w->length) {
        const size_t want = static_cast<size_t>(std::min<int64_t>(count - got, w->length - w->pos));
        const ssize_t n = ::pread(w->fd, to + got, want, 44 + w->pos);
        if (n < 0 && errno == EINTR) continue;
        // The end of the file or a read error: what is missing is found
        // missing by the frame count.
        if (n <= 0) break;
        got += n;
        w->pos += n;
    }
    return got;
}

sf_count_t WindowWrite(const void*, sf_count_t, void*) { return 0; }
sf_count_t WindowTell(void* user) { return static_cast<Window*>(user)->pos; }

int RawSubtype(int bits) {
    switch (bits) {
        case 8: return SF_FORMAT_PCM_U8;
        case 24: return SF_FORMAT_PCM_24;
        case 32: return SF_FORMAT_PCM_32;
        default: return SF_FORMAT_PCM_16;
    }
}

struct Fd {
    int fd = -1;
    ~Fd() {
        if (fd >= 0) ::close(fd);
    }
    void Close() {
        if (fd >= 0) ::close(fd);
        fd = -1;
    }
};

int FlacSubtype(int format) {
    switch (format & SF_FORMAT_SUBMASK) {
        case SF_FORMAT_PCM_S8:
        case SF_FORMAT_PCM_U8: return SF_FORMAT_PCM_S8;
        case SF_FORMAT_PCM_24:
        case SF_FORMAT_PCM_32: return SF_FORMAT_PCM_24;
        default: return SF_FORMAT_PCM_16;
    }
}

// The loudest sample of each of `n` frames of `block` (full-scale ints).
void AddToOutline(takes::PeakOutline& outline, const int* block, sf_count_t n, int channels) {
    for (sf_count_t f = 0; f < n; ++f) {
        int64_t peak = 0;
        for (int c = 0; c < channels; ++c) peak = std::max(peak, std::abs(static_cast<int64_t>(block[f * channels + c])));
        outline.Add(static_cast<int>(peak >> 16));
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
        // Outlive the file libsndfile reads through them.
        Fd raw;
        Window window;
        SF_VIRTUAL_IO io{WindowLength, WindowSeek, WindowRead, WindowWrite, WindowTell};
        SF_INFO info{};
        SndPtr in(sf_open(source.constData(), SFM_READ, &info));
        if (!in) {
            *error = QStringLiteral("cannot read %1: %2").arg(wavPath, QString::fromLocal8Bit(sf_strerror(nullptr)));
            return PrepareResult::Failed;
        }
        // A take whose header says less than the file holds (sizes held at
        // 32 bits) is read by the file's size, as raw frames after the header.
        raw.fd = ::open(source.constData(), O_RDONLY | O_CLOEXEC);
        if (raw.fd >= 0) {
            Understated understated;
            if (ReadUnderstated(raw.fd, &understated)) {
                window.fd = raw.fd;
                window.length = understated.frames * understated.channels * (understated.bits / 8);
                info = SF_INFO{};
                info.samplerate = understated.rate;
                info.channels = understated.channels;
                info.format = SF_FORMAT_RAW | RawSubtype(understated.bits) | SF_ENDIAN_LITTLE;
                in.reset(sf_open_virtual(&io, SFM_READ, &info, &window));
                if (!in || info.frames != understated.frames) {
                    *error = QStringLiteral("cannot read %1 past its header's sizes").arg(wavPath);
                    return PrepareResult::Failed;
                }
            }
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
        constexpr sf_count_t kFrames = 8192;
        const int channels = std::max(1, info.channels);
        std::vector<int> block(static_cast<size_t>(kFrames * channels));
        takes::PeakOutline outline(info.frames);
        if (!flac) {
            // The outline alone: the file is sent as it is.
            for (;;) {
                if (cancelled && cancelled()) return PrepareResult::Cancelled;
                const sf_count_t n = sf_readf_int(in.get(), block.data(), kFrames);
                if (n <= 0) break;
                AddToOutline(outline, block.data(), n, channels);
            }
            out->peaks = outline.Encoded();
            in.reset();
            raw.Close();
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
            AddToOutline(outline, block.data(), n, channels);
            copied += n;
        }
        out->peaks = outline.Encoded();
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

int64_t UnderstatedPcmFrames(const QString& wavPath) {
    const int fd = ::open(wavPath.toLocal8Bit().constData(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return -1;
    Understated understated;
    const bool found = ReadUnderstated(fd, &understated);
    ::close(fd);
    return found ? understated.frames : -1;
}

}  // namespace platform
