// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/Unit1.h"
#include "session/RecorderSession.h"

#include <QApplication>
#include <QCloseEvent>
#include <QCoreApplication>
#include <QPointer>
#include <QScreen>
#include <QThreadPool>

#include <cstdio>

#include "capture/RecordingFile.h"
#include "capture/TakeStore.h"
#include "capture/Unit2.h"
#include "platform/DataFolder.h"
#include "platform/HelpFile.h"
#include "platform/Platform.h"
#include "playback/Unit4.h"
#include "resources/Pictures.h"
#include "app/Unit3.h"
#include "app/password.h"
#include "settings/publicunit.h"


namespace {

TImage* MakeImage(QWidget* parent, const char* name, int left, int top, int width, int height) {
    auto* image = new TImage(parent, QString::fromLatin1(name));
    image->SetBounds(left, top, width, height);
    return image;
}

}  // namespace

TForm1::TForm1(const QString& appPath, QWidget* parent)
    : QWidget(parent, Qt::Window | Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint),
      appPathOverride_(appPath),
      strip_(std::make_unique<RecordingStrip>(*this)),
      displays_(std::make_unique<LiveDisplays>(*this)),
      skin_(std::make_unique<WindowSkin>(*this)) {
    setWindowTitle(kCaption);
    setObjectName(QStringLiteral("Form1"));
    setFont(QFont(QStringLiteral("MS Sans Serif"), 8));
    setMouseTracking(true);
    CreateControls();
    ConnectCommands();
    FormCreate();
}

TForm1::~TForm1() {
}

void TForm1::CreateControls() {
    Image1 = MakeImage(this, "Image1", 0, 0, 750, 220);
    Image1->SetPicture(Pictures::Skin());
    Image1->setAttribute(Qt::WA_TransparentForMouseEvents);

    Image2 = MakeImage(this, "Image2", 712, 54, 28, 38);
    Image3 = MakeImage(this, "Image3", 80, 163, 22, 22);
    Image4 = MakeImage(this, "Image4", 550, 163, 22, 22);
    Image5 = MakeImage(this, "Image5", 68, 45, 28, 16);
    Image6 = MakeImage(this, "Image6", 113, 45, 28, 16);
    Image7 = MakeImage(this, "Image7", 158, 45, 28, 16);
    Image8 = MakeImage(this, "Image8", 68, 74, 28, 16);
    Image9 = MakeImage(this, "Image9", 113, 74, 28, 16);
    Image10 = MakeImage(this, "Image10", 158, 74, 28, 16);
    Image11 = MakeImage(this, "Image11", 67, 103, 28, 16);
    Image12 = MakeImage(this, "Image12", 112, 103, 28, 16);
    Image13 = MakeImage(this, "Image13", 151, 97, 39, 29);
    Image14 = MakeImage(this, "Image14", 711, 31, 13, 13);
    Image15 = MakeImage(this, "Image15", 728, 31, 13, 13);
    Image16 = MakeImage(this, "Image16", 48, 162, 24, 24);

    const struct {
        TImage* image;
        const char* hint;
    } hints[] = {
        {Image2, QT_TR_NOOP("关闭本系统")},
        {Image3, QT_TR_NOOP("向前滚动录音文件窗口")},
        {Image4, QT_TR_NOOP("向后滚动录音文件窗口")},
        {Image5, QT_TR_NOOP("工作参数设置")},
        {Image6, QT_TR_NOOP("播放选中的录音")},
        {Image7, QT_TR_NOOP("在手动录音模式下,开始录音")},
        {Image8, QT_TR_NOOP("删除选中的录音")},
        {Image9, QT_TR_NOOP("停止播放")},
        {Image10, QT_TR_NOOP("停止录音")},
        {Image11, QT_TR_NOOP("上一首")},
        {Image12, QT_TR_NOOP("下一首")},
        {Image13, QT_TR_NOOP("切换录音模式(声控录音/手动录音)")},
        {Image14, QT_TR_NOOP("外观模式")},
        {Image15, QT_TR_NOOP("帮助")},
        {Image16, QT_TR_NOOP("浏览历史录音")},
    };
    for (const auto& h : hints) h.image->SetHint(tr(h.hint));
    Buttons = {Image2, Image3, Image4,  Image5,  Image6,  Image7,  Image8, Image9,
               Image10, Image11, Image12, Image13, Image14, Image15, Image16};
    for (int i = 0; i < 15; ++i) {
        // Every command image but the two scroll arrows lets the skin show through.
        Buttons[static_cast<size_t>(i)]->SetTransparent(i != 1 && i != 2);
        Buttons[static_cast<size_t>(i)]->SetHandPointer(i <= 11);
    }

    Image100 = MakeImage(this, "Image100", 578, 51, 96, 46);
    Image100->SetTransparent(true);
    {
        QImage meter(96, 46, QImage::Format_RGB32);
        meter.fill(Qt::black);
        Image100->SetPicture(meter);
    }
    Image101 = MakeImage(this, "Image101", 445, 68, 92, 17);
    Image101->SetTransparent(true);
    {
        QImage clock(92, 17, QImage::Format_RGB32);
        clock.fill(QColor(0, 204, 255));
        Image101->SetPicture(clock);
    }
    Image105 = MakeImage(this, "Image105", 440, 56, 32, 6);
    Image105->SetPicture(Pictures::PlayingLamp());
    Image105->hide();
    Image106 = MakeImage(this, "Image106", 500, 56, 28, 6);
    Image106->SetPicture(Pictures::RecordingLamp());
    Image106->hide();
    Image108 = MakeImage(this, "Image108", 580, 147, 131, 62);
    Image108->SetPicture(Pictures::Banner());
    Image108->SetHandPointer(true);
    Image109 = MakeImage(this, "Image109", 194, 88, 20, 20);
    Image109->SetPicture(Pictures::PlayKnob());
    Image109->SetHint(tr("播放音量"));
    Image109->SetHandPointer(true);
    Image110 = MakeImage(this, "Image110", 217, 88, 20, 20);
    Image110->SetPicture(Pictures::RecordKnob());
    Image110->SetTransparent(true);
    Image110->SetHint(tr("录音音量"));
    Image110->SetHandPointer(true);

    Label1 = new QLabel(QStringLiteral("25"), this);
    Label1->setObjectName(QStringLiteral("Label1"));
    Label1->setGeometry(195, 113, 19, 15);
    Label1->setFont(QFont(QStringLiteral("MS Sans Serif"), 9, QFont::Bold));
    Label1->setStyleSheet(QStringLiteral("color: rgb(0, 232, 0); background: transparent;"));
    Label1->setAttribute(Qt::WA_TransparentForMouseEvents);
    Label2 = new QLabel(QStringLiteral("25"), this);
    Label2->setObjectName(QStringLiteral("Label2"));
    Label2->setGeometry(218, 113, 19, 15);
    Label2->setFont(QFont(QStringLiteral("MS Sans Serif"), 8, QFont::Bold));
    Label2->setStyleSheet(QStringLiteral("color: rgb(0, 232, 0); background: transparent;"));
    Label2->setAttribute(Qt::WA_TransparentForMouseEvents);

    PaintBox1 = new TPaintBox(this, QStringLiteral("PaintBox1"));
    PaintBox1->SetBounds(112, 141, 427, 73);
    strip_->SetUpStripViewport();
    PaintBox2 = new TWaveBox(this, QStringLiteral("PaintBox2"));
    PaintBox2->SetBounds(265, 91, 270, 20);
    PaintBox3 = new TPaintBox(this, QStringLiteral("PaintBox3"));
    PaintBox3->SetBounds(266, 52, 153, 38);

    Image111 = MakeImage(this, "Image111", 0, 0, 314, 90);
    Image111->SetPicture(Pictures::MiniPanel());
    Image111->hide();

    // Off-window picture holders and drawing surfaces.
    Image102 = MakeImage(this, "Image102", 256, 248, 56, 55);
    Image102->SetPicture(Pictures::Tile());
    Image102->hide();
    Image103 = MakeImage(this, "Image103", 8, 224, 20000, 73);
    {
        QImage strip(20000, 73, QImage::Format_RGB32);
        strip.fill(QColor(84, 125, 141));
        Image103->SetPicture(strip);
    }
    Image103->hide();
    Image104 = MakeImage(this, "Image104", 192, 304, 8, 20);
    Image104->SetPicture(Pictures::Marker());
    Image104->hide();

    ImageList1.clear();
    for (int i = 0; i < 30; ++i) ImageList1.push_back(Pictures::ImageList1(i));
    digitlist.clear();
    for (int d = 0; d < 10; ++d) digitlist.push_back(Pictures::Digit(d));

    PopupMenu1 = new QMenu(this);
    PopupMenu1->setObjectName(QStringLiteral("PopupMenu1"));

    // The travelling displays and the mini panel lie above the skin; the
    // panel picture lies beneath the five displays that travel onto it.
    Image111->raise();
    for (QWidget* w : std::initializer_list<QWidget*>{PaintBox2, PaintBox3, Image101, Image105, Image106})
        w->raise();

    auto makeTimer = [this](const char* name, int interval, bool running) {
        auto* timer = new QTimer(this);
        timer->setObjectName(QString::fromLatin1(name));
        timer->setInterval(interval);
        if (running) timer->start();
        return timer;
    };
    Timer1 = makeTimer("Timer1", 50, true);
    Timer2 = makeTimer("Timer2", 500, true);
    Timer3 = makeTimer("Timer3", 50, false);
    Timer4 = makeTimer("Timer4", 100, true);
    Timer5 = makeTimer("Timer5", 1000, true);
    Timer7 = makeTimer("Timer7", 2000, false);
    TFlying = makeTimer("TFlying", 100, true);
}

void TForm1::ConnectCommands() {
    const struct {
        TImage* image;
        void (TForm1::*handler)();
    } commands[] = {
        {Image2, &TForm1::Image2Click},   {Image3, &TForm1::Image3Click},
        {Image4, &TForm1::Image4Click},   {Image5, &TForm1::Image5Click},
        {Image6, &TForm1::Image6Click},   {Image7, &TForm1::Image7Click},
        {Image8, &TForm1::Image8Click},   {Image9, &TForm1::Image9Click},
        {Image10, &TForm1::Image10Click}, {Image11, &TForm1::Image11Click},
        {Image12, &TForm1::Image12Click}, {Image13, &TForm1::Image13Click},
        {Image14, &TForm1::Image14Click}, {Image15, &TForm1::Image15Click},
        {Image16, &TForm1::Image16Click}, {Image108, &TForm1::Image108Click},
    };
    for (const auto& c : commands) connect(c.image, &TImage::clicked, this, c.handler);
    for (TImage* button : Buttons) {
        connect(button, &TImage::entered, this, [this, button] { skin_->ShowButtonHover(button); });
        connect(button, &TImage::left, this, [this, button] { skin_->ShowButtonNormal(button); });
    }
    connect(Image109, &TImage::mouseDown, this, [this](Qt::MouseButton, int, int y) { Image109MouseDown(y); });
    connect(Image109, &TImage::mouseUp, this, [this] { Image109MouseUp(); });
    connect(Image110, &TImage::mouseDown, this, [this](Qt::MouseButton, int, int y) { Image110MouseDown(y); });
    connect(Image110, &TImage::mouseUp, this, [this] { Image110MouseUp(); });

    connect(Timer1, &QTimer::timeout, this, &TForm1::Timer1Timer);
    connect(Timer2, &QTimer::timeout, this, &TForm1::Timer2Timer);
    connect(Timer3, &QTimer::timeout, this, &TForm1::Timer3Timer);
    connect(Timer4, &QTimer::timeout, this, &TForm1::Timer4Timer);
    connect(Timer5, &QTimer::timeout, this, &TForm1::Timer5Timer);
    connect(Timer7, &QTimer::timeout, this, &TForm1::Timer7Timer);
    connect(TFlying, &QTimer::timeout, this, &TForm1::TFlyingTimer);
}

void TForm1::FormCreate() {
    // 1. The executable's folder.
    // An installed program keeps config.ini and record/ in the user's data
    // folder instead (see ProgramDataFolder).
    if (appPathOverride_.isEmpty()) {
        const QString own = QCoreApplication::applicationDirPath() + "/";
        AppPath = platform::ProgramDataFolder(own);
        ExecutableFile = AppPath == own ? QString() : QCoreApplication::applicationFilePath();
    } else {
        AppPath = appPathOverride_;
    }
    // 2. Buttons are filled with the controls.
    // 3. Size and place: 10 pixels from the top, centred.
    setFixedSize(Image1->width(), Image1->height());
    const QRect screen = QGuiApplication::primaryScreen() ? QGuiApplication::primaryScreen()->geometry()
                                                          : QRect(0, 0, 1024, 768);
    move((screen.width() - width()) / 2, 10);
    // 4.
    strip_->ScrollPos = 0;
    strip_->ScrollTarget = 0;
    strip_->Selected = 0;
    // 5.
    config_ = LoadConfig(*platform::Services().profile, ConfigFilePath(), platform::Services().files);
    LoadSettings(config_);
    for (const QString& line : config_.problems) std::fprintf(stderr, "%s\n", line.toLocal8Bit().constData());
    if (const QString line = ProtectConfigFile(config_); !line.isEmpty())
        std::fprintf(stderr, "%s\n", line.toLocal8Bit().constData());
    // 6.
    displays_->PlaceKnob(Image109, Label1, AppSettings.PlayingVolume);
    displays_->PlaceKnob(Image110, Label2, AppSettings.RecordingVolume);
    displays_->PlayKnobHeld = false;
    displays_->RecordKnobHeld = false;
    // 7. Layout.
    Image108->SetBounds(580, Image108->y(), 131, Image108->height());
    PaintBox1->SetBounds(PaintBox1->x(), PaintBox1->y(), (Image102->width() + 5) * 7, PaintBox1->height());
    Image4->move(Image108->x() - 30, Image4->y());
    // 8.
    Playing = false;
    // 9.
    for (TImage* button : Buttons) skin_->ShowButtonNormal(button);
    // 10. The recordings folder; the outcome is ignored.
    const QString records = RecordFolder();
    if (!platform::Services().files->Exists(records)) platform::Services().files->MakePath(records);
    // 11. A better priority where the system allows it.
    platform::Services().priority->Raise();
    // 12.
    skin_->Flying = false;
    skin_->IdleTicks = 0;
    Image111->move(0, 0);
}

void TForm1::FormClose() {
    // Playback and capture stop, and everything handed to the take writer
    // reaches the disk before the end.
    if (Session) Session->Close();
}

void TForm1::closeEvent(QCloseEvent* event) {
    // Gone from the screen at once, whatever the disk does meanwhile.
    hide();
    if (!closed_) {
        closed_ = true;
        FormClose();
    }
    // The dialogs are windows of their own: left open they would keep the
    // program running without its main window (and the instance lock held).
    // Hidden before this window goes, they let it be the last one, so the
    // event loop ends, also from inside the password dialog's own loop.
    if (Form3) {
        Form3->RejectPasswordDialog();
        Form3->hide();
    }
    event->accept();
}

void TForm1::Image2Click() {
    if (Session) Session->Close();
    close();
}

void TForm1::Image5Click() {
    if (Form3) Form3->ShowDialog();
}

void TForm1::Image14Click() { skin_->RequestMiniPanel(); }

void TForm1::Image15Click() {
    // The help file is looked for on a pool thread (the data folder may sit
    // on a stalled disk) and opened from the GUI thread, while the window lives.
    QPointer<TForm1> self(this);
    QThreadPool::globalInstance()->start([self, appPath = AppPath] {
        const QString file = platform::HelpFile(appPath);
        QMetaObject::invokeMethod(
            qApp, [self, file] { if (self) platform::Services().opener->Open(file); }, Qt::QueuedConnection);
    });
}

void TForm1::Image108Click() { platform::Services().opener->Open(kMakerPage); }

void TForm1::Timer4Timer() {
    Timer4->stop();
    strip_->RebuildStrip();
}

void TForm1::Timer5Timer() {
    StartCapture();
    if (Form3) Form3->OnApply = [this](TForm3*) { SettingsApplied(); };
    Timer5->stop();
}

// The strip's commands and timers.
void TForm1::Image3Click() { strip_->ScrollBack(); }
void TForm1::Image4Click() { strip_->ScrollOn(); }
void TForm1::Image6Click() { strip_->PlaySelection(); }
void TForm1::Image8Click() { strip_->DeleteSelection(); }
void TForm1::Image11Click() { strip_->SelectPrevious(); }
void TForm1::Image12Click() { strip_->SelectNext(); }
void TForm1::Image16Click() { strip_->ShowHistoryMenu(); }
void TForm1::Timer3Timer() { strip_->ScrollStep(); }
void TForm1::Timer7Timer() { strip_->PlayAfterSwitch(); }

// The displays' timers and the knobs.
void TForm1::Timer1Timer() { displays_->ShowLevels(); }
void TForm1::Timer2Timer() { displays_->ShowClock(); }
void TForm1::Image109MouseDown(int y) { displays_->GrabPlayKnob(y); }
void TForm1::Image109MouseUp() { displays_->ReleasePlayKnob(); }
void TForm1::Image110MouseDown(int y) { displays_->GrabRecordKnob(y); }
void TForm1::Image110MouseUp() { displays_->ReleaseRecordKnob(); }

// The mini panel's timer.
void TForm1::TFlyingTimer() { skin_->IdleTick(); }
