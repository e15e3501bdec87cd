// SPDX-License-Identifier: GPL-3.0-or-later
// The mixer object model over the in-memory mixer.
#include <gtest/gtest.h>

#include "mixer/MixerControl.h"
#include "mixer/mixers.h"
#include "support/FakeMixer.h"
#include "support/TestSupport.h"

using platform::FakeMixer;
namespace pf = platform;

namespace {

class MixerModelTest : public ::testing::Test {
protected:
    void SetUp() override { pf::Services().mixer = &fake; }

    // One device with a stereo speaker destination (VOLUME) and a recording
    // destination with `sources` sources named S0, S1, … by source number.
    FakeMixer::Destination& Card(int sources = 3) {
        FakeMixer::Device& device = fake.AddDevice(QStringLiteral("Venue Card"));
        FakeMixer::Destination& speakers = fake.AddDestination(device, pf::kDstSpeakers, 2, "Speakers");
        fake.AddControl(speakers, pf::kCtlVolume, 0);
        FakeMixer::Destination& wavein = fake.AddDestination(device, pf::kDstWaveIn, 2, "Recording");
        for (int s = 0; s < sources; ++s) fake.AddSource(wavein, pf::kSrcLine, 2, QStringLiteral("S%1").arg(s));
        return wavein;
    }

    testing_support::TestEnvironment env;
    FakeMixer fake;
};

TEST_F(MixerModelTest, NoMixerPlatformOrNoDeviceGivesAnEmptyCollection) {
    pf::Services().mixer = nullptr;
    tMsMixerSystem none;
    EXPECT_EQ(none.MixerCount(), 0);
    EXPECT_EQ(none.GetMixer(0), nullptr);

    pf::Services().mixer = &fake;
    tMsMixerSystem empty;
    EXPECT_EQ(empty.MixerCount(), 0);
    EXPECT_EQ(empty.GetMixer(0), nullptr);
    EXPECT_EQ(fake.calls.numDevs, 1);
    EXPECT_EQ(fake.calls.open, 0);
}

TEST_F(MixerModelTest, DevicesOpenAtCreationAndCloseWithTheCollection) {
    Card();
    fake.AddDevice("Second");
    {
        tMsMixerSystem system;
        ASSERT_EQ(system.MixerCount(), 2);
        EXPECT_TRUE(system.GetMixer(0)->Active());
        EXPECT_EQ(system.GetMixer(1)->DeviceId, 1u);
        EXPECT_EQ(fake.devices[0].openNow, 1);
        system.Enumerate();  // the old objects go, closing their devices
        EXPECT_EQ(fake.devices[0].openNow, 1);
        EXPECT_EQ(fake.devices[1].openNow, 1);
    }
    EXPECT_EQ(fake.devices[0].openNow, 0);
    EXPECT_EQ(fake.devices[1].openNow, 0);
}

TEST_F(MixerModelTest, CapabilitiesAreAskedOnceAfterSuccessAndRetriedAfterFailure) {
    Card();
    fake.devices[0].capsResult = pf::kMixerError;
    tMsMixerSystem system;
    tMsMixer* mixer = system.GetMixer(0);
    mixer->BuildDestinations();
    EXPECT_EQ(mixer->DestinationCount(), 0);
    EXPECT_TRUE(mixer->CapsStale);
    EXPECT_EQ(mixer->LastResult, pf::kMixerError);

    fake.devices[0].capsResult = pf::kMixerOk;
    EXPECT_EQ(pf::NameText(mixer->GetCaps().szPname), "Venue Card");
    mixer->BuildDestinations();
    EXPECT_EQ(mixer->DestinationCount(), 2);
    EXPECT_EQ(fake.calls.caps, 2);
    EXPECT_EQ(fake.calls.lineInfo, 0);  // lines are queried on first use
}

TEST_F(MixerModelTest, ADeviceThatFailsToOpenHasNoLinesAndIsNeverAsked) {
    Card();
    fake.devices[0].openResult = pf::kMixerError;
    tMsMixerSystem system;
    tMsMixer* mixer = system.GetMixer(0);
    ASSERT_NE(mixer, nullptr);
    EXPECT_FALSE(mixer->Active());
    EXPECT_FALSE(mixer->CapsStale);
    mixer->BuildDestinations();
    EXPECT_EQ(mixer->DestinationCount(), 0);
    EXPECT_EQ(fake.calls.caps, 0);
}

TEST_F(MixerModelTest, ConnectionsRunFromTheHighestSourceNumberDown) {
    Card(3);
    fake.devices[0].destinations[1].sources[1].infoResult = pf::kMixerInvalLine;
    tMsMixerSystem system;
    tMsMixer* mixer = system.GetMixer(0);
    mixer->BuildDestinations();
    tMsMixerLine* wavein = mixer->GetDestination(1);
    wavein->BuildConnections();
    ASSERT_EQ(wavein->ConnectionCount(), 3);
    EXPECT_EQ(wavein->GetConnection(0)->LineInfo.dwSource, 2u);
    EXPECT_EQ(pf::NameText(wavein->GetConnection(0)->LineInfo.szShortName), "S2");
    EXPECT_EQ(wavein->GetConnection(2)->LineInfo.dwSource, 0u);
    EXPECT_EQ(wavein->GetConnection(0)->Mixer, mixer);
    EXPECT_TRUE(wavein->GetConnection(0)->IsSource);
    // The failed source stays stale and keeps a zero record; its
    // destination carries the result of the last source query.
    EXPECT_TRUE(wavein->GetConnection(1)->InfoStale);
    EXPECT_EQ(wavein->GetConnection(1)->LineInfo.dwComponentType, 0u);
    EXPECT_EQ(wavein->LastResult, pf::kMixerOk);
    EXPECT_EQ(wavein->GetConnection(1)->GetLineInfo().dwComponentType, 0u);  // retried, fails again
    fake.devices[0].destinations[1].sources[1].infoResult = pf::kMixerOk;
    EXPECT_EQ(wavein->GetConnection(1)->GetLineInfo().dwComponentType, pf::kSrcLine);
    EXPECT_FALSE(wavein->GetConnection(1)->InfoStale);
}

TEST_F(MixerModelTest, OutOfRangeAndNegativeIndexesYieldNull) {
    Card(1);
    tMsMixerSystem system;
    tMsMixer* mixer = system.GetMixer(0);
    mixer->BuildDestinations();
    tMsMixerLine* wavein = mixer->GetDestination(1);
    wavein->BuildConnections();
    wavein->GetConnection(0)->BuildControls();
    EXPECT_EQ(system.GetMixer(1), nullptr);
    EXPECT_EQ(system.GetMixer(uint32_t(-1)), nullptr);
    EXPECT_EQ(mixer->GetDestination(2), nullptr);
    EXPECT_EQ(mixer->GetDestination(uint32_t(-1)), nullptr);
    EXPECT_EQ(wavein->GetConnection(1), nullptr);
    EXPECT_EQ(wavein->GetConnection(0)->GetConnection(0), nullptr);  // a source line has none
    EXPECT_EQ(wavein->GetConnection(0)->ConnectionCount(), 0);
    EXPECT_EQ(wavein->GetControl(0), nullptr);
    EXPECT_EQ(wavein->GetControl(uint32_t(-1)), nullptr);
}

TEST_F(MixerModelTest, FailedControlListLeavesTheLineWithoutControls) {
    Card();
    fake.devices[0].destinations[0].controlsResult = pf::kMixerError;
    tMsMixerSystem system;
    tMsMixer* mixer = system.GetMixer(0);
    mixer->BuildDestinations();
    tMsMixerLine* speakers = mixer->GetDestination(0);
    speakers->BuildControls();
    EXPECT_EQ(speakers->ControlCount(), 0);
    EXPECT_EQ(speakers->LastResult, pf::kMixerError);
    fake.devices[0].destinations[0].controlsResult = pf::kMixerOk;
    speakers->BuildControls();
    ASSERT_EQ(speakers->ControlCount(), 1);
    EXPECT_EQ(speakers->GetControl(0)->ControlInfo.dwControlType, pf::kCtlVolume);
    EXPECT_EQ(speakers->GetControl(0)->Line, speakers);
}

// Builds the model down to the controls of destination `d`.
struct Loaded {
    explicit Loaded(uint32_t d) : system(std::make_unique<tMsMixerSystem>()) {
        system->GetMixer(0)->BuildDestinations();
        line = system->GetMixer(0)->GetDestination(d);
        line->BuildControls();
    }
    std::unique_ptr<tMsMixerSystem> system;
    tMsMixerLine* line = nullptr;
};

TEST_F(MixerModelTest, UniformMultipleMuxReadsOneChannelOfItemsAndWritesThemAll) {
    FakeMixer::Destination& wavein = Card();
    FakeMixer::Control& mux = fake.AddMux(wavein, {"Mic", "Line In", "CD", "Mix"}, 1);
    Loaded model(1);
    tMsMixerControl* control = model.line->GetControl(0);
    const MIXERCONTROLDETAILS& details = control->GetDetails();
    EXPECT_EQ(details.cChannels, 1u);
    EXPECT_EQ(details.cMultipleItems, 4u);
    EXPECT_EQ(details.cbDetails, 4u);
    EXPECT_EQ(control->ListTexts, QStringList({"Mic", "Line In", "CD", "Mix"}));
    EXPECT_TRUE(control->GetBoolValue(0, 1));
    EXPECT_FALSE(control->GetBoolValue(0, 2));

    control->SetBoolValue(0, 2, true);
    ASSERT_EQ(mux.writes.size(), 1u);
    EXPECT_EQ(mux.writes[0], (std::vector<uint32_t>{0, 0xFFFFFFFFu, 0xFFFFFFFFu, 0}));
    EXPECT_EQ(fake.calls.valueReads, 1);  // the write needed no new read
    EXPECT_EQ(fake.calls.textReads, 1);
}

TEST_F(MixerModelTest, StereoVolumeIsChannelIndexedAndIgnoresTheItem) {
    FakeMixer::Destination& wavein = Card();
    FakeMixer::Control& volume = fake.AddControl(wavein, pf::kCtlVolume, 0);
    volume.values = {100, 200};
    Loaded model(1);
    tMsMixerControl* control = model.line->GetControl(0);
    EXPECT_EQ(control->GetDetails().cChannels, 2u);
    EXPECT_EQ(control->GetDetails().cMultipleItems, 0u);
    EXPECT_EQ(control->CachedValue(1, 0), 200u);
    EXPECT_EQ(control->CachedValue(1, 5), 200u);
    control->SetValue(1, 5, 777);
    ASSERT_EQ(volume.writes.size(), 1u);
    EXPECT_EQ(volume.writes[0], (std::vector<uint32_t>{100, 777}));
    EXPECT_TRUE(control->ListTexts.isEmpty());
    EXPECT_EQ(fake.calls.textReads, 0);  // no names for a fader
    // Outside the values nothing is written.
    control->SetValue(2, 0, 1);
    EXPECT_EQ(volume.writes.size(), 1u);
}

TEST_F(MixerModelTest, ValueSizesFollowTheControlType) {
    FakeMixer::Destination& wavein = Card();
    FakeMixer::Control& boost = fake.AddControl(wavein, pf::kCtlBassBoost, pf::kCtlfUniform);
    FakeMixer::Control& custom = fake.AddControl(wavein, pf::kCtlCustom, 0);
    custom.info.Metrics.cbCustomData = 12;
    custom.valueSize = 12;
    Loaded model(1);

    tMsMixerControl* unknown = model.line->GetControl(0);
    EXPECT_EQ(unknown->GetDetails().cbDetails, 0u);
    EXPECT_EQ(unknown->ValueCount(), 0u);
    EXPECT_TRUE(unknown->DetailsStale);  // the device wants 4-byte records
    unknown->GetDetails();
    EXPECT_EQ(fake.calls.valueReads, 2);  // every access retries
    boost.valueSize = 0;                  // a device that accepts it
    unknown->GetDetails();
    EXPECT_FALSE(unknown->DetailsStale);
    unknown->SetValue(0, 0, 1);  // no room for a value: nothing sent
    EXPECT_EQ(fake.calls.writes, 0);

    tMsMixerControl* own = model.line->GetControl(1);
    const MIXERCONTROLDETAILS& details = own->GetDetails();
    EXPECT_EQ(details.cChannels, 0u);
    EXPECT_EQ(details.cbDetails, 12u);
    EXPECT_FALSE(own->DetailsStale);
}

TEST_F(MixerModelTest, DetailsAreReadOnceAfterSuccessAndRetriedWhileFailing) {
    FakeMixer::Destination& wavein = Card();
    FakeMixer::Control& mux = fake.AddMux(wavein, {"A", "B"}, 0);
    mux.readResult = pf::kMixerError;
    mux.textResult = pf::kMixerError;
    Loaded model(1);
    tMsMixerControl* control = model.line->GetControl(0);
    control->GetDetails();
    EXPECT_TRUE(control->DetailsStale);
    EXPECT_TRUE(control->ListTexts.isEmpty());
    EXPECT_EQ(control->LastResult, pf::kMixerError);

    mux.readResult = pf::kMixerOk;  // the names still fail, the values succeed
    control->GetDetails();
    EXPECT_FALSE(control->DetailsStale);
    EXPECT_TRUE(control->ListTexts.isEmpty());
    const int before = fake.calls.Total();
    control->GetDetails();
    control->GetBoolValue(0, 0);
    EXPECT_EQ(fake.calls.Total(), before);
}

TEST_F(MixerModelTest, MultipleControlWithoutItemsStaysInsideItsBuffer) {
    FakeMixer::Destination& wavein = Card();
    fake.AddControl(wavein, pf::kCtlMixer, pf::kCtlfMultiple);  // two channels, no items
    Loaded model(1);
    tMsMixerControl* control = model.line->GetControl(0);
    control->GetDetails();
    EXPECT_EQ(control->ValueCount(), 2u);
    EXPECT_FALSE(control->DetailsStale);
}

TEST_F(MixerModelTest, FailedWriteIsKeptInLastResultOnly) {
    FakeMixer::Destination& wavein = Card();
    FakeMixer::Control& volume = fake.AddControl(wavein, pf::kCtlVolume, pf::kCtlfUniform);
    volume.writeResult = pf::kMixerError;
    Loaded model(1);
    tMsMixerControl* control = model.line->GetControl(0);
    control->SetValue(0, 0, 5);
    EXPECT_EQ(control->LastResult, pf::kMixerError);
    EXPECT_EQ(control->CachedValue(0, 0), 5u);  // the cache is not read back
    EXPECT_EQ(volume.values[0], 0u);
}

}  // namespace
