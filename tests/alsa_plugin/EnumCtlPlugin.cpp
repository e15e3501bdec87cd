// SPDX-License-Identifier: GPL-3.0-or-later
// An ALSA control plugin for tests: a card without hardware whose controls are
// a stereo "Capture Volume" and a mono "Input Source" enumeration ("Mic",
// "Line"). Like a driver, it refuses a channel that an element does not have.
// Loaded through an asoundrc entry:
//   ctl_type.somoraenum { lib "<path of this module>" }
//   ctl.!default { type somoraenum }
#include <alsa/asoundlib.h>
#include <alsa/control_external.h>

#include <cerrno>
#include <cstring>
#include <new>

namespace {

constexpr int kVolume = 0;
constexpr int kSource = 1;
constexpr const char* kNames[] = {"Capture Volume", "Input Source"};
constexpr const char* kItems[] = {"Mic", "Line"};

// The card's state outlives each opening, as a driver's does.
struct State {
    long volume[2] = {10, 10};
    unsigned source = 0;
};
State state;

struct Card {
    snd_ctl_ext_t ext{};
};

Card* Of(snd_ctl_ext_t* ext) { return static_cast<Card*>(ext->private_data); }

void Close(snd_ctl_ext_t* ext) { delete Of(ext); }

int ElemCount(snd_ctl_ext_t*) { return 2; }

int ElemList(snd_ctl_ext_t*, unsigned int offset, snd_ctl_elem_id_t* id) {
    if (offset > 1) return -EINVAL;
    snd_ctl_elem_id_set_interface(id, SND_CTL_ELEM_IFACE_MIXER);
    snd_ctl_elem_id_set_name(id, kNames[offset]);
    return 0;
}

snd_ctl_ext_key_t FindElem(snd_ctl_ext_t*, const snd_ctl_elem_id_t* id) {
    const char* name = snd_ctl_elem_id_get_name(id);
    for (unsigned long k = 0; k < 2; ++k)
        if (std::strcmp(name, kNames[k]) == 0) return k;
    return SND_CTL_EXT_KEY_NOT_FOUND;
}

int GetAttribute(snd_ctl_ext_t*, snd_ctl_ext_key_t key, int* type, unsigned int* acc, unsigned int* count) {
    *acc = SND_CTL_EXT_ACCESS_READWRITE;
    if (key == kVolume) {
        *type = SND_CTL_ELEM_TYPE_INTEGER;
        *count = 2;
    } else {
        *type = SND_CTL_ELEM_TYPE_ENUMERATED;
        *count = 1;
    }
    return 0;
}

int GetIntegerInfo(snd_ctl_ext_t*, snd_ctl_ext_key_t, long* imin, long* imax, long* istep) {
    *imin = 0;
    *imax = 31;
    *istep = 1;
    return 0;
}

int GetEnumeratedInfo(snd_ctl_ext_t*, snd_ctl_ext_key_t key, unsigned int* items) {
    if (key != kSource) return -EINVAL;
    *items = 2;
    return 0;
}

int GetEnumeratedName(snd_ctl_ext_t*, snd_ctl_ext_key_t key, unsigned int item, char* name, size_t max) {
    if (key != kSource || item > 1 || max == 0) return -EINVAL;
    std::strncpy(name, kItems[item], max - 1);
    name[max - 1] = '\0';
    return 0;
}

int ReadInteger(snd_ctl_ext_t*, snd_ctl_ext_key_t key, long* value) {
    if (key != kVolume) return -EINVAL;
    value[0] = state.volume[0];
    value[1] = state.volume[1];
    return 0;
}

int WriteInteger(snd_ctl_ext_t*, snd_ctl_ext_key_t key, long* value) {
    if (key != kVolume) return -EINVAL;
    state.volume[0] = value[0];
    state.volume[1] = value[1];
    return 1;
}

int ReadEnumerated(snd_ctl_ext_t*, snd_ctl_ext_key_t key, unsigned int* items) {
    if (key != kSource) return -EINVAL;
    items[0] = state.source;
    return 0;
}

int WriteEnumerated(snd_ctl_ext_t*, snd_ctl_ext_key_t key, unsigned int* items) {
    if (key != kSource || items[0] > 1) return -EINVAL;
    const bool changed = state.source != items[0];
    state.source = items[0];
    return changed ? 1 : 0;
}

void SubscribeEvents(snd_ctl_ext_t*, int) {}

int ReadEvent(snd_ctl_ext_t*, snd_ctl_elem_id_t*, unsigned int*) { return -EAGAIN; }

const snd_ctl_ext_callback_t kCallbacks = [] {
    snd_ctl_ext_callback_t c{};
    c.close = Close;
    c.elem_count = ElemCount;
    c.elem_list = ElemList;
    c.find_elem = FindElem;
    c.get_attribute = GetAttribute;
    c.get_integer_info = GetIntegerInfo;
    c.get_enumerated_info = GetEnumeratedInfo;
    c.get_enumerated_name = GetEnumeratedName;
    c.read_integer = ReadInteger;
    c.write_integer = WriteInteger;
    c.read_enumerated = ReadEnumerated;
    c.write_enumerated = WriteEnumerated;
    c.subscribe_events = SubscribeEvents;
    c.read_event = ReadEvent;
    return c;
}();

}  // namespace

extern "C" {

SND_CTL_PLUGIN_DEFINE_FUNC(somoraenum) {
    (void)root;
    (void)conf;
    auto* card = new (std::nothrow) Card;
    if (!card) return -ENOMEM;
    snd_ctl_ext_t& ext = card->ext;
    ext.version = SND_CTL_EXT_VERSION;
    ext.card_idx = 0;
    std::strncpy(ext.id, "SomoraEnum", sizeof ext.id - 1);
    std::strncpy(ext.driver, "SomoraEnum", sizeof ext.driver - 1);
    std::strncpy(ext.name, "Enum Card", sizeof ext.name - 1);
    std::strncpy(ext.longname, "Enum Card without hardware", sizeof ext.longname - 1);
    std::strncpy(ext.mixername, "Enum Card", sizeof ext.mixername - 1);
    ext.poll_fd = -1;
    ext.callback = &kCallbacks;
    ext.private_data = card;
    const int err = snd_ctl_ext_create(&ext, name, mode);
    if (err < 0) {
        delete card;
        return err;
    }
    *handlep = ext.handle;
    return 0;
}

SND_CTL_PLUGIN_SYMBOL(somoraenum)

}  // extern "C"
