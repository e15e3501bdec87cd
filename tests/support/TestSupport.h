// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// Test doubles of the simple platform services and a temporary program folder.
#include <QDateTime>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QStringList>
#include <QTemporaryDir>
#include <QTimer>

#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>

#include "platform/Defaults.h"
#include "platform/Platform.h"

class QApplication;
class QCoreApplication;

namespace testing_support {

// The one application object of a test program, made on first use and kept
// until the program ends: with widgets, or without (a program uses one kind).
QApplication& GuiApp();
QCoreApplication& CoreApp();

// Where the doubles of a disk that stops answering hold their callers: while
// shut, Pass() waits until it is opened (or, given a limit, that long).
class Gate {
public:
    void Shut(bool shut) {
        {
            std::lock_guard lock(mutex_);
            shut_ = shut;
        }
        opened_.notify_all();
    }
    void Pass(std::chrono::milliseconds limit = std::chrono::hours(1)) {
        std::unique_lock lock(mutex_);
        if (!shut_) return;
        ++arrived_;
        ++waiting_;
        opened_.wait_for(lock, limit, [this] { return !shut_; });
        --waiting_;
    }
    // Callers held now, and ever.
    int Waiting() {
        std::lock_guard lock(mutex_);
        return waiting_;
    }
    int Arrived() {
        std::lock_guard lock(mutex_);
        return arrived_;
    }

private:
    std::mutex mutex_;
    std::condition_variable opened_;
    bool shut_ = false;
    int waiting_ = 0;
    int arrived_ = 0;
};

// Runs the event loop for `ms` milliseconds.
inline void Wait(int ms) {
    QEventLoop loop;
    QTimer::singleShot(ms, &loop, &QEventLoop::quit);
    loop.exec();
}

// Runs the event loop until `done()` holds or `ms` milliseconds have passed;
// returns `done()`.
template <typename Pred>
bool WaitUntil(Pred done, int ms) {
    QElapsedTimer clock;
    clock.start();
    while (!done() && clock.elapsed() < ms) Wait(10);
    return done();
}

// Copies the built program (the executable, its core library and the window
// module) into `folder` as "Somorabox" and its libraries; false on failure.
bool CopyProgram(const QString& folder);

class FakeClock final : public platform::Clock {
public:
    QDateTime now = QDateTime(QDate(2026, 12, 7), QTime(9, 5, 0));
    QDateTime LocalNow() override { return now; }
};

class FakeOpener final : public platform::DesktopOpener {
public:
    QStringList opened;
    bool Open(const QString& pathOrUrl) override {
        opened.append(pathOrUrl);
        return false;
    }
};

class FakePriority final : public platform::ProcessPriority {
public:
    int raised = 0;
    bool Raise() override {
        ++raised;
        return false;
    }
};

class FakeInstance final : public platform::SingleInstance {
public:
    bool TryAcquire(const QString&) override { return true; }
};

// Installs fresh services for one test: real profile files and recording
// files inside a temporary folder, the autostart entry under a temporary
// XDG_CONFIG_HOME, a fake clock, opener and priority, and no sound devices.
// The previous services and environment come back at destruction.
class TestEnvironment {
public:
    TestEnvironment();
    ~TestEnvironment();

    // The temporary program folder, ending with "/".
    QString AppDir() const;
    QString ConfigHome() const;

    FakeClock clock;
    FakeOpener opener;
    FakePriority priority;
    FakeInstance instance;
    platform::IniProfile profile;
    platform::PosixFiles files;
    std::unique_ptr<platform::XdgAutoStart> autostart;

private:
    QTemporaryDir dir_;
    platform::ServiceSet saved_;
    QByteArray savedConfigHome_;
    bool hadConfigHome_ = false;
};


}  // namespace testing_support
