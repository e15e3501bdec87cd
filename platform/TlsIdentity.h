// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The web server's certificate and key: read from PEM files, or made once as
// a self-signed pair when none are named and none were made before.
#include <QString>

#include <string>

namespace platform {

struct TlsIdentity {
    std::string certificatePem;
    std::string keyPem;
    QString fingerprint;  // SHA-256 of the certificate, "AB:CD:…"
};

// Reads the certificate and key at the two paths. With `makeIfMissing`, a
// pair that does not exist yet is made first: a self-signed certificate for
// `commonName`, the key readable by the user alone. False with a reason.
bool LoadTlsIdentity(const QString& certificatePath, const QString& keyPath, bool makeIfMissing,
                     const QString& commonName, TlsIdentity* out, QString* error);

}  // namespace platform
