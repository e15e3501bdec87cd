// SPDX-License-Identifier: GPL-3.0-or-later
// The record, stop and mode commands of the main window, and the repair of
// an interrupted take when the window is created.
#include <gtest/gtest.h>

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QMessageBox>
#include <QTimer>

#include <memory>

#include "app/Unit1.h"
#include "capture/RecordingFile.h"
#include "capture/Unit2.h"
#include "settings/publicunit.h"
#include "session/RecorderSession.h"
#include "support/TestSupport.h"

namespace {

QApplication& App() { return testing_support::GuiApp(); }

class Commands : public ::testing::Test {
protected:
    void SetUp() override {
        App();
        QDir().mkpath(env.AppDir() + "record/");
        session = std::make_unique<RecorderSession>(RecorderSession::Options{.recordFolder = env.AppDir() + "record/"});
    }
    testing_support::TestEnvironment env;
    std::unique_ptr<RecorderSession> session;
};

TEST_F(Commands, RecordStopAndModeCommands) {
    TForm1 form(env.AppDir());
    form.UseSession(session.get());
    const TFRecord& rec = session->RecordEngine();
    ASSERT_FALSE(AppSettings.ManualMode);
    // Voice mode: the record command only explains itself.
    QString shown;
    QTimer::singleShot(0, [&] {
        if (auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget())) {
            shown = box->text();
            EXPECT_EQ(box->icon(), QMessageBox::NoIcon);
            box->accept();
        }
    });
    form.Image7Click();
    EXPECT_EQ(shown, QString::fromUtf8("现在是声控录音模式, 只要你唱, 系统将会自动录音。"));
    EXPECT_FALSE(rec.ManualRequest);

    form.Image13Click();
    EXPECT_TRUE(AppSettings.ManualMode);
    EXPECT_TRUE(rec.Manual);
    form.Image7Click();
    EXPECT_TRUE(rec.ManualRequest);
    form.Image13Click();  // the request survives a mode switch
    EXPECT_FALSE(rec.Manual);
    EXPECT_TRUE(rec.ManualRequest);
    form.Image10Click();
    EXPECT_FALSE(rec.ManualRequest);
    EXPECT_FALSE(QFile::exists(env.AppDir() + "config.ini"));  // the mode stays in memory
}

TEST_F(Commands, CreatingTheWindowRepairsATakeLeftOpen) {
    const QString path = env.AppDir() + "record/PLEN20261207090500.wav";
    const WaveHeader h = MakeWaveHeader(2, 16, 22050, 36, 0);
    QFile f(path);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.write(reinterpret_cast<const char*>(h.data()), 44);
    f.write(QByteArray(8192, '\x05'));
    f.close();
    TForm1 form(env.AppDir());
    // The take store repairs it before the strip's first listing.
    form.Strip().RebuildStrip();
    ASSERT_TRUE(testing_support::WaitUntil([&] { return !form.Strip().StripPending(); }, 5000));
    ASSERT_TRUE(f.open(QIODevice::ReadOnly));
    const WaveHeader fixed = MakeWaveHeader(2, 16, 22050, 8228, 8192);
    EXPECT_EQ(f.read(44), QByteArray(reinterpret_cast<const char*>(fixed.data()), 44));
}

}  // namespace
