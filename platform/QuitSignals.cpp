#include "platform/QuitSignals.h"

#include <QSocketNotifier>

#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <unistd.h>

namespace platform {
namespace {

// The handler only writes the signal's number into a pipe; the event loop
// reads it through a socket notifier.
int quitPipe[2] = {-1, -1};

void OnQuitSignal(int signal) {
    const int saved = errno;
    const char number = static_cast<char>(signal);
    [[maybe_unused]] const ssize_t n = ::write(quitPipe[1], &number, 1);
    errno = saved;
}

}  // namespace

bool WatchQuitSignals(QObject* owner, std::function<void(int signal)> onSignal) {
    if (quitPipe[0] < 0 && ::pipe2(quitPipe, O_CLOEXEC | O_NONBLOCK) != 0) return false;
    struct sigaction action {};
    action.sa_handler = OnQuitSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    struct sigaction previous[3] {};
    const int quitSignals[3] = {SIGINT, SIGTERM, SIGHUP};
    for (int i = 0; i < 3; ++i) {
        if (::sigaction(quitSignals[i], &action, &previous[i]) != 0) {
            while (--i >= 0) ::sigaction(quitSignals[i], &previous[i], nullptr);
            return false;
        }
    }
    auto* notifier = new QSocketNotifier(quitPipe[0], QSocketNotifier::Read, owner);
    QObject::connect(notifier, &QSocketNotifier::activated, notifier, [onSignal = std::move(onSignal)] {
        char numbers[16];
        ssize_t n = 0;
        int last = 0;
        while ((n = ::read(quitPipe[0], numbers, sizeof numbers)) > 0) last = numbers[n - 1];
        if (last != 0) onSignal(last);
    });
    return true;
}

}  // namespace platform
