// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// The settings record, its store in config.ini, and the state shared by the
// whole program. Everything here is used on the GUI thread only.
#include <QString>
#include <QStringList>

#include <cstdint>
#include <stdexcept>
#include <string>

#include "settings/Config.h"

struct TAppSettings {
    int32_t SamplingRate = 0;
    int32_t RecordingChannel = 0;
    int32_t RecordingVolume = 0;
    int32_t PlayingVolume = 0;
    int32_t RecordingLevel = 0;
    bool StartWithWindows = false;
    bool ManualMode = false;
    bool EndRecordingIfPlaying = false;
    bool AGC = false;
    bool ManageFile = false;
    QString password;
    // Keys of config.ini that the settings dialog does not show, read with
    // the settings at start-up and never written by the program.
    // [Disk] KeepFreeMB: the oldest takes go while less is free; 0: off.
    int32_t KeepFreeMB = 0;
    // [Recording] PreRollMs: sound kept before the block that starts a voice
    // take, in milliseconds; 0 (off) .. kMaxPreRollMs.
    int32_t PreRollMs = 0;
    // [Recording] MaxTakeMinutes: takes are split at whole multiples of this
    // many minutes counted from midnight; 0 (off) .. kMaxTakeMinutes. Takes
    // are split before the WAV limit whatever it says.
    int32_t MaxTakeMinutes = 0;
    // [Schedule] Hours: when takes may be made ("Mon-Fri 08:00-18:00, …");
    // empty: always. Parsed (and a malformed value refused) by the session.
    QString Hours;
    // [Alerts] SilentMinutes: quiet that long inside the hours is an alarm; 0: off.
    int32_t SilentMinutes = 0;
    // [Alerts] ClipPercent: more than this share of a minute's blocks at
    // full scale is an alarm; 0: off.
    int32_t ClipPercent = 1;
};

// A colour as 0x00RRGGBB.
using TColor = uint32_t;
constexpr TColor RGB(int r, int g, int b) {
    return (static_cast<TColor>(r & 0xFF) << 16) | (static_cast<TColor>(g & 0xFF) << 8) |
           static_cast<TColor>(b & 0xFF);
}

// The folder of the executable, ending with "/".
extern QString AppPath;
// The takes folder, AppPath + "record/".
QString RecordFolder();
// The running executable, when AppPath is not its folder (an installed
// program keeps its data in the user's data folder); empty otherwise.
extern QString ExecutableFile;
extern TAppSettings AppSettings;

// Shared state, each written by the unit named.
extern bool Playing;                   // playback engine
extern int32_t BandLevels[20];         // capture and playback engines
extern TColor WaveBackColor;           // main window
extern QStringList RecordingSources;   // mixer operations
extern int32_t RecordingVolumeSet;     // mixer operations and automatic gain
extern int32_t RecordingVolumeNow;

// An error that ends a command; its text is shown to the operator.
class SettingsError : public std::runtime_error {
public:
    explicit SettingsError(const QString& message)
        : std::runtime_error(message.toStdString()), message_(message) {}
    const QString& Message() const { return message_; }

private:
    QString message_;
};

// The main window's caption, also the key of the one-instance rule.
inline const QString kMainCaption = QStringLiteral("Brovane Somora recorder");
// The profile section and file name.
inline const QString kSettingsSection = QStringLiteral("Settings");
inline const QString kConfigFileName = QStringLiteral("config.ini");
// The name of the start-up entry.
inline const QString kAutoRunName = QStringLiteral("PLEN");
// The executable that the start-up entry runs.
inline const QString kExecutableName = QStringLiteral("Somorabox");

// Integer text: optional blanks and sign, then decimal digits, or hexadecimal
// digits after "$", "x", "X", "0x" or "0X"; nothing may follow; 32 bits.
bool TryStrToInt(const QString& text, int32_t& value);
// The same, raising SettingsError("'<text>' is not a valid integer value").
int32_t StrToInt(const QString& text);

// Reads config.ini (LoadConfig) into AppSettings and sets StartWithWindows
// from the start-up entry.
void LoadSettings();
// The same from what LoadConfig read: [Settings], and the keys of [Disk],
// [Recording], [Schedule] and [Alerts] that the session takes with them.
void LoadSettings(const Config& config);
// config.ini made private (0600) when others may read it while it holds a
// password other than the factory one or an [Archive] SecretKey; the line
// that says so, or an empty text when nothing was done.
QString ProtectConfigFile();
QString ProtectConfigFile(const Config& config);
// Raises SettingsError("Unable to write to <path>") or
// SettingsError("Failed to set data for 'PLEN'") and stops at the failing key.
void SaveSettings();
// The same for a copy of the settings, the file and the start-up entry's
// target taken beforehand, so that it can run on a thread of its own.
void SaveSettings(const TAppSettings& settings, const QString& configPath, const QString& autoRunTarget);
// Where SaveSettings() writes, and what the start-up entry runs.
QString ConfigFilePath();
QString AutoRunTarget();
bool GetAutoRun();
void SetAutoRun(bool enable);
void SetAutoRun(bool enable, const QString& target);
