// SPDX-License-Identifier: GPL-3.0-or-later
#include "settings/SettingsSaver.h"

#include <QDeadlineTimer>
#include <QThread>

#include <condition_variable>
#include <exception>
#include <mutex>

// The saver as its thread sees it: gone once the saver is destroyed, so that
// a save finishing after that reports to nobody.
struct SettingsSaver::Owner {
    std::mutex mutex;
    SettingsSaver* saver = nullptr;
};

SettingsSaver::SettingsSaver(QObject* parent) : QObject(parent), owner_(std::make_shared<Owner>()) {
    owner_->saver = this;
    thread_ = new QThread;
    thread_->setObjectName(QStringLiteral("settings saver"));
    worker_ = new QObject;
    worker_->moveToThread(thread_);
    thread_->start();
}

SettingsSaver::~SettingsSaver() {
    {
        std::lock_guard lock(owner_->mutex);
        owner_->saver = nullptr;
    }
    QThread* thread = thread_;
    QMetaObject::invokeMethod(worker_, [thread] { thread->quit(); }, Qt::QueuedConnection);
    if (!thread_->wait(QDeadlineTimer(kEndLimitMs))) return;
    delete worker_;
    delete thread_;
}

void SettingsSaver::Save(const TAppSettings& settings) {
    QMetaObject::invokeMethod(
        worker_,
        [owner = owner_, settings, path = ConfigFilePath(), target = AutoRunTarget()] {
            QString error;
            try {
                SaveSettings(settings, path, target);
            } catch (const SettingsError& e) {
                error = e.Message();
            } catch (const std::exception& e) {
                error = QString::fromLocal8Bit(e.what());
            }
            if (error.isEmpty()) return;
            std::lock_guard lock(owner->mutex);
            if (SettingsSaver* saver = owner->saver)
                QMetaObject::invokeMethod(saver, [saver, error] { emit saver->failed(error); }, Qt::QueuedConnection);
        },
        Qt::QueuedConnection);
}

bool SettingsSaver::WaitIdleFor(int ms) {
    struct Done {
        std::mutex mutex;
        std::condition_variable cv;
        bool done = false;
    };
    // Shared with the queued call, which may run after this caller gave up.
    auto done = std::make_shared<Done>();
    QMetaObject::invokeMethod(
        worker_,
        [done] {
            std::lock_guard lock(done->mutex);
            done->done = true;
            done->cv.notify_all();
        },
        Qt::QueuedConnection);
    std::unique_lock lock(done->mutex);
    return done->cv.wait_for(lock, std::chrono::milliseconds(ms), [&done] { return done->done; });
}
