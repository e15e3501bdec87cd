// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The skinned side of the main window: its shape, the hover pictures of the
// command images, dragging the window by its skin, the idle count and the
// drifting mini panel.
#include <QPoint>

#include <cstdint>

class QMouseEvent;
class QWidget;
class TForm1;
class TImage;

class WindowSkin {
public:
    // Shapes, moves and draws on the window it is given.
    explicit WindowSkin(TForm1& form);

    bool Flying = false;
    int32_t FlyDX = 3;
    int32_t FlyDY = 3;
    int32_t IdleTicks = 0;
    int32_t LastPointerX = 0;
    int32_t LastPointerY = 0;

    void ApplyWindowShape(TImage* picture);
    void ShowButtonHover(QWidget* control);
    void ShowButtonNormal(QWidget* control);
    // Whether a window-relative point lies strictly inside a command image, a
    // tile, the banner or a knob (otherwise it is skin that drags the window).
    bool OverControl(int x, int y) const;
    // A pointer movement over the window at window-relative (x, y).
    void PointerMoved(int x, int y);
    void CaptionDoubleClick();
    // Asks for the mini panel at the next idle tick.
    void RequestMiniPanel();
    // One tick of the idle count, or one step of the drifting mini panel.
    void IdleTick();

    // Dragging the window by its skin: a press over the skin moves the
    // window once the pointer has moved a little with the button held, so
    // that a double click stays a double click. True when the event was the
    // skin's.
    bool SkinMouse(QMouseEvent* event, QPoint windowPos);

private:
    TForm1& form_;
    bool skinPressed_ = false;
    bool skinDragging_ = false;
    QPoint skinPressGlobal_;
    QPoint skinGrabOffset_;
};
