// SPDX-License-Identifier: GPL-3.0-or-later
#include "settings/SettingsSaver.h"

#include <cstdio>
#include <exception>
#include <mutex>

#include "util/BackgroundWorker.h"

// The saver as its thread sees it: gone once the saver is destroyed, so that
// a save finishing after that reports to nobody.
struct SettingsSaver::Owner {
    std::mutex mutex;
    SettingsSaver* saver = nullptr;
};

SettingsSaver::SettingsSaver(QObject* parent)
    : QObject(parent),
      owner_(std::make_shared<Owner>()),
      worker_(std::make_unique<BackgroundWorker>(BackgroundWorker::Options{.name = QStringLiteral("settings saver")})) {
    owner_->saver = this;
}

SettingsSaver::~SettingsSaver() {
    {
        std::lock_guard lock(owner_->mutex);
        owner_->saver = nullptr;
    }
    const QString abandoned = worker_->StopWithin(std::chrono::milliseconds(kEndLimitMs)).Line();
    if (!abandoned.isEmpty()) {
        std::fprintf(stderr, "%s\n", abandoned.toLocal8Bit().constData());
        std::fflush(stderr);
    }
}

void SettingsSaver::Save(const TAppSettings& settings) {
    const QString path = ConfigFilePath();
    worker_->Post(
        QStringLiteral("saving ") + path.mid(path.lastIndexOf('/') + 1),
        [owner = owner_, settings, path, target = AutoRunTarget()] {
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
        });
}

bool SettingsSaver::WaitIdleFor(int ms) { return worker_->WaitIdleFor(std::chrono::milliseconds(ms)); }
