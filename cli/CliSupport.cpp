#include "cli/CliSupport.h"

#include <QCoreApplication>
#include <QFileInfo>

#include <cstdio>
#include <fcntl.h>
#include <unistd.h>

#include "platform/DataFolder.h"
#include "settings/publicunit.h"

namespace {

int signalPipe[2] = {-1, -1};

void OnSignal(int signal) {
    const unsigned char byte = static_cast<unsigned char>(signal);
    [[maybe_unused]] const ssize_t n = ::write(signalPipe[1], &byte, 1);
}

QString SecondsText(int64_t frames, int32_t rate) {
    return rate > 0 ? QString::number(static_cast<double>(frames) / rate, 'f', 1) + " s" : "0.0 s";
}

}  // namespace

void SetProgramFolders() {
    const QString own = QCoreApplication::applicationDirPath() + "/";
    AppPath = platform::ProgramDataFolder(own);
    ExecutableFile = AppPath == own ? QString() : QCoreApplication::applicationFilePath();
}

void PrintLine(const QString& line) {
    std::fprintf(stdout, "%s\n", line.toLocal8Bit().constData());
    std::fflush(stdout);
}

void Error(const QString& message) {
    std::fprintf(stderr, "Somorabox: %s\n", message.toLocal8Bit().constData());
}

void PrintTake(TakeEvent event, const QString& fileName, int64_t frames, int32_t rate) {
    const QString name = QFileInfo(fileName).fileName();
    switch (event) {
        case TakeEvent::Opened: PrintLine("opened " + name); break;
        case TakeEvent::Kept: PrintLine("kept " + name + " " + SecondsText(frames, rate)); break;
        case TakeEvent::Deleted: PrintLine("deleted " + name + " " + SecondsText(frames, rate)); break;
    }
}

SignalWatcher::SignalWatcher(std::initializer_list<int> signalNumbers, Handler handler) : handler_(std::move(handler)) {
    if (signalPipe[0] < 0 && ::pipe2(signalPipe, O_CLOEXEC | O_NONBLOCK) != 0) return;
    struct sigaction action {};
    action.sa_handler = OnSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    installed_ = true;
    for (int signal : signalNumbers) installed_ = ::sigaction(signal, &action, nullptr) == 0 && installed_;
    notifier_ = new QSocketNotifier(signalPipe[0], QSocketNotifier::Read);
    QObject::connect(notifier_, &QSocketNotifier::activated, [this] {
        unsigned char buffer[16];
        ssize_t n;
        while ((n = ::read(signalPipe[0], buffer, sizeof buffer)) > 0)
            for (ssize_t i = 0; i < n; ++i) handler_(buffer[i]);
    });
}

SignalWatcher::~SignalWatcher() { delete notifier_; }
