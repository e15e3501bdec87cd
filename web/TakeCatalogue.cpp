// SPDX-License-Identifier: GPL-3.0-or-later
// The take catalogue: listing, bytes with ranges, peaks and deleting.
#include "web/TakeCatalogue.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include <algorithm>
#include <charconv>

#include <httplib.h>

#include "capture/WaveFile.h"
#include "platform/Platform.h"
#include "capture/TakeStore.h"
#include "takes/TakeName.h"
#include "takes/TakePeaks.h"
#include "takes/TakeRecords.h"
#include "http/PageRoutes.h"
#include "web/WebServer.h"

namespace {

constexpr size_t kChunk = 64 * 1024;
constexpr int kPeakCacheEntries = 2000;

// `utf8` as a JSON string (quotes included).
std::string JsonString(const QByteArray& utf8) {
    const QByteArray array = QJsonDocument(QJsonArray{QString::fromUtf8(utf8)}).toJson(QJsonDocument::Compact);
    return array.mid(1, array.size() - 2).toStdString();
}

// The status of a take that could not be opened.
int RefusalOf(platform::TakeOpen result) {
    return result == platform::TakeOpen::Busy ? 409 : result == platform::TakeOpen::Failed ? 500 : 404;
}

}  // namespace

TakeCatalogue::TakeCatalogue(QString recordFolder, TakeStore* store, std::function<bool(const QString&)> archived)
    : folder_(std::move(recordFolder)), store_(store), archived_(std::move(archived)) {}
TakeCatalogue::~TakeCatalogue() = default;

bool TakeCatalogue::Open(QString* error) {
    if (!platform::Services().files) {
        if (error) *error = QStringLiteral("no file service");
        return false;
    }
    if (!store_) {
        ownStore_ = std::make_unique<TakeStore>(folder_);
        store_ = ownStore_.get();
    }
    return true;
}

void TakeCatalogue::WarmUp() { store_->ByteRates(store_->ListTakes(), &cancelled_); }

int64_t TakeCatalogue::FreeBytes() const { return store_->FreeBytes(); }

void TakeCatalogue::Forget(const QString& name) {
    store_->Forget(name);
    std::lock_guard lock(cacheMutex_);
    peaks_.remove(name);
}

void TakeCatalogue::List(const QString& writing, httplib::Response& res) {
    QList<platform::DirEntry> all = store_->ListTakes();
    // Newest first: the 14 digits of the start, then the higher "-N".
    struct Key {
        std::string time;
        int suffix;
        qsizetype index;
    };
    std::vector<Key> keys;
    keys.reserve(static_cast<size_t>(all.size()));
    for (qsizetype i = 0; i < all.size(); ++i) {
        const takes::Name parsed = takes::Parse(all[i].name);
        if (parsed.valid && parsed.extension == QLatin1String(".wav"))
            keys.push_back({parsed.stamp.toString().toStdString(), parsed.suffix, i});
    }
    std::sort(keys.begin(), keys.end(), [](const Key& a, const Key& b) {
        return a.time != b.time ? a.time > b.time : a.suffix > b.suffix;
    });
    QList<platform::DirEntry> list;
    list.reserve(static_cast<qsizetype>(keys.size()));
    for (const Key& k : keys) list.append(std::move(all[k.index]));
    const std::vector<int32_t> rates = store_->ByteRates(list, &cancelled_);
    // Only the notes that are there are read.
    const TakeStore::Marks marks = store_->ListMarks();
    // Written directly: every name passed takes::IsTakeName, so nothing needs escaping.
    std::string out;
    out.reserve(static_cast<size_t>(list.size()) * 120 + 2);
    out += '[';
    char number[64];
    for (qsizetype i = 0; i < list.size(); ++i) {
        const platform::DirEntry& t = list[i];
        const int32_t rate = rates[static_cast<size_t>(i)];
        const double seconds =
            rate > 0 ? static_cast<double>(std::max<int64_t>(0, t.bytes - kWaveHeaderBytes)) / rate : 0;
        if (i > 0) out += ',';
        out += "{\"name\":\"";
        out += t.name.toStdString();
        out += "\",\"start\":\"";
        out += takes::StartText(t.name).toStdString();
        // The numbers as JSON has them whatever the locale (Qt sets the
        // user's, whose decimal separator may be a comma).
        out += "\",\"seconds\":";
        out.append(number, std::to_chars(number, number + sizeof number, seconds, std::chars_format::fixed, 1).ptr);
        out += ",\"bytes\":";
        out.append(number, std::to_chars(number, number + sizeof number, static_cast<long long>(t.bytes)).ptr);
        if (archived_) out += archived_(t.name) ? ",\"archived\":true" : ",\"archived\":false";
        out += ",\"note\":";
        out += marks.notes.contains(takes::NoteFile(t.name)) ? JsonString(store_->Note(t.name)) : "\"\"";
        out += marks.holds.contains(takes::HoldFile(t.name)) ? ",\"held\":true" : ",\"held\":false";
        out += t.name == writing ? ",\"recording\":true}" : ",\"recording\":false}";
    }
    out += ']';
    res.set_header("Cache-Control", "no-store");
    res.set_content(out, "application/json");
}

void TakeCatalogue::Serve(const httplib::Request& req, const QString& name, httplib::Response& res) {
    if (!takes::IsTakeName(name)) {
        res.status = 404;
        return;
    }
    platform::TakeOpen result = platform::TakeOpen::Failed;
    std::shared_ptr<platform::TakeReader> reader = store_->OpenTake(name, &result);
    if (!reader) {
        res.status = RefusalOf(result);
        if (res.status == 409) res.set_content("the take is being recorded\n", "text/plain");
        return;
    }
    const int64_t size = reader->Size();
    if (!FileHeaders(req, size, name.toStdString(), false, res)) return;
    auto buffer = std::make_shared<std::vector<char>>();
    res.set_content_provider(static_cast<size_t>(size), "audio/wav",
                             [reader, buffer](size_t offset, size_t length, httplib::DataSink& sink) {
                                 if (buffer->empty()) buffer->resize(kChunk);
                                 const int64_t n = reader->ReadAt(static_cast<int64_t>(offset), buffer->data(),
                                                                  static_cast<int64_t>(std::min(length, kChunk)));
                                 // A file that shrank or failed ends the response early.
                                 if (n <= 0) return false;
                                 return sink.write(buffer->data(), static_cast<size_t>(n));
                             });
}

void TakeCatalogue::Peaks(const QString& name, httplib::Response& res) {
    if (!takes::IsTakeName(name)) {
        res.status = 404;
        return;
    }
    platform::TakeOpen result = platform::TakeOpen::Failed;
    std::unique_ptr<platform::TakeReader> reader = store_->OpenTake(name, &result);
    if (!reader) {
        res.status = RefusalOf(result);
        return;
    }
    const int64_t size = reader->Size();
    res.set_header("Cache-Control", "no-cache");
    {
        std::lock_guard lock(cacheMutex_);
        const auto it = peaks_.constFind(name);
        if (it != peaks_.constEnd() && it->bytes == size) {
            res.set_content(it->json, "application/json");
            return;
        }
    }
    uint8_t head[kWaveHeaderBytes];
    const int64_t got = reader->ReadAt(0, head, kWaveHeaderBytes);
    const platform::WaveFormat format = got == kWaveHeaderBytes ? WaveFormatOf(head) : platform::WaveFormat{};
    const int channels = format.channels;
    // Peaks of 16-bit PCM only; anything else gets a flat line.
    const bool pcm16 = PcmByteRate(head, got) > 0 && format.bitsPerSample == 16 && channels >= 1 && channels <= 8;
    const int64_t frameBytes = 2 * std::max(1, channels);
    const int64_t frames = pcm16 ? (size - kWaveHeaderBytes) / frameBytes : 0;
    takes::PeakOutline outline(frames);
    if (pcm16) {
        std::vector<char> buffer(kChunk - kChunk % static_cast<size_t>(frameBytes));
        int64_t frame = 0;
        while (frame < frames) {
            const int64_t want = std::min<int64_t>(static_cast<int64_t>(buffer.size()), (frames - frame) * frameBytes);
            const int64_t n = reader->ReadAt(kWaveHeaderBytes + frame * frameBytes, buffer.data(), want);
            if (n < frameBytes) break;
            for (int64_t off = 0; off + frameBytes <= n; off += frameBytes, ++frame) {
                int peak = 0;
                for (int c = 0; c < channels; ++c) {
                    const auto* p = reinterpret_cast<const unsigned char*>(buffer.data() + off + 2 * c);
                    const int v = static_cast<int16_t>(p[0] | p[1] << 8);
                    peak = std::max(peak, v < 0 ? -v : v);
                }
                outline.Add(peak);
            }
        }
    }
    QJsonArray array;
    for (const int v : outline.Percent()) array.append(v);
    const std::string json = QJsonDocument(QJsonObject{{"peaks", array}}).toJson(QJsonDocument::Compact).toStdString();
    {
        std::lock_guard lock(cacheMutex_);
        if (peaks_.size() >= kPeakCacheEntries) peaks_.clear();
        peaks_.insert(name, PeakLine{size, json});
    }
    res.set_content(json, "application/json");
}

bool TakeCatalogue::Delete(const QString& name, httplib::Response& res) {
    if (!takes::IsTakeName(name)) {
        res.status = 404;
        return false;
    }
    unsigned char probe[1];
    if (store_->ReadHead(name, probe, 0) < 0) {  // missing, or no regular file
        res.status = 404;
        return false;
    }
    const char* const held = "the take is held; lift its hold before deleting it\n";
    if (store_->Held(name)) {
        res.status = 409;
        res.set_content(held, "text/plain");
        return false;
    }
    if (!store_->Remove(name)) {
        // The writer's lock (or a reader's) keeps the file, or a hold came.
        res.status = store_->ReadHead(name, probe, 0) < 0 ? 404 : 409;
        if (res.status == 409)
            res.set_content(store_->Held(name) ? held : "the take is being recorded or played\n", "text/plain");
        return false;
    }
    res.status = 204;
    return true;
}

namespace {

bool Marked(TakeStore::Mark result, httplib::Response& res) {
    switch (result) {
        case TakeStore::Mark::Done: res.status = 204; return true;
        case TakeStore::Mark::Missing: res.status = 404; return false;
        case TakeStore::Mark::Failed:
            res.status = 500;
            res.set_content("the take's mark could not be written\n", "text/plain");
            return false;
    }
    return false;
}

}  // namespace

bool TakeCatalogue::SetNote(const QString& name, const std::string& body, httplib::Response& res) {
    if (!takes::IsTakeName(name)) {
        res.status = 404;
        return false;
    }
    const QByteArray note = QByteArray::fromStdString(body);
    if (const QString problem = takes::NoteProblem(note); !problem.isEmpty()) {
        res.status = 400;
        res.set_content(problem.toStdString() + "\n", "text/plain");
        return false;
    }
    return Marked(store_->SetNote(name, note), res);
}

bool TakeCatalogue::SetHold(const QString& name, bool held, httplib::Response& res) {
    if (!takes::IsTakeName(name)) {
        res.status = 404;
        return false;
    }
    return Marked(store_->SetHold(name, held), res);
}
