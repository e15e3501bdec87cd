// SPDX-License-Identifier: GPL-3.0-or-later
#include "archive/S3Client.h"

#include <QSet>
#include <QStringList>
#include <QUrl>
#include <QXmlStreamReader>

#include <algorithm>

S3Client::S3Client(S3Settings settings, platform::HttpClient& http) : settings_(std::move(settings)), http_(http) {}

void S3Client::SetKeys(const QString& accessKey, const QString& secretKey) {
    settings_.accessKey = accessKey;
    settings_.secretKey = secretKey;
}

std::string S3Client::Url(const QString& key, const QueryList& query) const {
    QByteArray url = settings_.endpoint.toUtf8();
    url += '/';
    url += QUrl::toPercentEncoding(settings_.bucket);
    if (!key.isEmpty()) {
        for (const QString& part : key.split('/')) {
            url += '/';
            url += QUrl::toPercentEncoding(part);
        }
    }
    if (!query.empty()) {
        std::vector<std::pair<QByteArray, QByteArray>> encoded;
        for (const auto& [name, value] : query)
            encoded.emplace_back(QUrl::toPercentEncoding(name), QUrl::toPercentEncoding(value));
        std::sort(encoded.begin(), encoded.end());
        char separator = '?';
        for (const auto& [name, value] : encoded) {
            url += separator;
            url += name + '=' + value;
            separator = '&';
        }
    }
    return url.toStdString();
}

S3Result S3Client::Request(platform::HttpRequest request, const QString& key, const QueryList& query,
                           const QByteArray& payloadSha256) {
    request.url = Url(key, query);
    request.awsSigV4 = "aws:amz:" + settings_.region.toStdString() + ":s3";
    request.user = settings_.accessKey.toStdString();
    request.password = settings_.secretKey.toStdString();
    request.caFile = settings_.caFile.toStdString();
    request.maxSendBytesPerSecond = settings_.maxSendBytesPerSecond;
    request.headers.push_back("x-amz-content-sha256: " +
                              (payloadSha256.isEmpty() ? std::string("UNSIGNED-PAYLOAD")
                                                       : payloadSha256.toHex().toStdString()));
    return Classify(http_.Send(request));
}

S3Result S3Client::PutFile(const QString& key, const QString& path, const QByteArray& md5, const QByteArray& sha256,
                           const QString& contentType, const std::vector<std::pair<QString, QString>>& meta,
                           const std::function<bool()>& cancelled) {
    platform::HttpRequest request;
    request.method = "PUT";
    request.bodyFile = path;
    request.cancelled = cancelled;
    request.headers.push_back("Content-MD5: " + md5.toBase64().toStdString());
    request.headers.push_back("Content-Type: " + contentType.toStdString());
    request.headers.push_back("If-None-Match: *");
    for (const auto& [name, value] : meta)
        request.headers.push_back("x-amz-meta-" + name.toLower().toStdString() + ": " + value.toStdString());
    S3Result result = Request(std::move(request), key, {}, sha256);
    if (result.kind != S3Result::Kind::Ok) return result;
    QString etag = QString::fromStdString(result.response.headers["etag"]).toLower();
    etag.remove('"');
    const QString expected = QString::fromLatin1(md5.toHex());
    if (etag != expected) {
        // Not what was sent: sent again later.
        result.kind = S3Result::Kind::Retry;
        result.code = QStringLiteral("ETagMismatch");
        result.detail = QStringLiteral("the store's ETag '%1' is not the MD5 %2 of what was sent").arg(etag, expected);
    }
    return result;
}

S3Result S3Client::Head(const QString& key, const std::function<bool()>& cancelled) {
    platform::HttpRequest request;
    request.method = "HEAD";
    request.cancelled = cancelled;
    request.stallSeconds = 30;
    return Request(std::move(request), key, {}, QByteArray());
}

QString S3Client::ErrorCode(const QByteArray& xml, QString* message) {
    QXmlStreamReader reader(xml);
    QString code;
    int depth = 0;
    while (!reader.atEnd()) {
        const auto token = reader.readNext();
        if (token == QXmlStreamReader::StartElement) {
            ++depth;
            // The children of the root <Error>.
            if (depth == 2 && reader.name() == QLatin1String("Code")) {
                code = reader.readElementText();
                --depth;
            } else if (depth == 2 && reader.name() == QLatin1String("Message")) {
                const QString text = reader.readElementText();
                if (message) *message = text;
                --depth;
            }
        } else if (token == QXmlStreamReader::EndElement) {
            --depth;
        }
    }
    return code;
}

S3Result S3Client::Classify(platform::HttpResponse response) {
    S3Result r;
    r.status = response.status;
    if (response.status == 0) {
        r.kind = response.cancelled ? S3Result::Kind::Cancelled : S3Result::Kind::Retry;
        r.detail = QString::fromStdString(response.error);
    } else if (response.status >= 200 && response.status < 300) {
        r.kind = S3Result::Kind::Ok;
    } else {
        QString message;
        r.code = ErrorCode(response.body, &message);
        static const QSet<QString> kTransient = {"RequestTimeout", "SlowDown", "InternalError", "ServiceUnavailable",
                                                 "BadDigest", "IncompleteBody", "OperationAborted"};
        const bool transient = response.status >= 500 || response.status == 408 || response.status == 429 ||
                               kTransient.contains(r.code);
        r.kind = transient ? S3Result::Kind::Retry : S3Result::Kind::Refused;
        if (r.code.isEmpty()) r.code = QStringLiteral("HTTP %1").arg(response.status);
        r.detail = message.isEmpty() ? r.code : r.code + ": " + message;
    }
    r.response = std::move(response);
    return r;
}
