// SPDX-License-Identifier: GPL-3.0-or-later
// The web server's certificate and key through OpenSSL: PEM files read and
// written with its BIO calls, a new pair made with its EVP and X509 calls.
#include "platform/TlsIdentity.h"

#include <QFile>

#include <memory>

#include <fcntl.h>
#include <openssl/bio.h>
#include <openssl/evp.h>
#include <openssl/pem.h>
#include <openssl/rand.h>
#include <openssl/x509.h>
#include <sys/stat.h>
#include <unistd.h>

namespace platform {
namespace {

struct Free {
    void operator()(BIO* p) const { BIO_free(p); }
    void operator()(X509* p) const { X509_free(p); }
    void operator()(EVP_PKEY* p) const { EVP_PKEY_free(p); }
};
template <class T>
using Owned = std::unique_ptr<T, Free>;

bool Fail(QString* error, const QString& text) {
    if (error) *error = text;
    return false;
}

// The whole file, at most 1 MiB; false when it cannot be read.
bool ReadText(const QString& path, std::string* out) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) return false;
    const QByteArray bytes = file.read(1 << 20);
    *out = bytes.toStdString();
    return !out->empty();
}

// Written to a new file of the given mode; an existing file is kept.
bool WriteNew(const QString& path, const std::string& text, mode_t mode) {
    const QByteArray name = QFile::encodeName(path);
    const int fd = ::open(name.constData(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, mode);
    if (fd < 0) return false;
    size_t done = 0;
    while (done < text.size()) {
        const ssize_t n = ::write(fd, text.data() + done, text.size() - done);
        if (n <= 0) break;
        done += static_cast<size_t>(n);
    }
    const bool ok = done == text.size() && ::fsync(fd) == 0;
    if (::close(fd) != 0 || !ok) {
        ::unlink(name.constData());
        return false;
    }
    return true;
}

std::string PemOf(X509* certificate, EVP_PKEY* key) {
    Owned<BIO> bio(BIO_new(BIO_s_mem()));
    const bool ok = bio && (certificate ? PEM_write_bio_X509(bio.get(), certificate) == 1
                                        : PEM_write_bio_PrivateKey(bio.get(), key, nullptr, nullptr, 0, nullptr,
                                                                   nullptr) == 1);
    if (!ok) return {};
    char* data = nullptr;
    const long size = BIO_get_mem_data(bio.get(), &data);
    return size > 0 ? std::string(data, static_cast<size_t>(size)) : std::string();
}

// A P-256 key and a certificate for it, signed by itself, valid for ten years.
bool MakePair(const QString& commonName, std::string* certificatePem, std::string* keyPem) {
    Owned<EVP_PKEY> key(EVP_EC_gen("P-256"));
    Owned<X509> x509(X509_new());
    if (!key || !x509) return false;
    unsigned char serial[16];
    if (RAND_bytes(serial, sizeof serial) != 1) return false;
    serial[0] &= 0x7F;  // a positive serial number
    BIGNUM* number = BN_bin2bn(serial, sizeof serial, nullptr);
    const bool serialSet = number && BN_to_ASN1_INTEGER(number, X509_get_serialNumber(x509.get()));
    BN_free(number);
    const QByteArray cn = commonName.toUtf8();
    X509_NAME* name = X509_get_subject_name(x509.get());
    const bool ok = serialSet && X509_set_version(x509.get(), 2) == 1 &&
                    X509_gmtime_adj(X509_getm_notBefore(x509.get()), -3600) &&
                    X509_gmtime_adj(X509_getm_notAfter(x509.get()), 10L * 366 * 24 * 3600) &&
                    X509_set_pubkey(x509.get(), key.get()) == 1 &&
                    X509_NAME_add_entry_by_txt(name, "CN", MBSTRING_UTF8,
                                               reinterpret_cast<const unsigned char*>(cn.constData()), -1, -1,
                                               0) == 1 &&
                    X509_set_issuer_name(x509.get(), name) == 1 &&
                    X509_sign(x509.get(), key.get(), EVP_sha256()) > 0;
    if (!ok) return false;
    *certificatePem = PemOf(x509.get(), nullptr);
    *keyPem = PemOf(nullptr, key.get());
    return !certificatePem->empty() && !keyPem->empty();
}

}  // namespace

bool LoadTlsIdentity(const QString& certificatePath, const QString& keyPath, bool makeIfMissing,
                     const QString& commonName, TlsIdentity* out, QString* error) {
    const bool certificateThere = QFile::exists(certificatePath);
    const bool keyThere = QFile::exists(keyPath);
    if (makeIfMissing && !certificateThere && !keyThere) {
        std::string certificate, key;
        if (!MakePair(commonName, &certificate, &key))
            return Fail(error, QStringLiteral("cannot make a certificate"));
        // The key first and readable by the user alone; a certificate
        // without its key is never left behind.
        if (!WriteNew(keyPath, key, 0600))
            return Fail(error, QStringLiteral("cannot write %1").arg(keyPath));
        if (!WriteNew(certificatePath, certificate, 0644)) {
            QFile::remove(keyPath);
            return Fail(error, QStringLiteral("cannot write %1").arg(certificatePath));
        }
    }
    TlsIdentity identity;
    if (!ReadText(certificatePath, &identity.certificatePem))
        return Fail(error, QStringLiteral("cannot read the certificate %1").arg(certificatePath));
    if (!ReadText(keyPath, &identity.keyPem))
        return Fail(error, QStringLiteral("cannot read the key %1").arg(keyPath));
    Owned<BIO> certificateBio(BIO_new_mem_buf(identity.certificatePem.data(), static_cast<int>(identity.certificatePem.size())));
    Owned<X509> certificate(certificateBio ? PEM_read_bio_X509(certificateBio.get(), nullptr, nullptr, nullptr) : nullptr);
    if (!certificate) return Fail(error, QStringLiteral("%1 holds no PEM certificate").arg(certificatePath));
    Owned<BIO> keyBio(BIO_new_mem_buf(identity.keyPem.data(), static_cast<int>(identity.keyPem.size())));
    // An empty passphrase: a key that has one is refused, never asked for.
    Owned<EVP_PKEY> key(keyBio ? PEM_read_bio_PrivateKey(keyBio.get(), nullptr, nullptr, const_cast<char*>("")) : nullptr);
    if (!key) return Fail(error, QStringLiteral("%1 holds no PEM private key without a passphrase").arg(keyPath));
    if (X509_check_private_key(certificate.get(), key.get()) != 1)
        return Fail(error, QStringLiteral("the key %1 does not belong to the certificate %2").arg(keyPath, certificatePath));
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int length = 0;
    if (X509_digest(certificate.get(), EVP_sha256(), digest, &length) != 1)
        return Fail(error, QStringLiteral("cannot take the certificate's fingerprint"));
    identity.fingerprint = QByteArray(reinterpret_cast<const char*>(digest), length).toHex(':').toUpper();
    *out = std::move(identity);
    return true;
}

}  // namespace platform
