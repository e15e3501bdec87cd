// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// A client of an S3 object store over platform::HttpClient: path-style
// addresses, requests signed by the HTTP library (AWS Signature V4), the
// store's XML errors read for their code. Uploads are checked end to end:
// the PUT carries Content-MD5 and the store's ETag must be that MD5.
//
// Request() is the general form (any method, key and query); PutFile() is
// the upload built on it. Reading and listing go through Request() too.
#include <QByteArray>
#include <QString>

#include <functional>
#include <string>
#include <utility>
#include <vector>

#include "platform/Http.h"

struct S3Settings {
    QString endpoint;  // http(s)://host:port, no trailing slash
    QString bucket;
    QString region = QStringLiteral("us-east-1");
    QString accessKey;
    QString secretKey;
    QString caFile;
    int64_t maxSendBytesPerSecond = 0;
};

struct S3Result {
    enum class Kind { Ok, Retry, Refused, Cancelled };
    Kind kind = Kind::Retry;
    int status = 0;    // the HTTP status, 0 without an answer
    QString code;      // the store's error code, e.g. "SignatureDoesNotMatch"
    QString detail;    // readable: the code and message, or the transport's failure
    platform::HttpResponse response;
};

using QueryList = std::vector<std::pair<QString, QString>>;

class S3Client {
public:
    S3Client(S3Settings settings, platform::HttpClient& http);

    void SetKeys(const QString& accessKey, const QString& secretKey);
    const S3Settings& Settings() const { return settings_; }

    // The path-style address of `key` in the bucket (each part of the key
    // percent-encoded, "/" kept) with `query` sorted by name and encoded, as
    // the signature needs it.
    std::string Url(const QString& key, const QueryList& query = {}) const;

    // One request on the bucket. `request` gives the method, headers and body;
    // the address, the signing and x-amz-content-sha256 (the body's SHA-256 in
    // hex, or UNSIGNED-PAYLOAD when `payloadSha256` is empty) are filled in here.
    S3Result Request(platform::HttpRequest request, const QString& key, const QueryList& query,
                     const QByteArray& payloadSha256);

    // Uploads a file as `key`. `md5` and `sha256` are the file's raw digests;
    // `meta` become x-amz-meta-NAME headers. Ok only when the store's ETag is
    // the MD5. The upload is conditional (If-None-Match: *): an object
    // already at `key` is never replaced, the answer is then 412 with the
    // code "PreconditionFailed" (kind Refused).
    S3Result PutFile(const QString& key, const QString& path, const QByteArray& md5, const QByteArray& sha256,
                     const QString& contentType, const std::vector<std::pair<QString, QString>>& meta,
                     const std::function<bool()>& cancelled);
    // The object's headers (HEAD): its ETag and x-amz-meta-* in the response.
    S3Result Head(const QString& key, const std::function<bool()>& cancelled);

    // The Code and Message of an S3 XML error body.
    static QString ErrorCode(const QByteArray& xml, QString* message = nullptr);
    // How an answer counts: 2xx Ok; no answer, 5xx, 408, 429 and the store's
    // transient codes Retry; any other answer Refused.
    static S3Result Classify(platform::HttpResponse response);

private:
    S3Settings settings_;
    platform::HttpClient& http_;
};
