// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// An HTTP client for the tests that answers from a script and keeps a copy
// of every request, and a client that forwards to one that outlives it.
#include <QByteArray>

#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "platform/Http.h"

namespace testing_support {

// Answers each request with `answer`, one request at a time, and keeps a
// copy of every request.
class ScriptedHttp final : public platform::HttpClient {
public:
    using Script = std::function<platform::HttpResponse(const platform::HttpRequest&)>;

    ScriptedHttp() = default;
    explicit ScriptedHttp(Script script) : answer(std::move(script)) {}

    Script answer;

    platform::HttpResponse Send(const platform::HttpRequest& request) override {
        std::lock_guard lock(mutex_);
        requests_.push_back(request);
        return answer(request);
    }
    std::vector<platform::HttpRequest> Requests() {
        std::lock_guard lock(mutex_);
        return requests_;
    }

private:
    std::mutex mutex_;
    std::vector<platform::HttpRequest> requests_;
};

// Hands every request to a ScriptedHttp that outlives it.
class Forward final : public platform::HttpClient {
public:
    explicit Forward(std::shared_ptr<ScriptedHttp> to) : to_(std::move(to)) {}
    platform::HttpResponse Send(const platform::HttpRequest& request) override { return to_->Send(request); }

private:
    std::shared_ptr<ScriptedHttp> to_;
};

// A response with `status`, `body` and, when given, an ETag.
inline platform::HttpResponse Answer(int status, const QByteArray& body = {}, const std::string& etag = {}) {
    platform::HttpResponse r;
    r.status = status;
    r.body = body;
    if (!etag.empty()) r.headers["etag"] = etag;
    return r;
}

}  // namespace testing_support
