#pragma once
// The settings dialog.
#include <QWidget>

#include <functional>

class TForm3 : public QWidget {
    Q_OBJECT
public:
    explicit TForm3(QWidget* parent = nullptr);
    // Called after "确定" has stored new settings.
    std::function<void(TForm3* sender)> OnApply;
    // Refills every control from the settings and shows the dialog, not modal.
    void ShowDialog();
};

extern TForm3* Form3;
