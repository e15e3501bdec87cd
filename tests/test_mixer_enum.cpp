// SPDX-License-Identifier: GPL-3.0-or-later
// The ALSA mixer over a card whose recording source is an enumeration with
// fewer channels than ALSA can name: ALSA's default control device is a test
// plugin without hardware, so no card is needed and a sound server is hidden.
#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <alsa/asoundlib.h>
#include <cstdlib>

#include "mixer/MixerControl.h"
#include "mixer/mixers.h"
#include "platform/Mixer.h"
#include "platform/Platform.h"
#include "settings/publicunit.h"

namespace pf = platform;

namespace {

class EnumMixerTest : public ::testing::Test {
protected:
    void SetUp() override {
        // The user's ALSA configuration of a home folder of its own makes the
        // plugin the default control device.
        ASSERT_TRUE(home.isValid());
        QFile rc(home.filePath(".asoundrc"));
        ASSERT_TRUE(rc.open(QIODevice::WriteOnly));
        rc.write("ctl_type.somoraenum { lib \"" SOMORA_ENUM_CTL_PLUGIN "\" }\n"
                 "ctl.!default { type somoraenum }\n");
        rc.close();
        ::setenv("HOME", QFile::encodeName(home.path()).constData(), 1);
        ::unsetenv("XDG_CONFIG_HOME");
        // A running sound server would make itself the default device instead.
        ::setenv("PULSE_SERVER", QFile::encodeName("unix:" + home.filePath("no-sound-server")).constData(), 1);
        snd_config_update_free_global();
        alsa = pf::MakeAlsaMixer();
        pf::Services().mixer = alsa.get();
    }
    void TearDown() override {
        mixers->ReleaseMixers();
        RecordingSources.clear();
        pf::Services().mixer = nullptr;
    }
    // The MUX control of the recording destination of device 0.
    tMsMixerControl* Mux() {
        tMsMixer* mixer = mixers->MixerSystem() ? mixers->MixerSystem()->GetMixer(0) : nullptr;
        for (int d = 0; mixer && d < mixer->DestinationCount(); ++d) {
            tMsMixerLine* line = mixer->GetDestination(uint32_t(d));
            if (line->GetLineInfo().dwComponentType != pf::kDstWaveIn) continue;
            for (int c = 0; c < line->ControlCount(); ++c)
                if (line->GetControl(uint32_t(c))->ControlInfo.dwControlType == pf::kCtlMux)
                    return line->GetControl(uint32_t(c));
        }
        return nullptr;
    }

    QTemporaryDir home;
    std::unique_ptr<pf::MixerDevice> alsa;
    MixerControl own;
    MixerControl* mixers = &own;
};

TEST_F(EnumMixerTest, SelectingASourceWritesTheEnumerationAndSucceeds) {
    mixers->InitMixers();
    ASSERT_EQ(MixerProductName(0), "Enum Card");
    ASSERT_EQ(RecordingSources, QStringList({"Mic", "Line In"}));
    tMsMixerControl* mux = Mux();
    ASSERT_NE(mux, nullptr);
    for (int source : {1, 0, 1}) {
        mixers->SelectRecordingSource(source);
        EXPECT_EQ(mux->LastResult, pf::kMixerOk) << source;
        // Read back from the device through a new collection.
        mixers->InitMixers();
        mux = Mux();
        ASSERT_NE(mux, nullptr);
        EXPECT_TRUE(mux->GetBoolValue(0, source)) << source;
        EXPECT_FALSE(mux->GetBoolValue(0, 1 - source)) << source;
    }
}

}  // namespace
