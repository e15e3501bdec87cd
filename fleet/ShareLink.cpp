// SPDX-License-Identifier: GPL-3.0-or-later
#include "fleet/ShareLink.h"

#include <QFile>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include <openssl/crypto.h>
#include <openssl/evp.h>
#include <openssl/hmac.h>
#include <openssl/rand.h>

namespace {

constexpr int kMacBytes = 32;
constexpr int kKeyBytes = 32;
constexpr auto kBase64 = QByteArray::Base64UrlEncoding | QByteArray::OmitTrailingEquals;

QByteArray Mac(const QByteArray& key, const QByteArray& data) {
    unsigned char out[EVP_MAX_MD_SIZE];
    unsigned int length = 0;
    if (!HMAC(EVP_sha256(), key.constData(), static_cast<int>(key.size()),
              reinterpret_cast<const unsigned char*>(data.constData()), static_cast<size_t>(data.size()), out, &length))
        return {};
    return QByteArray(reinterpret_cast<const char*>(out), static_cast<qsizetype>(length));
}

// "1", the room, the take and the end, one a line.
QByteArray Payload(const ShareLink& link) {
    return "1\n" + link.room.toUtf8() + '\n' + link.name.toUtf8() + '\n' + QByteArray::number(link.expires);
}

}  // namespace

QString MakeShareToken(const QByteArray& key, const ShareLink& link) {
    const QByteArray payload = Payload(link);
    return QString::fromLatin1((payload + Mac(key, payload)).toBase64(kBase64));
}

int CheckShareToken(const QByteArray& key, const QString& token, int64_t now, ShareLink* link) {
    if (key.isEmpty() || token.isEmpty() || token.size() > kMaxShareToken) return 403;
    const auto decoded =
        QByteArray::fromBase64Encoding(token.toLatin1(), kBase64 | QByteArray::AbortOnBase64DecodingErrors);
    // Only the one spelling the fleet made: stray characters that decode to
    // nothing are no part of a token.
    if (!decoded || decoded.decoded.size() <= kMacBytes || decoded.decoded.toBase64(kBase64) != token.toLatin1())
        return 403;
    const QByteArray payload = decoded.decoded.chopped(kMacBytes);
    const QByteArray mac = Mac(key, payload);
    if (mac.size() != kMacBytes || CRYPTO_memcmp(mac.constData(), decoded.decoded.constData() + payload.size(),
                                                 kMacBytes) != 0)
        return 403;
    const QList<QByteArray> parts = payload.split('\n');
    bool ok = false;
    if (parts.size() != 4 || parts[0] != "1") return 403;
    const int64_t expires = parts[3].toLongLong(&ok);
    if (!ok) return 403;
    link->room = QString::fromUtf8(parts[1]);
    link->name = QString::fromUtf8(parts[2]);
    link->expires = expires;
    return now < expires ? 200 : 410;
}

bool LoadShareKey(const QString& path, QByteArray* key, QString* error) {
    const QByteArray file = QFile::encodeName(path);
    auto fail = [&](const QString& what) {
        *error = QStringLiteral("%1 %2: %3").arg(what, path, QString::fromLocal8Bit(std::strerror(errno)));
        return false;
    };
    int fd = ::open(file.constData(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW);
    if (fd < 0 && errno == ENOENT) {
        unsigned char bytes[kKeyBytes];
        if (RAND_bytes(bytes, kKeyBytes) != 1) {
            *error = QStringLiteral("no random bytes for the share key");
            return false;
        }
        const QByteArray hex = QByteArray(reinterpret_cast<const char*>(bytes), kKeyBytes).toHex() + '\n';
        const int out = ::open(file.constData(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
        if (out < 0) return fail(QStringLiteral("cannot make"));
        const bool written = ::write(out, hex.constData(), static_cast<size_t>(hex.size())) == hex.size() &&
                             ::fsync(out) == 0;
        ::close(out);
        if (!written) {
            ::unlink(file.constData());
            return fail(QStringLiteral("cannot write"));
        }
        fd = ::open(file.constData(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW);
    }
    if (fd < 0) return fail(QStringLiteral("cannot read"));
    struct stat st {};
    if (::fstat(fd, &st) != 0 || ((st.st_mode & 077) != 0 && ::fchmod(fd, 0600) != 0)) {
        ::close(fd);
        return fail(QStringLiteral("cannot protect"));
    }
    char buffer[256];
    const ssize_t n = ::read(fd, buffer, sizeof buffer);
    ::close(fd);
    if (n < 0) return fail(QStringLiteral("cannot read"));
    *key = QByteArray::fromHex(QByteArray(buffer, static_cast<qsizetype>(n)).trimmed());
    if (key->size() < 16) {
        *error = QStringLiteral("the share key %1 is too short; delete it to make a new one").arg(path);
        return false;
    }
    return true;
}
