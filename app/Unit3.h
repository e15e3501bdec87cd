// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The settings dialog.
#include <QWidget>

#include <functional>

class QCheckBox;
class QComboBox;
class QFrame;
class QLabel;
class QPushButton;
class QRadioButton;
class SettingsSaver;
class TForm5;

class TForm3 : public QWidget {
    Q_OBJECT
public:
    explicit TForm3(QWidget* parent = nullptr);

    static constexpr int kWidth = 500;
    static constexpr int kHeight = 560;

    // Called after "确定" has stored new settings.
    std::function<void(TForm3* sender)> OnApply;
    // Refills every control from the settings and shows the dialog, not modal.
    void ShowDialog();

    QLabel* Image1 = nullptr;
    QLabel* Label1 = nullptr;
    QComboBox* ComboBox1 = nullptr;
    QLabel* Label6 = nullptr;
    QComboBox* ComboBox2 = nullptr;
    QCheckBox* CheckBox3 = nullptr;
    QFrame* Panel1 = nullptr;
    QLabel* Label8 = nullptr;
    QRadioButton* RadioButton3 = nullptr;
    QRadioButton* RadioButton4 = nullptr;
    QRadioButton* RadioButton5 = nullptr;
    QCheckBox* CheckBox1 = nullptr;
    QCheckBox* CheckBox2 = nullptr;
    QLabel* Label9 = nullptr;
    QRadioButton* RadioButton1 = nullptr;
    QRadioButton* RadioButton2 = nullptr;
    QPushButton* Button2 = nullptr;
    QPushButton* Button3 = nullptr;
    QPushButton* Button4 = nullptr;

    void Button2Click();
    void Button3Click();
    void Button4Click();

    // The administrator-password dialog of "设为默认值", created at its first use.
    TForm5* PasswordDialog();
    // Closes the password dialog where it is open (the main window is closing).
    void RejectPasswordDialog();
    // Writes the settings "设为默认值" keeps, off the window's thread.
    SettingsSaver& Saver() { return *saver_; }

protected:
    void showEvent(QShowEvent* event) override;

private:
    void CreateControls();
    void FormShow();
    // Stores the controls in AppSettings, calls OnApply and hides the dialog.
    // Raises SettingsError (nothing stored) for a sampling rate that is no integer.
    void ApplyControls();
    TForm5* ownPasswordDialog_ = nullptr;
    SettingsSaver* saver_ = nullptr;
};
