// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The administrator-password dialog.
#include <QDialog>

#include <functional>

class QGroupBox;
class QLabel;
class QLineEdit;
class QPushButton;

// Shows a plain message box with one OK button.
void ShowMessage(QWidget* parent, const QString& text);

// Text without leading and trailing blanks and control characters.
QString TrimBlanks(const QString& text);

class TForm5 : public QDialog {
    Q_OBJECT
public:
    explicit TForm5(QWidget* parent = nullptr);

    static constexpr int kWidth = 328;         // outer width
    static constexpr int kShortHeight = 130;   // outer height, password entry only
    static constexpr int kLongHeight = 266;    // outer height with the change group

    // True when the password was accepted or a new one confirmed.
    bool Confirmed = false;

    // Shows the dialog modally in front of `owner` (which may be null) and
    // returns Confirmed once it has closed.
    bool Execute(QWidget* owner);

    QLabel* Label1 = nullptr;
    QLineEdit* Edit1 = nullptr;
    QPushButton* Button1 = nullptr;
    QPushButton* Button2 = nullptr;
    QPushButton* Button3 = nullptr;
    QGroupBox* GroupBox1 = nullptr;
    QLabel* Label2 = nullptr;
    QLabel* Label3 = nullptr;
    QLineEdit* Edit2 = nullptr;
    QLineEdit* Edit3 = nullptr;
    QPushButton* Button4 = nullptr;

    void Button1Click();
    void Button2Click();
    void Button3Click();
    void Button4Click();

protected:
    void showEvent(QShowEvent* event) override;

private:
    void FormShow();
    // Sets the window's outer height (title bar and frame included).
    void SetOuterHeight(int height);
    QSize FrameExtra() const;
    int outerHeight_ = kShortHeight;
};
