#pragma once
// The administrator-password dialog.
#include <QDialog>

class TForm5 : public QDialog {
    Q_OBJECT
public:
    explicit TForm5(QWidget* parent = nullptr);
    // True when the password was accepted or a new one confirmed.
    bool Confirmed = false;
};

extern TForm5* Form5;
