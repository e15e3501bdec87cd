// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// What the HTTP layer needs of a page: where it listens, plain or over TLS,
// how many workers serve it, and who may read and change it. The recorder's
// page (WebOptions) and the fleet page are built from these.
#include <QString>

#include <string>

struct HttpOptions {
    QString address = QStringLiteral("127.0.0.1");
    quint16 port = 0;        // 0: any free port
    QString password;        // the administrator password
    // Reading needs the password too. Always so on an address other than a
    // loopback one; on loopback reading is open unless this is set.
    bool passwordForReading = false;
    // After a wrong password, further password checks are refused (429) for
    // this long, doubling with each failure up to 16 times as long.
    int authDelayMs = 1000;
    int workerThreads = 8;
    // A connection that sends no whole request head within this is closed.
    int headTimeoutMs = 10000;
    // Served over TLS with this certificate and key (PEM text).
    bool tls = false;
    std::string certificatePem, keyPem;
    QString certificateFingerprint;  // shown with the address
    // The rules of a network address (the password for reading, and never
    // an empty or the factory one) on a loopback one, for the tests.
    bool networkRules = false;
};

// The administrator password that every copy of the program starts with.
inline constexpr char kFactoryPassword[] = "58316024";

// Why `password` cannot guard a page on the network (empty, or the factory
// one); empty when it can.
QString NetworkPasswordProblem(const QString& password);

// "[ADDR:]PORT" as given to --web or --fleet, or in [Web] or [Fleet] Listen;
// port 0 takes any free one. An empty text is false with an empty error (the
// server stays off).
bool ParseWebListen(const QString& text, HttpOptions* options, QString* error);

// 127.x.x.x and ::1: addresses only this machine reaches.
bool IsLoopbackAddress(const QString& address);
