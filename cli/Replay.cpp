// SPDX-License-Identifier: GPL-3.0-or-later
// The replay of a sound file (--replay) through the same session, capture
// engine and recording control as the live recorder, with a clock that counts
// the sound's frames.
#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QTemporaryFile>
#include <QTimer>

#include <algorithm>
#include <vector>
#include <csignal>
#include <cstdio>
#include <unistd.h>

#include "cli/CliSupport.h"
#include "cli/Modes.h"
#include "platform/Defaults.h"
#include "platform/Platform.h"
#include "platform/QuitSignals.h"
#include "platform/ReplayWaveIn.h"
#include "session/RecorderSession.h"
#include "settings/publicunit.h"

namespace {

// The clock of a replay: the sound's start plus the frames handed on so far,
// so a take is named from the moment its first block would have been complete
// and handled live.
class ReplayClock final : public platform::Clock {
public:
    ReplayClock(QDateTime start, const platform::ReplayWaveIn& device) : start_(std::move(start)), device_(device) {}
    QDateTime LocalNow() override {
        const int rate = device_.FileSampleRate();
        const qint64 ms = rate > 0 ? device_.FramesHandedOn() * 1000 / rate : 0;
        return start_.addMSecs(ms);
    }

private:
    QDateTime start_;
    const platform::ReplayWaveIn& device_;
};

// The files of a replay skip the periodic flushes of a live recording: the
// source stays where it is, and a flush every two seconds of sound would
// bound the replay by the disk's latency. Writes that continue one another
// are gathered up to 256 KiB and written at once; anything else (the header
// patched at the end, the size) writes what was gathered first.
class UnflushedFile final : public platform::WritableFile {
public:
    explicit UnflushedFile(std::unique_ptr<platform::WritableFile> file) : file_(std::move(file)) {
        gathered_.reserve(kGather);
    }
    ~UnflushedFile() override { Flush(); }
    int64_t Append(const void* data, int64_t size) override {
        Flush();
        return file_->Append(data, size);
    }
    bool WriteAt(int64_t offset, const void* data, int64_t size) override {
        const int64_t end = start_ + static_cast<int64_t>(gathered_.size());
        if (gathered_.empty() || offset != end || static_cast<int64_t>(gathered_.size()) + size > kGather) {
            if (!Flush()) return false;
            start_ = offset;
        }
        if (size > kGather) return file_->WriteAt(offset, data, size);
        gathered_.insert(gathered_.end(), static_cast<const char*>(data), static_cast<const char*>(data) + size);
        return true;
    }
    int64_t Size() override {
        Flush();
        return file_->Size();
    }
    bool Sync() override { return true; }
    bool Close() override {
        const bool flushed = Flush();
        return file_->Close() && flushed;
    }
    bool Discard() override {
        gathered_.clear();
        return file_->Discard();
    }

private:
    static constexpr int64_t kGather = 256 * 1024;
    // A failed write loses what was gathered, as it would have lost the
    // single writes; the sizes patched at the end come from the real file.
    bool Flush() {
        if (gathered_.empty()) return true;
        const bool ok = file_->WriteAt(start_, gathered_.data(), static_cast<int64_t>(gathered_.size()));
        gathered_.clear();
        return ok;
    }

    std::unique_ptr<platform::WritableFile> file_;
    std::vector<char> gathered_;
    int64_t start_ = 0;
};

class ReplayFiles final : public platform::PosixFiles {
public:
    std::unique_ptr<platform::WritableFile> CreateNew(const QString& path) override {
        std::unique_ptr<platform::WritableFile> file = PosixFiles::CreateNew(path);
        if (!file) return nullptr;
        return std::make_unique<UnflushedFile>(std::move(file));
    }
};

// A progress bar on standard error when it is a terminal.
class Progress {
public:
    explicit Progress(int64_t total) : total_(total), shown_(total > 0 && ::isatty(STDERR_FILENO)) {}
    void Update(int64_t done) {
        if (!shown_) return;
        const int percent = static_cast<int>(std::min<int64_t>(done, total_) * 100 / total_);
        if (percent == last_) return;
        last_ = percent;
        const int filled = percent * 40 / 100;
        std::fprintf(stderr, "\r[%s%s] %3d%%", std::string(static_cast<size_t>(filled), '#').c_str(),
                     std::string(static_cast<size_t>(40 - filled), '.').c_str(), percent);
        std::fflush(stderr);
    }
    // Clears the bar so that a line can be printed.
    void Clear() {
        if (shown_ && last_ >= 0) {
            std::fprintf(stderr, "\r%50s\r", "");
            std::fflush(stderr);
            last_ = -1;
        }
    }

private:
    int64_t total_;
    bool shown_;
    int last_ = -1;
};

QString TimeText(int64_t seconds) {
    return QStringLiteral("%1:%2:%3")
        .arg(seconds / 3600, 2, 10, QChar('0'))
        .arg(seconds / 60 % 60, 2, 10, QChar('0'))
        .arg(seconds % 60, 2, 10, QChar('0'));
}

bool FolderWritable(const QString& folder) {
    QTemporaryFile probe(folder + ".somora-write-test-XXXXXX");
    return probe.open();
}

// The folders that creating `folder` would add, outermost first.
QStringList MissingFolders(const QString& folder) {
    QStringList missing;
    QDir dir(QDir::cleanPath(QDir(folder).absolutePath()));
    while (!dir.exists()) {
        missing.prepend(dir.absolutePath());
        if (!dir.cdUp()) break;
    }
    return missing;
}

struct ReplayOptions {
    QString input;
    QString out;
    QString start;
    bool realtime = false;
    bool help = false;
};

// Reads the arguments after --replay; false (after a one-line error) when
// they are not usable.
bool ParseReplayOptions(int argc, char** argv, ReplayOptions& options) {
    for (int i = 2; i < argc; ++i) {
        const QString arg = QString::fromLocal8Bit(argv[i]);
        if (arg == "--out" || arg == "--start") {
            const QString value = i + 1 < argc ? QString::fromLocal8Bit(argv[++i]) : QString();
            if (value.isEmpty()) {
                Error(QStringLiteral("%1 needs a value (try --help)").arg(arg));
                return false;
            }
            (arg == "--out" ? options.out : options.start) = value;
        } else if (arg == "--realtime") {
            options.realtime = true;
        } else if (arg == "--help" || arg == "-h") {
            options.help = true;
        } else if (arg.startsWith('-') && arg.size() > 1) {
            Error(QStringLiteral("unknown option '%1' (try --help)").arg(arg));
            return false;
        } else if (!options.input.isEmpty()) {
            Error(QStringLiteral("one sound file at a time, not also '%1' (try --help)").arg(arg));
            return false;
        } else {
            options.input = arg;
        }
    }
    if (options.input.isEmpty() && !options.help) {
        Error(QStringLiteral("--replay needs a sound file (try --help)"));
        return false;
    }
    return true;
}

}  // namespace

int RunReplay(int argc, char** argv) {
    std::signal(SIGPIPE, SIG_IGN);
    ReplayOptions options;
    if (!ParseReplayOptions(argc, argv, options)) return 2;
    if (options.help) {
        PrintUsage();
        return 0;
    }

    int qtArgc = 1;
    QCoreApplication app(qtArgc, argv);
    platform::ReplayWaveIn device(options.input, options.realtime);
    if (!device.Probe()) {
        Error(QStringLiteral("%1 %2").arg(options.input, device.ProbeError()));
        return 2;
    }
    const int rate = device.FileSampleRate();
    QDateTime start;
    if (!options.start.isEmpty()) {
        start = QDateTime::fromString(options.start, QStringLiteral("yyyy-MM-dd HH:mm:ss"));
        if (!start.isValid()) {
            Error(QStringLiteral("--start wants \"yyyy-mm-dd hh:mm:ss\", not '%1'").arg(options.start));
            return 2;
        }
    } else {
        start = QFileInfo(options.input).lastModified().addMSecs(-device.TotalFrames() * 1000 / rate);
    }

    SetProgramFolders();
    QString folder = options.out.isEmpty() ? RecordFolder() : options.out;
    if (!folder.endsWith('/')) folder += '/';
    const QStringList created = MissingFolders(folder);
    if (!QDir().mkpath(folder) || !FolderWritable(folder)) {
        // Nothing stays behind: folders made on the way go again.
        for (auto it = created.crbegin(); it != created.crend(); ++it) QDir().rmdir(*it);
        Error(QStringLiteral("cannot write to the folder %1").arg(folder));
        return 2;
    }

    // The replay never touches the machine's sound devices or mixer, nor the
    // recording volume.
    platform::ServiceSet& services = platform::Services();
    platform::IniProfile profile;
    platform::XdgAutoStart autostart(kAutoRunName);
    ReplayFiles files;
    ReplayClock clock(start, device);
    services.profile = &profile;
    services.autostart = &autostart;
    services.files = &files;
    services.clock = &clock;
    services.waveIn = &device;
    services.mixer = nullptr;
    services.waveOut = nullptr;
    platform::FixServices();
    const Config config = LoadConfig(profile, ConfigFilePath(), &files);
    LoadSettings(config);
    for (const QString& line : config.problems) Error(line);
    Playing = false;

    // Takes are found by the voice trigger at the file's own rate; the writer
    // waits for the disk instead of closing a take early, as nothing is lost
    // by waiting for a file.
    RecorderSession session({.recordFolder = folder,
                             .cleanUp = false,
                             .mixer = false,
                             .voiceOnly = true,
                             .watchInput = false,
                             .waitForDisk = true,
                             .sampleRate = rate,
                             // A replay waits for the disk anyway: a few
                             // seconds of sound in the writer keep it busy,
                             // and the memory small.
                             .writerBlocks = 128,
                             // Nothing shows them, and the takes do not depend on them.
                             .bandsShown = false,
                             // Replayed takes are not sent to an archive.
                             .archive = false,
                             // A file is split whenever its sound was made.
                             .hours = false});
    const TFRecord& record = session.RecordEngine();

    Progress progress(device.TotalFrames());
    int kept = 0;
    int deleted = 0;
    int64_t keptFrames = 0;
    QObject::connect(&session, &RecorderSession::takeEvent, [&](TakeEvent event, const QString& fileName, qint64 frames) {
        progress.Clear();
        PrintTake(event, fileName, frames, rate);
        if (event == TakeEvent::Kept) {
            ++kept;
            keptFrames += frames;
        } else if (event == TakeEvent::Deleted) {
            ++deleted;
        }
    });
    device.onEnd = [&] {
        // The end of the sound ends an open take as stopping the capture does.
        session.Close();
        QCoreApplication::quit();
    };
    // Stopped halfway, the replay keeps the take that is open, as the
    // recorder does when it is closed, and still prints its summary.
    int interruptedBy = 0;
    const bool watching = platform::WatchQuitSignals(&session, [&](int signal) {
        interruptedBy = signal;
        session.Close();
        QCoreApplication::quit();
    });
    if (!watching) {
        Error(QStringLiteral("cannot install the signal handlers"));
        return 1;
    }
    QTimer progressTimer;
    QObject::connect(&progressTimer, &QTimer::timeout, [&] { progress.Update(device.FramesDelivered()); });
    progressTimer.start(200);

    QElapsedTimer elapsed;
    elapsed.start();
    session.StartCapture(nullptr);
    if (!record.Capturing) {
        Error(QStringLiteral("cannot replay %1").arg(options.input));
        return 2;
    }
    QCoreApplication::exec();
    progress.Clear();
    session.Close();
    // The services stay as they are (fixed): a thread the close left behind
    // may still read them.

    const double seconds = static_cast<double>(elapsed.nsecsElapsed()) / 1e9;
    PrintLine(QStringLiteral("takes kept: %1, deleted: %2, kept sound: %3, replayed: %4 in %5 s")
                  .arg(kept)
                  .arg(deleted)
                  .arg(TimeText(keptFrames / rate), TimeText(device.TotalFrames() / rate))
                  .arg(seconds, 0, 'f', 1));
    if (!device.ReadError().isEmpty()) {
        // The takes up to the damage are kept; the run still failed.
        Error(QStringLiteral("%1 could be read only up to %2: %3")
                  .arg(options.input, TimeText(device.FramesDelivered() / rate), device.ReadError()));
        return 1;
    }
    if (interruptedBy != 0) {
        Error(QStringLiteral("stopped by a signal after %1 of sound")
                  .arg(TimeText(device.FramesDelivered() / rate)));
        return 128 + interruptedBy;
    }
    return 0;
}
