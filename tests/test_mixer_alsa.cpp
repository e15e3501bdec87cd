// SPDX-License-Identifier: GPL-3.0-or-later
// The ALSA mixer as the model sees it. Runs against whatever ALSA's default
// device is (the private sound server in CI) and skips without one. Values
// are only written back as they were read, so the sound server's volumes do
// not change under other tests.
#include <gtest/gtest.h>

#include "mixer/MixerControl.h"
#include "mixer/mixers.h"
#include "platform/AlsaNames.h"
#include "platform/Mixer.h"
#include "settings/publicunit.h"
#include "support/TestSupport.h"

namespace pf = platform;

namespace {

class AlsaMixerTest : public ::testing::Test {
protected:
    void SetUp() override {
        alsa = pf::MakeAlsaMixer();
        pf::Services().mixer = alsa.get();
        if (alsa->GetNumDevs() == 0) GTEST_SKIP() << "no ALSA mixer device here";
    }
    void TearDown() override {
        mixers->ReleaseMixers();
        RecordingSources.clear();
        mixers->RecordingVolumeCache = TRecordingVolumeCache{};
    }

    testing_support::TestEnvironment env;
    std::unique_ptr<pf::MixerDevice> alsa;
    MixerControl own;
    MixerControl* mixers = &own;
};

TEST_F(AlsaMixerTest, ProductNamesMatchTheSharedDeviceNames) {
    const QList<pf::AlsaMixerEntry> devices = pf::AlsaMixerDevices();
    ASSERT_EQ(uint32_t(devices.size()), alsa->GetNumDevs());
    EXPECT_EQ(devices[0].ctl, "default");
    for (int i = 0; i < devices.size(); ++i) {
        EXPECT_FALSE(devices[i].name.isEmpty());
        EXPECT_EQ(MixerProductName(uint32_t(i)), pf::AlsaDeviceName(i));
        EXPECT_LE(devices[i].name.toUtf8().size(), 31);
    }
    EXPECT_EQ(pf::AlsaDeviceName(devices.size()), QString());
    EXPECT_EQ(pf::AlsaDeviceName(-1), QString());
}

TEST_F(AlsaMixerTest, SoundServerShowsMasterAndCapture) {
    if (MixerProductName(0) != "PulseAudio") GTEST_SKIP() << "default device is no sound server";
    mixers->InitMixers();
    tMsMixer* mixer = mixers->MixerSystem()->GetMixer(0);
    ASSERT_NE(mixer, nullptr);
    ASSERT_EQ(mixer->DestinationCount(), 2);

    tMsMixerLine* speakers = mixer->GetDestination(0);
    EXPECT_EQ(speakers->GetLineInfo().dwComponentType, pf::kDstSpeakers);
    EXPECT_EQ(pf::NameText(speakers->LineInfo.szName), "Master");
    tMsMixerControl* volume = speakers->GetControl(0);
    ASSERT_NE(volume, nullptr);
    EXPECT_EQ(volume->ControlInfo.dwControlType, pf::kCtlVolume);
    EXPECT_EQ(volume->ControlInfo.Bounds.dwMinimum, 0u);
    EXPECT_EQ(volume->ControlInfo.Bounds.dwMaximum, 65535u);
    EXPECT_FALSE(volume->DetailsStale);
    EXPECT_EQ(volume->GetDetails().cChannels, 2u);

    tMsMixerLine* recording = mixer->GetDestination(1);
    EXPECT_EQ(recording->GetLineInfo().dwComponentType, pf::kDstWaveIn);
    EXPECT_EQ(RecordingSources, QStringList{"Capture"});
    EXPECT_FALSE(mixers->SourceOrderReversed);
    ASSERT_EQ(recording->ConnectionCount(), 1);
    tMsMixerLine* source = recording->GetConnection(0);
    EXPECT_EQ(pf::NameText(source->GetLineInfo().szShortName), "Capture");
    ASSERT_EQ(source->ControlCount(), 1);
    EXPECT_EQ(source->GetControl(0)->ControlInfo.dwControlType, pf::kCtlVolume);

    // Writing back what was read succeeds on every destination control.
    for (int c = 0; c < recording->ControlCount(); ++c) {
        tMsMixerControl* control = recording->GetControl(uint32_t(c));
        EXPECT_FALSE(control->DetailsStale);
        control->ApplyDetails();
        EXPECT_EQ(control->LastResult, pf::kMixerOk);
    }
}

TEST_F(AlsaMixerTest, RequestsOfTheWrongShapeAreRefused) {
    pf::MixerHandle handle = 0;
    ASSERT_EQ(alsa->Open(0, handle), pf::kMixerOk);
    pf::MIXERCAPS caps;
    ASSERT_EQ(alsa->GetDevCaps(handle, caps), pf::kMixerOk);
    EXPECT_EQ(alsa->GetDevCaps(handle + 1000, caps), pf::kMixerInvalHandle);
    pf::MIXERLINE line;
    line.cbStruct = sizeof line;
    line.dwDestination = caps.cDestinations;
    EXPECT_EQ(alsa->GetLineInfo(0, line, pf::kLineInfoDestination), pf::kMixerInvalLine);
    EXPECT_EQ(alsa->GetLineInfo(alsa->GetNumDevs(), line, pf::kLineInfoDestination), pf::kMixerBadDevice);
    if (caps.cDestinations > 0) {
        line.dwDestination = 0;
        ASSERT_EQ(alsa->GetLineInfo(0, line, pf::kLineInfoDestination), pf::kMixerOk);
        std::vector<pf::MIXERCONTROL> controls(line.cControls + 1);
        EXPECT_EQ(alsa->GetLineControls(0, line.dwLineID, line.cControls + 1, controls.data()),
                  pf::kMixerInvalParam);
        ASSERT_EQ(alsa->GetLineControls(0, line.dwLineID, line.cControls, controls.data()), pf::kMixerOk);
        uint32_t values[64] = {};
        pf::MIXERCONTROLDETAILS details;
        details.cbStruct = sizeof details;
        details.dwControlID = controls[0].dwControlID;
        details.cChannels = 1;
        details.cbDetails = 2;  // not a value record
        details.paDetails = values;
        EXPECT_EQ(alsa->GetControlDetails(0, details, pf::kDetailsValue), pf::kMixerInvalParam);
        details.cbDetails = 4;
        details.cChannels = 63;
        EXPECT_EQ(alsa->GetControlDetails(0, details, pf::kDetailsValue), pf::kMixerInvalParam);
        details.dwControlID = 0xFFFF;
        EXPECT_EQ(alsa->GetControlDetails(0, details, pf::kDetailsValue), pf::kMixerInvalControl);
    }
    EXPECT_EQ(alsa->Close(handle), pf::kMixerOk);
    EXPECT_EQ(alsa->Close(handle), pf::kMixerInvalHandle);
}

}  // namespace
