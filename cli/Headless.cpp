// SPDX-License-Identifier: GPL-3.0-or-later
// The recorder without a window (--headless): the same session as the
// window, on Qt's core event loop, with one line on standard output for each
// take and each change of the input's or the disk's state.
#include <QCoreApplication>

#include <algorithm>
#include <cmath>
#include <csignal>
#include <memory>

#include "archive/Archiver.h"
#include "cli/CliSupport.h"
#include "cli/Modes.h"
#include "capture/TakeStore.h"
#include "platform/Platform.h"
#include "platform/QuitSignals.h"
#include "platform/WaveIn.h"
#include "session/RecorderSession.h"
#include "settings/publicunit.h"
#include "web/WebBridge.h"
#include "web/WebServer.h"

namespace {

// The state lines: what an operator reads in the journal the next morning.
void ConnectStateLines(RecorderSession& session) {
    // The first start says nothing when it works; "input back" follows a loss.
    auto lost = std::make_shared<bool>(false);
    QObject::connect(&session, &RecorderSession::inputStateChanged, [lost](InputState state, const QString& detail) {
        if (state == InputState::Lost) {
            *lost = true;
            PrintLine("input lost: " + detail + "; trying again every 2 s");
        } else if (state == InputState::Listening && *lost) {
            *lost = false;
            PrintLine("input back: " + detail);
        }
    });
    QObject::connect(&session, &RecorderSession::soundLost, [](qint64 ms) {
        PrintLine(QStringLiteral("overrun: %1 ms of sound lost").arg(ms));
    });
    QObject::connect(&session, &RecorderSession::diskStateChanged, [](DiskState state, const QString& detail) {
        switch (state) {
            case DiskState::Ok: PrintLine("disk writable again: " + detail); break;
            case DiskState::Full: PrintLine("disk full: " + detail + "; the open take was kept"); break;
            case DiskState::Behind: PrintLine("disk too slow: " + detail); break;
            case DiskState::Unwritable: PrintLine("disk unwritable: " + detail); break;
        }
    });
    QObject::connect(&session, &RecorderSession::hoursChanged,
                     [](bool, const QString& state) { PrintLine(state); });
    QObject::connect(&session, &RecorderSession::settingRefused, [](const QString& line) { PrintLine(line); });
    QObject::connect(&session, &RecorderSession::soundAlarm, [&session](SoundAlarm alarm, const QString&) {
        switch (alarm) {
            case SoundAlarm::Silent: PrintLine(SilentStateText(session.SilentSince())); break;
            case SoundAlarm::SoundBack: PrintLine(QStringLiteral("sound back")); break;
            case SoundAlarm::SilenceEnded: break;  // the hours' own line says it
            case SoundAlarm::Clipping: PrintLine(QStringLiteral("clipping")); break;
            case SoundAlarm::ClippingOver: PrintLine(QStringLiteral("clipping over")); break;
        }
    });
}

// The archive's lines. It reports from its own thread: each connection has
// the session as its context, so the lines are printed on the GUI thread.
void ConnectArchiveLines(RecorderSession& session) {
    Archiver* archive = session.Archive();
    if (!archive) return;
    QObject::connect(archive, &Archiver::archived, &session,
                     [&session](const QString& name, const QString& bucket, const QString& key, qint64 bytes) {
                         PrintLine(QStringLiteral("archived %1 -> %2/%3 (%4 bytes)").arg(name, bucket, key).arg(bytes));
                         // A take kept only for the archive may go now.
                         session.Store().Refresh();
                     });
    QObject::connect(archive, &Archiver::stateChanged, &session, [](ArchiveState state, const QString& detail) {
        switch (state) {
            case ArchiveState::Ok: PrintLine(QStringLiteral("archive reachable again")); break;
            case ArchiveState::Unreachable: PrintLine("archive unreachable: " + detail); break;
            case ArchiveState::Refused: PrintLine("archive refused: " + detail); break;
        }
    });
    QObject::connect(archive, &Archiver::behind, &session, [](int takes, qint64 bytes, const QString& oldest) {
        PrintLine(QStringLiteral("archive behind: %1 takes, %2 MB, oldest %3")
                      .arg(takes)
                      .arg(static_cast<double>(bytes) / 1e6, 0, 'f', 1)
                      .arg(oldest));
    });
    QObject::connect(archive, &Archiver::skipped, &session, [](const QString& name, const QString& reason) {
        PrintLine(name.isEmpty() ? "archive: " + reason : "archive skipped " + name + ": " + reason);
    });
    QObject::connect(archive, &Archiver::setAside, &session, [](const QString& name, const QString& code) {
        PrintLine("archive refused " + name + ": " + code);
    });
    QObject::connect(archive, &Archiver::keyTaken, &session,
                     [](const QString& name, const QString& taken, const QString& key) {
                         PrintLine("archive key taken: " + taken + " holds another recording; " + name +
                                   " goes to " + key);
                     });
    QObject::connect(archive, &Archiver::prefixShared, &session, [](const QString& prefix) {
        PrintLine("archive prefix shared with another machine: " + prefix);
    });
    QObject::connect(archive, &Archiver::noObjectLock, &session, [](const QString& bucket) {
        PrintLine("archive: the bucket " + bucket + " has no Object Lock; holds are kept here only");
    });
    // Once the archive knows what it has, the clean-up may remove those takes.
    QObject::connect(archive, &Archiver::journalLoaded, &session, [&session] { session.Store().Refresh(); });
}

}  // namespace

int RunHeadless(int argc, char** argv) {
    QStringList options;
    for (int i = 2; i < argc; ++i) options.append(QString::fromLocal8Bit(argv[i]));
    QString webListen;
    QString webError;
    if (!TakeWebArgument(options, &webListen, &webError)) {
        Error(webError);
        return 2;
    }
    if (!options.isEmpty()) {
        Error(QStringLiteral("unknown option '%1' (try --help)").arg(options.first()));
        return 2;
    }
    if (!webListen.isEmpty() && !ParseWebListen(webListen, nullptr, &webError)) {
        Error(QStringLiteral("--web: ") + webError);
        return 2;
    }
    // A reader of standard output that goes away must not end the recorder
    // with a take open; the loop only waits for sound and signals.
    PrepareConsoleMode();
    int qtArgc = 1;
    QCoreApplication app(qtArgc, argv);
    platform::InstallDefaults();
    // The window and the headless recorder share one instance per user; a
    // second start ends at once and silently.
    if (!platform::Services().instance->TryAcquire(kMainCaption)) return 0;

    SetProgramFolders();
    const Config config = LoadConfig(*platform::Services().profile, ConfigFilePath(), platform::Services().files);
    LoadSettings(config);
    for (const QString& line : config.problems) PrintLine(line);
    if (const QString line = ProtectConfigFile(config); !line.isEmpty()) PrintLine(line);
    Playing = false;
    // Nothing shows the blocks as they come: the input wakes about two or
    // three times a second and hands on the blocks of that time together.
    const int blocksPerWake =
        std::max(1, static_cast<int>(std::lrint(0.4 * AppSettings.SamplingRate / TFRecord::kBlockFrames)));
    delete platform::Services().waveIn;  // the default one, never opened
    platform::Services().waveIn = platform::MakeAlsaWaveIn(blocksPerWake).release();
    platform::FixServices();
    platform::Services().priority->Raise();

    // Nothing shows the bands or the waveform without a window.
    RecorderSession session({.recordFolder = RecordFolder(),
                             .bandsShown = false,
                             .archiveSettings = config.archive,
                             .alertSettings = config.alerts});
    const TFRecord& record = session.RecordEngine();
    // The store makes the folder, repairs what a stop left open and cleans
    // up as takes open and end, on its own thread.
    TakeStore& store = session.Store();
    QObject::connect(&store, &TakeStore::repaired, [](int repaired) {
        if (repaired > 0) PrintLine(QStringLiteral("repaired the header of %1 recording(s) left open").arg(repaired));
    });
    QObject::connect(&store, &TakeStore::removed, [](const QString& name, const QString& reason) {
        PrintLine("removed " + name + " (" + reason + ")");
    });
    // Repaired and cleaned up before the capture starts, and said so first,
    // unless the disk does not answer: listening never waits for it.
    store.Repair();
    store.Refresh();
    if (!store.WaitIdleFor(TakeStore::kEndLimitMs))
        PrintLine(QStringLiteral("disk not answering: %1; listening anyway").arg(RecordFolder()));
    QCoreApplication::sendPostedEvents(&store, QEvent::MetaCall);
    QObject::connect(&session, &RecorderSession::takeEvent,
                     [&record](TakeEvent event, const QString& fileName, qint64 frames) {
                         PrintTake(event, fileName, frames, record.SampleRate);
                     });
    ConnectStateLines(session);
    ConnectArchiveLines(session);

    // SIGINT, SIGTERM and SIGHUP end it like closing the window: an open take
    // is closed and kept. In manual mode SIGUSR1 and SIGUSR2 are the record
    // and stop commands.
    const auto signalNumbers = {SIGINT, SIGTERM, SIGHUP, SIGUSR1, SIGUSR2};
    const bool watching = platform::WatchSignals(&session, signalNumbers, [&session](int signal) {
        if (signal == SIGUSR1) {
            session.RequestManualStart();
        } else if (signal == SIGUSR2) {
            session.RequestManualStop();
        } else {
            session.Close();
            QCoreApplication::quit();
        }
    });
    if (!watching) {
        Error(QStringLiteral("cannot install the signal handlers"));
        return 1;
    }
    if (AppSettings.ManualMode)
        PrintLine(QStringLiteral("manual mode: SIGUSR1 starts a take, SIGUSR2 ends it (kill -USR1 %1)")
                      .arg(QCoreApplication::applicationPid()));

    session.StartCapture(nullptr);
    // The web page, when asked for; a server that cannot start is reported
    // and the recorder goes on without it.
    if (const WebServer* web = StartWeb(session, config.web, webListen, &session, &webError)) {
        PrintLine(QStringLiteral("web page on %1 %2").arg(web->Url(), web->Identity()).trimmed());
    } else if (!webError.isEmpty()) {
        if (webError.startsWith(QLatin1String("web page not started"))) PrintLine(webError);
        Error(webError);
    }
    QCoreApplication::exec();
    session.Close();
    return 0;
}
