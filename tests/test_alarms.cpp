// SPDX-License-Identifier: GPL-3.0-or-later
// The recording hours and the sound alarms as pure logic, on a fake clock.
#include <gtest/gtest.h>

#include "session/RecordingHours.h"
#include "session/SoundAlarms.h"
#include "support/TestSupport.h"

namespace {

// 2026-12-07 is a Monday.
QDateTime At(int day, int hour, int minute) { return QDateTime(QDate(2026, 12, 7 + day), QTime(hour, minute)); }

RecordingHours Hours(const QString& text) {
    RecordingHours h;
    QString why;
    EXPECT_TRUE(RecordingHours::Parse(text, &h, &why)) << text.toStdString() << ": " << why.toStdString();
    return h;
}

TEST(RecordingHoursTest, DaysRangesAndSpansAcrossMidnight) {
    EXPECT_TRUE(Hours(QString()).Always());
    EXPECT_TRUE(Hours(QStringLiteral("00:00-24:00")).Always());
    EXPECT_TRUE(Hours(QStringLiteral("Mon-Sun 00:00-12:00, 12:00-24:00")).Always());

    const RecordingHours h = Hours(QStringLiteral("Mon-Fri 08:00-18:00, sun 9:00 - 12:30"));
    EXPECT_FALSE(h.Always());
    EXPECT_FALSE(h.Inside(At(0, 7, 59)));
    EXPECT_TRUE(h.Inside(At(0, 8, 0)));
    EXPECT_FALSE(h.Inside(At(4, 18, 0)));  // the end is outside
    EXPECT_FALSE(h.Inside(At(5, 10, 0)));  // Saturday
    EXPECT_TRUE(h.Inside(At(6, 12, 29)));
    EXPECT_EQ(h.StateText(At(0, 9, 30)), "recording hours: until 18:00");
    EXPECT_EQ(h.StateText(At(0, 18, 30)), "outside recording hours: next Tue 08:00");
    EXPECT_EQ(h.StateText(At(4, 19, 0)), "outside recording hours: next Sun 09:00");
    EXPECT_EQ(h.NextChange(At(4, 19, 0)), At(6, 9, 0));
    // After Sunday's hours, the next start is in the next week.
    EXPECT_EQ(h.NextChange(At(6, 13, 0)), At(7, 8, 0));

    // A span that ends before it starts runs into the next day; from Sunday
    // night into Monday morning across the week's end; touching spans join.
    const RecordingHours night = Hours(QStringLiteral("Fri-Sun 22:00-02:00, Mon 02:00-03:00"));
    EXPECT_TRUE(night.Inside(At(5, 1, 0)));   // Saturday 01:00, from Friday
    EXPECT_TRUE(night.Inside(At(7, 1, 0)));   // Monday 01:00, from Sunday
    EXPECT_FALSE(night.Inside(At(4, 1, 0)));  // Friday 01:00: Thursday has none
    EXPECT_EQ(night.StateText(At(6, 23, 0)), "recording hours: until Mon 03:00");
    EXPECT_EQ(night.NextChange(At(0, 2, 30)), At(0, 3, 0));
    EXPECT_EQ(Hours(QStringLiteral("Tue 20:00-24:00")).StateText(At(1, 21, 0)), "recording hours: until 24:00");
}

TEST(RecordingHoursTest, MalformedValuesAreRefusedNamingTheBadPart) {
    const std::pair<const char*, const char*> cases[] = {
        {"Mon-Fry 08:00-18:00", "'Fry'"},       {"Mon 08:00-25:00", "'25:00'"},
        {"Mon 8-18", "'8'"},                    {"Mon-Fri 08:00-18:00,", "empty item"},
        {"Mon 08:00", "'08:00'"},               {"Mon 08:00-08:00", "empty span"},
        {"Mon Tue 08:00-18:00", "'Mon Tue 08:00-18:00'"}, {"Mon 24:00-02:00", "24:00"},
    };
    for (const auto& [text, part] : cases) {
        RecordingHours h = Hours(QStringLiteral("Mon 08:00-09:00"));
        QString why;
        EXPECT_FALSE(RecordingHours::Parse(QString::fromUtf8(text), &h, &why)) << text;
        EXPECT_TRUE(why.contains(QString::fromUtf8(part))) << text << " -> " << why.toStdString();
        EXPECT_FALSE(h.Always()) << "a refused value leaves the hours as they were";
    }
}

class SoundAlarmsTest : public ::testing::Test {
protected:
    testing_support::FakeClock clock;
    // 22050 Hz in blocks of 2048 frames: a minute is 646 blocks.
    static constexpr int kMinute = 646;
};

TEST_F(SoundAlarmsTest, SilentAfterTheMinutesThenSoundBackEachOnce) {
    SoundAlarms alarms({.silentMinutes = 2, .clipPercent = 0}, &clock);
    alarms.Restart(22050, 2048);
    const QDateTime start = clock.now;
    EXPECT_EQ(alarms.Block(true, false, true), SoundAlarms::kNone);
    clock.now = start.addSecs(119);
    EXPECT_EQ(alarms.Block(true, false, true), SoundAlarms::kNone);
    clock.now = start.addSecs(120);
    EXPECT_EQ(alarms.Block(true, false, true), SoundAlarms::kSilent);
    EXPECT_EQ(alarms.SilentSince(), start);
    clock.now = start.addSecs(600);
    EXPECT_EQ(alarms.Block(true, false, true), SoundAlarms::kNone);
    // A capture that starts again (an input back) does not end the silence.
    EXPECT_EQ(alarms.Restart(22050, 2048), SoundAlarms::kNone);
    EXPECT_TRUE(alarms.Silent());
    EXPECT_EQ(alarms.Block(false, false, true), SoundAlarms::kSoundBack);
    EXPECT_FALSE(alarms.SilentSince().isValid());
    EXPECT_EQ(alarms.Block(false, false, true), SoundAlarms::kNone);

    // A quiet run starts again after sound; outside the hours nothing counts,
    // and the end of the hours ends a silence without sound coming back.
    clock.now = start.addSecs(1000);
    alarms.Block(true, false, true);
    clock.now = start.addSecs(1200);
    EXPECT_EQ(alarms.Block(true, false, false), SoundAlarms::kNone);
    clock.now = start.addSecs(1300);
    EXPECT_EQ(alarms.Block(true, false, true), SoundAlarms::kNone);
    clock.now = start.addSecs(1420);
    EXPECT_EQ(alarms.Block(true, false, true), SoundAlarms::kSilent);
    EXPECT_EQ(alarms.SilentSince(), start.addSecs(1300));
    EXPECT_EQ(alarms.Block(true, false, false), SoundAlarms::kSilenceEnded);
}

TEST_F(SoundAlarmsTest, ClippingAboveTheShareOfAMinuteAndOverAtHalfOfIt) {
    SoundAlarms alarms({.silentMinutes = 0, .clipPercent = 1}, &clock);
    alarms.Restart(22050, 2048);
    // 1 % of 646 blocks is 6.46: the seventh full-scale block is over it.
    for (int i = 0; i < 6; ++i) EXPECT_EQ(alarms.Block(false, true, true), SoundAlarms::kNone);
    EXPECT_EQ(alarms.Block(false, true, true), SoundAlarms::kClipping);
    for (int i = 0; i < 20; ++i) EXPECT_EQ(alarms.Block(false, true, true), SoundAlarms::kNone);
    EXPECT_TRUE(alarms.Clipping());
    // 27 clipped blocks age out of the minute; at 3 left (under half of 6.46)
    // the alarm ends, once.
    unsigned seen = 0;
    int over = -1;
    for (int i = 0; i < kMinute; ++i) {
        const unsigned c = alarms.Block(false, false, true);
        if (c == SoundAlarms::kClippingOver) over = i;
        seen |= c;
    }
    EXPECT_EQ(seen, unsigned{SoundAlarms::kClippingOver});
    EXPECT_EQ(over, kMinute - 27 + 23);
    EXPECT_FALSE(alarms.Clipping());
}

}  // namespace
