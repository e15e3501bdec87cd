// Starting and restarting the capture with the current settings: the
// window's side of the recorder session.
#include "app/Unit1.h"
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
    RefreshAfterSettings();
}

void TForm1::RecordingChanged() {
    if (!Capture || !Capture->Recording) RebuildStrip();
}

void TForm1::UseSession(RecorderSession* session) {
    // Nothing more from the session given before.
    if (Session) disconnect(Session, nullptr, this, nullptr);
    Session = session;
    Capture = session ? &session->Record() : nullptr;
    Playback = session ? &session->Play() : nullptr;
    if (!Session) return;
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
