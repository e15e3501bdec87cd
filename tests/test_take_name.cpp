// SPDX-License-Identifier: GPL-3.0-or-later
// The take contract: the name's grammar, the archive's key layout and
// metadata, the note and hold records, and status.json.
#include <gtest/gtest.h>

#include <QJsonDocument>

#include "takes/ObjectKey.h"
#include "takes/StatusJson.h"
#include "takes/TakeName.h"
#include "takes/TakeRecords.h"

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
        EXPECT_TRUE(IsTakeName(good)) << good;
    for (const char* bad : {"", "PLEN", "PLEN20261207201500", "PLEN2026120720150.wav", "PLEN202612072015000.wav",
                            "PLEN2026120720150x.wav", "PLEN20261207201500-.wav", "PLEN20261207201500-1234567.wav",
                            "PLEN20261207201500_2.wav", "PLEN20261207201500.WAV", "plen20261207201500.wav",
                            "PLEN20261207201500.wav/", "PLEN20261207201500.wav\n", "PLEN20261207201500.flac"})
        EXPECT_FALSE(IsTakeName(bad)) << bad;
    // The archive's names: .flac too, and a real date.
    EXPECT_TRUE(IsArchivedTakeName("PLEN20261207201500-2.flac"));
    EXPECT_TRUE(Parse("PLEN20261307201500.wav").valid);
    EXPECT_FALSE(IsArchivedTakeName("PLEN20261307201500.wav"));
    EXPECT_FALSE(StartTime("PLEN20261307201500.wav").isValid());
    // What the archive sends: any recording with the prefix.
    for (const char* loose : {"PLEN20261207201500.wav", "PLENold.wav", "PLEN20261207201500.WAV"})
        EXPECT_TRUE(IsLooseTakeName(loose)) << loose;
    EXPECT_FALSE(IsLooseTakeName("old.wav"));
    EXPECT_FALSE(IsLooseTakeName("PLEN20261207201500.flac"));
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

TEST(TakeName, ObjectMetaAndStoreRecords) {
    ObjectMeta meta;
    meta.start = IsoWithOffset(QDateTime(QDate(2026, 12, 7), QTime(20, 15), Qt::OffsetFromUTC, -5400));
    meta.seconds = 12.5;
    meta.rate = 22050;
    meta.host = "pc";
    std::map<std::string, std::string> headers;
    for (const auto& [name, value] : meta.Pairs()) headers["x-amz-meta-" + name.toStdString()] = value.toStdString();
    EXPECT_EQ(headers, (std::map<std::string, std::string>{{"x-amz-meta-start", "2026-12-07T20:15:00-01:30"},
                                                           {"x-amz-meta-length", "12.500"},
                                                           {"x-amz-meta-rate", "22050"},
                                                           {"x-amz-meta-host", "pc"}}));
    const ObjectMeta back = ObjectMeta::FromHeaders(headers);
    EXPECT_EQ(back.start, meta.start);
    EXPECT_EQ(back.seconds, 12.5);
    EXPECT_EQ(ObjectMeta::FromHeaders({}).seconds, -1);
    EXPECT_EQ(ContentType("r/2026/12/07/PLEN20261207201500-2.flac"), QLatin1String("audio/flac"));
    EXPECT_EQ(ContentType("PLEN20261207201500.wav"), QLatin1String("audio/wav"));
    EXPECT_TRUE(LegalHoldIsOn(LegalHoldBody(true)));
    EXPECT_FALSE(LegalHoldIsOn(LegalHoldBody(false)));
    EXPECT_EQ(NoteOfObject(QByteArray(3000, 'a')).size(), kMaxNoteCharacters);
}

TEST(TakeName, StatusJsonKeepsItsBytesAndReadsOlderDocuments) {
    RoomStatus s;
    s.host = "pc-a";
    s.machine = "aaaa";
    s.prefix = "room-a";
    s.version = "1.0";
    s.time = QDateTime(QDate(2026, 12, 7), QTime(20, 0), Qt::UTC);
    s.listening = true;
    s.input = "listening";
    s.disk = "ok";
    s.archive = {"ok", "", 2, 5000000000, 0, "PLEN20261207190000.wav"};
    s.lastTake = "PLEN20261207195900.wav";
    s.lastTakeSeconds = 12.5;
    s.silentSince = QDateTime(QDate(2026, 12, 7), QTime(14, 5), Qt::OffsetFromUTC, 3600);
    s.hours = "recording hours: until 18:00";
    s.hoursChange = QDateTime(QDate(2026, 12, 7), QTime(18, 0), Qt::OffsetFromUTC, 3600);
    const QByteArray json = QJsonDocument(s.ToJson()).toJson(QJsonDocument::Compact);
    EXPECT_EQ(json.toStdString(),
              R"({"archive":{"detail":"","oldest":"PLEN20261207190000.wav","queued":2,"queued_bytes":5000000000,)"
              R"("set_aside":0,"state":"ok"},"clipping":false,"disk":"ok","host":"pc-a",)"
              R"("hours":{"inside":true,"state":"recording hours: until 18:00","until":"2026-12-07T18:00:00+01:00"},)"
              R"("input":"listening","last_take":{"name":"PLEN20261207195900.wav","seconds":12.5},"listening":true,)"
              R"("machine":"aaaa","prefix":"room-a","recording":false,"silent_since":"2026-12-07T14:05:00+01:00",)"
              R"("time":"2026-12-07T20:00:00Z","version":"1.0"})");
    const RoomStatus back = RoomStatus::FromJson(QJsonDocument::fromJson(json).object());
    EXPECT_EQ(QJsonDocument(back.ToJson()).toJson(QJsonDocument::Compact), json);
    // A document of an older recorder: what it lacks keeps its default.
    const RoomStatus old = RoomStatus::FromJson(QJsonDocument::fromJson(R"({"machine":"bbbb"})").object());
    EXPECT_EQ(old.machine, "bbbb");
    EXPECT_FALSE(old.time.isValid());
    EXPECT_TRUE(old.hours.isEmpty());
    EXPECT_EQ(StatusKey("room-a"), "room-a/status.json");
}
