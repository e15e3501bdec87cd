// SPDX-License-Identifier: GPL-3.0-or-later
// Starting and restarting the capture with the current settings: the
// window's side of the recorder session.
#include "app/Unit1.h"
#include "capture/TakeStore.h"
#include "archive/Archiver.h"
#include "capture/Unit2.h"
#include "session/RecorderSession.h"

#include <QDateTime>
#include <QString>

void TForm1::StartCapture() {
    if (Session) Session->StartCapture(PaintBox2);
}

void TForm1::SettingsApplied() {
    // After the window has closed the capture stays stopped.
    if (closed_ || !Session) return;
    Session->ApplySettings();
    strip_->RefreshAfterSettings();
}

void TForm1::RecordingChanged() {
    if (!Capture || !Capture->Recording) strip_->RebuildStrip();
}

void TForm1::UseSession(RecorderSession* session) {
    // Nothing more from the session given before.
    if (Session) disconnect(Session, nullptr, this, nullptr);
    if (Session && Session->Archive()) disconnect(Session->Archive(), nullptr, this, nullptr);
    Session = session;
    Capture = session ? &session->RecordEngine() : nullptr;
    Playback = session ? &session->PlayEngine() : nullptr;
    if (!Session) return;
    // Nothing more from the store shown before.
    if (strip_->Store) disconnect(strip_->Store, nullptr, this, nullptr);
    strip_->UseStore(&Session->Store());
    // The takes a stop left open are repaired before the first listing.
    Session->Store().Repair();
    // Takes the clean-up removed go from the strip; during a take the strip
    // is rebuilt when it ends anyway.
    connect(&Session->Store(), &TakeStore::removed, this, [this] {
        if (!Capture || !Capture->Recording) strip_->RebuildStrip();
    });
    connect(Session, &RecorderSession::recordingChanged, this, &TForm1::RecordingChanged);
    // What the operator sees at a glance: a notice over the waveform and the
    // recording indicator's hint say why nothing is being recorded.
    auto show = [this] {
        // The day of the week as the window's language says it (1 = Monday).
        auto dayAndTime = [this](const QDateTime& at) {
            const QString days[] = {tr("周一"), tr("周二"), tr("周三"), tr("周四"), tr("周五"), tr("周六"), tr("周日")};
            return days[(at.date().dayOfWeek() + 6) % 7] + QLatin1Char(' ') + at.toString(QStringLiteral("HH:mm"));
        };
        QString notice;
        if (Session->Input() == InputState::Lost)
            notice = tr("未在录音：输入设备不可用，每 2 秒重试");
        else if (Session->Disk() == DiskState::Full)
            notice = tr("未在录音：磁盘已满");
        else if (Session->Disk() == DiskState::Unwritable)
            notice = tr("未在录音：无法写入录音文件夹");
        else if (Session->Disk() == DiskState::Behind)
            notice = tr("录音中断：磁盘太慢");
        else if (!Session->InsideHours())
            notice = tr("未在录音：录音时段外，下次 %1").arg(dayAndTime(Session->HoursChange()));
        else if (Session->SilentSince().isValid())
            notice = tr("无声：自 %1 起没有声音").arg(Session->SilentSince().toString(QStringLiteral("HH:mm")));
        else if (Session->Clipping())
            notice = tr("削波：输入电平过高");
        else if (Session->Archive() && Session->Archive()->CurrentStatus().state == ArchiveState::Refused)
            // Recording goes on; the takes stay here until the store takes them.
            notice = tr("归档被拒绝：%1（录音保留在本机）").arg(Session->Archive()->CurrentStatus().detail);
        else if (Session->Archive() && Session->Archive()->CurrentStatus().prefixShared)
            notice = tr("归档前缀与另一台机器共用：%1").arg(Session->Archive()->Config().prefix);
        else if (Session->Archive() && Session->Archive()->CurrentStatus().noObjectLock)
            notice = tr("归档存储桶 %1 没有对象锁定：保留只在本机有效").arg(Session->Archive()->Config().bucket);
        else if (!Session->HoursProblem().isEmpty())
            notice = tr("录音时段设置无效，一直录音：%1").arg(Session->HoursProblem());
        PaintBox2->ShowNotice(notice);
        PaintBox2->setToolTip(notice);
        QString hint = notice.isEmpty() ? tr("正在监听") : notice;
        if (notice.isEmpty() && !Session->HoursState().isEmpty())
            hint += tr("（录音时段至 %1）").arg(dayAndTime(Session->HoursChange()));
        Image106->setToolTip(hint);
    };
    connect(Session, &RecorderSession::inputStateChanged, this, show);
    connect(Session, &RecorderSession::diskStateChanged, this, show);
    connect(Session, &RecorderSession::hoursChanged, this, show);
    connect(Session, &RecorderSession::soundAlarm, this, show);
    connect(Session, &RecorderSession::settingRefused, this, show);
    if (Session->Archive()) {
        connect(Session->Archive(), &Archiver::stateChanged, this, show);
        connect(Session->Archive(), &Archiver::prefixShared, this, show);
        connect(Session->Archive(), &Archiver::noObjectLock, this, show);
    }
}
