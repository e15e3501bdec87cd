// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/Http.h"

#include <curl/curl.h>

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstring>
#include <mutex>

namespace platform {
namespace {

std::once_flag curlInit;

struct Transfer {
    FILE* in = nullptr;
    const QByteArray* body = nullptr;
    int64_t sent = 0;
    HttpResponse* response = nullptr;
    const std::function<bool()>* cancelled = nullptr;
    const std::function<bool(int, const char*, size_t)>* onBody = nullptr;
    CURL* curl = nullptr;
    bool bodyRefused = false;
};

size_t ReadBody(char* buffer, size_t size, size_t count, void* user) {
    auto* t = static_cast<Transfer*>(user);
    const size_t room = size * count;
    if (t->in) {
        const size_t n = std::fread(buffer, 1, room, t->in);
        if (n == 0 && std::ferror(t->in)) return CURL_READFUNC_ABORT;
        return n;
    }
    const int64_t left = t->body->size() - t->sent;
    const size_t n = static_cast<size_t>(std::min<int64_t>(left, static_cast<int64_t>(room)));
    std::memcpy(buffer, t->body->constData() + t->sent, n);
    t->sent += static_cast<int64_t>(n);
    return n;
}

size_t WriteBody(char* data, size_t size, size_t count, void* user) {
    auto* t = static_cast<Transfer*>(user);
    if (*t->onBody) {
        long status = 0;
        curl_easy_getinfo(t->curl, CURLINFO_RESPONSE_CODE, &status);
        if (status >= 200 && status < 300) {
            if ((*t->onBody)(static_cast<int>(status), data, size * count)) return size * count;
            t->bodyRefused = true;
            return 0;
        }
    }
    // Answers here are small (XML errors, JSON); a large one is cut.
    constexpr qsizetype kMaxBody = 1 << 20;
    const qsizetype n = static_cast<qsizetype>(size * count);
    if (t->response->body.size() < kMaxBody) t->response->body.append(data, std::min(n, kMaxBody));
    return size * count;
}

size_t Header(char* data, size_t size, size_t count, void* user) {
    auto* t = static_cast<Transfer*>(user);
    const std::string line(data, size * count);
    const size_t colon = line.find(':');
    if (colon != std::string::npos) {
        std::string name = line.substr(0, colon);
        for (char& c : name) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
        std::string value = line.substr(colon + 1);
        const size_t b = value.find_first_not_of(" \t");
        const size_t e = value.find_last_not_of(" \t\r\n");
        t->response->headers[name] = b == std::string::npos ? std::string() : value.substr(b, e - b + 1);
    }
    return size * count;
}

int Progress(void* user, curl_off_t, curl_off_t, curl_off_t, curl_off_t) {
    auto* t = static_cast<Transfer*>(user);
    return (*t->cancelled && (*t->cancelled)()) ? 1 : 0;
}

class CurlHttpClient final : public HttpClient {
public:
    CurlHttpClient() { std::call_once(curlInit, [] { curl_global_init(CURL_GLOBAL_DEFAULT); }); }
    ~CurlHttpClient() override {
        if (curl_) curl_easy_cleanup(curl_);
    }

    HttpResponse Send(const HttpRequest& request) override {
        HttpResponse response;
        if (!curl_) curl_ = curl_easy_init();
        if (!curl_) {
            response.error = "cannot start an HTTP transfer";
            return response;
        }
        CURL* c = curl_;
        // One handle for every request keeps the connection open between them.
        curl_easy_reset(c);
        Transfer t;
        t.response = &response;
        t.body = &request.body;
        t.cancelled = &request.cancelled;
        t.onBody = &request.onBody;
        t.curl = c;
        int64_t bodySize = request.body.size();
        if (!request.bodyFile.isEmpty()) {
            t.in = std::fopen(request.bodyFile.toLocal8Bit().constData(), "rb");
            if (!t.in) {
                response.error = "cannot read " + request.bodyFile.toStdString();
                return response;
            }
            std::fseek(t.in, 0, SEEK_END);
            bodySize = std::ftell(t.in);
            std::fseek(t.in, 0, SEEK_SET);
        }
        curl_slist* headers = nullptr;
        for (const std::string& h : request.headers) headers = curl_slist_append(headers, h.c_str());
        // (No "Expect:" header to turn off 100-continue: the signature would
        // name a header that is never sent.)

        curl_easy_setopt(c, CURLOPT_URL, request.url.c_str());
        curl_easy_setopt(c, CURLOPT_NOSIGNAL, 1L);
        curl_easy_setopt(c, CURLOPT_PROTOCOLS_STR, "http,https");
        curl_easy_setopt(c, CURLOPT_SSL_VERIFYPEER, 1L);
        curl_easy_setopt(c, CURLOPT_SSL_VERIFYHOST, 2L);
        if (!request.caFile.empty()) curl_easy_setopt(c, CURLOPT_CAINFO, request.caFile.c_str());
        curl_easy_setopt(c, CURLOPT_CONNECTTIMEOUT, static_cast<long>(request.connectTimeoutSeconds));
        curl_easy_setopt(c, CURLOPT_LOW_SPEED_LIMIT, 1L);
        curl_easy_setopt(c, CURLOPT_LOW_SPEED_TIME, static_cast<long>(request.stallSeconds));
        if (request.maxSendBytesPerSecond > 0)
            curl_easy_setopt(c, CURLOPT_MAX_SEND_SPEED_LARGE, static_cast<curl_off_t>(request.maxSendBytesPerSecond));
        if (!request.awsSigV4.empty()) {
            curl_easy_setopt(c, CURLOPT_AWS_SIGV4, request.awsSigV4.c_str());
            curl_easy_setopt(c, CURLOPT_USERNAME, request.user.c_str());
            curl_easy_setopt(c, CURLOPT_PASSWORD, request.password.c_str());
        }
        if (request.method == "PUT") {
            curl_easy_setopt(c, CURLOPT_UPLOAD, 1L);
            curl_easy_setopt(c, CURLOPT_READFUNCTION, ReadBody);
            curl_easy_setopt(c, CURLOPT_READDATA, &t);
            curl_easy_setopt(c, CURLOPT_INFILESIZE_LARGE, static_cast<curl_off_t>(bodySize));
        } else if (request.method == "POST") {
            curl_easy_setopt(c, CURLOPT_POST, 1L);
            curl_easy_setopt(c, CURLOPT_READFUNCTION, ReadBody);
            curl_easy_setopt(c, CURLOPT_READDATA, &t);
            curl_easy_setopt(c, CURLOPT_POSTFIELDSIZE_LARGE, static_cast<curl_off_t>(bodySize));
        } else if (request.method == "HEAD") {
            curl_easy_setopt(c, CURLOPT_NOBODY, 1L);
        } else if (request.method != "GET") {
            curl_easy_setopt(c, CURLOPT_CUSTOMREQUEST, request.method.c_str());
        }
        curl_easy_setopt(c, CURLOPT_HTTPHEADER, headers);
        curl_easy_setopt(c, CURLOPT_WRITEFUNCTION, WriteBody);
        curl_easy_setopt(c, CURLOPT_WRITEDATA, &t);
        curl_easy_setopt(c, CURLOPT_HEADERFUNCTION, Header);
        curl_easy_setopt(c, CURLOPT_HEADERDATA, &t);
        curl_easy_setopt(c, CURLOPT_NOPROGRESS, 0L);
        curl_easy_setopt(c, CURLOPT_XFERINFOFUNCTION, Progress);
        curl_easy_setopt(c, CURLOPT_XFERINFODATA, &t);
        char error[CURL_ERROR_SIZE] = {};
        curl_easy_setopt(c, CURLOPT_ERRORBUFFER, error);

        const CURLcode code = curl_easy_perform(c);
        if (code == CURLE_OK) {
            long status = 0;
            curl_easy_getinfo(c, CURLINFO_RESPONSE_CODE, &status);
            response.status = static_cast<int>(status);
        } else {
            response.cancelled = code == CURLE_ABORTED_BY_CALLBACK || t.bodyRefused;
            response.error = error[0] ? error : curl_easy_strerror(code);
            response.body.clear();
        }
        curl_easy_setopt(c, CURLOPT_HTTPHEADER, nullptr);
        curl_easy_setopt(c, CURLOPT_ERRORBUFFER, nullptr);
        curl_slist_free_all(headers);
        if (t.in) std::fclose(t.in);
        return response;
    }

private:
    CURL* curl_ = nullptr;
};

}  // namespace

std::unique_ptr<HttpClient> MakeCurlHttpClient() { return std::make_unique<CurlHttpClient>(); }

}  // namespace platform
