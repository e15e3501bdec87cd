// SPDX-License-Identifier: GPL-3.0-or-later
// --list-mixers: the mixer model as the recorder sees it, for operators.
#include <QTextStream>

#include <cmath>
#include <cstdio>

#include "cli/Modes.h"
#include "mixer/MixerControl.h"
#include "mixer/mixers.h"
#include "platform/Mixer.h"
#include "platform/Platform.h"
#include "settings/publicunit.h"

namespace {

QString Hex(uint32_t value) { return QStringLiteral("0x%1").arg(value, 8, 16, QLatin1Char('0')); }

QString ComponentName(uint32_t type) {
    switch (type) {
    case platform::kDstSpeakers: return QStringLiteral("speakers");
    case platform::kDstHeadphones: return QStringLiteral("headphones");
    case platform::kDstWaveIn: return QStringLiteral("recording");
    case platform::kSrcLine: return QStringLiteral("line input");
    case platform::kSrcMicrophone: return QStringLiteral("microphone");
    case platform::kSrcCompactDisc: return QStringLiteral("compact disc");
    case platform::kSrcAuxiliary: return QStringLiteral("auxiliary");
    case platform::kSrcDigital: return QStringLiteral("digital");
    case platform::kSrcAnalog: return QStringLiteral("analog");
    case platform::kSrcUndefined: return QStringLiteral("source");
    default: return QStringLiteral("type %1").arg(Hex(type));
    }
}

QString ControlTypeName(uint32_t type) {
    switch (type) {
    case platform::kCtlVolume: return QStringLiteral("VOLUME");
    case platform::kCtlMute: return QStringLiteral("MUTE");
    case platform::kCtlMux: return QStringLiteral("MUX");
    case platform::kCtlMixer: return QStringLiteral("MIXER");
    case platform::kCtlSingleSelect: return QStringLiteral("SINGLESELECT");
    case platform::kCtlMultipleSelect: return QStringLiteral("MULTIPLESELECT");
    case platform::kCtlCustom: return QStringLiteral("CUSTOM");
    default: return Hex(type);
    }
}

// A VOLUME value as the gain it stands for, where the device says: " (+0.0 dB)".
QString Decibels(uint32_t device, const MIXERCONTROL& info, uint32_t value) {
    platform::MixerDevice* mixer = platform::Services().mixer;
    double dB = 0;
    if (!mixer || !mixer->VolumeDecibels(device, info.dwControlID, value, dB)) return {};
    if (std::isinf(dB)) return QStringLiteral("-inf dB");
    return QStringLiteral("%1%2 dB").arg(dB >= 0 ? "+" : "").arg(dB, 0, 'f', 1);
}

void PrintControl(QTextStream& out, tMsMixerControl* control, uint32_t device, const QString& indent) {
    const MIXERCONTROL& info = control->ControlInfo;
    const MIXERCONTROLDETAILS& details = control->GetDetails();
    out << indent << "control " << ControlTypeName(info.dwControlType) << " \""
        << platform::NameText(info.szName) << "\"";
    if (control->DetailsStale) {
        out << ": unreadable (error " << control->LastResult << ")\n";
        return;
    }
    if (info.dwControlType == platform::kCtlMux || !control->ListTexts.isEmpty()) {
        out << ", items:\n";
        for (int k = 0; k < control->ListTexts.size(); ++k)
            out << indent << "  [" << (control->CachedValue(0, k) ? "x" : " ") << "] " << k << " "
                << control->ListTexts[k] << "\n";
        return;
    }
    if (info.dwControlType == platform::kCtlMute) {
        out << ": " << (control->CachedValue(0, 0) ? "muted" : "on") << "\n";
        return;
    }
    out << ", bounds " << info.Bounds.dwMinimum << ".." << info.Bounds.dwMaximum;
    const bool volume = info.dwControlType == platform::kCtlVolume;
    if (volume) {
        const QString low = Decibels(device, info, info.Bounds.dwMinimum);
        const QString high = Decibels(device, info, info.Bounds.dwMaximum);
        if (!low.isEmpty() && !high.isEmpty()) out << " (" << low << " .. " << high << ")";
    }
    out << ", values";
    if (details.cChannels == 0) out << " (none)";
    QStringList gains;
    for (uint32_t c = 0; c < details.cChannels && c < 256; ++c) {
        const uint32_t value = control->CachedValue(uint8_t(c), 0);
        out << " " << value;
        if (volume) gains << Decibels(device, info, value);
    }
    if (!gains.isEmpty() && !gains.contains(QString())) out << " (" << gains.join(QStringLiteral(", ")) << ")";
    out << "\n";
}

void PrintLine(QTextStream& out, tMsMixerLine* line, uint32_t device, const QString& label, const QString& indent) {
    const MIXERLINE& info = line->GetLineInfo();
    out << indent << label << " \"" << platform::NameText(info.szName) << "\" (" << ComponentName(info.dwComponentType)
        << ", " << info.cChannels << (info.cChannels == 1 ? " channel" : " channels") << ")";
    if (line->InfoStale) out << " unreadable (error " << line->LastResult << ")";
    out << "\n";
    for (int c = 0; c < line->ControlCount(); ++c) PrintControl(out, line->GetControl(uint32_t(c)), device, indent + "  ");
}

}  // namespace

int RunListMixers() {
    // Only the mixer platform is needed here.
    platform::ServiceSet& services = platform::Services();
    if (!services.mixer) services.mixer = platform::MakeAlsaMixer().release();
    platform::FixServices();

    QString text;
    QTextStream out(&text);
    MixerControl mixers;
    mixers.InitMixers();
    tMsMixerSystem* system = mixers.MixerSystem();
    const int count = system ? system->MixerCount() : 0;
    if (count == 0) out << "no mixer devices\n";
    for (int i = 0; i < count; ++i) {
        tMsMixer* mixer = system->GetMixer(uint32_t(i));
        const MIXERCAPS& caps = mixer->GetCaps();
        out << "mixer " << i << " \"" << platform::NameText(caps.szPname) << "\"";
        if (mixer->CapsStale) out << " unreadable (error " << mixer->LastResult << ")";
        out << ", " << mixer->DestinationCount() << " destinations\n";
        for (int d = 0; d < mixer->DestinationCount(); ++d) {
            tMsMixerLine* destination = mixer->GetDestination(uint32_t(d));
            PrintLine(out, destination, mixer->DeviceId, QStringLiteral("destination %1").arg(d), QStringLiteral("  "));
            for (int s = 0; s < destination->ConnectionCount(); ++s) {
                tMsMixerLine* source = destination->GetConnection(uint32_t(s));
                PrintLine(out, source, mixer->DeviceId, QStringLiteral("source %1").arg(source->GetLineInfo().dwSource),
                          QStringLiteral("    "));
            }
        }
    }
    if (count > 0) {
        out << "recording sources:";
        if (RecordingSources.isEmpty()) out << " none";
        for (int k = 0; k < RecordingSources.size(); ++k) out << (k ? ", " : " ") << k << " \"" << RecordingSources[k] << "\"";
        out << (RecordingSources.isEmpty() ? "" : mixers.SourceOrderReversed ? " (MUX order opposite to the sources)" : "")
            << "\n";
    }
    out.flush();
    const QByteArray utf8 = text.toUtf8();
    std::fwrite(utf8.constData(), 1, size_t(utf8.size()), stdout);
    return 0;
}
