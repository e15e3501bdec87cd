#pragma once
// The main window: a borderless, always-on-top, skinned panel with the
// recording strip, the live displays, the volume knobs and the command images.
#include <QDateTime>
#include <QLabel>
#include <QList>
#include <QMenu>
#include <QTimer>
#include <QWidget>

#include <array>
#include <cstdint>
#include <functional>
#include <vector>

#include "app/Controls.h"
#include "settings/publicunit.h"

class QAction;
class RecorderSession;
class TFPlay;
class TFRecord;
class TForm3;

// One recording listed by the strip.
struct TRecordingEntry {
    QString Name;     // file name without folder
    QDateTime Time;   // last-write time, local, to two seconds
    TImage* Tile = nullptr;
};

class TForm1 : public QWidget {
    Q_OBJECT
public:
    static constexpr int kTilePitch = 61;
    static constexpr int kMaxRecordings = 250;
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

    // Recording strip.
    QList<TRecordingEntry> Recordings;
    int32_t ScrollPos = 0;
    int32_t ScrollTarget = 0;
    int32_t Selected = 0;
    TImage* Marker = nullptr;

    // Skinned window.
    bool Flying = false;
    int32_t FlyDX = 3;
    int32_t FlyDY = 3;
    int32_t IdleTicks = 0;
    int32_t LastPointerX = 0;
    int32_t LastPointerY = 0;

    // Displays and knobs.
    std::array<int32_t, 20> PeakHold{};
    int32_t Timer1Tag = 0;
    bool PlayKnobHeld = false;
    bool RecordKnobHeld = false;
    int32_t KnobGrabY = 0;

    // Start-up and closing.
    void FormCreate();
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

    // Recording strip.
    void RebuildStrip();
    void RefreshAfterSettings();
    void ShowVisibleTiles();
    void TileClick(TImage* tile);
    void HistoryItemClick(QAction* entry);
    void PlaySelection();
    // Shows PaintBox1 over the viewport, painted from the strip bitmap.
    void SetUpStripViewport();
    // Where PlaySelection hands the full path of the selection and the
    // display that shows it; when empty, the session plays it.
    std::function<void(const QString& path, WaveDisplay* display)> PlayRequested;

    // Skinned window.
    void ApplyWindowShape(TImage* picture);
    void ShowButtonHover(QWidget* control);
    void ShowButtonNormal(QWidget* control);
    // Whether a window-relative point lies strictly inside a command image, a
    // tile, the banner or a knob (otherwise it is skin that drags the window).
    bool OverControl(int x, int y) const;
    // A pointer movement over the window at window-relative (x, y).
    void PointerMoved(int x, int y);
    void CaptionDoubleClick();

    // Displays and knobs.
    void DrawElapsedTime(int32_t seconds);
    void DrawTwoDigits(int32_t value, int32_t x);
    void PlaceKnob(TImage* knob, QLabel* label, int32_t volume);
    void Image109MouseDown(int y);
    void Image109MouseUp();
    void Image110MouseDown(int y);
    void Image110MouseUp();
    void DragPlayKnob(int32_t y);
    void DragRecordKnob(int32_t y);

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
    bool closed_ = false;

    // Dragging the window by its skin: a press over the skin moves the
    // window once the pointer has moved a little with the button held, so
    // that a double click stays a double click.
    bool SkinMouse(QMouseEvent* event, QPoint windowPos);
    bool skinPressed_ = false;
    bool skinDragging_ = false;
    QPoint skinPressGlobal_;
    QPoint skinGrabOffset_;

    // What the meter and the band bars show now: a tick that would draw the
    // same again leaves them as they are and costs no repaint.
    bool meterDrawn_ = false;
    QPoint meterTip_;
    QImage shownBars_;
};

// The index of the line-input entry of RecordingSources, 0 when none.
int FindLineInSource();
