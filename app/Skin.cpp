// SPDX-License-Identifier: GPL-3.0-or-later
// The skinned window: hover pictures, drag area, mini panel.
#include <QChildEvent>
#include <QMouseEvent>
#include <QScreen>
#include <QWindow>

#include <limits>

#include "app/Skin.h"

#include "app/PanelMath.h"
#include "app/Unit1.h"
#include "settings/publicunit.h"

namespace {

// Pointer travel, in pixels, before a press on the skin becomes a drag.
constexpr int kDragThreshold = 3;

}  // namespace

namespace panel {

bool StrictlyInside(const QRect& r, int x, int y) {
    return r.x() < x && x < r.x() + r.width() && r.y() < y && y < r.y() + r.height();
}

QPoint FlyStep(const QRect& screen, QPoint topLeft, QSize panel, int32_t& dx, int32_t& dy) {
    if (topLeft.x() < screen.x() + kScreenMargin) dx = kFlyStep;
    if (topLeft.y() < screen.y() + kScreenMargin) dy = kFlyStep;
    // Tested last, so a screen too small for the panel sends it back.
    if (screen.x() + screen.width() - kScreenMargin < panel.width() + topLeft.x()) dx = -kFlyStep;
    if (screen.y() + screen.height() - kScreenMargin < panel.height() + topLeft.y()) dy = -kFlyStep;
    return {topLeft.x() + dx, topLeft.y() + dy};
}

QRegion ShapeFromPicture(const QImage& picture) {
    const QImage image = picture.convertToFormat(QImage::Format_RGB32);
    QRegion region;
    for (int y = 0; y < image.height(); ++y) {
        const auto* row = reinterpret_cast<const QRgb*>(image.constScanLine(y));
        int x = 0;
        while (x < image.width()) {
            if ((row[x] & 0xFFFFFFu) == 0) {
                ++x;
                continue;
            }
            const int start = x;
            while (x < image.width() && (row[x] & 0xFFFFFFu) != 0) ++x;
            region += QRect(start, y, x - start, 1);
        }
    }
    return region;
}

}  // namespace panel

WindowSkin::WindowSkin(TForm1& form) : form_(form) {}

void WindowSkin::ApplyWindowShape(TImage* picture) {
    if (!picture) return;
    if (picture == form_.Image1) {
        const QSize size = picture->Picture().isNull() ? picture->size() : picture->Picture().size();
        form_.setMask(QRegion(0, 0, size.width(), size.height()));
        form_.move(form_.x() - panel::kPanelOffsetX, form_.y() - panel::kPanelOffsetY);
        return;
    }
    // An empty shape would be no shape at all: keep the previous one.
    const QRegion shape = panel::ShapeFromPicture(picture->Picture());
    if (!shape.isEmpty()) form_.setMask(shape);
}

void WindowSkin::ShowButtonHover(QWidget* control) {
    for (int i = 0; i < 15; ++i) {
        if (form_.Buttons[static_cast<size_t>(i)] != control) continue;
        int picture = 2 * i;
        if (i == 11) picture = AppSettings.ManualMode ? 22 : 23;
        form_.Buttons[static_cast<size_t>(i)]->SetPicture(form_.ImageList1[static_cast<size_t>(picture)]);
    }
}

void WindowSkin::ShowButtonNormal(QWidget* control) {
    for (int i = 0; i < 15; ++i) {
        if (form_.Buttons[static_cast<size_t>(i)] != control) continue;
        int picture = 2 * i + 1;
        if (i == 11) picture = AppSettings.ManualMode ? 23 : 22;
        form_.Buttons[static_cast<size_t>(i)]->SetPicture(form_.ImageList1[static_cast<size_t>(picture)]);
    }
}

bool WindowSkin::OverControl(int x, int y) const {
    auto over = [x, y](const QWidget* control) {
        return control && panel::StrictlyInside(control->geometry(), x, y);
    };
    for (const TImage* button : form_.Buttons)
        if (over(button)) return true;
    // Tiles count whether shown or not, at their last place.
    for (const TRecordingEntry& entry : form_.Strip().Recordings)
        if (over(entry.Tile)) return true;
    return over(form_.Image108) || over(form_.Image109) || over(form_.Image110);
}

void WindowSkin::PointerMoved(int x, int y) {
    // The whole mini panel is drag area; nothing else happens there.
    if (Flying) return;
    LiveDisplays& displays = form_.Displays();
    if (displays.PlayKnobHeld) displays.DragPlayKnob(y);
    if (displays.RecordKnobHeld) displays.DragRecordKnob(y);
    if (x != LastPointerX || y != LastPointerY) IdleTicks = 0;
    LastPointerX = x;
    LastPointerY = y;
}

void WindowSkin::CaptionDoubleClick() {
    if (!Flying) {
        form_.Image14Click();
        return;
    }
    Flying = false;
    form_.Image111->hide();
    for (QWidget* w : {static_cast<QWidget*>(form_.PaintBox2), static_cast<QWidget*>(form_.PaintBox3),
                       static_cast<QWidget*>(form_.Image101), static_cast<QWidget*>(form_.Image105),
                       static_cast<QWidget*>(form_.Image106)})
        w->move(w->x() + panel::kPanelOffsetX, w->y() + panel::kPanelOffsetY);
    ApplyWindowShape(form_.Image1);
}

void WindowSkin::RequestMiniPanel() { IdleTicks = 10000; }

void WindowSkin::IdleTick() {
    if (!Flying) {
        if (IdleTicks < std::numeric_limits<int32_t>::max()) ++IdleTicks;
        if (int64_t{IdleTicks} * form_.TFlying->interval() <= 10000) return;

        // Into the mini panel: the panel picture comes up beneath the five
        // displays, which move onto it; the window then moves so that they
        // keep their place on the screen.
        const QList<QWidget*> travelling{form_.PaintBox2, form_.PaintBox3, form_.Image101, form_.Image105,
                                         form_.Image106};
        form_.Image111->show();
        form_.Image111->raise();
        for (QWidget* w : travelling) w->raise();
        for (QWidget* w : travelling) w->move(w->x() - panel::kPanelOffsetX, w->y() - panel::kPanelOffsetY);
        IdleTicks = 0;
        Flying = true;
        FlyDX = panel::kFlyStep;
        FlyDY = panel::kFlyStep;
        ApplyWindowShape(form_.Image111);
        form_.move(form_.x() + panel::kPanelOffsetX, form_.y() + panel::kPanelOffsetY);
        return;
    }
    const QScreen* where = form_.screen();
    const QRect area = where ? where->geometry() : QRect(0, 0, 1024, 768);
    form_.move(panel::FlyStep(area, form_.pos(), QSize(panel::kPanelWidth, panel::kPanelHeight), FlyDX, FlyDY));
}

bool WindowSkin::SkinMouse(QMouseEvent* event, QPoint windowPos) {
    const QPoint global = event->globalPosition().toPoint();
    const bool skin = Flying || !OverControl(windowPos.x(), windowPos.y());
    switch (event->type()) {
    case QEvent::MouseButtonPress:
        if (event->button() != Qt::LeftButton || !skin) return false;
        skinPressed_ = true;
        skinDragging_ = false;
        skinPressGlobal_ = global;
        skinGrabOffset_ = global - form_.pos();
        return true;
    case QEvent::MouseButtonDblClick:
        if (event->button() != Qt::LeftButton || !skin) return false;
        skinPressed_ = false;
        skinDragging_ = false;
        CaptionDoubleClick();
        return true;
    case QEvent::MouseMove:
        PointerMoved(windowPos.x(), windowPos.y());
        if (skinDragging_) {
            form_.move(global - skinGrabOffset_);
            return true;
        }
        if (!skinPressed_) return false;
        if (!(event->buttons() & Qt::LeftButton)) {
            skinPressed_ = false;
            return false;
        }
        if ((global - skinPressGlobal_).manhattanLength() < kDragThreshold) return true;
        skinPressed_ = false;
        // The window system moves the window where it can (X11 with a window
        // manager, Wayland); otherwise the window follows the pointer.
        if (QWindow* handle = form_.windowHandle(); handle && handle->startSystemMove()) return true;
        skinDragging_ = true;
        form_.move(global - skinGrabOffset_);
        return true;
    case QEvent::MouseButtonRelease:
        if (event->button() != Qt::LeftButton || !(skinPressed_ || skinDragging_)) return false;
        skinPressed_ = false;
        skinDragging_ = false;
        return true;
    default:
        return false;
    }
}

void TForm1::mousePressEvent(QMouseEvent* event) {
    if (!skin_->SkinMouse(event, event->position().toPoint())) QWidget::mousePressEvent(event);
}

void TForm1::mouseMoveEvent(QMouseEvent* event) {
    if (!skin_->SkinMouse(event, event->position().toPoint())) QWidget::mouseMoveEvent(event);
}

void TForm1::mouseReleaseEvent(QMouseEvent* event) {
    if (!skin_->SkinMouse(event, event->position().toPoint())) QWidget::mouseReleaseEvent(event);
}

void TForm1::mouseDoubleClickEvent(QMouseEvent* event) {
    if (!skin_->SkinMouse(event, event->position().toPoint())) QWidget::mouseDoubleClickEvent(event);
}

bool TForm1::eventFilter(QObject* watched, QEvent* event) {
    switch (event->type()) {
    case QEvent::MouseButtonPress:
    case QEvent::MouseButtonRelease:
    case QEvent::MouseButtonDblClick:
    case QEvent::MouseMove: {
        auto* control = qobject_cast<QWidget*>(watched);
        if (!control || control == this || !isAncestorOf(control)) break;
        auto* mouse = static_cast<QMouseEvent*>(event);
        if (skin_->SkinMouse(mouse, control->mapTo(this, mouse->position().toPoint()))) return true;
        break;
    }
    default:
        break;
    }
    return QWidget::eventFilter(watched, event);
}

void TForm1::childEvent(QChildEvent* event) {
    QWidget::childEvent(event);
    if (event->type() != QEvent::ChildPolished) return;
    auto* control = qobject_cast<QWidget*>(event->child());
    if (!control || control->isWindow()) return;
    // Children report every pointer movement and press to the window, which
    // decides what is drag area; nothing reaches the window twice.
    control->installEventFilter(this);
    control->setMouseTracking(true);
    control->setAttribute(Qt::WA_NoMousePropagation);
}
