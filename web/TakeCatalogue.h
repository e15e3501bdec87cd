// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The takes as the page sees them: the listing newest first with each
// take's length from its header (read once and cached), a take's bytes with
// ranges, its peaks (cached), its note and hold, and deleting one.
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
struct DirEntry;
}  // namespace platform
class TakeStore;

class TakeCatalogue {
public:
    // Reads the takes through `store`; without one, through a store of its
    // own over `recordFolder`. `archived`: whether the archive has a take;
    // empty without an archive.
    TakeCatalogue(QString recordFolder, TakeStore* store, std::function<bool(const QString&)> archived = {});
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
    // True when the take was removed; otherwise the refusal is in `res`
    // (409 for a held take).
    bool Delete(const QString& name, httplib::Response& res);
    // A take's note (the body, UTF-8) and hold; true when set (204),
    // otherwise the refusal is in `res`.
    bool SetNote(const QString& name, const std::string& body, httplib::Response& res);
    bool SetHold(const QString& name, bool held, httplib::Response& res);
    // Drops what is cached of a take that changed or went.
    void Forget(const QString& name);
    int64_t FreeBytes() const;

private:
    const QString folder_;
    TakeStore* store_ = nullptr;
    std::unique_ptr<TakeStore> ownStore_;
    const std::function<bool(const QString&)> archived_;
    std::atomic<bool> cancelled_{false};

    std::mutex cacheMutex_;
    struct PeakLine {
        int64_t bytes;
        std::string json;
    };
    QHash<QString, PeakLine> peaks_;
};
