// SPDX-License-Identifier: GPL-3.0-or-later
// The recorder without a window, started as the built program on a machine
// without sound (the sound server is out of reach): one instance, quiet
// start-up, a clean end on SIGTERM and SIGINT, the repair and 24-hour
// clean-up of the recordings folder.
#include <gtest/gtest.h>

#include <QDateTime>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>

#include "support/TestSupport.h"
#include <QProcess>
#include <QTemporaryDir>
#include <QtEndian>

#include <csignal>
#include <cstring>

namespace {

// Without a sound server there is no input: the recorder says so once and
// keeps trying.
constexpr char kNoInput[] = "input lost: no input device; trying again every 2 s\n";

class HeadlessTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(testing_support::CopyProgram(QFileInfo(Exe()).absolutePath()));
        QDir().mkpath(dir.filePath("runtime"));
        QFile::setPermissions(dir.filePath("runtime"), QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
        env = QProcessEnvironment::systemEnvironment();
        env.insert("XDG_RUNTIME_DIR", dir.filePath("runtime"));
        env.insert("XDG_CONFIG_HOME", dir.filePath("config"));
        env.insert("PULSE_SERVER", "unix:" + dir.filePath("no-sound-server"));
        env.remove("DISPLAY");
        env.remove("WAYLAND_DISPLAY");
        env.remove("QT_QPA_PLATFORM");
    }
    void TearDown() override {
        if (recorder.state() != QProcess::NotRunning) {
            recorder.kill();
            recorder.waitForFinished(5000);
        }
    }

    QString Exe() const { return dir.filePath("Somorabox"); }
    QString Record() const { return dir.filePath("record"); }

    void Start() {
        recorder.setProcessEnvironment(env);
        recorder.start(Exe(), {"--headless"});
        ASSERT_TRUE(recorder.waitForStarted());
        // Ready once it holds its lock and catches the three signals: what
        // it does before its event loop (repair, clean-up) is then done
        // before a signal is handled.
        QElapsedTimer clock;
        clock.start();
        while (!(HoldsLock() && CatchesQuitSignals()) && clock.elapsed() < 10000 &&
               recorder.state() == QProcess::Running)
            recorder.waitForFinished(20);
        ASSERT_EQ(recorder.state(), QProcess::Running);
        ASSERT_TRUE(HoldsLock() && CatchesQuitSignals());
    }
    bool HoldsLock() const { return QDir(dir.filePath("runtime")).entryList({"*.lock"}, QDir::Files).size() == 1; }
    // From the process's caught-signal mask in /proc.
    bool CatchesQuitSignals() const {
        QFile status(QStringLiteral("/proc/%1/status").arg(recorder.processId()));
        if (!status.open(QIODevice::ReadOnly)) return false;
        for (const QByteArray& line : status.readAll().split('\n')) {
            if (!line.startsWith("SigCgt:")) continue;
            bool ok = false;
            const qulonglong mask = line.mid(7).trimmed().toULongLong(&ok, 16);
            const qulonglong wanted = (1ull << (SIGINT - 1)) | (1ull << (SIGTERM - 1)) | (1ull << (SIGHUP - 1));
            return ok && (mask & wanted) == wanted;
        }
        return false;
    }

    // Sends `signal` and returns the exit code (-1 for a crash or a hang).
    int End(int signal) {
        ::kill(static_cast<pid_t>(recorder.processId()), signal);
        if (!recorder.waitForFinished(10000)) return -1;
        return recorder.exitStatus() == QProcess::NormalExit ? recorder.exitCode() : -1;
    }

    QTemporaryDir dir;
    QProcessEnvironment env;
    QProcess recorder;
};

TEST_F(HeadlessTest, OneInstanceQuietAndEndedBySigterm) {
    Start();
    // A second recorder, headless or with its window, ends at once and silently.
    for (const QStringList& args : {QStringList{"--headless"}, QStringList{}}) {
        QProcess second;
        QProcessEnvironment e = env;
        e.insert("QT_QPA_PLATFORM", "offscreen");
        second.setProcessEnvironment(e);
        second.start(Exe(), args);
        ASSERT_TRUE(second.waitForFinished(10000));
        EXPECT_EQ(second.exitStatus(), QProcess::NormalExit);
        EXPECT_EQ(second.exitCode(), 0);
        EXPECT_TRUE(second.readAllStandardOutput().isEmpty());
        EXPECT_TRUE(second.readAllStandardError().isEmpty());
    }
    EXPECT_EQ(recorder.state(), QProcess::Running);
    EXPECT_EQ(End(SIGTERM), 0);
    // Only that there is no input, and nothing from the sound libraries.
    EXPECT_EQ(recorder.readAllStandardOutput(), kNoInput);
    EXPECT_EQ(recorder.readAllStandardError(), "");
}

TEST_F(HeadlessTest, SigintAndSighupEndItToo) {
    for (int signal : {SIGINT, SIGHUP}) {
        Start();
        EXPECT_EQ(End(signal), 0) << signal;
        EXPECT_EQ(recorder.readAllStandardError(), "");
    }
}

void WriteFile(const QString& path, const QByteArray& bytes, const QDateTime& lastWrite) {
    QFile f(path);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    ASSERT_EQ(f.write(bytes), bytes.size());
    ASSERT_TRUE(f.flush());
    ASSERT_TRUE(f.setFileTime(lastWrite, QFileDevice::FileModificationTime));
}

// A take of one block whose header still carries the provisional sizes.
QByteArray TakeLeftOpen() {
    QByteArray b(44 + 8192, '\0');
    auto put32 = [&](int at, uint32_t v) { qToLittleEndian(v, b.data() + at); };
    auto put16 = [&](int at, uint16_t v) { qToLittleEndian(v, b.data() + at); };
    std::memcpy(b.data(), "RIFF", 4);
    put32(4, 36);
    std::memcpy(b.data() + 8, "WAVEfmt ", 8);
    put32(16, 16);
    put16(20, 1);
    put16(22, 2);
    put32(24, 22050);
    put32(28, 88200);
    put16(32, 4);
    put16(34, 16);
    std::memcpy(b.data() + 36, "data", 4);
    put32(40, 0);
    return b;
}

TEST_F(HeadlessTest, RepairsTakesLeftOpenAndDropsDayOldRecordings) {
    QDir().mkpath(Record());
    const QDateTime now = QDateTime::currentDateTime();
    const QString old = Record() + "/PLEN20200101100000.wav";
    const QString recent = Record() + "/PLEN20200102100000.wav";
    const QString foreign = Record() + "/concert.wav";
    WriteFile(old, TakeLeftOpen(), now.addDays(-2));
    WriteFile(recent, TakeLeftOpen(), now.addSecs(-3600));
    WriteFile(foreign, "not ours", now.addDays(-3));

    Start();
    EXPECT_EQ(End(SIGTERM), 0);
    const QString out = QString::fromLocal8Bit(recorder.readAllStandardOutput());
    EXPECT_EQ(out,
              "repaired the header of 2 recording(s) left open\n"
              "removed PLEN20200101100000.wav (older than 24 hours)\n" +
                  QString(kNoInput));
    EXPECT_FALSE(QFile::exists(old));
    EXPECT_TRUE(QFile::exists(foreign));
    QFile f(recent);
    ASSERT_TRUE(f.open(QIODevice::ReadOnly));
    const QByteArray bytes = f.readAll();
    EXPECT_EQ(qFromLittleEndian<uint32_t>(bytes.constData() + 4), 8228u);
    EXPECT_EQ(qFromLittleEndian<uint32_t>(bytes.constData() + 40), 8192u);
}

TEST_F(HeadlessTest, KeepsOldRecordingsWhenTheSettingSaysSo) {
    QFile config(dir.filePath("config.ini"));
    ASSERT_TRUE(config.open(QIODevice::WriteOnly));
    config.write("[Settings]\nManageFile=0\n");
    config.close();
    QDir().mkpath(Record());
    const QString old = Record() + "/PLEN20200101100000.wav";
    WriteFile(old, "old", QDateTime::currentDateTime().addDays(-2));
    Start();
    EXPECT_EQ(End(SIGTERM), 0);
    EXPECT_TRUE(QFile::exists(old));
    EXPECT_EQ(recorder.readAllStandardOutput(), kNoInput);
}

}  // namespace
