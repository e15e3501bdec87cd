#include "capture/RecordingFile.h"

#include <algorithm>
#include <cstring>

namespace {

constexpr uint32_t kMaxChunkSize = 0xFFFFFFFFu;

void PutU16(uint8_t* p, uint16_t v) {
    p[0] = static_cast<uint8_t>(v);
    p[1] = static_cast<uint8_t>(v >> 8);
}

void PutU32(uint8_t* p, uint32_t v) {
    for (int i = 0; i < 4; ++i) p[i] = static_cast<uint8_t>(v >> (8 * i));
}

uint16_t GetU16(const uint8_t* p) { return static_cast<uint16_t>(p[0] | (p[1] << 8)); }

uint32_t GetU32(const uint8_t* p) {
    return static_cast<uint32_t>(p[0]) | (static_cast<uint32_t>(p[1]) << 8) |
           (static_cast<uint32_t>(p[2]) << 16) | (static_cast<uint32_t>(p[3]) << 24);
}

bool PatchSizes(platform::WritableFile& file) {
    const int64_t size = file.Size();
    if (size < kWaveHeaderBytes) return false;
    uint8_t field[4];
    PutU32(field, RiffSizeFor(size));
    bool ok = file.WriteAt(4, field, 4);
    PutU32(field, DataSizeFor(size));
    ok = file.WriteAt(40, field, 4) && ok;
    return ok;
}

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
        if (unsynced_ >= syncBytes_) {
            file_->Sync();
            unsynced_ = 0;
        }
        return written ? size : -1;
    }
    bool WriteAt(int64_t offset, const void* data, int64_t size) override {
        return file_ && file_->WriteAt(offset, data, size);
    }
    int64_t Size() override { return file_ ? file_->Size() : -1; }
    void Sync() override {
        if (file_) file_->Sync();
        unsynced_ = 0;
    }
    void Close() override {
        if (file_) file_->Close();
    }

private:
    std::unique_ptr<platform::WritableFile> file_;
    int64_t syncBytes_;
    int64_t end_ = kWaveHeaderBytes;
    int64_t unsynced_ = 0;
};

}  // namespace

WaveHeader MakeWaveHeader(uint16_t channels, uint16_t bits, int32_t sampleRate, uint32_t riffSize,
                          uint32_t dataSize) {
    WaveHeader h{};
    const uint32_t bytesPerSample = bits / 8u;
    std::memcpy(&h[0], "RIFF", 4);
    PutU32(&h[4], riffSize);
    std::memcpy(&h[8], "WAVE", 4);
    std::memcpy(&h[12], "fmt ", 4);
    PutU32(&h[16], 16);
    PutU16(&h[20], 1);
    PutU16(&h[22], channels);
    PutU32(&h[24], static_cast<uint32_t>(sampleRate));
    PutU32(&h[28], channels * static_cast<uint32_t>(sampleRate) * bytesPerSample);
    PutU16(&h[32], static_cast<uint16_t>(bytesPerSample * channels));
    PutU16(&h[34], bits);
    std::memcpy(&h[36], "data", 4);
    PutU32(&h[40], dataSize);
    return h;
}

bool IsCanonicalPcmHeader(const uint8_t* h) {
    if (std::memcmp(h, "RIFF", 4) != 0 || std::memcmp(h + 8, "WAVE", 4) != 0 ||
        std::memcmp(h + 12, "fmt ", 4) != 0 || std::memcmp(h + 36, "data", 4) != 0)
        return false;
    const uint32_t channels = GetU16(h + 22);
    const uint32_t rate = GetU32(h + 24);
    const uint32_t bits = GetU16(h + 34);
    if (GetU32(h + 16) != 16 || GetU16(h + 20) != 1 || channels == 0 || rate == 0) return false;
    if (bits == 0 || bits % 8 != 0 || bits > 32) return false;
    const uint32_t align = channels * (bits / 8);
    return GetU16(h + 32) == align && static_cast<uint64_t>(GetU32(h + 28)) == uint64_t{rate} * align;
}

uint32_t RiffSizeFor(int64_t fileSize) {
    return static_cast<uint32_t>(std::clamp<int64_t>(fileSize - 8, 0, kMaxChunkSize));
}

uint32_t DataSizeFor(int64_t fileSize) {
    return static_cast<uint32_t>(std::clamp<int64_t>(fileSize - kWaveHeaderBytes, 0, kMaxChunkSize));
}

std::unique_ptr<platform::WritableFile> OpenRecordingFile(uint16_t channels, uint16_t bits,
                                                          const QString& fileName, int32_t sampleRate) {
    platform::Files* files = platform::Services().files;
    if (!files) return nullptr;
    const WaveHeader header = MakeWaveHeader(channels, bits, sampleRate, 36, 0);
    std::unique_ptr<platform::WritableFile> file = files->CreateNew(fileName);
    if (!file) return nullptr;
    if (!file->WriteAt(0, header.data(), kWaveHeaderBytes)) {
        file->Close();
        files->Remove(fileName);
        return nullptr;
    }
    const int64_t bytesPerSecond = int64_t{channels} * std::max(0, sampleRate) * (bits / 8);
    return std::make_unique<RecordingWriter>(std::move(file), 2 * bytesPerSecond);
}

void CloseRecordingFile(platform::WritableFile& file) {
    PatchSizes(file);
    file.Sync();
    file.Close();
}

QString RecordingFileName(const QString& folder, const QDateTime& start, int suffix) {
    QString name = folder + QStringLiteral("PLEN") + start.toString(QStringLiteral("yyyyMMddHHmmss"));
    if (suffix >= 2) name += QLatin1Char('-') + QString::number(suffix);
    return name + QStringLiteral(".wav");
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
        const uint32_t riffSize = GetU32(header + 4);
        const uint32_t dataSize = GetU32(header + 40);
        const bool provisional = riffSize == 36 && dataSize == 0 && size > kWaveHeaderBytes;
        if (!provisional && dataSize <= DataSizeFor(size)) continue;
        std::unique_ptr<platform::WritableFile> out = files->OpenToPatch(path);
        if (!out) continue;
        if (PatchSizes(*out)) ++repaired;
        out->Sync();
        out->Close();
    }
    return repaired;
}
