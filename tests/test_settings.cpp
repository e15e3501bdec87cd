// SPDX-License-Identifier: GPL-3.0-or-later
// The settings record and its store: integer text, config.ini, the autostart entry.
#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include "settings/publicunit.h"
#include "support/TestSupport.h"

namespace {

QByteArray ReadFile(const QString& path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

void WriteFile(const QString& path, const QByteArray& text) {
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
    file.write(text);
}

QString SaveError() {
    try {
        SaveSettings();
    } catch (const SettingsError& error) {
        return error.Message();
    }
    return {};
}

class SettingsStore : public ::testing::Test {
protected:
    void SetUp() override {
        AppPath = env.AppDir();
        AppSettings = TAppSettings{};
    }
    QString ConfigFile() const { return env.AppDir() + "config.ini"; }
    QString EntryFile() const { return env.ConfigHome() + "/autostart/PLEN.desktop"; }

    testing_support::TestEnvironment env;
};

TEST(IntegerText, AcceptsDecimalAndTheFourHexPrefixes) {
    const struct {
        const char* text;
        int32_t value;
    } good[] = {{"0x5622", 22050}, {"0X10", 16},  {"$10", 16},          {"x1F", 31},
                {"X1f", 31},       {"  42", 42},  {"-7", -7},           {"+7", 7},
                {"-$10", -16},     {"2147483647", 2147483647},          {"-2147483648", INT32_MIN},
                {"$FFFFFFFF", -1}, {"007", 7}};
    for (const auto& c : good) {
        int32_t value = 12345;
        EXPECT_TRUE(TryStrToInt(QString::fromLatin1(c.text), value)) << c.text;
        EXPECT_EQ(value, c.value) << c.text;
    }
}

TEST(IntegerText, RefusesBrokenNumbersWithoutChangingTheValue) {
    for (const char* text : {"", " ", "12abc", "abc", "1 ", "1.5", "--1", "+-1", "0x", "$", "x", "0x-1", "$G",
                             "2147483648", "-2147483649", "$100000000", "99999999999999999999", "１２"}) {
        int32_t value = 77;
        EXPECT_FALSE(TryStrToInt(QString::fromUtf8(text), value)) << text;
        EXPECT_EQ(value, 77) << text;
    }
    try {
        StrToInt(QStringLiteral("12abc"));
        FAIL() << "no error";
    } catch (const SettingsError& error) {
        EXPECT_EQ(error.Message(), QStringLiteral("'12abc' is not a valid integer value"));
    }
}

TEST_F(SettingsStore, MissingFileGivesDefaultsAndCreatesNothing) {
    AppPath = env.AppDir() + "no-such-folder/";
    LoadSettings();
    EXPECT_EQ(AppSettings.SamplingRate, 22050);
    EXPECT_EQ(AppSettings.RecordingChannel, -1);
    EXPECT_EQ(AppSettings.RecordingVolume, 25);
    EXPECT_EQ(AppSettings.PlayingVolume, 25);
    EXPECT_EQ(AppSettings.RecordingLevel, 2);
    EXPECT_FALSE(AppSettings.ManualMode);
    EXPECT_TRUE(AppSettings.EndRecordingIfPlaying);
    EXPECT_TRUE(AppSettings.AGC);
    EXPECT_TRUE(AppSettings.ManageFile);
    EXPECT_EQ(AppSettings.password, QStringLiteral("58316024"));
    EXPECT_FALSE(AppSettings.StartWithWindows);
    EXPECT_FALSE(QFileInfo::exists(AppPath));
}

TEST_F(SettingsStore, ReadsHexBrokenNumbersBooleansAndAnEmptyPassword) {
    WriteFile(ConfigFile(),
              "[other]\nSamplingRate=8000\n"
              "[settings]\n"
              " samplingrate = 0x5622 \n"
              "RecordingChannel=$1\n"
              "RecordingVolume=12abc\n"
              "PlayingVolume=\n"
              "RecordingLevel=99999999999\n"
              "ManualMode=-3\n"
              "AGC=2\n"
              "EndRecordingIfPlaying=0\n"
              "ManageFile=yes\n"
              "password=\n");
    LoadSettings();
    EXPECT_EQ(AppSettings.SamplingRate, 22050);
    EXPECT_EQ(AppSettings.RecordingChannel, 1);
    EXPECT_EQ(AppSettings.RecordingVolume, 25);
    EXPECT_EQ(AppSettings.PlayingVolume, 25);
    EXPECT_EQ(AppSettings.RecordingLevel, 2);
    EXPECT_TRUE(AppSettings.ManualMode);
    EXPECT_TRUE(AppSettings.AGC);
    EXPECT_FALSE(AppSettings.EndRecordingIfPlaying);
    EXPECT_TRUE(AppSettings.ManageFile);
    EXPECT_EQ(AppSettings.password, QString());

    // A Boolean of 2 goes back as "1".
    SaveSettings();
    EXPECT_TRUE(ReadFile(ConfigFile()).contains("\nAGC=1\n"));
}

TEST_F(SettingsStore, SaveCreatesTheKeysInOrder) {
    LoadSettings();
    AppSettings.RecordingChannel = -5;
    AppSettings.password = QStringLiteral("管理 员");
    SaveSettings();
    EXPECT_EQ(ReadFile(ConfigFile()),
              QStringLiteral("[Settings]\nSamplingRate=22050\nRecordingChannel=-5\nRecordingVolume=25\n"
                             "PlayingVolume=25\nRecordingLevel=2\nManualMode=0\nEndRecordingIfPlaying=1\n"
                             "AGC=1\nManageFile=1\npassword=管理 员\n")
                  .toUtf8());
    AppSettings = TAppSettings{};
    LoadSettings();
    EXPECT_EQ(AppSettings.RecordingChannel, -5);
    EXPECT_EQ(AppSettings.password, QStringLiteral("管理 员"));
}

TEST_F(SettingsStore, SaveKeepsLinesOfAnExistingFile) {
    WriteFile(ConfigFile(),
              "; recorder settings\n"
              "[Settings]\n"
              "AGC = 0\n"
              "; the rate\n"
              "samplingrate=8000\n"
              "\n"
              "[Other]\n"
              "password=keep\n");
    LoadSettings();
    AppSettings.SamplingRate = 44100;
    SaveSettings();
    EXPECT_EQ(ReadFile(ConfigFile()),
              "; recorder settings\n"
              "[Settings]\n"
              "AGC=0\n"
              "; the rate\n"
              "samplingrate=44100\n"
              "RecordingChannel=-1\nRecordingVolume=25\nPlayingVolume=25\nRecordingLevel=2\n"
              "ManualMode=0\nEndRecordingIfPlaying=1\nManageFile=1\npassword=58316024\n"
              "\n"
              "[Other]\n"
              "password=keep\n");
}

TEST_F(SettingsStore, OnlyTheFirstSectionOfTheNameIsReadAndWritten) {
    WriteFile(ConfigFile(),
              "[Settings]\n"
              "SamplingRate=8000\n"
              "[settings]\n"
              "RecordingLevel=10\n");
    LoadSettings();
    EXPECT_EQ(AppSettings.SamplingRate, 8000);
    EXPECT_EQ(AppSettings.RecordingLevel, 2);  // the second section is not read
    SaveSettings();
    LoadSettings();
    EXPECT_EQ(AppSettings.RecordingLevel, 2);  // what was saved is what is read back
}

TEST_F(SettingsStore, SaveKeepsWindowsLineEndsAndFillsAnEmptyFile) {
    WriteFile(ConfigFile(), "[Settings]\r\nAGC=0\r\n");
    LoadSettings();
    SaveSettings();
    const QByteArray text = ReadFile(ConfigFile());
    EXPECT_TRUE(text.startsWith("[Settings]\r\nAGC=0\r\nSamplingRate=22050\r\n")) << text.constData();
    EXPECT_EQ(text.count('\n'), text.count("\r\n"));

    WriteFile(ConfigFile(), "");
    SaveSettings();
    EXPECT_TRUE(ReadFile(ConfigFile()).startsWith("[Settings]\nSamplingRate=22050\n"));
}

TEST_F(SettingsStore, UnwritableFileStopsTheSaveWithItsPath) {
    LoadSettings();
    AppSettings.StartWithWindows = true;
    AppPath = env.AppDir() + "gone/";
    EXPECT_EQ(SaveError(), QStringLiteral("Unable to write to %1config.ini").arg(AppPath));
    EXPECT_FALSE(QFile::exists(EntryFile()));  // nothing after the failing key

    AppPath = env.AppDir();
    ASSERT_TRUE(QDir().mkpath(ConfigFile()));  // a folder where the file should be
    EXPECT_EQ(SaveError(), QStringLiteral("Unable to write to %1").arg(ConfigFile()));
    EXPECT_EQ(AppSettings.SamplingRate, 22050);
}

TEST_F(SettingsStore, LineBreakInAValueIsRefusedNotWritten) {
    LoadSettings();
    AppSettings.password = QStringLiteral("a\n[Settings]\nAGC=0");
    EXPECT_EQ(SaveError(), QStringLiteral("Unable to write to %1").arg(ConfigFile()));
    EXPECT_FALSE(ReadFile(ConfigFile()).contains("a\n"));
    AppSettings = TAppSettings{};
    LoadSettings();
    EXPECT_TRUE(AppSettings.AGC);
    EXPECT_EQ(AppSettings.password, QStringLiteral("58316024"));
}

// A profile that fails from one write on, to see where the save stops.
class FailingProfile final : public platform::ProfileFile {
public:
    explicit FailingProfile(int failAt) : failAt_(failAt) {}
    QStringList written;
    QString ReadString(const QString&, const QString&, const QString&, const QString& fallback) override {
        return fallback;
    }
    bool WriteString(const QString&, const QString&, const QString& key, const QString&) override {
        if (written.size() == failAt_) return false;
        written.append(key);
        return true;
    }

private:
    int failAt_;
};

TEST_F(SettingsStore, SaveStopsAtTheFailingKey) {
    LoadSettings();
    AppSettings.StartWithWindows = true;
    FailingProfile profile(3);
    platform::Services().profile = &profile;
    EXPECT_FALSE(SaveError().isEmpty());
    EXPECT_EQ(profile.written, QStringList({"SamplingRate", "RecordingChannel", "RecordingVolume"}));
    EXPECT_FALSE(QFile::exists(EntryFile()));

    FailingProfile late(7);
    platform::Services().profile = &late;
    EXPECT_FALSE(SaveError().isEmpty());
    EXPECT_EQ(late.written.size(), 7);
    EXPECT_TRUE(QFile::exists(EntryFile()));  // the autostart entry came before
}

TEST_F(SettingsStore, AutostartEntryFollowsTheSetting) {
    EXPECT_FALSE(GetAutoRun());
    SetAutoRun(false);  // nothing to remove is no error
    SetAutoRun(true);
    EXPECT_TRUE(GetAutoRun());
    EXPECT_TRUE(ReadFile(EntryFile()).contains(QStringLiteral("\nExec=\"%1Somorabox\"\n").arg(AppPath).toUtf8()));

    // Any entry of that name counts as on, and a save rewrites it.
    WriteFile(EntryFile(), "[Desktop Entry]\nExec=/usr/bin/other\n");
    LoadSettings();
    EXPECT_TRUE(AppSettings.StartWithWindows);
    SaveSettings();
    EXPECT_TRUE(ReadFile(EntryFile()).contains(QStringLiteral("Exec=\"%1Somorabox\"").arg(AppPath).toUtf8()));

    AppSettings.StartWithWindows = false;
    SaveSettings();
    EXPECT_FALSE(QFile::exists(EntryFile()));
    EXPECT_FALSE(GetAutoRun());
}

TEST_F(SettingsStore, AutostartPathIsEscapedForTheDesktopEntry) {
    env.autostart->Write(QStringLiteral("/opt/a b/50%\"$x`\\y/Somorabox"));
    EXPECT_TRUE(ReadFile(EntryFile()).contains("\nExec=\"/opt/a b/50%%\\\\\"\\\\$x\\\\`\\\\\\\\y/Somorabox\"\n"))
        << ReadFile(EntryFile()).constData();
}

TEST_F(SettingsStore, FailedAutostartWriteStopsTheSave) {
    LoadSettings();
    AppSettings.StartWithWindows = true;
    AppSettings.AGC = false;
    ASSERT_TRUE(QDir().mkpath(EntryFile()));  // a folder in the entry's place
    EXPECT_EQ(SaveError(), QStringLiteral("Failed to set data for 'PLEN'"));
    const QByteArray text = ReadFile(ConfigFile());
    EXPECT_TRUE(text.endsWith("RecordingLevel=2\n")) << text.constData();
    EXPECT_FALSE(text.contains("AGC"));

    // Switching it off when it cannot be removed is silent.
    AppSettings.StartWithWindows = false;
    EXPECT_EQ(SaveError(), QString());
}

TEST_F(SettingsStore, ConfigFileIsCreatedPrivateKeepsItsModeAndIsMadePrivateWhenItHoldsASecret) {
    const auto mode = [this] { return QFileInfo(ConfigFile()).permissions() & 0x0777; };
    LoadSettings();
    SaveSettings();
    EXPECT_EQ(mode(), QFile::ReadUser | QFile::WriteUser);
    QFile::setPermissions(ConfigFile(), QFile::ReadUser | QFile::WriteUser | QFile::ReadGroup);
    SaveSettings();
    EXPECT_EQ(mode(), QFile::ReadUser | QFile::WriteUser | QFile::ReadGroup);
    // The factory password and no secret key: left as the operator set it.
    EXPECT_EQ(ProtectConfigFile(), QString());
    EXPECT_EQ(mode(), QFile::ReadUser | QFile::WriteUser | QFile::ReadGroup);
    WriteFile(ConfigFile(), "[Settings]\n[Archive]\nSecretKey=s\n");
    QFile::setPermissions(ConfigFile(), QFile::ReadUser | QFile::WriteUser | QFile::ReadOther);
    EXPECT_TRUE(ProtectConfigFile().contains("chmod 600"));
    EXPECT_EQ(mode(), QFile::ReadUser | QFile::WriteUser);
    EXPECT_EQ(ProtectConfigFile(), QString());
}

}  // namespace
