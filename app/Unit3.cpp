// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/Unit3.h"

#include <QButtonGroup>
#include <QCheckBox>
#include <QComboBox>
#include <QFrame>
#include <QGuiApplication>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QScreen>
#include <QShowEvent>

#include <exception>

#include "resources/Pictures.h"
#include "app/Language.h"
#include "app/password.h"
#include "settings/SettingsSaver.h"
#include "settings/publicunit.h"

namespace {

// Runs one command; an error ends it with a message box and the program goes on.
template <typename Command>
void RunCommand(QWidget* parent, Command command) {
    try {
        command();
    } catch (const SettingsError& error) {
        ShowMessage(parent, error.Message());
    } catch (const std::exception& error) {
        ShowMessage(parent, QString::fromLocal8Bit(error.what()));
    }
}

template <typename Control>
Control* Place(Control* control, const char* name, int left, int top, int width, int height) {
    control->setObjectName(QString::fromLatin1(name));
    control->setGeometry(left, top, width, height);
    return control;
}

QLabel* MakeLabel(QWidget* parent, const char* name, const QString& caption, int left, int top,
                  int width, int height, bool transparent) {
    auto* label = Place(new QLabel(caption, parent), name, left, top, width, height);
    label->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    // An opaque label paints its rectangle in its parent's colour.
    label->setAutoFillBackground(!transparent);
    return label;
}

QComboBox* MakeComboBox(QWidget* parent, const char* name, int left, int top, int width, int height) {
    auto* box = Place(new QComboBox(parent), name, left, top, width, height);
    box->setEditable(true);
    // Typed text is a value, never a new list entry.
    box->setInsertPolicy(QComboBox::NoInsert);
    return box;
}

// The index of the entry whose text the box shows, -1 when it shows none.
int SelectedIndex(const QComboBox* box) {
    const int current = box->currentIndex();
    if (current >= 0 && box->itemText(current) == box->currentText()) return current;
    return box->findText(box->currentText(), Qt::MatchExactly | Qt::MatchCaseSensitive);
}

}  // namespace

TForm3::TForm3(QWidget* parent)
    : QWidget(parent, Qt::Window | Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint) {
    setObjectName(QStringLiteral("Form3"));
    setWindowTitle(tr("Somora录音系统设置"));
    QFont font(QStringLiteral("MS Sans Serif"));
    font.setPixelSize(11);
    setFont(font);
    QPalette white = palette();
    white.setColor(QPalette::Window, Qt::white);
    setPalette(white);
    setAutoFillBackground(true);
    setFixedSize(kWidth, kHeight);
    CreateControls();
    saver_ = new SettingsSaver(this);
    // The settings are in force by then; only keeping them failed.
    connect(saver_, &SettingsSaver::failed, this, [](const QString& message) { ShowMessage(nullptr, message); });
}

void TForm3::CreateControls() {
    QFont song(QString::fromUtf8("宋体"));
    song.setPixelSize(12);

    Image1 = Place(new QLabel(this), "Image1", 0, 0, kWidth, kHeight);
    Image1->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    const QImage background = Pictures::SettingsBackground(WindowInEnglish());
    if (!background.isNull()) Image1->setPixmap(QPixmap::fromImage(background));

    Label1 = MakeLabel(this, "Label1", tr("采样频率"), 48, 237, 57, 17, false);
    ComboBox1 = MakeComboBox(this, "ComboBox1", 104, 232, 121, 20);
    Label6 = MakeLabel(this, "Label6", tr("录音通道"), 48, 272, 57, 13, false);
    ComboBox2 = MakeComboBox(this, "ComboBox2", 104, 268, 121, 20);
    CheckBox3 = Place(new QCheckBox(tr("播放时暂停录音"), this), "CheckBox3", 264, 268, 153, 17);

    Panel1 = Place(new QFrame(this), "Panel1", 40, 296, 408, 25);
    Panel1->setFrameShape(QFrame::NoFrame);
    Panel1->setAutoFillBackground(true);
    Label8 = MakeLabel(Panel1, "Label8", tr("声控系统灵敏度"), 8, 5, 113, 13, false);
    RadioButton3 = Place(new QRadioButton(tr("高"), Panel1), "RadioButton3", 136, 5, 65, 14);
    RadioButton4 = Place(new QRadioButton(tr("中"), Panel1), "RadioButton4", 224, 5, 57, 14);
    RadioButton5 = Place(new QRadioButton(tr("低"), Panel1), "RadioButton5", 296, 5, 57, 14);

    CheckBox1 = Place(new QCheckBox(tr("启用自动增益控制以防止声音失真"), this), "CheckBox1", 48, 328,
                      217, 17);
    CheckBox2 = Place(new QCheckBox(tr("登录时自动启动录音系统"), this), "CheckBox2", 264,
                      328, 217, 17);
    Label9 = MakeLabel(this, "Label9", tr("录音文件管理"), 48, 360, 89, 17, true);
    RadioButton1 = Place(new QRadioButton(tr("仅保留最近24小时录音"), this), "RadioButton1", 176, 360,
                         161, 17);
    RadioButton2 = Place(new QRadioButton(tr("不管理历史录音"), this), "RadioButton2", 336, 360, 121, 17);

    // Two separate groups: radio buttons left to themselves would count the
    // ones inside Panel1 as siblings of the ones on the window.
    auto* sensitivity = new QButtonGroup(this);
    for (QRadioButton* button : {RadioButton3, RadioButton4, RadioButton5}) sensitivity->addButton(button);
    auto* fileManagement = new QButtonGroup(this);
    for (QRadioButton* button : {RadioButton1, RadioButton2}) fileManagement->addButton(button);

    Button2 = Place(new QPushButton(tr("确定"), this), "Button2", 232, 512, 57, 25);
    Button3 = Place(new QPushButton(tr("取消"), this), "Button3", 304, 512, 49, 25);
    Button4 = Place(new QPushButton(tr("设为默认值"), this), "Button4", 368, 512, 89, 25);

    // Every text in 宋体 except CheckBox3, which keeps the window's typeface.
    for (QWidget* control : std::initializer_list<QWidget*>{
             Label1, ComboBox1, Label6, ComboBox2, Panel1, Label8, RadioButton3, RadioButton4, RadioButton5,
             CheckBox1, CheckBox2, Label9, RadioButton1, RadioButton2, Button2, Button3, Button4})
        control->setFont(song);

    const QList<QWidget*> tabOrder = {Button2,   Button3,   Button4,      ComboBox1,    ComboBox2,    CheckBox3,
                                      CheckBox1, CheckBox2, RadioButton1, RadioButton2, RadioButton3, RadioButton4,
                                      RadioButton5};
    for (qsizetype i = 1; i < tabOrder.size(); ++i) setTabOrder(tabOrder[i - 1], tabOrder[i]);

    connect(Button2, &QPushButton::clicked, this, &TForm3::Button2Click);
    connect(Button3, &QPushButton::clicked, this, &TForm3::Button3Click);
    connect(Button4, &QPushButton::clicked, this, &TForm3::Button4Click);
}

void TForm3::ShowDialog() {
    if (isVisible()) {
        // Already open: brought to the front as it stands, nothing refilled.
        raise();
    } else {
        if (QScreen* screen = QGuiApplication::primaryScreen()) {
            const QRect desk = screen->geometry();
            move(desk.left() + (desk.width() - kWidth) / 2, desk.top() + (desk.height() - kHeight) / 2);
        }
        show();
    }
    activateWindow();
}

void TForm3::showEvent(QShowEvent* event) {
    if (!event->spontaneous()) FormShow();
    QWidget::showEvent(event);
}

void TForm3::FormShow() {
    const TAppSettings& s = AppSettings;

    ComboBox1->clear();
    ComboBox1->addItems({QStringLiteral("8000"), QStringLiteral("11025"), QStringLiteral("22050"),
                         QStringLiteral("44100")});
    const QString rate = QString::number(s.SamplingRate);
    ComboBox1->setCurrentIndex(ComboBox1->findText(rate, Qt::MatchExactly));
    ComboBox1->setEditText(rate);

    ComboBox2->clear();
    ComboBox2->addItems(RecordingSources);
    if (s.RecordingChannel < 0) {
        ComboBox2->setCurrentIndex(-1);
        ComboBox2->setEditText(tr("自动选择"));
    } else {
        // An index beyond the list selects nothing.
        ComboBox2->setCurrentIndex(s.RecordingChannel < ComboBox2->count() ? s.RecordingChannel : -1);
    }

    if (s.RecordingLevel < 3)
        RadioButton3->setChecked(true);
    else if (s.RecordingLevel < 10)
        RadioButton4->setChecked(true);
    else
        RadioButton5->setChecked(true);

    CheckBox3->setChecked(s.EndRecordingIfPlaying);
    CheckBox2->setChecked(s.StartWithWindows);
    CheckBox1->setChecked(s.AGC);

    if (s.ManageFile)
        RadioButton1->setChecked(true);
    else
        RadioButton2->setChecked(true);
}

void TForm3::ApplyControls() {
    // The only check comes first, so a bad rate stores nothing.
    const int32_t rate = StrToInt(ComboBox1->currentText());
    TAppSettings& s = AppSettings;
    s.SamplingRate = rate;
    s.RecordingChannel = SelectedIndex(ComboBox2);
    s.RecordingLevel = RadioButton3->isChecked() ? 2 : RadioButton4->isChecked() ? 6 : 10;
    s.StartWithWindows = CheckBox2->isChecked();
    s.EndRecordingIfPlaying = CheckBox3->isChecked();
    s.AGC = CheckBox1->isChecked();
    s.ManageFile = RadioButton1->isChecked();
    if (OnApply) OnApply(this);
    hide();
}

void TForm3::Button2Click() {
    RunCommand(this, [this] { ApplyControls(); });
}

void TForm3::Button3Click() { hide(); }

void TForm3::Button4Click() {
    if (!PasswordDialog()->Execute(this)) return;
    bool applied = false;
    RunCommand(this, [&] {
        ApplyControls();
        applied = true;
    });
    if (!applied) return;
    // The dialog is hidden by now; the new settings stay in force even when
    // they cannot be saved, which is said once the disk has answered.
    saver_->Save(AppSettings);
}

void TForm3::RejectPasswordDialog() {
    if (ownPasswordDialog_ && ownPasswordDialog_->isVisible()) ownPasswordDialog_->reject();
}

TForm5* TForm3::PasswordDialog() {
    if (!ownPasswordDialog_) ownPasswordDialog_ = new TForm5(this);
    return ownPasswordDialog_;
}
