// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// HTTP requests for the archive and the alerts: one blocking call per
// request, made on the caller's own thread (never the GUI thread).
#include <QByteArray>
#include <QString>

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

namespace platform {

struct HttpRequest {
    std::string method = "GET";
    std::string url;                    // any query already percent-encoded
    std::vector<std::string> headers;   // "Name: value"
    // The body: the bytes of `body`, or the file `bodyFile` when it is set.
    QByteArray body;
    QString bodyFile;
    // AWS Signature V4 by the HTTP library ("aws:amz:REGION:SERVICE") with
    // `user` and `password` as the keys; empty: no signing.
    std::string awsSigV4;
    std::string user;
    std::string password;
    std::string caFile;                 // empty: the system's authorities
    int64_t maxSendBytesPerSecond = 0;  // 0: no cap
    int connectTimeoutSeconds = 10;
    // The transfer is given up when fewer than one byte a second moved for
    // this long.
    int stallSeconds = 60;
    // Polled during the transfer; true ends it as cancelled.
    std::function<bool()> cancelled;
    // When set, the body of a 2xx answer is handed here with the answer's
    // status as it arrives instead of being kept in the response (any size);
    // false ends the transfer as cancelled. Other answers are kept in the
    // response as usual.
    std::function<bool(int status, const char* data, size_t size)> onBody;
};

struct HttpResponse {
    int status = 0;         // 0: no answer (see error)
    std::string error;      // the transport's failure, empty when an answer came
    bool cancelled = false;
    std::map<std::string, std::string> headers;  // names in lower case
    QByteArray body;
};

class HttpClient {
public:
    virtual ~HttpClient() = default;
    virtual HttpResponse Send(const HttpRequest& request) = 0;
};

// The implementation on libcurl (CurlHttp.cpp); safe to use from one thread
// per client object.
std::unique_ptr<HttpClient> MakeCurlHttpClient();

}  // namespace platform
