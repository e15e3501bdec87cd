#pragma once
// The takes as the page sees them: the listing newest first with each
// take's length from its header (read once and cached), a take's bytes with
// ranges, its peaks (cached), and deleting one.
#include <QHash>
#include <QList>
#include <QString>

#include <atomic>
#include <functional>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

namespace httplib {
struct Request;
struct Response;
}  // namespace httplib

namespace platform {
class Files;
class TakeFiles;
struct TakeFileInfo;
}  // namespace platform

class TakeCatalogue {
public:
    // `archived`: whether the archive has a take; empty without an archive.
    TakeCatalogue(QString recordFolder, std::function<bool(const QString&)> archived = {});
    ~TakeCatalogue();

    // Finds the file services; false with a reason when there are none.
    bool Open(QString* error);
    // Reads ahead the headers of the takes there, so that the first listing
    // need not wait for them; Cancel ends it early.
    void WarmUp();
    void Cancel() { cancelled_ = true; }
    void Resume() { cancelled_ = false; }

    // `writing`: the take being written, marked in the listing.
    void List(const QString& writing, httplib::Response& res);
    void Serve(const httplib::Request& req, const QString& name, httplib::Response& res);
    void Peaks(const QString& name, httplib::Response& res);
    // True when the take was removed; otherwise the refusal is in `res`.
    bool Delete(const QString& name, httplib::Response& res);
    // Drops what is cached of a take that changed or went.
    void Forget(const QString& name);
    int64_t FreeBytes() const;

private:
    std::vector<int32_t> ByteRates(const QList<platform::TakeFileInfo>& list);
    QString Path(const QString& name) const { return folder_ + name; }

    const QString folder_;
    const std::function<bool(const QString&)> archived_;
    std::unique_ptr<platform::TakeFiles> files_;
    platform::Files* remover_ = nullptr;
    std::atomic<bool> cancelled_{false};

    std::mutex cacheMutex_;
    QHash<QString, int32_t> byteRates_;  // header bytes per second by name
    struct PeakLine {
        int64_t bytes;
        std::string json;
    };
    QHash<QString, PeakLine> peaks_;
};
