// SPDX-License-Identifier: GPL-3.0-or-later
#include "settings/Config.h"

#include <limits>

#include "platform/Platform.h"
#include "settings/publicunit.h"

namespace {

// What a value outside its range becomes.
enum class Outside { Clamped, Default };

class Reader {
public:
    Reader(platform::ProfileFile& profile, const QString& path, QStringList& problems)
        : profile_(profile), path_(path), problems_(problems) {}

    // The value as the profile gives it, or `fallback` when the key is missing.
    QString Raw(const QString& section, const char* key, const QString& fallback) {
        const QString text = profile_.ReadString(path_, section, QLatin1String(key), Missing());
        return text == Missing() ? fallback : text;
    }
    // The same without surrounding blanks.
    QString Text(const QString& section, const char* key, const QString& fallback = {}) {
        return Raw(section, key, fallback).trimmed();
    }

    // An integer by the integer-text rule; missing or empty: the default.
    int32_t Integer(const QString& section, const char* key, int32_t fallback,
                    int32_t min = std::numeric_limits<int32_t>::min(),
                    int32_t max = std::numeric_limits<int32_t>::max(), Outside outside = Outside::Clamped) {
        const QString text = Text(section, key);
        if (text.isEmpty()) return fallback;
        int32_t value = 0;
        if (!TryStrToInt(text, value)) return Replaced(section, key, text, QStringLiteral("is not a number"), fallback);
        if (value < min)
            return Replaced(section, key, text, QStringLiteral("is below %1").arg(min),
                            outside == Outside::Clamped ? min : fallback);
        if (value > max)
            return Replaced(section, key, text, QStringLiteral("is above %1").arg(max),
                            outside == Outside::Clamped ? max : fallback);
        return value;
    }

    // A Boolean as the settings store reads it: an integer, true when not 0.
    bool Boolean(const QString& section, const char* key, bool fallback) {
        return Integer(section, key, fallback ? 1 : 0) != 0;
    }

    // "1" or "0"; missing or empty: false.
    bool Switch(const QString& section, const char* key) {
        const QString text = Text(section, key);
        if (text.isEmpty() || text == QLatin1String("0")) return false;
        if (text == QLatin1String("1")) return true;
        Replaced(section, key, text, QStringLiteral("is neither 0 nor 1"), 0);
        return false;
    }

private:
    static const QString& Missing() {
        static const QString missing = QStringLiteral("\x01missing\x01");
        return missing;
    }

    int32_t Replaced(const QString& section, const char* key, const QString& text, const QString& what,
                     int32_t used) {
        problems_.append(QStringLiteral("config.ini [%1] %2: \"%3\" %4; %5 is used")
                             .arg(section, QLatin1String(key), text, what, QString::number(used)));
        return used;
    }

    platform::ProfileFile& profile_;
    const QString& path_;
    QStringList& problems_;
};

void ReadPage(Reader& r, const QString& s, PageSection& page) {
    page.Listen = r.Text(s, "Listen");
    page.Plain = r.Switch(s, "Plain");
    page.Certificate = r.Text(s, "Certificate");
    page.Key = r.Text(s, "Key");
}

void ReadArchive(Reader& r, ArchiveSection& a) {
    const QString s = QStringLiteral("Archive");
    a.Endpoint = r.Text(s, "Endpoint");
    while (a.Endpoint.endsWith('/')) a.Endpoint.chop(1);
    a.Bucket = r.Text(s, "Bucket");
    a.Region = r.Text(s, "Region", a.Region);
    if (a.Region.isEmpty()) a.Region = QStringLiteral("us-east-1");
    a.Prefix = r.Text(s, "Prefix");
    while (a.Prefix.endsWith('/')) a.Prefix.chop(1);
    while (a.Prefix.startsWith('/')) a.Prefix.remove(0, 1);
    a.AccessKey = r.Text(s, "AccessKey");
    a.SecretKey = r.Text(s, "SecretKey");
    a.CredentialsFile = r.Text(s, "CredentialsFile");
    a.CAFile = r.Text(s, "CAFile");
    if (a.Endpoint.isEmpty()) return;
    // Each of these stops every upload; the last one found is the one said.
    const QString format = r.Text(s, "Format", QStringLiteral("flac")).toLower();
    a.flac = format != QLatin1String("wav");
    int32_t kbps = 0;
    const QString maxText = r.Text(s, "MaxKBps", QStringLiteral("0"));
    if (!TryStrToInt(maxText, kbps) || kbps < 0)
        a.problem = QStringLiteral("MaxKBps '%1' is no number of 0 or more").arg(maxText);
    a.MaxKBps = kbps;
    if (format != QLatin1String("flac") && format != QLatin1String("wav"))
        a.problem = QStringLiteral("Format '%1' is neither flac nor wav").arg(format);
    if (!a.Endpoint.startsWith(QLatin1String("http://")) && !a.Endpoint.startsWith(QLatin1String("https://")))
        a.problem = QStringLiteral("Endpoint '%1' is no http:// or https:// address").arg(a.Endpoint);
    else if (a.Bucket.isEmpty())
        a.problem = QStringLiteral("no Bucket");
    else if (a.CredentialsFile.isEmpty() && (a.AccessKey.isEmpty() || a.SecretKey.isEmpty()))
        a.problem = QStringLiteral("no AccessKey and SecretKey, nor a CredentialsFile");
}

void ReadFleet(Reader& r, FleetSection& f) {
    const QString s = QStringLiteral("Fleet");
    ReadPage(r, s, f);
    // A bad value keeps the fleet page from starting rather than guessing.
    const QString staleText = r.Text(s, "StaleSeconds", QStringLiteral("180"));
    const QString indexText = r.Text(s, "IndexSeconds", QStringLiteral("300"));
    if (!TryStrToInt(staleText, f.StaleSeconds) || f.StaleSeconds < 1)
        f.problem = QStringLiteral("[Fleet] StaleSeconds '%1' is no number of seconds").arg(staleText);
    else if (!TryStrToInt(indexText, f.IndexSeconds) || f.IndexSeconds < 5)
        f.problem = QStringLiteral("[Fleet] IndexSeconds '%1' is no number of seconds (5 or more)").arg(indexText);
}

}  // namespace

Config LoadConfig(platform::ProfileFile& profile, const QString& path, platform::Files* files) {
    Config c;
    if (files && files->Exists(path) && !files->OpenRead(path))
        c.problems.append(QStringLiteral("config.ini: %1 cannot be read; the defaults are used").arg(path));
    Reader r(profile, path, c.problems);

    const QString settings = kSettingsSection;
    SettingsSection& st = c.settings;
    st.SamplingRate = r.Integer(settings, "SamplingRate", st.SamplingRate);
    st.RecordingChannel = r.Integer(settings, "RecordingChannel", st.RecordingChannel);
    st.RecordingVolume = r.Integer(settings, "RecordingVolume", st.RecordingVolume);
    st.PlayingVolume = r.Integer(settings, "PlayingVolume", st.PlayingVolume);
    st.RecordingLevel = r.Integer(settings, "RecordingLevel", st.RecordingLevel);
    st.ManualMode = r.Boolean(settings, "ManualMode", st.ManualMode);
    st.AGC = r.Boolean(settings, "AGC", st.AGC);
    st.EndRecordingIfPlaying = r.Boolean(settings, "EndRecordingIfPlaying", st.EndRecordingIfPlaying);
    st.ManageFile = r.Boolean(settings, "ManageFile", st.ManageFile);
    // The password is taken as it stands, even empty.
    st.password = r.Raw(settings, "password", st.password);

    ReadPage(r, QStringLiteral("Web"), c.web);
    ReadArchive(r, c.archive);

    const QString alerts = QStringLiteral("Alerts");
    AlertsSection& al = c.alerts;
    al.Webhook = r.Text(alerts, "Webhook");
    al.InputLostSeconds = r.Integer(alerts, "InputLostSeconds", al.InputLostSeconds, 0,
                                    std::numeric_limits<int32_t>::max(), Outside::Default);
    al.ArchiveBehindMinutes = r.Integer(alerts, "ArchiveBehindMinutes", al.ArchiveBehindMinutes, 0,
                                        std::numeric_limits<int32_t>::max(), Outside::Default);
    al.SilentMinutes = r.Integer(alerts, "SilentMinutes", al.SilentMinutes, 0);
    al.ClipPercent = r.Integer(alerts, "ClipPercent", al.ClipPercent, 0, 100);

    c.disk.KeepFreeMB = r.Integer(QStringLiteral("Disk"), "KeepFreeMB", 0, 0);
    const QString recording = QStringLiteral("Recording");
    c.recording.PreRollMs = r.Integer(recording, "PreRollMs", 0, 0, kMaxPreRollMs);
    c.recording.MaxTakeMinutes = r.Integer(recording, "MaxTakeMinutes", 0, 0, kMaxTakeMinutes);
    c.schedule.Hours = r.Text(QStringLiteral("Schedule"), "Hours");
    ReadFleet(r, c.fleet);
    return c;
}
