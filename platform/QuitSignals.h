// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// SIGINT, SIGTERM and SIGHUP handed to the event loop instead of ending the
// process at once, so that the program can close an open take first.
#include <QObject>

#include <functional>
#include <initializer_list>

namespace platform {

// From now on the three signals run `onSignal` (with the signal's number) on
// the event loop of the calling thread, for as long as `owner` lives. False,
// with the signals left as they were, when the handlers cannot be installed.
bool WatchQuitSignals(QObject* owner, std::function<void(int signal)> onSignal);
// The same for any set of signals; each arrival runs `onSignal` once, in order.
bool WatchSignals(QObject* owner, std::initializer_list<int> signalNumbers, std::function<void(int signal)> onSignal);

}  // namespace platform
