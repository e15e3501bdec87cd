#pragma once
// Ties the web server to the recorder of this process: the listening address
// from the command line or config.ini, the live state sampled from the
// capture window, and its take events. The front ends call StartWeb once.
#include <QString>
#include <QStringList>

class QObject;
class TFRecord;
class WebServer;

// The value of "--web [ADDR:]PORT" among `args`, with the arguments it took
// removed; false with an error when --web has no value.
bool TakeWebArgument(QStringList& args, QString* listen, QString* error);

// Starts the server when `listen` (from --web) or [Web] Listen in config.ini
// asks for it, fed from `record` and owned by `parent`. Null when the web is
// off or cannot start; `error` then tells why (empty when it is off).
// `onTakeDeleted` runs on the GUI thread after a take was deleted through the web.
WebServer* StartWeb(TFRecord& record, const QString& listen, QObject* parent, QString* error,
                    void (*onTakeDeleted)(const QString& name) = nullptr);
