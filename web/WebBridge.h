// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// Ties the web server to the recorder session of this process: the listening
// address from the command line or config.ini, the live state sampled from
// the session, its take events and state changes. The front ends call
// StartWeb once.
#include <QString>
#include <QStringList>

#include <functional>

#include "settings/Config.h"

class QObject;
class RecorderSession;
class WebServer;
struct HttpOptions;

// The value of "--web [ADDR:]PORT" among `args`, with the arguments it took
// removed; false with an error when --web has no value.
bool TakeWebArgument(QStringList& args, QString* listen, QString* error);

// What a page on a network (non-loopback) address needs: a password that is
// neither empty nor the factory one, and TLS unless the page's section
// (`keys`, named `section`) says Plain=1, with its Certificate and Key or a
// pair made on the first start as STEM-certificate.pem and STEM-key.pem in
// the program's folder. Nothing for a loopback address. False with the reason.
bool ProtectForNetwork(HttpOptions* options, const PageSection& keys, const QString& section, const QString& stem,
                       QString* reason);

// Starts the server when `listen` (from --web) or [Web] Listen (`web`)
// asks for it, fed from `session` and owned by `parent`. Null when the web is
// off or cannot start; `error` then tells why (empty when it is off).
// `onTakeDeleted` runs on the GUI thread after a take was deleted, or its
// note or hold changed, through the web; a change goes to the archive too.
WebServer* StartWeb(RecorderSession& session, const WebSection& web, const QString& listen, QObject* parent,
                    QString* error,
                    std::function<void(const QString& name)> onTakeDeleted = nullptr);
