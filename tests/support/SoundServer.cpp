// SPDX-License-Identifier: GPL-3.0-or-later
#include "support/SoundServer.h"

namespace testing_support {

bool Pactl(const QStringList& arguments) {
    QProcess p;
    p.start(QStringLiteral("pactl"), arguments);
    if (!p.waitForFinished(5000)) {
        p.kill();
        p.waitForFinished(1000);
        return false;
    }
    return p.exitStatus() == QProcess::NormalExit && p.exitCode() == 0;
}

bool VenueServerReachable() {
    QProcess p;
    p.start(QStringLiteral("pactl"), {QStringLiteral("info")});
    if (!p.waitForFinished(5000)) {
        p.kill();
        p.waitForFinished(1000);
        return false;
    }
    if (p.exitStatus() != QProcess::NormalExit || p.exitCode() != 0) return false;
    const QByteArray info = p.readAllStandardOutput();
    return info.contains("Default Sink: speakers\n") && info.contains("Default Source: venue.monitor\n");
}

bool ResetVenueVolumes() {
    bool ok = true;
    for (const char* sink : {"speakers", "venue"}) {
        const QString name = QString::fromLatin1(sink);
        const QString monitor = name + QStringLiteral(".monitor");
        ok = Pactl({QStringLiteral("set-sink-volume"), name, QStringLiteral("100%")}) && ok;
        ok = Pactl({QStringLiteral("set-sink-mute"), name, QStringLiteral("0")}) && ok;
        ok = Pactl({QStringLiteral("set-source-volume"), monitor, QStringLiteral("100%")}) && ok;
        ok = Pactl({QStringLiteral("set-source-mute"), monitor, QStringLiteral("0")}) && ok;
    }
    return ok;
}

MonitorRecorder::MonitorRecorder(int rate) : parec_(std::make_unique<QProcess>()) {
    parec_->start(QStringLiteral("parec"),
                  {QStringLiteral("--device=speakers.monitor"), QStringLiteral("--rate=%1").arg(rate),
                   QStringLiteral("--channels=1"), QStringLiteral("--format=s16le"), QStringLiteral("--raw"),
                   QStringLiteral("--latency-msec=20")});
    started_ = parec_->waitForStarted(5000);
}

MonitorRecorder::~MonitorRecorder() {
    if (parec_->state() != QProcess::NotRunning) {
        parec_->kill();
        parec_->waitForFinished(2000);
    }
}

QByteArray MonitorRecorder::Finish() {
    if (!started_) return {};
    parec_->terminate();
    if (!parec_->waitForFinished(5000)) {
        parec_->kill();
        parec_->waitForFinished(2000);
    }
    return parec_->readAllStandardOutput();
}

}  // namespace testing_support
