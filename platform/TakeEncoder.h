// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// Turns a kept take into the file the archive sends: the WAV file itself, or
// a FLAC copy (lossless: decoding it gives the take's samples exactly), with
// the hashes the store checks. Runs on the archive's thread.
#include <QByteArray>
#include <QString>

#include <cstdint>
#include <functional>
#include <memory>

namespace platform {

struct PreparedTake {
    QString path;            // the file to send
    bool temporary = false;  // a copy made for the upload, removed by Discard
    int64_t bytes = 0;
    QByteArray md5;          // 16 bytes
    QByteArray sha256;       // 32 bytes
    int64_t frames = 0;
    int rate = 0;
    int channels = 0;
    QByteArray peaks;        // the take's outline (takes::PeakOutline::Encoded)
};

enum class PrepareResult { Ok, Missing, Failed, Cancelled };

class TakeEncoder {
public:
    virtual ~TakeEncoder() = default;
    // `flac`: encode to `tempPath`; otherwise the take is sent as it is.
    // `cancelled` is polled between blocks.
    virtual PrepareResult Prepare(const QString& wavPath, bool flac, const QString& tempPath, PreparedTake* out,
                                  QString* error, const std::function<bool()>& cancelled) = 0;
    // Removes a temporary copy.
    virtual void Discard(const PreparedTake& take) = 0;
    // Removes every copy left in `folder` (by a crash during an upload).
    virtual void DiscardAll(const QString& folder) = 0;
};

// libsndfile for the FLAC, OpenSSL for the hashes (SndfileTakeEncoder.cpp).
// A take is prepared only when every frame the file holds went into it.
std::unique_ptr<TakeEncoder> MakeSndfileTakeEncoder();

// The frames of a WAV file with a canonical 44-byte PCM header that holds
// more whole frames than its header says, with nothing after the sound in
// its RIFF chunk: a take over 4 GiB, whose sizes are held at 0xFFFFFFFF.
// Such a file is read by its size. -1 for any other file (read by its
// header), also one whose header still has the provisional sizes.
int64_t UnderstatedPcmFrames(const QString& wavPath);

}  // namespace platform
