// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/QuitSignals.h"

#include <QSocketNotifier>

#include <algorithm>
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

bool WatchSignals(QObject* owner, std::initializer_list<int> signalNumbers, std::function<void(int signal)> onSignal) {
    if (quitPipe[0] < 0 && ::pipe2(quitPipe, O_CLOEXEC | O_NONBLOCK) != 0) return false;
    struct sigaction action {};
    action.sa_handler = OnQuitSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    struct sigaction previous[16] {};
    const int* numbers = signalNumbers.begin();
    const int count = static_cast<int>(std::min<size_t>(signalNumbers.size(), 16));
    for (int i = 0; i < count; ++i) {
        if (::sigaction(numbers[i], &action, &previous[i]) != 0) {
            while (--i >= 0) ::sigaction(numbers[i], &previous[i], nullptr);
            return false;
        }
    }
    auto* notifier = new QSocketNotifier(quitPipe[0], QSocketNotifier::Read, owner);
    QObject::connect(notifier, &QSocketNotifier::activated, notifier, [onSignal = std::move(onSignal)] {
        char arrived[16];
        ssize_t n = 0;
        while ((n = ::read(quitPipe[0], arrived, sizeof arrived)) > 0)
            for (ssize_t i = 0; i < n; ++i) onSignal(arrived[i]);
    });
    return true;
}

bool WatchQuitSignals(QObject* owner, std::function<void(int signal)> onSignal) {
    return WatchSignals(owner, {SIGINT, SIGTERM, SIGHUP}, std::move(onSignal));
}

}  // namespace platform
