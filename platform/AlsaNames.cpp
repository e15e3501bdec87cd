#include "platform/AlsaNames.h"

#include <alsa/asoundlib.h>

#include <mutex>

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
    QString name;
    snd_ctl_t* ctl = nullptr;
    if (snd_ctl_open(&ctl, "default", 0) >= 0) {
        snd_ctl_card_info_t* info = nullptr;
        if (snd_ctl_card_info_malloc(&info) >= 0) {
            if (snd_ctl_card_info(ctl, info) >= 0)
                name = QString::fromUtf8(snd_ctl_card_info_get_name(info)).trimmed();
            snd_ctl_card_info_free(info);
        }
        snd_ctl_close(ctl);
    }
    return name.isEmpty() ? QStringLiteral("default") : name;
}

}  // namespace platform
