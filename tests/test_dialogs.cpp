// SPDX-License-Identifier: GPL-3.0-or-later
// The settings dialog and the administrator-password dialog, driven through
// their controls on the offscreen platform.
#include <gtest/gtest.h>

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QFile>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QRadioButton>
#include <QTimer>

#include <chrono>
#include <functional>
#include <ostream>
#include <memory>

#include "app/Language.h"
#include "app/Unit3.h"
#include "app/password.h"
#include "platform/Platform.h"
#include "settings/SettingsSaver.h"
#include "settings/publicunit.h"
#include "support/TestSupport.h"

inline void PrintTo(const QString& text, std::ostream* os) { *os << '"' << text.toStdString() << '"'; }

namespace {

class QtApp : public ::testing::Environment {
public:
    void SetUp() override {
        static int argc = 1;
        static char name[] = "test_dialogs";
        static char* argv[] = {name, nullptr};
        app_ = std::make_unique<QApplication>(argc, argv);
    }
    void TearDown() override { app_.reset(); }

private:
    std::unique_ptr<QApplication> app_;
};
const auto* const kQtApp = ::testing::AddGlobalTestEnvironment(new QtApp);

const QString kWrongPassword = QStringLiteral("密码不正确，请重新输入！");
const QString kEntriesDiffer = QStringLiteral("二次输入的密码不相同，请重新输入！");

QByteArray ReadFile(const QString& path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

const QByteArray kDefaultsFile =
    "[Settings]\nSamplingRate=22050\nRecordingChannel=-1\nRecordingVolume=25\nPlayingVolume=25\n"
    "RecordingLevel=2\nManualMode=0\nEndRecordingIfPlaying=1\nAGC=1\nManageFile=1\npassword=58316024\n";

class Dialogs : public ::testing::Test {
protected:
    void SetUp() override {
        AppPath = env.AppDir();
        AppSettings = TAppSettings{};
        LoadSettings();
        RecordingSources = {QStringLiteral("Mic"), QStringLiteral("Line In"), QStringLiteral("CD")};
        // Each message box is read and answered as soon as it is up.
        onMessage = [this](const QString& text) { messages.append(text); };
        QObject::connect(&messageWatch, &QTimer::timeout, [this] {
            auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
            if (!box || !box->isVisible()) return;
            onMessage(box->text());
            box->button(QMessageBox::Ok)->click();
        });
        messageWatch.start(5);
        Form3 = new TForm3();
        Form5 = Form3->PasswordDialog();
        Form3->OnApply = [this](TForm3* sender) {
            EXPECT_EQ(sender, Form3);
            ++applied;
        };
    }
    void TearDown() override {
        messageWatch.stop();
        Form5 = nullptr;
        delete Form3;
        Form3 = nullptr;
        RecordingSources.clear();
    }

    // Runs `steps` on the password dialog once it is open under "设为默认值",
    // and closes it after a while should the steps leave it open.
    void OnPasswordDialog(std::function<void(TForm5&)> steps) {
        QTimer::singleShot(0, Form5, [this, steps] {
            ASSERT_TRUE(Form5->isVisible());
            ASSERT_TRUE(Form5->isModal());
            steps(*Form5);
        });
        QTimer::singleShot(3000, Form5, [this] { Form5->reject(); });
    }
    // "设为默认值" with the given administrator password.
    void SaveAsDefaultsWithoutWaiting(const QString& typed) {
        OnPasswordDialog([typed](TForm5& d) {
            d.Edit1->setText(typed);
            d.Button1->click();
        });
        Form3->Button4->click();
    }
    void SaveAsDefaults(const QString& typed) {
        SaveAsDefaultsWithoutWaiting(typed);
        Saved();
    }
    // The saves asked for so far are on disk (or have failed).
    void Saved() { ASSERT_TRUE(Form3->Saver().WaitIdleFor(5000)); }
    QString ConfigFile() const { return env.AppDir() + "config.ini"; }

    testing_support::TestEnvironment env;
    TForm3* Form3 = nullptr;
    TForm5* Form5 = nullptr;  // Form3's password dialog
    QStringList messages;
    std::function<void(const QString& text)> onMessage;
    QTimer messageWatch;
    int applied = 0;
};

TEST_F(Dialogs, SettingsWindowAndControls) {
    TForm3& f = *Form3;
    EXPECT_EQ(f.windowTitle(), QStringLiteral("Somora录音系统设置"));
    EXPECT_TRUE(f.windowFlags() & Qt::FramelessWindowHint);
    EXPECT_TRUE(f.windowFlags() & Qt::WindowStaysOnTopHint);
    EXPECT_EQ(f.minimumSize(), QSize(500, 560));
    EXPECT_EQ(f.maximumSize(), QSize(500, 560));
    EXPECT_EQ(f.Image1->pixmap().size(), QSize(500, 560));

    const struct {
        const char* name;
        QRect bounds;
        const char* caption;
    } controls[] = {
        {"Label1", {48, 237, 57, 17}, "采样频率"},
        {"ComboBox1", {104, 232, 121, 20}, nullptr},
        {"Label6", {48, 272, 57, 13}, "录音通道"},
        {"ComboBox2", {104, 268, 121, 20}, nullptr},
        {"CheckBox3", {264, 268, 153, 17}, "播放时暂停录音"},
        {"Panel1", {40, 296, 408, 25}, nullptr},
        {"Label8", {8, 5, 113, 13}, "声控系统灵敏度"},
        {"RadioButton3", {136, 5, 65, 14}, "高"},
        {"RadioButton4", {224, 5, 57, 14}, "中"},
        {"RadioButton5", {296, 5, 57, 14}, "低"},
        {"CheckBox1", {48, 328, 217, 17}, "启用自动增益控制以防止声音失真"},
        {"CheckBox2", {264, 328, 217, 17}, "登录时自动启动录音系统"},
        {"Label9", {48, 360, 89, 17}, "录音文件管理"},
        {"RadioButton1", {176, 360, 161, 17}, "仅保留最近24小时录音"},
        {"RadioButton2", {336, 360, 121, 17}, "不管理历史录音"},
        {"Button2", {232, 512, 57, 25}, "确定"},
        {"Button3", {304, 512, 49, 25}, "取消"},
        {"Button4", {368, 512, 89, 25}, "设为默认值"},
    };
    for (const auto& c : controls) {
        auto* w = f.findChild<QWidget*>(QString::fromLatin1(c.name));
        ASSERT_NE(w, nullptr) << c.name;
        EXPECT_EQ(w->geometry(), c.bounds) << c.name;
        if (!c.caption) continue;
        const QString caption = QString::fromUtf8(c.caption);
        if (auto* label = qobject_cast<QLabel*>(w)) {
            EXPECT_EQ(label->text(), caption) << c.name;
        } else if (auto* button = qobject_cast<QAbstractButton*>(w)) {
            EXPECT_EQ(button->text(), caption) << c.name;
        }
        const QFont font = w->font();
        const bool windowFont = QByteArray(c.name) == "CheckBox3";
        EXPECT_EQ(font.family(), windowFont ? QStringLiteral("MS Sans Serif") : QStringLiteral("宋体")) << c.name;
        EXPECT_EQ(font.pixelSize(), windowFont ? 11 : 12) << c.name;
    }
    EXPECT_EQ(f.Label8->parentWidget(), f.Panel1);

    // Tab order among the controls that take focus by tab.
    QStringList order;
    QWidget* w = f.Button2;
    do {
        if ((w->focusPolicy() & Qt::TabFocus) && !w->objectName().isEmpty()) order << w->objectName();
        w = w->nextInFocusChain();
    } while (w != f.Button2 && order.size() < 40);
    EXPECT_EQ(order.mid(0, 13), QStringList({"Button2", "Button3", "Button4", "ComboBox1", "ComboBox2", "CheckBox3",
                                              "CheckBox1", "CheckBox2", "RadioButton1", "RadioButton2",
                                              "RadioButton3", "RadioButton4", "RadioButton5"}));
}

// English under an English messages locale, the program's own texts under
// any other locale or none; LC_ALL before LC_MESSAGES before LANG.
TEST(Language, CaptionsFollowTheMessagesLocale) {
    EXPECT_TRUE(MessagesLocaleIsEnglish("", "", "en_US.UTF-8"));
    EXPECT_TRUE(MessagesLocaleIsEnglish("", "", "en"));
    EXPECT_TRUE(MessagesLocaleIsEnglish("", "en_GB.UTF-8", "zh_CN.UTF-8"));
    EXPECT_FALSE(MessagesLocaleIsEnglish("zh_CN.UTF-8", "", "en_US.UTF-8"));
    EXPECT_FALSE(MessagesLocaleIsEnglish("", "", ""));
    EXPECT_FALSE(MessagesLocaleIsEnglish("", "", "C.UTF-8"));
    EXPECT_FALSE(MessagesLocaleIsEnglish("", "", "enx_XX"));

    const struct {
        const char* lang;
        const char* title;
        const char* rate;
        const char* defaults;
        const char* password;
        const char* ok;
    } cases[] = {
        {"en_US.UTF-8", "Somora Recorder Settings", "Rate (Hz)", "Set default", "Administrator", "OK"},
        {"zh_CN.UTF-8", "Somora录音系统设置", "采样频率", "设为默认值", "权限管理", "确定"},
        {nullptr, "Somora录音系统设置", "采样频率", "设为默认值", "权限管理", "确定"},
    };
    const QByteArray savedLang = qgetenv("LANG");
    qunsetenv("LC_ALL");
    qunsetenv("LC_MESSAGES");
    for (const auto& c : cases) {
        if (c.lang)
            qputenv("LANG", c.lang);
        else
            qunsetenv("LANG");
        EXPECT_EQ(InstallWindowLanguage(), c.lang && QByteArray(c.lang).startsWith("en"));
        TForm3 settings;
        TForm5 password;
        EXPECT_EQ(settings.windowTitle(), QString::fromUtf8(c.title));
        EXPECT_EQ(settings.Label1->text(), QString::fromUtf8(c.rate));
        EXPECT_EQ(settings.Button4->text(), QString::fromUtf8(c.defaults));
        EXPECT_EQ(password.windowTitle(), QString::fromUtf8(c.password));
        QString ok;
        QTimer::singleShot(0, [&ok] {
            if (auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget())) {
                ok = box->button(QMessageBox::Ok)->text();
                box->accept();
            }
        });
        ShowMessage(nullptr, QStringLiteral("-"));
        EXPECT_EQ(ok, QString::fromUtf8(c.ok));
        RemoveWindowLanguage();
    }
    qputenv("LANG", savedLang);
}

TEST_F(Dialogs, ShowingRefillsAndCancelDiscards) {
    AppSettings.SamplingRate = 16000;
    AppSettings.RecordingChannel = 1;
    AppSettings.EndRecordingIfPlaying = false;
    AppSettings.StartWithWindows = true;
    AppSettings.AGC = false;
    AppSettings.ManageFile = false;
    Form3->ShowDialog();
    TForm3& f = *Form3;
    ASSERT_TRUE(f.isVisible());
    EXPECT_EQ(f.ComboBox1->currentText(), QStringLiteral("16000"));
    EXPECT_EQ(f.ComboBox1->count(), 4);
    EXPECT_EQ(f.ComboBox1->itemText(3), QStringLiteral("44100"));
    EXPECT_EQ(f.ComboBox2->count(), 3);
    EXPECT_EQ(f.ComboBox2->currentText(), QStringLiteral("Line In"));
    EXPECT_FALSE(f.CheckBox3->isChecked());
    EXPECT_TRUE(f.CheckBox2->isChecked());
    EXPECT_FALSE(f.CheckBox1->isChecked());
    EXPECT_TRUE(f.RadioButton2->isChecked());
    EXPECT_TRUE(f.RadioButton3->isChecked());  // the two groups are separate

    f.ComboBox1->setEditText(QStringLiteral("8000"));
    f.CheckBox1->setChecked(true);
    f.RadioButton1->setChecked(true);
    f.Button3->click();
    EXPECT_FALSE(f.isVisible());
    EXPECT_EQ(AppSettings.SamplingRate, 16000);
    EXPECT_FALSE(AppSettings.AGC);
    EXPECT_EQ(applied, 0);

    Form3->ShowDialog();
    EXPECT_EQ(f.ComboBox1->currentText(), QStringLiteral("16000"));
    EXPECT_FALSE(f.CheckBox1->isChecked());
    EXPECT_TRUE(f.RadioButton2->isChecked());
    EXPECT_FALSE(f.RadioButton1->isChecked());
    EXPECT_TRUE(f.RadioButton3->isChecked());

    f.Button2->click();
    EXPECT_FALSE(f.isVisible());
    EXPECT_EQ(applied, 1);
    EXPECT_EQ(AppSettings.SamplingRate, 16000);
    EXPECT_EQ(AppSettings.RecordingChannel, 1);
    EXPECT_FALSE(AppSettings.ManageFile);
    EXPECT_FALSE(QFile::exists(ConfigFile()));
}

TEST_F(Dialogs, TypedRatesAreStoredWithoutRangeCheck) {
    for (const char* typed : {"12000", "0", "-5", " 44100", "0x5622"}) {
        Form3->ShowDialog();
        Form3->ComboBox1->setEditText(QString::fromLatin1(typed));
        Form3->Button2->click();
        int32_t expected = 0;
        ASSERT_TRUE(TryStrToInt(QString::fromLatin1(typed), expected));
        EXPECT_EQ(AppSettings.SamplingRate, expected) << typed;
        EXPECT_FALSE(Form3->isVisible()) << typed;
    }
    EXPECT_EQ(applied, 5);
    EXPECT_TRUE(messages.isEmpty());
}

TEST_F(Dialogs, BrokenRateStoresNothingAndStaysOpen) {
    for (const char* typed : {"12abc", "", "8000 ", "2147483648"}) {
        Form3->ShowDialog();
        Form3->ComboBox1->setEditText(QString::fromLatin1(typed));
        Form3->CheckBox1->setChecked(false);
        Form3->RadioButton5->setChecked(true);
        Form3->Button2->click();
        EXPECT_TRUE(Form3->isVisible()) << typed;
        ASSERT_EQ(messages.size(), 1) << typed;
        EXPECT_EQ(messages.takeFirst(), QStringLiteral("'%1' is not a valid integer value").arg(typed));
        EXPECT_EQ(AppSettings.SamplingRate, 22050);
        EXPECT_TRUE(AppSettings.AGC);
        EXPECT_EQ(AppSettings.RecordingLevel, 2);
        Form3->Button3->click();
    }
    EXPECT_EQ(applied, 0);

    // Under "设为默认值" the accepted password does not save a broken rate.
    Form3->ShowDialog();
    Form3->ComboBox1->setEditText(QStringLiteral("fast"));
    SaveAsDefaults(QStringLiteral("58316024"));
    EXPECT_EQ(messages, QStringList{QStringLiteral("'fast' is not a valid integer value")});
    EXPECT_TRUE(Form3->isVisible());
    EXPECT_FALSE(QFile::exists(ConfigFile()));
    EXPECT_EQ(applied, 0);
}

TEST_F(Dialogs, SensitivityShowsItsBandAndStoresItsStep) {
    const struct {
        int32_t stored;
        int shown;  // 3, 4 or 5: the radio button
        int32_t after;
    } cases[] = {{0, 3, 2}, {-4, 3, 2}, {2, 3, 2}, {3, 4, 6}, {5, 4, 6}, {9, 4, 6}, {10, 5, 10}, {50, 5, 10}};
    for (const auto& c : cases) {
        AppSettings.RecordingLevel = c.stored;
        Form3->ShowDialog();
        EXPECT_EQ(Form3->RadioButton3->isChecked(), c.shown == 3) << c.stored;
        EXPECT_EQ(Form3->RadioButton4->isChecked(), c.shown == 4) << c.stored;
        EXPECT_EQ(Form3->RadioButton5->isChecked(), c.shown == 5) << c.stored;
        Form3->Button2->click();
        EXPECT_EQ(AppSettings.RecordingLevel, c.after) << c.stored;
    }
}

TEST_F(Dialogs, RecordingSourceIndex) {
    const struct {
        QStringList sources;
        int32_t stored;
        const char* shown;
        int32_t after;
    } cases[] = {
        {{"Mic", "Line In"}, 0, "Mic", 0},
        {{"Mic", "Line In"}, 1, "Line In", 1},
        {{"Mic", "Line In"}, 2, "", -1},
        {{"Mic", "Line In"}, -1, "自动选择", -1},
        {{"Mic", "Line In"}, -7, "自动选择", -1},
        {{}, 0, "", -1},
    };
    for (const auto& c : cases) {
        RecordingSources = c.sources;
        AppSettings.RecordingChannel = c.stored;
        Form3->ShowDialog();
        EXPECT_EQ(Form3->ComboBox2->currentText(), QString::fromUtf8(c.shown)) << c.stored;
        Form3->Button2->click();
        EXPECT_EQ(AppSettings.RecordingChannel, c.after) << c.stored;
    }

    // Choosing from the list, and typing a name that is no source.
    RecordingSources = {QStringLiteral("Mic"), QStringLiteral("Line In")};
    AppSettings.RecordingChannel = -1;
    Form3->ShowDialog();
    Form3->ComboBox2->setCurrentIndex(1);
    Form3->Button2->click();
    EXPECT_EQ(AppSettings.RecordingChannel, 1);
    Form3->ShowDialog();
    Form3->ComboBox2->setEditText(QStringLiteral("Line"));
    Form3->Button2->click();
    EXPECT_EQ(AppSettings.RecordingChannel, -1);
}

TEST_F(Dialogs, OkChangesMemoryOnlyAndDefaultsSaveEverything) {
    Form3->ShowDialog();
    Form3->CheckBox2->setChecked(true);
    Form3->Button2->click();
    EXPECT_TRUE(AppSettings.StartWithWindows);
    EXPECT_FALSE(GetAutoRun());
    EXPECT_FALSE(QFile::exists(ConfigFile()));

    // "设为默认值" writes the ten keys in order and the autostart entry.
    Form3->ShowDialog();
    Form3->CheckBox2->setChecked(false);
    SaveAsDefaults(QStringLiteral("58316024"));
    EXPECT_FALSE(Form3->isVisible());
    EXPECT_EQ(applied, 2);
    EXPECT_TRUE(messages.isEmpty());
    EXPECT_EQ(ReadFile(ConfigFile()), kDefaultsFile);
    EXPECT_FALSE(GetAutoRun());

    Form3->ShowDialog();
    Form3->CheckBox2->setChecked(true);
    Form3->CheckBox3->setChecked(false);
    SaveAsDefaults(QStringLiteral("58316024"));
    EXPECT_TRUE(GetAutoRun());
    EXPECT_TRUE(ReadFile(ConfigFile()).contains("\nEndRecordingIfPlaying=0\n"));
}

TEST_F(Dialogs, RefusedPasswordThenCancelStoresNothing) {
    Form3->ShowDialog();
    Form3->ComboBox1->setEditText(QStringLiteral("8000"));
    OnPasswordDialog([](TForm5& d) {
        for (const char* typed : {"wrong", " 58316024", "58316024 ", ""}) {
            d.Edit1->setText(QString::fromLatin1(typed));
            d.Button1->click();
            EXPECT_TRUE(d.isVisible()) << typed;
            EXPECT_FALSE(d.Confirmed);
        }
        d.Button2->click();
    });
    Form3->Button4->click();
    EXPECT_EQ(messages, QStringList(4, kWrongPassword));
    EXPECT_TRUE(Form3->isVisible());
    EXPECT_EQ(Form3->ComboBox1->currentText(), QStringLiteral("8000"));
    EXPECT_EQ(AppSettings.SamplingRate, 22050);
    EXPECT_EQ(applied, 0);
    EXPECT_FALSE(QFile::exists(ConfigFile()));

    // Closing the password window by its frame is the same as "取消".
    OnPasswordDialog([](TForm5& d) {
        d.Edit1->setText(QStringLiteral("58316024"));
        d.close();
    });
    Form3->Button4->click();
    EXPECT_TRUE(Form3->isVisible());
    EXPECT_FALSE(Form5->Confirmed);
    EXPECT_FALSE(QFile::exists(ConfigFile()));
}

TEST_F(Dialogs, ChangedPasswordIsTrimmedAndSavedWithTheSettings) {
    Form3->ShowDialog();
    Form3->RadioButton4->setChecked(true);
    OnPasswordDialog([this](TForm5& d) {
        d.Edit1->setText(QStringLiteral("5831602"));
        d.Button3->click();  // refused: the group stays hidden
        EXPECT_EQ(messages, QStringList{kWrongPassword});
        EXPECT_TRUE(d.GroupBox1->isHidden());
        const int shortHeight = d.height();

        d.Edit1->setText(QStringLiteral("58316024"));
        d.Button3->click();
        EXPECT_FALSE(d.GroupBox1->isHidden());
        EXPECT_FALSE(d.Button3->isEnabled());
        EXPECT_EQ(d.height() - shortHeight, TForm5::kLongHeight - TForm5::kShortHeight);

        d.Edit2->setText(QStringLiteral("new"));
        d.Edit3->setText(QStringLiteral("New"));
        d.Button4->click();
        EXPECT_EQ(messages.last(), kEntriesDiffer);
        EXPECT_TRUE(d.isVisible());
        EXPECT_EQ(AppSettings.password, QStringLiteral("58316024"));

        d.Edit2->setText(QStringLiteral("  new pw\t"));
        d.Edit3->setText(QStringLiteral("\nnew pw "));
        d.Button4->click();
    });
    Form3->Button4->click();
    Saved();
    EXPECT_EQ(messages.size(), 2);
    EXPECT_TRUE(Form5->Confirmed);
    EXPECT_EQ(AppSettings.password, QStringLiteral("new pw"));
    EXPECT_EQ(AppSettings.RecordingLevel, 6);
    EXPECT_FALSE(Form3->isVisible());
    const QByteArray text = ReadFile(ConfigFile());
    EXPECT_TRUE(text.endsWith("\nRecordingLevel=6\nManualMode=0\nEndRecordingIfPlaying=1\nAGC=1\nManageFile=1\n"
                              "password=new pw\n"))
        << text.constData();

    // The old password no longer opens, the new one does.
    Form3->ShowDialog();
    SaveAsDefaults(QStringLiteral("58316024"));
    EXPECT_TRUE(Form3->isVisible());
    EXPECT_EQ(messages.last(), kWrongPassword);
    SaveAsDefaults(QStringLiteral("new pw"));
    EXPECT_FALSE(Form3->isVisible());
}

TEST_F(Dialogs, EmptyNewPasswordIsSavedAndThenAccepted) {
    Form3->ShowDialog();
    OnPasswordDialog([](TForm5& d) {
        d.Edit1->setText(QStringLiteral("58316024"));
        d.Button3->click();
        d.Edit2->setText(QStringLiteral(" "));
        d.Button4->click();
    });
    Form3->Button4->click();
    Saved();
    EXPECT_TRUE(messages.isEmpty());
    EXPECT_TRUE(ReadFile(ConfigFile()).endsWith("\npassword=\n"));
    AppSettings = TAppSettings{};
    LoadSettings();
    EXPECT_EQ(AppSettings.password, QString());

    Form3->ShowDialog();
    SaveAsDefaults(QString());
    EXPECT_FALSE(Form3->isVisible());
    EXPECT_TRUE(messages.isEmpty());
}

TEST_F(Dialogs, FailedSaveIsReportedAfterTheSettingsTookEffect) {
    Form3->ShowDialog();
    Form3->ComboBox1->setEditText(QStringLiteral("44100"));
    AppPath = env.AppDir() + "missing/";
    QStringList order;
    Form3->OnApply = [&order](TForm3*) { order << QStringLiteral("apply"); };
    onMessage = [this, &order](const QString& text) {
        order << (Form3->isVisible() ? QStringLiteral("visible: ") : QStringLiteral("hidden: ")) + text;
    };
    SaveAsDefaults(QStringLiteral("58316024"));
    EXPECT_TRUE(testing_support::WaitUntil([&order] { return order.size() == 2; }, 5000));
    EXPECT_EQ(order, QStringList({"apply", "hidden: Unable to write to " + AppPath + "config.ini"}));
    EXPECT_EQ(AppSettings.SamplingRate, 44100);
}

// A profile whose writes wait until the test lets them go, or 10 s have
// passed: a frozen disk.
class HeldProfile final : public platform::ProfileFile {
public:
    explicit HeldProfile(platform::ProfileFile& real) : real_(real) { gate_.Shut(true); }
    QString ReadString(const QString& p, const QString& s, const QString& k, const QString& f) override {
        return real_.ReadString(p, s, k, f);
    }
    bool WriteString(const QString& p, const QString& s, const QString& k, const QString& v) override {
        gate_.Pass(std::chrono::seconds(10));
        return real_.WriteString(p, s, k, v);
    }
    int WritesWaiting() { return gate_.Arrived(); }
    void Open() { gate_.Shut(false); }

private:
    platform::ProfileFile& real_;
    testing_support::Gate gate_;
};

TEST_F(Dialogs, AFrozenDiskDoesNotHoldTheWindowAndTheSaveLandsWhenItAnswers) {
    HeldProfile held(*platform::Services().profile);
    platform::Services().profile = &held;
    Form3->ShowDialog();
    Form3->RadioButton4->setChecked(true);
    SaveAsDefaultsWithoutWaiting(QStringLiteral("58316024"));
    // The click has returned while the first write is held.
    EXPECT_TRUE(testing_support::WaitUntil([&held] { return held.WritesWaiting() == 1; }, 5000));
    EXPECT_FALSE(Form3->isVisible());
    EXPECT_EQ(AppSettings.RecordingLevel, 6);
    held.Open();
    Saved();
    platform::Services().profile = &env.profile;
    EXPECT_TRUE(ReadFile(ConfigFile()).contains("\nRecordingLevel=6\n"));
    EXPECT_TRUE(messages.isEmpty());
}

TEST_F(Dialogs, PasswordWindowResetsAtEveryShowing) {
    TForm5& d = *Form5;
    EXPECT_EQ(d.windowTitle(), QStringLiteral("权限管理"));
    EXPECT_FALSE(d.windowFlags() & Qt::FramelessWindowHint);
    EXPECT_EQ(d.Edit1->echoMode(), QLineEdit::Password);
    EXPECT_EQ(d.Edit1->style()->styleHint(QStyle::SH_LineEdit_PasswordCharacter, nullptr, d.Edit1), '*');
    EXPECT_EQ(d.Button4->parentWidget(), d.GroupBox1);
    EXPECT_EQ(d.GroupBox1->geometry(), QRect(8, 88, 305, 129));
    EXPECT_EQ(d.Button3->geometry(), QRect(224, 56, 73, 25));

    Form3->ShowDialog();
    OnPasswordDialog([](TForm5& f) {
        f.Edit1->setText(QStringLiteral("58316024"));
        f.Button3->click();
        f.Edit2->setText(QStringLiteral("half typed"));
        f.Button2->click();
    });
    Form3->Button4->click();
    EXPECT_FALSE(d.Confirmed);
    EXPECT_EQ(AppSettings.password, QStringLiteral("58316024"));

    // The next showing starts over: short window, entries empty, change reachable.
    OnPasswordDialog([](TForm5& f) {
        EXPECT_FALSE(f.Confirmed);
        EXPECT_TRUE(f.GroupBox1->isHidden());
        EXPECT_TRUE(f.Edit1->text().isEmpty());
        EXPECT_TRUE(f.Edit2->text().isEmpty());
        EXPECT_TRUE(f.Button3->isEnabled());
        // Outer height 130: room for the buttons, not for the group.
        EXPECT_GT(f.height(), 56 + 25);
        EXPECT_LE(f.frameGeometry().height(), TForm5::kShortHeight);
        EXPECT_TRUE(f.windowFlags() & Qt::WindowStaysOnTopHint);  // in front of the settings dialog
        f.Button2->click();
    });
    Form3->Button4->click();
    EXPECT_TRUE(Form3->isVisible());
}

}  // namespace
