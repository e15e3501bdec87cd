// SPDX-License-Identifier: GPL-3.0-or-later
// The mixer operations on mixer device 0, over the in-memory mixer.
#include <gtest/gtest.h>

#include <QApplication>
#include <QComboBox>
#include <QDir>
#include <QMouseEvent>
#include <QPushButton>

#include <memory>

#include "app/Unit1.h"
#include "capture/TakeWriter.h"
#include "capture/Unit2.h"
#include "support/FakeWaveIn.h"
#include "app/Unit3.h"
#include "session/RecorderSession.h"
#include "mixer/MixerControl.h"
#include "mixer/mixers.h"
#include "support/FakeMixer.h"
#include "settings/publicunit.h"
#include "support/TestSupport.h"

using platform::FakeMixer;
namespace pf = platform;

namespace {

constexpr uint32_t kOn = 0xFFFFFFFFu;

class MixerOperationsTest : public ::testing::Test {
protected:
    void SetUp() override {
        pf::Services().mixer = &fake;
        Reset();
    }
    void TearDown() override { Reset(); }
    void Reset() {
        mixer->ReleaseMixers();
        RecordingSources.clear();
        mixer->SourceOrderReversed = false;
        mixer->RecordingVolumeCache = TRecordingVolumeCache{};
        RecordingVolumeSet = RecordingVolumeNow = 0;
    }

    // A sound card: stereo speakers with a VOLUME, and a recording
    // destination whose sources 0, 1, 2 are Microphone (mono), Line In and
    // Stereo Mix (stereo), each with a VOLUME, and whose MUX lists `items`
    // with `selected` set.
    void Card(const QStringList& items, int selected = 0, uint32_t minimum = 0, uint32_t maximum = 65535) {
        FakeMixer::Device& device = fake.AddDevice(QStringLiteral("Venue Card"));
        speakers = &fake.AddDestination(device, pf::kDstSpeakers, 2, "Speakers");
        speakerVolume = &fake.AddControl(*speakers, pf::kCtlVolume, 0, minimum, maximum);
        wavein = &fake.AddDestination(device, pf::kDstWaveIn, 2, "Recording");
        FakeMixer::Line& mic = fake.AddSource(*wavein, pf::kSrcMicrophone, 1, "Microphone");
        FakeMixer::Line& line = fake.AddSource(*wavein, pf::kSrcLine, 2, "Line In");
        FakeMixer::Line& mix = fake.AddSource(*wavein, pf::kSrcAnalog, 2, "Stereo Mix");
        fake.AddControl(mic, pf::kCtlMute, pf::kCtlfUniform, 0, 1);
        micVolume = &fake.AddControl(mic, pf::kCtlVolume, 0, minimum, maximum);
        lineVolume = &fake.AddControl(line, pf::kCtlVolume, 0, minimum, maximum);
        mixVolume = &fake.AddControl(mix, pf::kCtlVolume, 0, minimum, maximum);
        mux = &fake.AddMux(*wavein, items, selected);
    }
    void NaturalCard(int selected = 0) { Card({"Stereo Mix", "Line In", "Microphone"}, selected); }

    testing_support::TestEnvironment env;
    FakeMixer fake;
    MixerControl own;
    MixerControl* mixer = &own;  // the session's in the window's tests
    FakeMixer::Destination* speakers = nullptr;
    FakeMixer::Destination* wavein = nullptr;
    FakeMixer::Control* speakerVolume = nullptr;
    FakeMixer::Control* micVolume = nullptr;
    FakeMixer::Control* lineVolume = nullptr;
    FakeMixer::Control* mixVolume = nullptr;
    FakeMixer::Control* mux = nullptr;
};

TEST_F(MixerOperationsTest, MuxInConnectionOrderDrivesTheSameConnection) {
    NaturalCard();
    mixer->InitMixers();
    EXPECT_EQ(RecordingSources, QStringList({"Stereo Mix", "Line In", "Microphone"}));
    EXPECT_FALSE(mixer->SourceOrderReversed);
    mixer->SelectRecordingSource(1);
    mixer->SetRecordingVolume(25);
    ASSERT_EQ(lineVolume->writes.size(), 2u);
    EXPECT_EQ(lineVolume->values, (std::vector<uint32_t>{16384, 16384}));
    EXPECT_TRUE(micVolume->writes.empty());
    EXPECT_TRUE(mixVolume->writes.empty());
    EXPECT_EQ(mixer->RecordingVolumeCache.Connection, 1);
}

TEST_F(MixerOperationsTest, MuxInSourceOrderIsDetectedAsReversed) {
    Card({"Microphone", "Line In", "Stereo Mix"});
    mixer->InitMixers();
    EXPECT_TRUE(mixer->SourceOrderReversed);
    mixer->SelectRecordingSource(0);
    mixer->SetRecordingVolume(25);
    // Item 0 is connection 2, source 0: the mono microphone, one write.
    EXPECT_EQ(mixer->RecordingVolumeCache.Connection, 2);
    ASSERT_EQ(micVolume->writes.size(), 1u);
    EXPECT_EQ(micVolume->values[0], 16384u);
    EXPECT_TRUE(lineVolume->writes.empty());
}

TEST_F(MixerOperationsTest, SourceOrderStaysWhenThereIsNothingToCompare) {
    Card({}, -1);
    mixer->SourceOrderReversed = true;
    mixer->InitMixers();
    EXPECT_TRUE(RecordingSources.isEmpty());
    EXPECT_TRUE(mixer->SourceOrderReversed);
}

struct Expected {
    int percent;
    uint32_t value;
};

class VolumeFormula : public MixerOperationsTest, public ::testing::WithParamInterface<Expected> {};

TEST_P(VolumeFormula, BothKindsOnBounds0To65535) {
    NaturalCard(1);
    mixer->InitMixers();
    mixer->SetPlayingVolume(GetParam().percent);
    mixer->ApplyRecordingVolume(GetParam().percent);
    EXPECT_EQ(speakerVolume->values, (std::vector<uint32_t>{GetParam().value, GetParam().value}));
    EXPECT_EQ(lineVolume->values, (std::vector<uint32_t>{GetParam().value, GetParam().value}));
}

INSTANTIATE_TEST_SUITE_P(HalvesToEven, VolumeFormula,
                         ::testing::Values(Expected{25, 16384}, Expected{10, 6554}, Expected{30, 19660},
                                           Expected{99, 64880}, Expected{0, 0}, Expected{100, 65535}));

TEST_F(MixerOperationsTest, OnlyTheDestinationFormulaAddsTheMinimumBack) {
    Card({"Stereo Mix", "Line In", "Microphone"}, 1, 100, 1100);
    mixer->InitMixers();
    mixer->SetPlayingVolume(50);
    mixer->ApplyRecordingVolume(50);
    EXPECT_EQ(speakerVolume->values[0], 600u);
    EXPECT_EQ(lineVolume->values[0], 500u);
    EXPECT_EQ(mixer->RecordingVolumeCache.Minimum, 100u);
    EXPECT_EQ(mixer->RecordingVolumeCache.Maximum, 1100u);
}

TEST_F(MixerOperationsTest, MonoSourceGetsOneWriteStereoTwoWithTheSameValue) {
    NaturalCard(2);  // Microphone, mono
    mixer->InitMixers();
    mixer->ApplyRecordingVolume(40);
    EXPECT_EQ(micVolume->writes, (std::vector<std::vector<uint32_t>>{{26214}}));

    mixer->SelectRecordingSource(0);  // Stereo Mix
    mixVolume->values = {7, 9};
    mixer->ApplyRecordingVolume(40);
    EXPECT_EQ(mixVolume->writes, (std::vector<std::vector<uint32_t>>{{26214, 9}, {26214, 26214}}));
}

TEST_F(MixerOperationsTest, StereoSourceWithUniformVolumeGetsOneWrite) {
    NaturalCard(1);
    lineVolume->info.fdwControl = pf::kCtlfUniform;
    lineVolume->channels = 1;
    lineVolume->values = {0};
    mixer->InitMixers();
    mixer->ApplyRecordingVolume(50);
    EXPECT_EQ(lineVolume->writes, (std::vector<std::vector<uint32_t>>{{32768}}));
}

TEST_F(MixerOperationsTest, ResolvedRecordingVolumeMakesNoFurtherQueries) {
    NaturalCard(1);
    mixer->InitMixers();
    mixer->SetRecordingVolume(30);
    EXPECT_EQ(mixer->RecordingVolumeCache.Marker, 12345);
    fake.calls = {};
    mixer->ApplyRecordingVolume(20);
    mixer->ApplyRecordingVolume(10);
    mixer->SetPlayingVolume(20);
    EXPECT_EQ(fake.calls.writes, 6);
    EXPECT_EQ(fake.calls.Total(), 6);
}

TEST_F(MixerOperationsTest, LoadReadsDestinationControlsButNotSourceControls) {
    NaturalCard(1);
    mixer->InitMixers();
    EXPECT_EQ(fake.calls.valueReads, 2);  // speaker volume and MUX
    const int before = fake.calls.valueReads;
    mixer->ApplyRecordingVolume(10);
    EXPECT_EQ(fake.calls.valueReads, before + 1);  // the line-in volume, on first use
}

TEST_F(MixerOperationsTest, SelectionWritesEveryItemAndInvalidatesTheCache) {
    Card({"A", "B", "C", "D"}, 1);
    mixer->InitMixers();
    mixer->ApplyRecordingVolume(10);
    ASSERT_EQ(mixer->RecordingVolumeCache.Marker, 12345);

    mixer->SelectRecordingSource(3);
    EXPECT_EQ(mixer->RecordingVolumeCache.Marker, 0);
    const std::vector<std::vector<uint32_t>> expected{
        {0, kOn, 0, 0}, {0, 0, 0, 0}, {0, 0, 0, 0}, {0, 0, 0, kOn}};
    EXPECT_EQ(mux->writes, expected);

    mux->writes.clear();
    mixer->SelectRecordingSource(7);
    ASSERT_EQ(mux->writes.size(), 4u);
    EXPECT_EQ(mux->writes.back(), (std::vector<uint32_t>(4, 0)));
    mixer->SelectRecordingSource(-1);
    EXPECT_EQ(mux->writes.back(), (std::vector<uint32_t>(4, 0)));
}

TEST_F(MixerOperationsTest, NewSelectionIsResolvedAgain) {
    NaturalCard(1);
    mixer->InitMixers();
    mixer->ApplyRecordingVolume(50);
    mixer->SelectRecordingSource(2);
    mixer->ApplyRecordingVolume(50);
    EXPECT_EQ(mixer->RecordingVolumeCache.Connection, 2);
    EXPECT_EQ(mixer->RecordingVolumeCache.Channels, 1);
    EXPECT_EQ(micVolume->values[0], 32768u);
}

TEST_F(MixerOperationsTest, NoSelectedItemOrNoVolumeControlDoesNothing) {
    Card({"Stereo Mix", "Line In", "Microphone"}, -1);
    mixer->InitMixers();
    mixer->SetRecordingVolume(50);
    EXPECT_EQ(mixer->RecordingVolumeCache.Marker, 0);
    EXPECT_EQ(fake.calls.writes, 0);
    EXPECT_EQ(RecordingVolumeSet, 50);
    EXPECT_EQ(RecordingVolumeNow, 50);

    mixer->SelectRecordingSource(1);
    fake.devices[0].destinations[1].sources[1].controls.clear();  // Line In loses its volume
    mixer->ReleaseMixers();
    mixer->InitMixers();
    fake.calls = {};
    mixer->ApplyRecordingVolume(50);
    EXPECT_EQ(mixer->RecordingVolumeCache.Marker, 0);
    EXPECT_EQ(fake.calls.writes, 0);
}

TEST_F(MixerOperationsTest, MachineWithoutMixersOnlyRecordsThePercentage) {
    for (pf::MixerDevice* platform : {static_cast<pf::MixerDevice*>(nullptr), static_cast<pf::MixerDevice*>(&fake)}) {
        pf::Services().mixer = platform;
        mixer->InitMixers();
        ASSERT_NE(mixer->MixerSystem(), nullptr);
        EXPECT_EQ(mixer->MixerSystem()->MixerCount(), 0);
        EXPECT_TRUE(RecordingSources.isEmpty());
        mixer->SelectRecordingSource(0);
        mixer->SetPlayingVolume(50);
        mixer->SetRecordingVolume(33);
        EXPECT_EQ(RecordingVolumeSet, 33);
        EXPECT_EQ(RecordingVolumeNow, 33);
        EXPECT_EQ(MixerProductName(0), QString());
        EXPECT_EQ(FindLineInSource(), 0);
    }
}

TEST_F(MixerOperationsTest, PlayingVolumeSetsHeadphonesWhenPresentEvenAfterASpeakerFailure) {
    NaturalCard();
    mixer->InitMixers();
    mixer->SetPlayingVolume(50);
    EXPECT_EQ(speakerVolume->writes.size(), 2u);

    FakeMixer::Destination& phones = fake.AddDestination(fake.devices[0], pf::kDstHeadphones, 2, "Phones");
    FakeMixer::Control& phoneVolume = fake.AddControl(phones, pf::kCtlVolume, 0);
    speakerVolume->writeResult = pf::kMixerError;
    mixer->InitMixers();
    testing::internal::CaptureStderr();
    mixer->SetPlayingVolume(50);
    // The refused write is said, once per channel, and the headphones still get theirs.
    EXPECT_EQ(QString::fromStdString(testing::internal::GetCapturedStderr()).count("mixer: cannot set the playing volume"), 2);
    EXPECT_EQ(phoneVolume.values, (std::vector<uint32_t>{32768, 32768}));
    EXPECT_EQ(mixer->MixerSystem()->GetMixer(0)->GetDestination(0)->GetControl(0)->LastResult, pf::kMixerError);
}

TEST_F(MixerOperationsTest, RecordingMuteIsClearedWhenTheVolumeIsResolved) {
    NaturalCard(1);
    FakeMixer::Control& mute = fake.AddControl(*wavein, pf::kCtlMute, pf::kCtlfUniform, 0, 1);
    mute.values = {kOn};
    mixer->InitMixers();
    mixer->ApplyRecordingVolume(10);
    EXPECT_EQ(mute.writes, (std::vector<std::vector<uint32_t>>{{0}}));
    mixer->SelectRecordingSource(1);
    mixer->ApplyRecordingVolume(10);  // not muted any more: nothing to write
    EXPECT_EQ(mute.writes.size(), 1u);
    // The source line's own mute is left alone.
    EXPECT_TRUE(fake.devices[0].destinations[1].sources[0].controls[0].writes.empty());
}

TEST_F(MixerOperationsTest, EachInitialisationReplacesAndClosesTheOldCollection) {
    NaturalCard();
    mixer->InitMixers();
    tMsMixerSystem* first = mixer->MixerSystem();
    mixer->InitMixers();
    EXPECT_NE(mixer->MixerSystem(), nullptr);
    EXPECT_EQ(fake.devices[0].openNow, 1);
    EXPECT_EQ(fake.calls.close, 1);
    EXPECT_EQ(RecordingSources.size(), 3);
    (void)first;
}

TEST_F(MixerOperationsTest, ProductNameOfADevice) {
    NaturalCard();
    fake.AddDevice(QString::fromUtf8("第二声卡 with a very long name beyond 32 bytes"));
    EXPECT_EQ(MixerProductName(0), "Venue Card");
    // Cut to the field at a character boundary.
    EXPECT_LE(MixerProductName(1).toUtf8().size(), 31);
    EXPECT_TRUE(QString::fromUtf8("第二声卡 with a very long name beyond 32 bytes").startsWith(MixerProductName(1)));
    EXPECT_EQ(MixerProductName(2), QString());
    EXPECT_EQ(fake.devices[0].openNow, 0);
    fake.devices[0].openResult = pf::kMixerError;
    EXPECT_EQ(MixerProductName(0), QString());
}

TEST_F(MixerOperationsTest, StartUpSelectsTheLineInputByName) {
    Card({"Microphone", "Line In", "CD Player"}, 0);
    mixer->InitMixers();
    mixer->SelectRecordingSource(FindLineInSource());
    EXPECT_EQ(mux->values, (std::vector<uint32_t>{0, kOn, 0}));
}

// The window's side of the mixer: the knobs write it as they are dragged, and
// "确定" in the settings dialog restarts the capture and selects the source.
class WindowMixerTest : public MixerOperationsTest {
protected:
    void SetUp() override {
        testing_support::GuiApp();
        MixerOperationsTest::SetUp();
        NaturalCard();
        wave.names = {QStringLiteral("Venue Card")};
        pf::Services().waveIn = &wave;
        form = std::make_unique<TForm1>(env.AppDir());
        for (QTimer* t : {form->Timer1, form->Timer2, form->Timer4, form->Timer5, form->TFlying}) t->stop();
        session = std::make_unique<RecorderSession>(
            RecorderSession::Options{.recordFolder = env.AppDir() + "record/"});
        form->UseSession(session.get());
        mixer = &session->Mixer();
        dialogOwner = std::make_unique<TForm3>();
        Form3 = dialogOwner.get();
        form->Form3 = Form3;
    }
    void TearDown() override {
        session->Close();
        mixer = &own;
        form->Form3 = nullptr;
        form.reset();
        session.reset();
        dialogOwner.reset();
        pf::Services().waveIn = nullptr;
        MixerOperationsTest::TearDown();
    }
    // A pointer event on `control` at window position (x, y).
    void Mouse(QWidget* control, QEvent::Type type, int x, int y) {
        const QPointF local = control->mapFrom(form.get(), QPoint(x, y));
        QMouseEvent event(type, local, control->mapToGlobal(local), Qt::LeftButton,
                          type == QEvent::MouseButtonRelease ? Qt::NoButton : Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(control, &event);
    }
    // The takes on disk once the writer has done what it was handed.
    QStringList Takes() const {
        session->Writer().WaitIdle();
        return QDir(env.AppDir() + "record").entryList({"PLEN*.wav"}, QDir::Files);
    }

    pf::FakeWaveIn wave;
    std::unique_ptr<RecorderSession> session;
    std::unique_ptr<TForm3> dialogOwner;
    TForm3* Form3 = nullptr;
    std::unique_ptr<TForm1> form;
};

TEST_F(WindowMixerTest, DraggingTheKnobsWritesTheVolumes) {
    form->Timer5Timer();  // the start-up selects Line In
    form->show();
    QApplication::processEvents();
    speakerVolume->writes.clear();
    lineVolume->writes.clear();
    // Recording knob (top 75) grabbed 4 px below its top and moved to top 35: 99 %.
    Mouse(form->Image110, QEvent::MouseButtonPress, 217 + 10, 75 + 4);
    Mouse(form->Image110, QEvent::MouseMove, 217 + 10, 35 + 4);
    Mouse(form->Image110, QEvent::MouseButtonRelease, 217 + 10, 35 + 4);
    EXPECT_EQ(form->Label2->text(), "99");
    ASSERT_FALSE(lineVolume->writes.empty());
    EXPECT_EQ(lineVolume->values, (std::vector<uint32_t>{64880, 64880}));
    // Playing knob moved to top 60: 53 %.
    Mouse(form->Image109, QEvent::MouseButtonPress, 194 + 10, 75 + 10);
    Mouse(form->Image109, QEvent::MouseMove, 194 + 10, 60 + 10);
    Mouse(form->Image109, QEvent::MouseButtonRelease, 194 + 10, 60 + 10);
    EXPECT_EQ(form->Label1->text(), "53");
    ASSERT_FALSE(speakerVolume->writes.empty());
    EXPECT_EQ(speakerVolume->values, (std::vector<uint32_t>{34734, 34734}));
}

TEST_F(WindowMixerTest, ConfirmedSettingsRestartTheCaptureInOrder) {
    AppSettings.ManualMode = true;
    form->Timer5Timer();
    const TFRecord& record = session->RecordEngine();
    ASSERT_TRUE(record.Capturing);
    EXPECT_EQ(mux->values, (std::vector<uint32_t>{0, kOn, 0}));  // no stored source: Line In found
    // A manual take is open: the strip is not rebuilt while it is.
    ASSERT_TRUE(session->RequestManualStart());
    const std::vector<int16_t> block(2 * TFRecord::kBlockFrames, 0);
    ASSERT_TRUE(wave.Feed(block));
    ASSERT_EQ(Takes().size(), 1);
    EXPECT_TRUE(form->Strip().Recordings.isEmpty());

    wave.calls.clear();
    Form3->ShowDialog();
    Form3->ComboBox1->setEditText(QStringLiteral("11025"));
    Form3->ComboBox2->setCurrentIndex(2);
    Form3->Button2->click();
    // Stopped before it is opened again, at the new rate.
    const qsizetype closed = wave.calls.indexOf(QStringLiteral("Close"));
    const qsizetype opened = wave.calls.indexOf(QStringLiteral("Open 0 11025"));
    ASSERT_GE(closed, 0);
    EXPECT_GT(opened, closed);
    EXPECT_EQ(wave.calls.last(), QStringLiteral("Start"));
    EXPECT_EQ(mux->values, (std::vector<uint32_t>{0, 0, kOn}));  // the stored source
    // The take was kept and listed; the next block opens a new one, which
    // leaves the strip as it is.
    EXPECT_TRUE(testing_support::WaitUntil([&] { return form->Strip().Recordings.size() == 1; }, 5000));
    ASSERT_TRUE(wave.Feed(block));
    EXPECT_EQ(Takes().size(), 2);
    EXPECT_EQ(form->Strip().Recordings.size(), 1);

    // Once the window has closed, "确定" restarts nothing.
    form->close();
    wave.calls.clear();
    Form3->ShowDialog();
    Form3->Button2->click();
    EXPECT_TRUE(wave.calls.isEmpty());
    EXPECT_FALSE(session->RecordEngine().Capturing);
}

TEST(FindLineInSourceTest, MatchesUpperCasedSubstringsOrTheChineseName) {
    auto find = [](const QStringList& sources) {
        RecordingSources = sources;
        const int result = FindLineInSource();
        RecordingSources.clear();
        return result;
    };
    EXPECT_EQ(find({"Microphone", "Line In", "CD Player"}), 1);
    EXPECT_EQ(find({"Line-In", "Mic"}), 0);
    EXPECT_EQ(find({"Mic", "CD", QString::fromUtf8("线路输入")}), 2);
    EXPECT_EQ(find({"Mic", "XLINE INPUT"}), 1);
    EXPECT_EQ(find({"Mic", "line in"}), 1);
    EXPECT_EQ(find({}), 0);
}

}  // namespace
