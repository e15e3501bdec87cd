// SPDX-License-Identifier: GPL-3.0-or-later
#include "settings/publicunit.h"

#include "platform/Platform.h"
#include "platform/PrivateFile.h"

QString AppPath;
QString ExecutableFile;
TAppSettings AppSettings;
bool Playing = false;
int32_t BandLevels[20] = {};
TColor WaveBackColor = 0;
QStringList RecordingSources;
int32_t RecordingVolumeSet = 0;
int32_t RecordingVolumeNow = 0;

namespace {

int HexDigit(QChar c) {
    const char16_t u = c.unicode();
    if (u >= '0' && u <= '9') return u - '0';
    if (u >= 'a' && u <= 'f') return u - 'a' + 10;
    if (u >= 'A' && u <= 'F') return u - 'A' + 10;
    return -1;
}

void WriteKey(const QString& path, const QString& key, const QString& value) {
    if (!platform::Services().profile->WriteString(path, kSettingsSection, key, value))
        throw SettingsError(QStringLiteral("Unable to write to %1").arg(path));
}

void WriteInteger(const QString& path, const QString& key, int32_t value) {
    WriteKey(path, key, QString::number(value));
}
void WriteBool(const QString& path, const QString& key, bool value) { WriteKey(path, key, value ? "1" : "0"); }

}  // namespace

bool TryStrToInt(const QString& text, int32_t& value) {
    int i = 0;
    const int n = static_cast<int>(text.size());
    while (i < n && text[i] == ' ') ++i;
    bool negative = false;
    if (i < n && (text[i] == '-' || text[i] == '+')) {
        negative = text[i] == '-';
        ++i;
    }
    int base = 10;
    if (i < n && text[i] == '$') {
        base = 16;
        ++i;
    } else if (i < n && (text[i] == 'x' || text[i] == 'X')) {
        base = 16;
        ++i;
    } else if (i + 1 < n && text[i] == '0' && (text[i + 1] == 'x' || text[i + 1] == 'X')) {
        base = 16;
        i += 2;
    }
    if (i >= n) return false;
    uint64_t magnitude = 0;
    for (; i < n; ++i) {
        const int d = HexDigit(text[i]);
        if (d < 0 || d >= base) return false;
        magnitude = magnitude * static_cast<uint64_t>(base) + static_cast<uint64_t>(d);
        if (magnitude > 0xFFFFFFFFull) return false;
    }
    if (base == 10) {
        // Decimal text must fit the signed range.
        if (negative ? magnitude > 0x80000000ull : magnitude > 0x7FFFFFFFull) return false;
        value = negative ? static_cast<int32_t>(-static_cast<int64_t>(magnitude))
                         : static_cast<int32_t>(magnitude);
    } else {
        // Hexadecimal text may use all 32 bits ("$FFFFFFFF" is -1).
        const auto bits = static_cast<uint32_t>(magnitude);
        value = static_cast<int32_t>(negative ? 0u - bits : bits);
    }
    return true;
}

int32_t StrToInt(const QString& text) {
    int32_t value = 0;
    if (!TryStrToInt(text, value))
        throw SettingsError(QStringLiteral("'%1' is not a valid integer value").arg(text));
    return value;
}

void LoadSettings() { LoadSettings(LoadConfig(*platform::Services().profile, ConfigFilePath())); }

void LoadSettings(const Config& config) {
    const SettingsSection& s = config.settings;
    AppSettings.SamplingRate = s.SamplingRate;
    AppSettings.RecordingChannel = s.RecordingChannel;
    AppSettings.RecordingVolume = s.RecordingVolume;
    AppSettings.PlayingVolume = s.PlayingVolume;
    AppSettings.RecordingLevel = s.RecordingLevel;
    AppSettings.StartWithWindows = GetAutoRun();
    AppSettings.ManualMode = s.ManualMode;
    AppSettings.AGC = s.AGC;
    AppSettings.EndRecordingIfPlaying = s.EndRecordingIfPlaying;
    AppSettings.ManageFile = s.ManageFile;
    AppSettings.password = s.password;
    AppSettings.KeepFreeMB = config.disk.KeepFreeMB;
    AppSettings.PreRollMs = config.recording.PreRollMs;
    AppSettings.MaxTakeMinutes = config.recording.MaxTakeMinutes;
    AppSettings.Hours = config.schedule.Hours;
    AppSettings.SilentMinutes = config.alerts.SilentMinutes;
    AppSettings.ClipPercent = config.alerts.ClipPercent;
}

QString ProtectConfigFile() {
    platform::ProfileFile* profile = platform::Services().profile;
    if (!profile) return {};
    return ProtectConfigFile(LoadConfig(*profile, ConfigFilePath()));
}

QString ProtectConfigFile(const Config& config) {
    const bool secret =
        config.settings.password != QLatin1String("58316024") || !config.archive.SecretKey.isEmpty();
    if (!secret) return {};
    const QString path = ConfigFilePath();
    QString error;
    switch (platform::MakeFilePrivate(path, &error)) {
        case 1: return QStringLiteral("%1 holds a password or secret key and others could read it: made private (chmod 600)").arg(path);
        case -1: return error;
        default: return {};
    }
}

void SaveSettings() { SaveSettings(AppSettings, ConfigFilePath(), AutoRunTarget()); }

void SaveSettings(const TAppSettings& s, const QString& configPath, const QString& autoRunTarget) {
    WriteInteger(configPath, "SamplingRate", s.SamplingRate);
    WriteInteger(configPath, "RecordingChannel", s.RecordingChannel);
    WriteInteger(configPath, "RecordingVolume", s.RecordingVolume);
    WriteInteger(configPath, "PlayingVolume", s.PlayingVolume);
    WriteInteger(configPath, "RecordingLevel", s.RecordingLevel);
    SetAutoRun(s.StartWithWindows, autoRunTarget);
    WriteBool(configPath, "ManualMode", s.ManualMode);
    WriteBool(configPath, "EndRecordingIfPlaying", s.EndRecordingIfPlaying);
    WriteBool(configPath, "AGC", s.AGC);
    WriteBool(configPath, "ManageFile", s.ManageFile);
    WriteKey(configPath, "password", s.password);
}

QString ConfigFilePath() { return AppPath + kConfigFileName; }

QString AutoRunTarget() { return ExecutableFile.isEmpty() ? AppPath + kExecutableName : ExecutableFile; }

bool GetAutoRun() { return platform::Services().autostart->Exists(); }

void SetAutoRun(bool enable) { SetAutoRun(enable, AutoRunTarget()); }

void SetAutoRun(bool enable, const QString& target) {
    if (enable) {
        if (!platform::Services().autostart->Write(target))
            throw SettingsError(QStringLiteral("Failed to set data for '%1'").arg(kAutoRunName));
    } else {
        platform::Services().autostart->Remove();
    }
}

QString RecordFolder() { return AppPath + QStringLiteral("record/"); }
