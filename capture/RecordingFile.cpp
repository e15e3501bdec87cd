// SPDX-License-Identifier: GPL-3.0-or-later
#include "capture/RecordingFile.h"

#include "capture/WaveFile.h"

#include <algorithm>
#include <cstring>

namespace {

// The open recording: appends go to the end of the data written in full, and
// the data is flushed every `syncBytes` appended bytes.
class RecordingWriter final : public platform::WritableFile {
public:
    RecordingWriter(std::unique_ptr<platform::WritableFile> file, int64_t syncBytes)
        : file_(std::move(file)), syncBytes_(std::max<int64_t>(1, syncBytes)) {}
    ~RecordingWriter() override { Close(); }

    int64_t Append(const void* data, int64_t size) override {
        if (!file_) return -1;
        const bool written = file_->WriteAt(end_, data, size);
        if (written) end_ += size;
        unsynced_ += size;
        bool synced = true;
        if (unsynced_ >= syncBytes_) {
            synced = file_->Sync();
            unsynced_ = 0;
        }
        // Sound the disk did not take on the sync counts as not written.
        return written && synced ? size : -1;
    }
    bool WriteAt(int64_t offset, const void* data, int64_t size) override {
        return file_ && file_->WriteAt(offset, data, size);
    }
    int64_t Size() override { return file_ ? file_->Size() : -1; }
    bool Sync() override {
        unsynced_ = 0;
        return file_ && file_->Sync();
    }
    bool Close() override { return !file_ || file_->Close(); }
    bool Discard() override { return file_ && file_->Discard(); }

private:
    std::unique_ptr<platform::WritableFile> file_;
    int64_t syncBytes_;
    int64_t end_ = kWaveHeaderBytes;
    int64_t unsynced_ = 0;
};

}  // namespace

std::unique_ptr<platform::WritableFile> OpenRecordingFile(uint16_t channels, uint16_t bits,
                                                          const QString& fileName, int32_t sampleRate) {
    platform::Files* files = platform::Services().files;
    if (!files) return nullptr;
    const WaveHeader header = MakeWaveHeader(channels, bits, sampleRate, 36, 0);
    std::unique_ptr<platform::WritableFile> file = files->CreateNew(fileName);
    if (!file) return nullptr;
    if (!file->WriteAt(0, header.data(), kWaveHeaderBytes)) {
        file->Discard();
        return nullptr;
    }
    const int64_t bytesPerSecond = int64_t{channels} * std::max(0, sampleRate) * (bits / 8);
    return std::make_unique<RecordingWriter>(std::move(file), 2 * bytesPerSecond);
}

bool CloseRecordingFile(platform::WritableFile& file) {
    const bool patched = PatchWaveSizes(file);
    const bool synced = file.Sync();
    return file.Close() && patched && synced;
}

QString RecordingFileName(const QString& folder, const QDateTime& start, int suffix) {
    return folder + takes::MakeName(start, suffix);
}

std::unique_ptr<platform::WritableFile> OpenNewRecording(const QString& folder, const QDateTime& start,
                                                         int32_t sampleRate, QString& fileName) {
    platform::Files* files = platform::Services().files;
    fileName = RecordingFileName(folder, start);
    if (!files) return nullptr;
    for (int suffix = 1; suffix <= kMaxNameSuffix; ++suffix) {
        fileName = RecordingFileName(folder, start, suffix);
        if (files->Exists(fileName)) continue;
        if (auto file = OpenRecordingFile(2, 16, fileName, sampleRate)) return file;
        // Taken between the test and the creation: try the next name;
        // anything else (no folder, no space, no rights) ends the attempt.
        if (!files->Exists(fileName)) return nullptr;
    }
    return nullptr;
}

QString ChooseRecordingName(const QString& folder, const QDateTime& start, const QString& taken) {
    platform::Files* files = platform::Services().files;
    if (!files) return {};
    for (int suffix = 1; suffix <= kMaxNameSuffix; ++suffix) {
        const QString name = RecordingFileName(folder, start, suffix);
        if (name != taken && !files->Exists(name)) return name;
    }
    return {};
}

int RepairRecordings(const QString& folder) {
    platform::Files* files = platform::Services().files;
    if (!files) return 0;
    const QString dir = folder.endsWith(QLatin1Char('/')) ? folder : folder + QLatin1Char('/');
    int repaired = 0;
    for (const platform::DirEntry& entry : files->List(dir, QString())) {
        const QString path = dir + entry.name;
        uint8_t header[kWaveHeaderBytes];
        int64_t size = -1;
        {
            std::unique_ptr<platform::ReadableFile> in = files->OpenRead(path);
            if (!in) continue;
            size = in->Size();
            int64_t got = 0;
            while (got < kWaveHeaderBytes) {
                const int64_t n = in->Read(header + got, kWaveHeaderBytes - got);
                if (n <= 0) break;
                got += n;
            }
            if (got < kWaveHeaderBytes) continue;
        }
        if (!IsCanonicalPcmHeader(header)) continue;
        // What a cut recording leaves: the provisional sizes, or (cut while
        // the sizes were being patched) a data size beyond the file's end.
        // A file that is longer than its sizes say (another chunk after the
        // sound) is a finished file and stays as it is.
        const uint32_t riffSize = WaveRiffSize(header);
        const uint32_t dataSize = WaveDataSize(header);
        const bool provisional = riffSize == 36 && dataSize == 0 && size > kWaveHeaderBytes;
        if (!provisional && dataSize <= DataSizeFor(size)) continue;
        std::unique_ptr<platform::WritableFile> out = files->OpenToPatch(path);
        if (!out) continue;
        if (PatchWaveSizes(*out) && out->Sync() && out->Close()) ++repaired;
    }
    return repaired;
}
