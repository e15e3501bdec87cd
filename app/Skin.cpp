// The skinned window: hover pictures, drag area, mini panel.
#include <QMouseEvent>

#include "app/Unit1.h"
#include "settings/publicunit.h"

void TForm1::ApplyWindowShape(TImage*) {}

void TForm1::ShowButtonHover(QWidget* control) {
    for (int i = 0; i < 15; ++i) {
        if (Buttons[static_cast<size_t>(i)] != control) continue;
        int picture = 2 * i;
        if (i == 11) picture = AppSettings.ManualMode ? 22 : 23;
        Buttons[static_cast<size_t>(i)]->SetPicture(ImageList1[static_cast<size_t>(picture)]);
    }
}

void TForm1::ShowButtonNormal(QWidget* control) {
    for (int i = 0; i < 15; ++i) {
        if (Buttons[static_cast<size_t>(i)] != control) continue;
        int picture = 2 * i + 1;
        if (i == 11) picture = AppSettings.ManualMode ? 23 : 22;
        Buttons[static_cast<size_t>(i)]->SetPicture(ImageList1[static_cast<size_t>(picture)]);
    }
}

bool TForm1::OverControl(int, int) const { return false; }
void TForm1::PointerMoved(int, int) {}
void TForm1::CaptionDoubleClick() {}
void TForm1::TFlyingTimer() {}
void TForm1::mousePressEvent(QMouseEvent* event) { QWidget::mousePressEvent(event); }
void TForm1::mouseMoveEvent(QMouseEvent* event) { QWidget::mouseMoveEvent(event); }
void TForm1::mouseDoubleClickEvent(QMouseEvent* event) { QWidget::mouseDoubleClickEvent(event); }
bool TForm1::eventFilter(QObject* watched, QEvent* event) { return QWidget::eventFilter(watched, event); }
