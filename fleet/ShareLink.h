// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// Links to one take that work without a password until their end: the
// token names the room, the take and the end, and carries an HMAC-SHA-256 of
// them under the fleet's own key, so the server keeps nothing per link. A
// new key ends every link made before it.
#include <QByteArray>
#include <QString>

#include <cstdint>

struct ShareLink {
    QString room, name;
    int64_t expires = 0;  // seconds since the epoch (UTC)
};

// The longest token accepted.
constexpr int kMaxShareToken = 600;

// The token for `link` under `key` (URL-safe base64 without padding).
QString MakeShareToken(const QByteArray& key, const ShareLink& link);

// The link a token names: 200 when it is valid at `now`, 410 when its end
// has passed, 403 when it is no token of this key (altered, made under
// another key, or no token at all).
int CheckShareToken(const QByteArray& key, const QString& token, int64_t now, ShareLink* link);

// Reads the key kept in `path`, or makes one (32 random bytes, the file
// 0600) when there is none. A key file that others can read is made 0600.
// False with a reason when it cannot be read, made or protected.
bool LoadShareKey(const QString& path, QByteArray* key, QString* error);
