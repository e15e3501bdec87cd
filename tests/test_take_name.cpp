// SPDX-License-Identifier: GPL-3.0-or-later
// The take name's grammar and the archive's key layout.
#include <gtest/gtest.h>

#include "takes/TakeName.h"

using namespace takes;

TEST(TakeName, MadeFromTheStartWithASuffixFromTwoUp) {
    const QDateTime start(QDate(2027, 1, 2), QTime(3, 4, 5));
    EXPECT_EQ(MakeName(start), "PLEN20270102030405.wav");
    EXPECT_EQ(MakeName(start, 1), MakeName(start));
    EXPECT_EQ(MakeName(start, 12), "PLEN20270102030405-12.wav");
    const QString name = MakeName(start, 999);
    const Name parsed = Parse(name);
    ASSERT_TRUE(parsed.valid);
    EXPECT_EQ(parsed.stamp, QLatin1String("20270102030405"));
    EXPECT_EQ(parsed.suffix, 999);
    EXPECT_EQ(parsed.extension, QLatin1String(".wav"));
    EXPECT_EQ(StartTime(name), start);
    EXPECT_EQ(StartText(name), "2027-01-02T03:04:05");
}

TEST(TakeName, GrammarAndItsThreeReadings) {
    for (const char* good : {"PLEN20261207201500.wav", "PLEN20261207201500-2.wav", "PLEN20261207201500-123456.wav"})
        EXPECT_TRUE(IsRecordingName(good)) << good;
    for (const char* bad : {"", "PLEN", "PLEN20261207201500", "PLEN2026120720150.wav", "PLEN202612072015000.wav",
                            "PLEN2026120720150x.wav", "PLEN20261207201500-.wav", "PLEN20261207201500-1234567.wav",
                            "PLEN20261207201500_2.wav", "PLEN20261207201500.WAV", "plen20261207201500.wav",
                            "PLEN20261207201500.wav/", "PLEN20261207201500.wav\n", "PLEN20261207201500.flac"})
        EXPECT_FALSE(IsRecordingName(bad)) << bad;
    // The archive's names: .flac too, and a real date.
    EXPECT_TRUE(IsArchivedName("PLEN20261207201500-2.flac"));
    EXPECT_TRUE(Parse("PLEN20261307201500.wav").valid);
    EXPECT_FALSE(IsArchivedName("PLEN20261307201500.wav"));
    EXPECT_FALSE(StartTime("PLEN20261307201500.wav").isValid());
    // What the archive sends: any recording with the prefix.
    for (const char* loose : {"PLEN20261207201500.wav", "PLENold.wav", "PLEN20261207201500.WAV"})
        EXPECT_TRUE(IsLooseRecordingName(loose)) << loose;
    EXPECT_FALSE(IsLooseRecordingName("old.wav"));
    EXPECT_FALSE(IsLooseRecordingName("PLEN20261207201500.flac"));
}

TEST(TakeName, MarksAndKeys) {
    EXPECT_EQ(MarkFile("PLEN20261207201500-2.wav", QLatin1String(".note")), "PLEN20261207201500-2.note");
    EXPECT_EQ(MarkFile("PLEN20261207201500.WAV", QLatin1String(".hold")), "PLEN20261207201500.hold");
    EXPECT_EQ(TakeOfMark("PLEN20261207201500.hold"), "PLEN20261207201500.wav");

    EXPECT_EQ(ObjectKey("room", "PLEN20261207201500.wav", 1, true), "room/2026/12/07/PLEN20261207201500.flac");
    EXPECT_EQ(ObjectKey("room", "PLEN20261207201500-3.WAV", 2, false), "room/2026/12/07/PLEN20261207201500-3-2.wav");
    EXPECT_EQ(ObjectKey("room", "PLENold.wav", 1, true), "room/PLENold.flac");
    EXPECT_EQ(ArchivedKey("room", "PLEN20261207201500-2.flac"), "room/2026/12/07/PLEN20261207201500-2.flac");
    EXPECT_EQ(ArchivedKey("room", "PLEN20261307201500.flac"), "");
    EXPECT_EQ(NoteKey("room/2026/12/07/PLEN20261207201500.flac"), "room/2026/12/07/PLEN20261207201500.note");
    EXPECT_EQ(NoteKey("room.x/PLENa"), "room.x/PLENa.note");

    QString root, file;
    ASSERT_TRUE(SplitKey("room/2026/12/07/PLEN20261207201500.note", &root, &file));
    EXPECT_EQ(root, "room");
    EXPECT_EQ(file, "PLEN20261207201500.note");
    for (const char* bad : {"room/2026/12/08/PLEN20261207201500.flac", "room/2026/12/07/x.flac",
                            "/2026/12/07/PLEN20261207201500.flac", "room/2026/12/07/", "a/room/2026/12/07/PLEN20261207.flac",
                            "room/2026/12/7/PLEN2026127.flac"})
        EXPECT_FALSE(SplitKey(bad, &root, &file)) << bad;
}
