// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// Writes the settings to config.ini on a BackgroundWorker, so that a slow or
// frozen disk never holds up the window.
#include <QObject>
#include <QString>

#include <memory>

#include "settings/publicunit.h"

class BackgroundWorker;

class SettingsSaver : public QObject {
    Q_OBJECT
public:
    // How long the end waits for saves still being written; a disk that does
    // not answer by then is left to the thread, which ends with the process.
    static constexpr int kEndLimitMs = 5000;

    explicit SettingsSaver(QObject* parent = nullptr);
    // Writes what was asked within kEndLimitMs; the saves left undone are
    // named on standard error.
    ~SettingsSaver() override;

    // Saves a copy of `settings` where SaveSettings() would; saves are written
    // in the order asked for.
    void Save(const TAppSettings& settings);
    // True once every save asked for so far has been written or has failed.
    bool WaitIdleFor(int ms);

signals:
    // The failing save's message ("Unable to write to …"), delivered on the
    // thread the saver belongs to.
    void failed(const QString& message);

private:
    struct Owner;
    std::shared_ptr<Owner> owner_;
    // Its jobs keep what they use: a held thread outlives the saver.
    std::unique_ptr<BackgroundWorker> worker_;
};
