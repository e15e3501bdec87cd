// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/password.h"

#include <QApplication>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QProxyStyle>
#include <QPushButton>
#include <QScreen>
#include <QShowEvent>
#include <QTimer>
#include <QWindow>

#include "settings/publicunit.h"

void ShowMessage(QWidget* parent, const QString& text) {
    QMessageBox box(QMessageBox::NoIcon, QApplication::applicationName(), text, QMessageBox::Ok, parent);
    // The button speaks the window's language, not the toolkit's.
    box.button(QMessageBox::Ok)->setText(QCoreApplication::translate("ShowMessage", "确定"));
    // The program's windows stay on top of others; so must its messages.
    box.setWindowFlag(Qt::WindowStaysOnTopHint, true);
    box.exec();
}

QString TrimBlanks(const QString& text) {
    qsizetype first = 0;
    qsizetype last = text.size();
    while (first < last && text[first].unicode() <= u' ') ++first;
    while (last > first && text[last - 1].unicode() <= u' ') --last;
    return text.mid(first, last - first);
}

namespace {

// The messages, translated where they are shown.
const char* const kWrongPassword = QT_TRANSLATE_NOOP("TForm5", "密码不正确，请重新输入！");
const char* const kEntriesDiffer = QT_TRANSLATE_NOOP("TForm5", "二次输入的密码不相同，请重新输入！");

// Password entries show one "*" per character.
class StarStyle final : public QProxyStyle {
public:
    int styleHint(StyleHint hint, const QStyleOption* option, const QWidget* widget,
                  QStyleHintReturn* returnData) const override {
        if (hint == SH_LineEdit_PasswordCharacter) return '*';
        return QProxyStyle::styleHint(hint, option, widget, returnData);
    }
};

QLabel* MakeLabel(QWidget* parent, const char* name, const QString& caption, int left, int top,
                  int width, int height) {
    auto* label = new QLabel(caption, parent);
    label->setObjectName(QString::fromLatin1(name));
    label->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    label->setGeometry(left, top, width, height);
    return label;
}

QLineEdit* MakeEdit(QWidget* parent, const char* name, int left, int top, int width, int height) {
    auto* edit = new QLineEdit(parent);
    edit->setObjectName(QString::fromLatin1(name));
    edit->setEchoMode(QLineEdit::Password);
    edit->setGeometry(left, top, width, height);
    return edit;
}

QPushButton* MakeButton(QWidget* parent, const char* name, const QString& caption, int left, int top,
                        int width, int height) {
    auto* button = new QPushButton(caption, parent);
    button->setObjectName(QString::fromLatin1(name));
    button->setGeometry(left, top, width, height);
    return button;
}

}  // namespace

TForm5::TForm5(QWidget* parent) : QDialog(parent) {
    setObjectName(QStringLiteral("Form5"));
    setWindowTitle(tr("权限管理"));
    QFont font(QStringLiteral("MS Sans Serif"));
    font.setPixelSize(11);
    setFont(font);

    Label1 = MakeLabel(this, "Label1", tr("请输入管理员密码："), 8, 16, 129, 17);
    Edit1 = MakeEdit(this, "Edit1", 144, 13, 113, 21);
    Button1 = MakeButton(this, "Button1", tr("确定"), 96, 56, 65, 25);
    Button2 = MakeButton(this, "Button2", tr("取消"), 168, 56, 49, 25);
    Button3 = MakeButton(this, "Button3", tr("修改密码"), 224, 56, 73, 25);
    GroupBox1 = new QGroupBox(tr("修改密码："), this);
    GroupBox1->setObjectName(QStringLiteral("GroupBox1"));
    GroupBox1->setGeometry(8, 88, 305, 129);
    GroupBox1->hide();
    Label2 = MakeLabel(GroupBox1, "Label2", tr("新密码："), 16, 32, 73, 17);
    Label3 = MakeLabel(GroupBox1, "Label3", tr("再输入一次："), 16, 56, 89, 17);
    Edit2 = MakeEdit(GroupBox1, "Edit2", 136, 20, 113, 21);
    Edit3 = MakeEdit(GroupBox1, "Edit3", 136, 52, 113, 21);
    Button4 = MakeButton(GroupBox1, "Button4", tr("确认修改"), 120, 88, 73, 25);

    // Created after the entries, so it is destroyed after them.
    auto* stars = new StarStyle();
    stars->setParent(this);
    for (QLineEdit* edit : {Edit1, Edit2, Edit3}) edit->setStyle(stars);

    setTabOrder(Edit1, Button1);
    setTabOrder(Button1, Button2);
    setTabOrder(Button2, Button3);
    setTabOrder(Button3, Edit2);
    setTabOrder(Edit2, Edit3);
    setTabOrder(Edit3, Button4);

    connect(Button1, &QPushButton::clicked, this, &TForm5::Button1Click);
    connect(Button2, &QPushButton::clicked, this, &TForm5::Button2Click);
    connect(Button3, &QPushButton::clicked, this, &TForm5::Button3Click);
    connect(Button4, &QPushButton::clicked, this, &TForm5::Button4Click);

    SetOuterHeight(kShortHeight);
}

bool TForm5::Execute(QWidget* owner) {
    if (isVisible()) return false;  // already open further up the call chain
    // In front of an always-on-top owner: on top as well, and transient for it.
    const bool onTop = owner && owner->windowFlags().testFlag(Qt::WindowStaysOnTopHint);
    setWindowFlag(Qt::WindowStaysOnTopHint, onTop);
    winId();
    if (windowHandle()) windowHandle()->setTransientParent(owner ? owner->window()->windowHandle() : nullptr);
    exec();
    if (windowHandle()) windowHandle()->setTransientParent(nullptr);
    return Confirmed;
}

void TForm5::showEvent(QShowEvent* event) {
    if (!event->spontaneous()) FormShow();
    QDialog::showEvent(event);
}

void TForm5::FormShow() {
    Confirmed = false;
    GroupBox1->hide();
    // Nothing typed at an earlier showing stays for the next operator, and the
    // change group can be reached again.
    Edit1->clear();
    Edit2->clear();
    Edit3->clear();
    Button3->setEnabled(true);
    Button1->setDefault(true);
    Edit1->setFocus();
    SetOuterHeight(kShortHeight);
    // Centred on the desktop by the outer size.
    if (QScreen* screen = QGuiApplication::primaryScreen()) {
        const QSize outer = size() + FrameExtra();
        const QRect desk = screen->geometry();
        move(desk.left() + (desk.width() - outer.width()) / 2, desk.top() + (desk.height() - outer.height()) / 2);
    }
    // The window manager's frame is known only once the window is mapped.
    QTimer::singleShot(100, this, [this] {
        if (isVisible()) SetOuterHeight(outerHeight_);
    });
}

QSize TForm5::FrameExtra() const {
    if (const QWindow* window = windowHandle()) {
        const QMargins m = window->frameMargins();
        if (m.top() > 0) return {m.left() + m.right(), m.top() + m.bottom()};
    }
    // No frame known (yet): a title bar and a thin border on each side.
    const int border = 4;
    const int title = style()->pixelMetric(QStyle::PM_TitleBarHeight, nullptr, this);
    return {2 * border, title + 2 * border};
}

void TForm5::SetOuterHeight(int height) {
    outerHeight_ = height;
    const QSize extra = FrameExtra();
    resize(kWidth - extra.width(), height - extra.height());
}

void TForm5::Button1Click() {
    if (Edit1->text() == AppSettings.password) {
        Confirmed = true;
        accept();
    } else {
        Confirmed = false;
        ShowMessage(this, tr(kWrongPassword));
    }
}

void TForm5::Button2Click() { reject(); }

void TForm5::Button3Click() {
    if (Edit1->text() != AppSettings.password) {
        ShowMessage(this, tr(kWrongPassword));
        return;
    }
    Button3->setEnabled(false);
    SetOuterHeight(kLongHeight);
    GroupBox1->show();
    // Enter in the new entries confirms the change, not the dialog.
    Button4->setDefault(true);
    Edit2->setFocus();
}

void TForm5::Button4Click() {
    const QString first = TrimBlanks(Edit2->text());
    const QString second = TrimBlanks(Edit3->text());
    if (first != second) {
        ShowMessage(this, tr(kEntriesDiffer));
        return;
    }
    Confirmed = true;
    AppSettings.password = first;
    accept();
}
