// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The main window: a borderless, always-on-top, skinned panel with the
// recording strip, the live displays, the volume knobs and the command images.
#include <QLabel>
#include <QMenu>
#include <QTimer>
#include <QWidget>

#include <array>
#include <cstdint>
#include <memory>
#include <vector>

#include "app/Controls.h"
#include "app/Displays.h"
#include "app/Skin.h"
#include "app/Strip.h"
#include "settings/publicunit.h"

class RecorderSession;
class TFPlay;
class TFRecord;
class TForm3;

class TForm1 : public QWidget {
    Q_OBJECT
public:
    static inline const QString kCaption = kMainCaption;
    static inline const QString kApplicationTitle = QStringLiteral("Somora Recorder-Brovane Software");
    static inline const QString kMakerPage = QStringLiteral("https://somorabox.example/");

    // `appPath` overrides the executable's folder (tests); it must end with "/".
    explicit TForm1(const QString& appPath = QString(), QWidget* parent = nullptr);
    ~TForm1() override;

    // Controls, named as the layout names them.
    TImage* Image1 = nullptr;  // skin
    TImage* Image2 = nullptr;  // close
    TImage* Image3 = nullptr;  // scroll back
    TImage* Image4 = nullptr;  // scroll on
    TImage* Image5 = nullptr;  // settings
    TImage* Image6 = nullptr;  // play
    TImage* Image7 = nullptr;  // manual start
    TImage* Image8 = nullptr;  // delete
    TImage* Image9 = nullptr;  // stop playback
    TImage* Image10 = nullptr; // stop recording
    TImage* Image11 = nullptr; // previous
    TImage* Image12 = nullptr; // next
    TImage* Image13 = nullptr; // recording mode
    TImage* Image14 = nullptr; // mini panel
    TImage* Image15 = nullptr; // help
    TImage* Image16 = nullptr; // history
    TImage* Image100 = nullptr; // needle meter
    TImage* Image101 = nullptr; // clock
    TImage* Image102 = nullptr; // tile template (off-window)
    TImage* Image103 = nullptr; // strip bitmap (off-window)
    TImage* Image104 = nullptr; // marker template (off-window)
    TImage* Image105 = nullptr; // playing indicator
    TImage* Image106 = nullptr; // recording indicator
    TImage* Image108 = nullptr; // banner
    TImage* Image109 = nullptr; // playing-volume knob
    TImage* Image110 = nullptr; // recording-volume knob
    TImage* Image111 = nullptr; // mini panel picture
    QLabel* Label1 = nullptr;   // playing volume
    QLabel* Label2 = nullptr;   // recording volume
    TPaintBox* PaintBox1 = nullptr;  // strip viewport (not shown)
    TWaveBox* PaintBox2 = nullptr;   // waveform box
    TPaintBox* PaintBox3 = nullptr;  // band bars
    std::vector<QImage> ImageList1;  // 30 pictures, 50x50
    std::vector<QImage> digitlist;   // 10 pictures, 9x17
    QMenu* PopupMenu1 = nullptr;

    QTimer* Timer1 = nullptr;   // 50 ms meters
    QTimer* Timer2 = nullptr;   // 500 ms clock
    QTimer* Timer3 = nullptr;   // 50 ms strip animation
    QTimer* Timer4 = nullptr;   // once after 100 ms: first strip
    QTimer* Timer5 = nullptr;   // once after 1 s: capture start
    QTimer* Timer7 = nullptr;   // 2 s: play after a switch
    QTimer* TFlying = nullptr;  // 100 ms: idle count and mini panel

    // The 15 command images, index 0-14.
    std::array<TImage*, 15> Buttons{};

    // The parts the window holds: the recording strip, the live displays and
    // knobs, the skinned window with its mini panel.
    RecordingStrip& Strip() { return *strip_; }
    const RecordingStrip& Strip() const { return *strip_; }
    LiveDisplays& Displays() { return *displays_; }
    const LiveDisplays& Displays() const { return *displays_; }
    WindowSkin& Skin() { return *skin_; }
    const WindowSkin& Skin() const { return *skin_; }

    // Start-up and closing.
    void FormCreate();
    // config.ini as FormCreate read it, for what is built after the window.
    const Config& LoadedConfig() const { return config_; }
    void FormClose();

    // Commands.
    void Image2Click();
    void Image3Click();
    void Image4Click();
    void Image5Click();
    void Image6Click();
    void Image7Click();
    void Image8Click();
    void Image9Click();
    void Image10Click();
    void Image11Click();
    void Image12Click();
    void Image13Click();
    void Image14Click();
    void Image15Click();
    void Image16Click();
    void Image108Click();

    // Timers.
    void Timer1Timer();
    void Timer2Timer();
    void Timer3Timer();
    void Timer4Timer();
    void Timer5Timer();
    void Timer7Timer();
    void TFlyingTimer();

    // Knobs.
    void Image109MouseDown(int y);
    void Image109MouseUp();
    void Image110MouseDown(int y);
    void Image110MouseUp();

    // Capture start and restart, through the session that owns the capture.
    RecorderSession* Session = nullptr;
    // What the displays read: the session's engines (set by UseSession).
    const TFRecord* Capture = nullptr;
    const TFPlay* Playback = nullptr;
    // The settings dialog, owned by whoever built this window.
    TForm3* Form3 = nullptr;
    void StartCapture();
    void SettingsApplied();
    void RecordingChanged();
    // Takes the session that owns the capture: its recordings reach the
    // strip, and its input and disk states show on the waveform box and the
    // recording indicator's hint.
    void UseSession(RecorderSession* session);

protected:
    void closeEvent(QCloseEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseDoubleClickEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;
    void childEvent(QChildEvent* event) override;

private:
    void CreateControls();
    void ConnectCommands();
    QString appPathOverride_;
    Config config_;
    bool closed_ = false;
    std::unique_ptr<RecordingStrip> strip_;
    std::unique_ptr<LiveDisplays> displays_;
    std::unique_ptr<WindowSkin> skin_;
};

// The index of the line-input entry of RecordingSources, 0 when none.
int FindLineInSource();
