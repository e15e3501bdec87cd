#pragma once
// The archive and the alerts as config.ini asks for them, on this system's
// HTTP client, encoder and files.
#include <QObject>
#include <QString>

#include <memory>

class Archiver;
class AlertWatch;

// Null when [Archive] Endpoint is empty. `programFolder` holds the journal
// ("archive.journal") and the folder of FLAC copies being sent.
std::unique_ptr<Archiver> MakeArchiver(const QString& programFolder, const QString& recordFolder);
// Null when [Alerts] Webhook is empty.
std::unique_ptr<AlertWatch> MakeAlertWatch(const QString& programFolder);
