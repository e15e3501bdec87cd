// SPDX-License-Identifier: GPL-3.0-or-later
// config.ini read by one loader: every section's defaults, a bad value named
// in one line with the value used, a file that is no profile at all; and the
// platform services, which stay as they were once fixed.
#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include "platform/Defaults.h"
#include "platform/Platform.h"
#include "settings/Config.h"

namespace {

class ConfigFile : public ::testing::Test {
protected:
    Config Load(const QByteArray& text) {
        QFile file(Path());
        EXPECT_TRUE(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
        file.write(text);
        file.close();
        return LoadConfig(profile, Path());
    }
    QString Path() const { return dir.filePath(QStringLiteral("config.ini")); }

    QTemporaryDir dir;
    platform::IniProfile profile;
};

void ExpectDefaults(const Config& c) {
    EXPECT_EQ(c.settings.SamplingRate, 22050);
    EXPECT_EQ(c.settings.RecordingChannel, -1);
    EXPECT_EQ(c.settings.RecordingVolume, 25);
    EXPECT_EQ(c.settings.PlayingVolume, 25);
    EXPECT_EQ(c.settings.RecordingLevel, 2);
    EXPECT_FALSE(c.settings.ManualMode);
    EXPECT_TRUE(c.settings.EndRecordingIfPlaying);
    EXPECT_TRUE(c.settings.AGC);
    EXPECT_TRUE(c.settings.ManageFile);
    EXPECT_EQ(c.settings.password, QStringLiteral("58316024"));
    for (const PageSection* page : {static_cast<const PageSection*>(&c.web), static_cast<const PageSection*>(&c.fleet)}) {
        EXPECT_TRUE(page->Listen.isEmpty());
        EXPECT_FALSE(page->Plain);
        EXPECT_TRUE(page->Certificate.isEmpty() && page->Key.isEmpty());
    }
    EXPECT_TRUE(c.archive.Endpoint.isEmpty());
    EXPECT_EQ(c.archive.Region, QStringLiteral("us-east-1"));
    EXPECT_TRUE(c.archive.flac);
    EXPECT_EQ(c.archive.MaxKBps, 0);
    EXPECT_TRUE(c.archive.problem.isEmpty());
    EXPECT_TRUE(c.alerts.Webhook.isEmpty());
    EXPECT_EQ(c.alerts.InputLostSeconds, 300);
    EXPECT_EQ(c.alerts.ArchiveBehindMinutes, 60);
    EXPECT_EQ(c.alerts.SilentMinutes, 0);
    EXPECT_EQ(c.alerts.ClipPercent, 1);
    EXPECT_EQ(c.disk.KeepFreeMB, 0);
    EXPECT_EQ(c.recording.PreRollMs, 0);
    EXPECT_EQ(c.recording.MaxTakeMinutes, 0);
    EXPECT_TRUE(c.schedule.Hours.isEmpty());
    EXPECT_EQ(c.fleet.StaleSeconds, 180);
    EXPECT_EQ(c.fleet.IndexSeconds, 300);
    EXPECT_TRUE(c.fleet.problem.isEmpty());
}

TEST_F(ConfigFile, EverySectionHasItsDefaultsWithoutTheFileOrWithAnEmptyOne) {
    platform::PosixFiles files;
    const Config missing = LoadConfig(profile, dir.filePath(QStringLiteral("missing/config.ini")), &files);
    ExpectDefaults(missing);
    EXPECT_EQ(missing.problems, QStringList());
    ExpectDefaults(Load(""));
    EXPECT_EQ(Load("").problems, QStringList());
    // Empty values count as missing ones, but for the password.
    const Config c = Load("[Settings]\nSamplingRate=\nAGC=\npassword=\n[Disk]\nKeepFreeMB=\n[Web]\nPlain=\n");
    EXPECT_EQ(c.settings.SamplingRate, 22050);
    EXPECT_TRUE(c.settings.AGC);
    EXPECT_EQ(c.settings.password, QString());
    EXPECT_EQ(c.problems, QStringList());
}

TEST_F(ConfigFile, EachBadValueIsNamedInOneLineAndReplaced) {
    const Config c = Load(
        "[Settings]\nSamplingRate=fast\nManageFile=yes\nAGC=2\nRecordingLevel=$6\n"
        "[Web]\nListen=127.0.0.1:8517\nPlain=yes\n"
        "[Alerts]\nInputLostSeconds=-1\nClipPercent=250\nSilentMinutes=20\n"
        "[Disk]\nKeepFreeMB=lots\n"
        "[Recording]\nPreRollMs=99999\nMaxTakeMinutes=-5\n"
        "[Schedule]\nHours= Mon-Fri 08:00-18:00 \n"
        "[Archive]\nEndpoint=http://127.0.0.1:9000/\nBucket=b\nAccessKey=a\nSecretKey=s\nPrefix=/hall/\nMaxKBps=fast\n"
        "[Fleet]\nStaleSeconds=0\n");
    EXPECT_EQ(c.problems,
              QStringList({R"(config.ini [Settings] SamplingRate: "fast" is not a number; 22050 is used)",
                           R"(config.ini [Settings] ManageFile: "yes" is not a number; 1 is used)",
                           R"(config.ini [Web] Plain: "yes" is neither 0 nor 1; 0 is used)",
                           R"(config.ini [Alerts] InputLostSeconds: "-1" is below 0; 300 is used)",
                           R"(config.ini [Alerts] ClipPercent: "250" is above 100; 100 is used)",
                           R"(config.ini [Disk] KeepFreeMB: "lots" is not a number; 0 is used)",
                           R"(config.ini [Recording] PreRollMs: "99999" is above 5000; 5000 is used)",
                           R"(config.ini [Recording] MaxTakeMinutes: "-5" is below 0; 0 is used)"}));
    EXPECT_EQ(c.settings.SamplingRate, 22050);
    EXPECT_TRUE(c.settings.ManageFile);
    EXPECT_TRUE(c.settings.AGC);
    EXPECT_EQ(c.settings.RecordingLevel, 6);
    EXPECT_EQ(c.web.Listen, QStringLiteral("127.0.0.1:8517"));
    EXPECT_FALSE(c.web.Plain);
    EXPECT_EQ(c.alerts.InputLostSeconds, 300);
    EXPECT_EQ(c.alerts.ClipPercent, 100);
    EXPECT_EQ(c.alerts.SilentMinutes, 20);
    EXPECT_EQ(c.disk.KeepFreeMB, 0);
    EXPECT_EQ(c.recording.PreRollMs, 5000);
    EXPECT_EQ(c.recording.MaxTakeMinutes, 0);
    EXPECT_EQ(c.schedule.Hours, QStringLiteral("Mon-Fri 08:00-18:00"));
    // Values that stop a feature stop it, as the feature reports.
    EXPECT_EQ(c.archive.Endpoint, QStringLiteral("http://127.0.0.1:9000"));
    EXPECT_EQ(c.archive.Prefix, QStringLiteral("hall"));
    EXPECT_EQ(c.archive.problem, QStringLiteral("MaxKBps 'fast' is no number of 0 or more"));
    EXPECT_EQ(c.fleet.problem, QStringLiteral("[Fleet] StaleSeconds '0' is no number of seconds"));
}

TEST_F(ConfigFile, AFileThatIsNoProfileGivesTheDefaults) {
    QByteArray junk("\x00\xff\xfe[Settings\n=22050\n[]\n==\n\r\n", 22);
    for (int i = 0; i < 256; ++i) junk.append(static_cast<char>((i * 37) & 0xff));
    const Config junked = Load(junk);
    ExpectDefaults(junked);
    EXPECT_EQ(junked.problems, QStringList());
    // A folder where the file should be is said, once.
    QFile::remove(Path());
    ASSERT_TRUE(QDir().mkpath(Path()));
    platform::PosixFiles files;
    const Config folder = LoadConfig(profile, Path(), &files);
    ExpectDefaults(folder);
    EXPECT_EQ(folder.problems, QStringList({"config.ini: " + Path() + " cannot be read; the defaults are used"}));
}

TEST(PlatformServices, AChangeAfterTheyAreFixedEndsTheProgram) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    platform::Services().clock = nullptr;  // before: allowed
    EXPECT_DEATH(
        {
            platform::FixServices();
            platform::Services().clock = nullptr;
        },
        "changed after start-up");
}

}  // namespace
