// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/AlsaNames.h"

#include <alsa/asoundlib.h>

#include <mutex>

#include <QRegularExpression>

#include "platform/Mixer.h"

namespace platform {
namespace {

void QuietAlsa(const char*, int, const char*, int, const char*, ...) {}

// Keeps ALSA from printing to stderr while the devices are probed (a machine
// without sound cards would otherwise log several lines per probe).
class QuietErrors {
public:
    QuietErrors() : saved_(snd_lib_error) { snd_lib_error_set_handler(&QuietAlsa); }
    ~QuietErrors() { snd_lib_error_set_handler(saved_); }
    QuietErrors(const QuietErrors&) = delete;
    QuietErrors& operator=(const QuietErrors&) = delete;

private:
    snd_lib_error_handler_t saved_;
};

struct CtlFacts {
    bool opened = false;
    int card = -1;  // only for hardware controls
    QString name;
};

CtlFacts Probe(const QString& ctlName) {
    CtlFacts facts;
    snd_ctl_t* ctl = nullptr;
    if (snd_ctl_open(&ctl, ctlName.toUtf8().constData(), 0) < 0) return facts;
    facts.opened = true;
    snd_ctl_card_info_t* info = nullptr;
    if (snd_ctl_card_info_malloc(&info) == 0) {
        if (snd_ctl_card_info(ctl, info) == 0) {
            if (snd_ctl_type(ctl) == SND_CTL_TYPE_HW) facts.card = snd_ctl_card_info_get_card(info);
            facts.name = QString::fromUtf8(snd_ctl_card_info_get_name(info)).trimmed();
            if (facts.name.isEmpty()) facts.name = QString::fromUtf8(snd_ctl_card_info_get_id(info));
        }
        snd_ctl_card_info_free(info);
    }
    snd_ctl_close(ctl);
    return facts;
}

// The name cut to fit a product-name field.
QString Fit(const QString& name) {
    MIXERCAPS caps;
    StoreName(caps.szPname, name);
    return NameText(caps.szPname);
}

bool HasWord(const QString& text, const QString& word) {
    return QRegularExpression(QStringLiteral("\\b%1\\b").arg(word), QRegularExpression::CaseInsensitiveOption)
        .match(text)
        .hasMatch();
}

}  // namespace

uint32_t AlsaSourceType(const QString& name) {
    if (HasWord(name, QStringLiteral("Line"))) return kSrcLine;
    if (HasWord(name, QStringLiteral("Mic")) || HasWord(name, QStringLiteral("Microphone")))
        return kSrcMicrophone;
    if (HasWord(name, QStringLiteral("CD"))) return kSrcCompactDisc;
    if (HasWord(name, QStringLiteral("Aux"))) return kSrcAuxiliary;
    if (HasWord(name, QStringLiteral("IEC958")) || HasWord(name, QStringLiteral("SPDIF")) ||
        HasWord(name, QStringLiteral("Digital")))
        return kSrcDigital;
    return kSrcUndefined;
}

QString AlsaSourceName(const QString& name) {
    QString text = name;
    static const QRegularExpression bareLine(QStringLiteral("\\b(Line)\\b(?!\\s+In\\b)"),
                                             QRegularExpression::CaseInsensitiveOption);
    text.replace(bareLine, QStringLiteral("\\1 In"));
    return text;
}


QList<AlsaMixerEntry> AlsaMixerDevices() {
    QuietErrors quiet;
    QList<AlsaMixerEntry> devices;
    CtlFacts def = Probe(QStringLiteral("default"));
    if (!def.opened) {
        // ALSA reads its configuration once per process, and what "default"
        // means is settled then: the sound server's plugin only where the
        // server already runs. Without a default device the configuration is
        // read again, so that a sound server started after this program is
        // found.
        snd_config_update_free_global();
        def = Probe(QStringLiteral("default"));
    }
    if (def.opened) {
        AlsaMixerEntry entry;
        entry.ctl = entry.pcm = QStringLiteral("default");
        entry.card = def.card;
        entry.name = def.name.isEmpty() ? QStringLiteral("default") : def.name;
        devices.append(entry);
    }
    int card = -1;
    while (snd_card_next(&card) == 0 && card >= 0) {
        if (def.opened && card == def.card) continue;
        const CtlFacts facts = Probe(QStringLiteral("hw:%1").arg(card));
        if (!facts.opened) continue;
        AlsaMixerEntry entry;
        entry.ctl = QStringLiteral("hw:%1").arg(card);
        entry.pcm = QStringLiteral("plughw:%1").arg(card);
        entry.card = card;
        entry.name = facts.name.isEmpty() ? QStringLiteral("Card %1").arg(card) : facts.name;
        devices.append(entry);
    }
    for (int i = 0; i < devices.size(); ++i) {
        QString name = Fit(devices[i].name);
        bool taken = false;
        for (int j = 0; j < i; ++j) taken = taken || devices[j].name == name;
        if (taken) {
            const QString suffix = QStringLiteral(" #%1").arg(i);
            // Leave room for the suffix.
            char cut[kProductNameLength - 8] = {};
            StoreName(cut, name);
            name = NameText(cut) + suffix;
        }
        devices[i].name = name;
    }
    return devices;
}

QString AlsaDeviceName(int mixerDevice) {
    const QList<AlsaMixerEntry> devices = AlsaMixerDevices();
    if (mixerDevice < 0 || mixerDevice >= devices.size()) return {};
    return devices[mixerDevice].name;
}

}  // namespace platform

namespace platform {

namespace {
void QuietHandler(const char*, int, const char*, int, const char*, ...) {}
}  // namespace

void SilenceAlsaDiagnostics() {
    static std::once_flag once;
    std::call_once(once, [] { snd_lib_error_set_handler(QuietHandler); });
}

QString AlsaDefaultDeviceName() {
    SilenceAlsaDiagnostics();
    const QList<AlsaMixerEntry> devices = AlsaMixerDevices();
    if (!devices.isEmpty() && devices.first().ctl == QLatin1String("default") && !devices.first().name.isEmpty())
        return devices.first().name;
    return QStringLiteral("default");
}

}  // namespace platform
