// SPDX-License-Identifier: GPL-3.0-or-later
// Starting and restarting the capture with the current settings: the
// window's side of the recorder session.
#include "app/Unit1.h"
#include "capture/TakeStore.h"
#include "archive/Archiver.h"
#include "capture/Unit2.h"
#include "session/RecorderSession.h"

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
    Capture = session ? &session->Record() : nullptr;
    Playback = session ? &session->Play() : nullptr;
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
        QString notice;
        if (Session->Input() == InputState::Lost)
            notice = tr("未在录音：输入设备不可用，每 2 秒重试");
        else if (Session->Disk() == DiskState::Full)
            notice = tr("未在录音：磁盘已满");
        else if (Session->Disk() == DiskState::Unwritable)
            notice = tr("未在录音：无法写入录音文件夹");
        else if (Session->Disk() == DiskState::Behind)
            notice = tr("录音中断：磁盘太慢");
        else if (Session->Archive() && Session->Archive()->CurrentStatus().state == ArchiveState::Refused)
            // Recording goes on; the takes stay here until the store takes them.
            notice = tr("归档被拒绝：%1（录音保留在本机）").arg(Session->Archive()->CurrentStatus().detail);
        PaintBox2->ShowNotice(notice);
        PaintBox2->setToolTip(notice);
        Image106->setToolTip(notice.isEmpty() ? tr("正在监听") : notice);
    };
    connect(Session, &RecorderSession::inputStateChanged, this, show);
    connect(Session, &RecorderSession::diskStateChanged, this, show);
    if (Session->Archive()) connect(Session->Archive(), &Archiver::stateChanged, this, show);
}
