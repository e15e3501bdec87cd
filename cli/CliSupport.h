#pragma once
// What the command-line modes share: lines on standard output and error,
// the take lines, and signals delivered on the event loop.
#include <QSocketNotifier>
#include <QString>

#include <csignal>
#include <cstdint>
#include <functional>
#include <initializer_list>

#include "capture/Unit2.h"

// AppPath: the executable's folder, or the user's data folder for an
// installed program (see platform::ProgramDataFolder).
void SetProgramFolders();

void PrintLine(const QString& line);
// "Somorabox: <message>" on standard error.
void Error(const QString& message);
// One line per take on standard output: "opened NAME", "kept NAME 12.5 s",
// "deleted NAME 4.1 s".
void PrintTake(TakeEvent event, const QString& fileName, int64_t frames, int32_t rate);

// Runs a handler on the event loop for each of the given signals that
// arrives (through a pipe written by the signal handler). One watcher at a
// time per process.
class SignalWatcher {
public:
    using Handler = std::function<void(int signal)>;
    // False from Install() when the handlers could not be set.
    SignalWatcher(std::initializer_list<int> signalNumbers, Handler handler);
    ~SignalWatcher();
    bool Installed() const { return installed_; }

private:
    bool installed_ = false;
    QSocketNotifier* notifier_ = nullptr;
    Handler handler_;
};
