// The recorder without a window (--headless) and the replay of a WAV file
// through the same capture engine and recording control (--replay).
#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QSocketNotifier>
#include <QTemporaryFile>
#include <QTimer>

#include <csignal>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <unistd.h>

#include "app/CaptureSetup.h"
#include "app/Modes.h"
#include "capture/RecordingFile.h"
#include "capture/Unit2.h"
#include "platform/Defaults.h"
#include "platform/Platform.h"
#include "platform/ReplayWaveIn.h"
#include "settings/publicunit.h"

namespace {

const char* const kCaption = "Brovane Somora recorder";

QString SecondsText(int32_t frames, int32_t rate) {
    return rate > 0 ? QString::number(static_cast<double>(frames) / rate, 'f', 1) + " s" : "0.0 s";
}

// One line per take on standard output.
void PrintTake(TakeEvent event, const QString& fileName, int32_t frames, int32_t rate) {
    const QString name = QFileInfo(fileName).fileName();
    QString line;
    switch (event) {
        case TakeEvent::Opened: line = "opened " + name; break;
        case TakeEvent::Kept: line = "kept " + name + " " + SecondsText(frames, rate); break;
        case TakeEvent::Deleted: line = "deleted " + name + " " + SecondsText(frames, rate); break;
    }
    std::fprintf(stdout, "%s\n", line.toLocal8Bit().constData());
    std::fflush(stdout);
}

// SIGINT and SIGTERM reach the event loop through a pipe.
int signalPipe[2] = {-1, -1};

void OnSignal(int) {
    const char byte = 1;
    [[maybe_unused]] const ssize_t n = ::write(signalPipe[1], &byte, 1);
}

bool InstallSignalPipe() {
    if (::pipe2(signalPipe, O_CLOEXEC | O_NONBLOCK) != 0) return false;
    struct sigaction action {};
    action.sa_handler = OnSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    return ::sigaction(SIGINT, &action, nullptr) == 0 && ::sigaction(SIGTERM, &action, nullptr) == 0;
}

void Error(const QString& message) {
    std::fprintf(stderr, "Somorabox: %s\n", message.toLocal8Bit().constData());
}

}  // namespace

int RunHeadless(int argc, char** argv) {
    if (argc > 2) {
        Error(QStringLiteral("unknown option '%1' (try --help)").arg(QString::fromLocal8Bit(argv[2])));
        return 2;
    }
    int qtArgc = 1;
    QCoreApplication app(qtArgc, argv);
    platform::InstallDefaults();
    // The window and the headless recorder share one instance per user.
    if (!platform::Services().instance->TryAcquire(QString::fromLatin1(kCaption))) return 0;

    AppPath = QCoreApplication::applicationDirPath() + "/";
    LoadSettings();
    const QString records = AppPath + "record/";
    platform::Services().files->MakePath(records);
    RepairRecordings(records);
    Playing = false;

    TFRecord record;
    FRecord = &record;
    record.OnTakeEvent = [&record](TakeEvent event, const QString& fileName, int32_t frames) {
        PrintTake(event, fileName, frames, record.SampleRate);
    };

    if (!InstallSignalPipe()) {
        Error(QStringLiteral("cannot install the signal handlers"));
        return 1;
    }
    QSocketNotifier notifier(signalPipe[0], QSocketNotifier::Read);
    QObject::connect(&notifier, &QSocketNotifier::activated, &app, [&] {
        char buffer[16];
        while (::read(signalPipe[0], buffer, sizeof buffer) > 0) {
        }
        // Like closing the window: an open take is closed and kept.
        record.StopInput();
        QCoreApplication::quit();
    });

    StartCaptureEngine(record, nullptr, {});
    QCoreApplication::exec();
    record.StopInput();
    FRecord = nullptr;
    return 0;
}

namespace {

// The clock of a replay: the sound's start plus the frames handed on so far,
// so a take is named from the moment its first block would have been handled.
class ReplayClock final : public platform::Clock {
public:
    ReplayClock(QDateTime start, const platform::ReplayWaveIn& device) : start_(std::move(start)), device_(device) {}
    QDateTime LocalNow() override {
        const int rate = device_.FileSampleRate();
        const qint64 ms = rate > 0 ? device_.FramesDelivered() * 1000 / rate : 0;
        return start_.addMSecs(ms);
    }

private:
    QDateTime start_;
    const platform::ReplayWaveIn& device_;
};

// A progress bar on standard error when it is a terminal.
class Progress {
public:
    explicit Progress(int64_t total) : total_(total), shown_(total > 0 && ::isatty(STDERR_FILENO)) {}
    void Update(int64_t done) {
        if (!shown_) return;
        const int percent = static_cast<int>(done * 100 / total_);
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

}  // namespace

int RunReplay(int argc, char** argv) {
    QString input;
    QString out;
    QString startText;
    bool realtime = false;
    for (int i = 2; i < argc; ++i) {
        const QString arg = QString::fromLocal8Bit(argv[i]);
        if (arg == "--out" || arg == "--start") {
            if (i + 1 >= argc) {
                Error(QStringLiteral("%1 needs a value").arg(arg));
                return 2;
            }
            (arg == "--out" ? out : startText) = QString::fromLocal8Bit(argv[++i]);
        } else if (arg == "--realtime") {
            realtime = true;
        } else if (arg.startsWith('-') || !input.isEmpty()) {
            Error(QStringLiteral("unknown option '%1' (try --help)").arg(arg));
            return 2;
        } else {
            input = arg;
        }
    }
    if (input.isEmpty()) {
        Error(QStringLiteral("--replay needs a WAV file (try --help)"));
        return 2;
    }

    int qtArgc = 1;
    QCoreApplication app(qtArgc, argv);
    platform::ReplayWaveIn device(input, realtime);
    if (!device.Probe()) {
        Error(QStringLiteral("%1 is not a readable 16-bit PCM WAV file").arg(input));
        return 2;
    }
    const int rate = device.FileSampleRate();
    QDateTime start;
    if (!startText.isEmpty()) {
        start = QDateTime::fromString(startText, QStringLiteral("yyyy-MM-dd HH:mm:ss"));
        if (!start.isValid()) {
            Error(QStringLiteral("--start wants \"yyyy-mm-dd hh:mm:ss\", not '%1'").arg(startText));
            return 2;
        }
    } else {
        start = QFileInfo(input).lastModified().addMSecs(-device.TotalFrames() * 1000 / rate);
    }

    AppPath = QCoreApplication::applicationDirPath() + "/";
    QString folder = out.isEmpty() ? AppPath + "record/" : out;
    if (!folder.endsWith('/')) folder += '/';
    if (!QDir().mkpath(folder) || !FolderWritable(folder)) {
        Error(QStringLiteral("cannot write to the folder %1").arg(folder));
        return 2;
    }

    // The replay never touches the machine's sound devices or mixer.
    platform::ServiceSet& services = platform::Services();
    platform::IniProfile profile;
    platform::XdgAutoStart autostart(kAutoRunName);
    platform::PosixFiles files;
    services.profile = &profile;
    services.autostart = &autostart;
    services.files = &files;
    ReplayClock clock(start, device);
    services.clock = &clock;
    services.waveIn = &device;
    services.mixer = nullptr;
    services.waveOut = nullptr;
    LoadSettings();
    Playing = false;

    TFRecord record;
    FRecord = &record;
    record.Display = nullptr;
    record.TriggerMargin = AppSettings.RecordingLevel;
    record.StopDelay = 3;
    record.SampleRate = rate;
    record.RecordFolder = folder;
    record.Manual = false;  // takes are found by the voice trigger
    record.DeviceName = device.DeviceNames().value(0);

    Progress progress(device.TotalFrames());
    int kept = 0;
    int deleted = 0;
    int64_t keptFrames = 0;
    record.OnTakeEvent = [&](TakeEvent event, const QString& fileName, int32_t frames) {
        progress.Clear();
        PrintTake(event, fileName, frames, rate);
        if (event == TakeEvent::Kept) {
            ++kept;
            keptFrames += frames;
        } else if (event == TakeEvent::Deleted) {
            ++deleted;
        }
    };
    device.onEnd = [&] {
        // The end of the sound ends an open take as stopping the capture does.
        record.StopInput();
        QCoreApplication::quit();
    };
    QTimer progressTimer;
    QObject::connect(&progressTimer, &QTimer::timeout, [&] { progress.Update(device.FramesDelivered()); });
    progressTimer.start(200);

    record.StartInput();
    if (!record.Capturing) {
        Error(QStringLiteral("cannot replay %1").arg(input));
        return 2;
    }
    QCoreApplication::exec();
    progress.Clear();
    FRecord = nullptr;
    services = platform::ServiceSet{};

    std::fprintf(stdout, "takes kept: %d, deleted: %d, kept sound: %s, replayed: %s\n", kept, deleted,
                 TimeText(keptFrames / rate).toLocal8Bit().constData(),
                 TimeText(device.TotalFrames() / rate).toLocal8Bit().constData());
    return 0;
}
