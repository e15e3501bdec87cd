// The recording and playback commands of the main window.
#include <QApplication>
#include <QMessageBox>

#include "app/Unit1.h"
#include "capture/Unit2.h"
#include "playback/Unit4.h"
#include "settings/publicunit.h"

void TForm1::Image7Click() {
    if (!FRecord) return;
    if (FRecord->Manual) {
        FRecord->ManualRequest = true;
    } else {
        // A plain box: no icon, one OK button.
        QMessageBox box(QMessageBox::NoIcon, QApplication::applicationName(),
                        tr("现在是声控录音模式, 只要你唱, 系统将会自动录音。"), QMessageBox::Ok, this);
        box.exec();
    }
}

void TForm1::Image9Click() {
    if (Playing && FPlay) FPlay->StopPlayback();
}

void TForm1::Image10Click() {
    if (FRecord) FRecord->ManualRequest = false;
}

void TForm1::Image13Click() {
    // The picture already shows the mode that the click selects (hover picture).
    AppSettings.ManualMode = !AppSettings.ManualMode;
    if (FRecord) FRecord->Manual = AppSettings.ManualMode;
}
