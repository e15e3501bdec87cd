// SPDX-License-Identifier: GPL-3.0-or-later
// The recording strip of the main window: listing and clean-up, tiles,
// scrolling, selection, history menu, play and delete.
#include <gtest/gtest.h>

#include <QAction>
#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QPainter>

#include <fcntl.h>
#include <sys/stat.h>

#include <cstring>
#include <memory>

#include "app/Unit1.h"
#include "playback/Unit4.h"
#include "settings/publicunit.h"
#include "support/ForwardingFiles.h"
#include "support/TestSupport.h"

inline void PrintTo(const QString& s, std::ostream* os) { *os << '"' << s.toStdString() << '"'; }

namespace {

class QtApp : public ::testing::Environment {
public:
    void SetUp() override {
        static int argc = 1;
        static char name[] = "test_strip";
        static char* argv[] = {name, nullptr};
        if (!QApplication::instance()) app_ = std::make_unique<QApplication>(argc, argv);
    }
    void TearDown() override { app_.reset(); }

private:
    std::unique_ptr<QApplication> app_;
};
[[maybe_unused]] auto* const kQtApp = ::testing::AddGlobalTestEnvironment(new QtApp);

// Lists chosen entries in a chosen order; everything else goes to the real files.
class ListingFiles final : public testing_support::ForwardingFiles {
public:
    explicit ListingFiles(platform::Files& real) : ForwardingFiles(real) {}
    QList<platform::DirEntry> listing;
    QList<platform::DirEntry> List(const QString&, const QString&) override { return listing; }
};

class StripTest : public ::testing::Test {
protected:
    void SetUp() override {
        Playing = false;
        form = std::make_unique<TForm1>(env.AppDir());
        for (QTimer* t : {form->Timer1, form->Timer2, form->Timer4, form->Timer5, form->TFlying}) t->stop();
        form->Strip().PlayRequested = [this](const QString& path, WaveDisplay* display) {
            played.append(path);
            playedOn = display;
        };
        AppSettings.ManageFile = false;
    }
    void TearDown() override {
        Playing = false;
        form.reset();
    }

    QString Folder() const { return env.AppDir() + "record/"; }
    // The strip is built when the take store's listing comes back.
    void Settle() { ASSERT_TRUE(testing_support::WaitUntil([this] { return !form->Strip().StripPending(); }, 5000)); }
    void Rebuild() {
        form->Strip().RebuildStrip();
        Settle();
    }
    void Delete() {
        form->Image8Click();
        Settle();
    }
    QDateTime Now() const { return env.clock.now; }

    // A recording with a valid header and a little sound, last written at `when`.
    void AddFile(const QString& name, const QDateTime& when) {
        QFile f(Folder() + name);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        QByteArray data(44 + 4096, '\0');
        std::memcpy(data.data(), "RIFF", 4);
        std::memcpy(data.data() + 8, "WAVEfmt ", 8);
        data[16] = 16;
        data[20] = 1;
        data[22] = 2;
        std::memcpy(data.data() + 36, "data", 4);
        f.write(data);
        f.close();
        SetTime(name, when);
    }
    void SetTime(const QString& name, const QDateTime& when) {
        const qint64 ms = when.toMSecsSinceEpoch();
        struct timespec times[2];
        times[0].tv_sec = times[1].tv_sec = static_cast<time_t>(ms / 1000);
        times[0].tv_nsec = times[1].tv_nsec = static_cast<long>(ms % 1000) * 1000000L;
        ASSERT_EQ(::utimensat(AT_FDCWD, QFile::encodeName(Folder() + name).constData(), times, 0), 0);
    }
    // `count` recordings a minute apart, the last one an hour before now.
    void AddRecordings(int count) {
        for (int i = 0; i < count; ++i)
            AddFile(QStringLiteral("PLEN%1.wav").arg(i, 3, 10, QLatin1Char('0')),
                    Now().addSecs(-3600 - 60 * (count - i)));
    }
    QStringList Names() const {
        QStringList names;
        for (const TRecordingEntry& e : form->Strip().Recordings) names.append(e.Name);
        return names;
    }
    QStringList VisibleTiles() const {
        QStringList names;
        for (const TRecordingEntry& e : form->Strip().Recordings)
            if (!e.Tile->isHidden()) names.append(QStringLiteral("%1@%2").arg(e.Name).arg(e.Tile->x()));
        return names;
    }
    int CheckedEntry() const {
        const QList<QAction*> actions = form->PopupMenu1->actions();
        for (int i = 0; i < actions.size(); ++i)
            if (actions[i]->isChecked()) return i;
        return -1;
    }
    int MarkerX() const { return form->Strip().Marker->x(); }
    // Runs the animation to its end; returns the distances left after each tick.
    QList<int> Animate() {
        QList<int> left;
        for (int guard = 0; form->Timer3->isActive() && guard < 100; ++guard) {
            form->Timer3Timer();
            left.append(std::abs(form->Strip().ScrollPos - form->Strip().ScrollTarget));
        }
        return left;
    }

    testing_support::TestEnvironment env;
    std::unique_ptr<TForm1> form;
    QStringList played;
    WaveDisplay* playedOn = nullptr;  // where the last one was to be shown
};

TEST_F(StripTest, CleanUpDeletesOnlyPrefixedFilesMoreThanADayOld) {
    AppSettings.ManageFile = true;
    AddFile("PLEN20261205090500.wav", Now().addDays(-2));
    AddFile("other.wav", Now().addDays(-2));
    AddFile("plen_lower.wav", Now().addDays(-2).addSecs(3600));  // the prefix is matched with its case
    AddFile("PLENexact.wav", Now().addDays(-1));
    AddFile("PLENover.wav", Now().addDays(-1).addSecs(-2));
    AddFile("PLENnew.wav", Now().addSecs(-60));
    Rebuild();
    EXPECT_EQ(Names(), (QStringList{"other.wav", "plen_lower.wav", "PLENexact.wav", "PLENnew.wav"}));
    EXPECT_FALSE(QFile::exists(Folder() + "PLEN20261205090500.wav"));
    EXPECT_FALSE(QFile::exists(Folder() + "PLENover.wav"));
    EXPECT_TRUE(QFile::exists(Folder() + "other.wav"));
    EXPECT_TRUE(QFile::exists(Folder() + "PLENexact.wav"));
}

TEST_F(StripTest, CleanUpAgesByTimeKeptToTwoSeconds) {
    AppSettings.ManageFile = true;
    env.clock.now = QDateTime(QDate(2026, 12, 7), QTime(9, 5, 1, 500));
    AddFile("PLENodd.wav", QDateTime(QDate(2026, 12, 6), QTime(9, 5, 1, 900)));   // kept as 09:05:00
    AddFile("PLENeven.wav", QDateTime(QDate(2026, 12, 6), QTime(9, 5, 2, 900)));  // kept as 09:05:02
    Rebuild();
    EXPECT_EQ(Names(), QStringList{"PLENeven.wav"});
    EXPECT_EQ(form->Strip().Recordings[0].Time.time(), QTime(9, 5, 2));
}

TEST_F(StripTest, CleanUpOffDeletesNothingAndLockedFileStays) {
    AddFile("PLENold.wav", Now().addDays(-30));
    Rebuild();
    EXPECT_EQ(Names(), QStringList{"PLENold.wav"});

    // A file still being written cannot go; it is left out of this listing only.
    AppSettings.ManageFile = true;
    auto writer = env.files.CreateNew(Folder() + "PLENbusy.wav");
    ASSERT_TRUE(writer);
    SetTime("PLENbusy.wav", Now().addDays(-3));
    Rebuild();
    EXPECT_TRUE(Names().isEmpty());
    EXPECT_TRUE(QFile::exists(Folder() + "PLENbusy.wav"));
    EXPECT_FALSE(QFile::exists(Folder() + "PLENold.wav"));
}

TEST_F(StripTest, EqualTimesKeepTheListingOrder) {
    ListingFiles listing(env.files);
    platform::Services().files = &listing;
    const QDateTime t = Now().addSecs(-600);
    listing.listing = {{"c.wav", t.addSecs(60)}, {"b.wav", t}, {"a.wav", t}, {"d.wav", t.addSecs(-60)}};
    Rebuild();
    EXPECT_EQ(Names(), (QStringList{"d.wav", "b.wav", "a.wav", "c.wav"}));
    listing.listing = {{"a.wav", t.addSecs(1)}, {"b.wav", t}};  // one second apart is the same time
    Rebuild();
    EXPECT_EQ(Names(), (QStringList{"a.wav", "b.wav"}));
    platform::Services().files = &env.files;
}

TEST_F(StripTest, MoreThanTheStripHoldsKeepsTheNewest) {
    ListingFiles listing(env.files);
    platform::Services().files = &listing;
    // Listed newest first, so the kept ones must come from sorting, not from the listing order.
    for (int i = 299; i >= 0; --i)
        listing.listing.append({QStringLiteral("PLEN%1.wav").arg(i, 3, 10, QLatin1Char('0')),
                                Now().addSecs(-3600 - 60 * (300 - i))});
    Rebuild();
    ASSERT_EQ(form->Strip().Recordings.size(), 250);
    EXPECT_EQ(form->Strip().Recordings.front().Name, "PLEN050.wav");
    EXPECT_EQ(form->Strip().Recordings.back().Name, "PLEN299.wav");
    EXPECT_EQ(form->PopupMenu1->actions().size(), 250);
    for (const TRecordingEntry& e : form->Strip().Recordings) ASSERT_NE(e.Tile, nullptr);
    // The last tile is in the strip bitmap too.
    const QImage& strip = form->Image103->Picture();
    EXPECT_EQ(strip.pixel(61 * 249 + 20, 15), form->Strip().Recordings.back().Tile->Picture().pixel(20, 5));
    EXPECT_EQ(strip.pixel(61 * 250 + 20, 15), QColor(84, 125, 141).rgb());
    platform::Services().files = &env.files;
}

TEST_F(StripTest, TilesShowTheTimeOnTwentyFourHourClock) {
    AddFile("PLENmorning.wav", QDateTime(QDate(2026, 12, 6), QTime(9, 5, 10)));
    AddFile("PLENevening.wav", QDateTime(QDate(2026, 12, 6), QTime(21, 5, 10)));
    AddFile("PLENagain.wav", QDateTime(QDate(2026, 12, 7), QTime(9, 5, 40)));
    Rebuild();
    ASSERT_EQ(Names(), (QStringList{"PLENmorning.wav", "PLENevening.wav", "PLENagain.wav"}));
    const TImage* morning = form->Strip().Recordings[0].Tile;
    const TImage* evening = form->Strip().Recordings[1].Tile;
    const TImage* again = form->Strip().Recordings[2].Tile;
    EXPECT_EQ(morning->accessibleName(), "09:05");
    EXPECT_EQ(evening->accessibleName(), "21:05");
    EXPECT_EQ(morning->toolTip(), "PLENmorning.wav");
    EXPECT_NE(morning->Picture(), evening->Picture());
    EXPECT_EQ(morning->Picture(), again->Picture());

    // Orange text on white in the lower part, the template above it.
    int orange = 0, white = 0;
    const QImage pic = morning->Picture();
    for (int y = 0; y < pic.height(); ++y)
        for (int x = 0; x < pic.width(); ++x) {
            const QRgb c = pic.pixel(x, y) & 0xFFFFFF;
            if (y < 30) {
                EXPECT_EQ(pic.pixel(x, y), form->Image102->Picture().pixel(x, y)) << x << "," << y;
                continue;
            }
            orange += c == 0xFF9900;
            white += c == 0xFFFFFF;
        }
    EXPECT_GT(orange, 20);
    EXPECT_GT(white, 20);
    EXPECT_EQ(pic.pixel(30, 5), form->Image102->Picture().pixel(30, 5));

    // The strip bitmap holds each tile at (61 i, 10) without its last column and row.
    const QImage& strip = form->Image103->Picture();
    for (int i = 0; i < 3; ++i) {
        const QImage tile = form->Strip().Recordings[i].Tile->Picture();
        EXPECT_EQ(strip.copy(61 * i, 10, 55, 54), tile.copy(0, 0, 55, 54).convertToFormat(strip.format()));
        EXPECT_EQ(strip.pixel(61 * i + 55, 20), QColor(84, 125, 141).rgb());
    }
}

TEST_F(StripTest, SevenRecordingsScrollOneStepOnAndNotBeforeTheStart) {
    AddRecordings(7);
    Rebuild();
    EXPECT_EQ(VisibleTiles(), (QStringList{"PLEN000.wav@112", "PLEN001.wav@173", "PLEN002.wav@234",
                                           "PLEN003.wav@295", "PLEN004.wav@356", "PLEN005.wav@417",
                                           "PLEN006.wav@478"}));
    EXPECT_EQ(MarkerX(), 117);
    EXPECT_EQ(form->Strip().Marker->y(), 147);
    EXPECT_TRUE(form->Strip().Marker->isVisibleTo(form.get()));
    // Tiles lie over the viewport; its gaps let presses through to the window.
    EXPECT_EQ(form->childAt(173 + 20, 151 + 20), form->Strip().Recordings[1].Tile);
    EXPECT_EQ(form->childAt(173 + 58, 151 + 20), nullptr);

    form->Image3Click();
    EXPECT_FALSE(form->Timer3->isActive());
    EXPECT_EQ(form->Strip().ScrollTarget, 0);

    form->Image4Click();
    EXPECT_EQ(form->Strip().ScrollTarget, 61);
    EXPECT_TRUE(form->Timer3->isActive());
    EXPECT_TRUE(VisibleTiles().isEmpty());

    // The viewport shows the strip bitmap from ScrollPos on, tick by tick.
    const QImage& strip = form->Image103->Picture();
    form->Timer3Timer();
    form->Timer3Timer();
    EXPECT_EQ(form->Strip().ScrollPos, 51);
    const QImage shown = form->PaintBox1->grab().toImage();
    ASSERT_EQ(shown.size(), QSize(427, 73));
    for (int x : {0, 4, 5, 9, 10, 60, 426})
        EXPECT_EQ(shown.pixel(x, 30) & 0xFFFFFF, strip.pixel(51 + x, 30) & 0xFFFFFF) << x;

    form->Strip().ScrollPos = 0;
    EXPECT_EQ(Animate(), (QList<int>{24, 10, 4, 2, 1, 0}));
    EXPECT_FALSE(form->Timer3->isActive());
    EXPECT_EQ(form->Strip().ScrollPos, 61);
    EXPECT_EQ(VisibleTiles().size(), 6);
    EXPECT_EQ(VisibleTiles().front(), "PLEN001.wav@112");
    // The selection was left of the view and moves to its first slot.
    EXPECT_EQ(form->Strip().Selected, 1);
    EXPECT_EQ(CheckedEntry(), 1);
    EXPECT_EQ(MarkerX(), 117);

    form->Image4Click();
    EXPECT_EQ(form->Strip().ScrollTarget, 61);
    EXPECT_FALSE(form->Timer3->isActive());

    form->Image3Click();
    EXPECT_EQ(Animate().size(), 6);
    EXPECT_EQ(form->Strip().ScrollPos, 0);
    EXPECT_EQ(VisibleTiles().size(), 7);
}

TEST_F(StripTest, NextFromTheSeventhOfEightScrollsAndMovesTheMarker) {
    AddRecordings(8);
    Rebuild();
    EXPECT_EQ(VisibleTiles().size(), 7);
    form->Strip().TileClick(form->Strip().Recordings[6].Tile);
    EXPECT_EQ(form->Strip().Selected, 6);
    EXPECT_EQ(MarkerX(), 112 + 366 + 5);
    EXPECT_EQ(CheckedEntry(), 6);

    form->Image12Click();
    EXPECT_EQ(form->Strip().Selected, 7);
    EXPECT_EQ(form->Strip().ScrollTarget, 61);
    EXPECT_TRUE(form->Timer3->isActive());
    EXPECT_EQ(MarkerX(), 112 + 61 * 7 - 61 + 5);
    EXPECT_EQ(Animate().size(), 6);
    EXPECT_EQ(form->Strip().Selected, 7);
    EXPECT_EQ(MarkerX(), 483);
    EXPECT_EQ(CheckedEntry(), 7);
    EXPECT_TRUE(VisibleTiles().contains("PLEN007.wav@478"));
    EXPECT_TRUE(form->Strip().Recordings[0].Tile->isHidden());
    EXPECT_TRUE(played.isEmpty());

    form->Image12Click();  // already the last
    EXPECT_EQ(form->Strip().Selected, 7);
    EXPECT_FALSE(form->Timer3->isActive());

    // Previous from the first slot scrolls back.
    form->Strip().TileClick(form->Strip().Recordings[1].Tile);
    form->Image11Click();
    EXPECT_EQ(form->Strip().Selected, 0);
    EXPECT_EQ(form->Strip().ScrollTarget, 0);
    Animate();
    EXPECT_EQ(MarkerX(), 117);
    form->Image11Click();
    EXPECT_EQ(form->Strip().Selected, 0);
}

TEST_F(StripTest, DeletingTheLastOfThreeAndTheOnlyOne) {
    AddRecordings(3);
    Rebuild();
    form->Strip().TileClick(form->Strip().Recordings[2].Tile);
    Delete();
    EXPECT_FALSE(QFile::exists(Folder() + "PLEN002.wav"));
    EXPECT_EQ(Names(), (QStringList{"PLEN000.wav", "PLEN001.wav"}));
    EXPECT_EQ(form->Strip().Selected, 1);
    EXPECT_EQ(CheckedEntry(), 1);
    EXPECT_EQ(MarkerX(), 112 + 61 + 5);

    // Deleting one in the middle keeps the index: the next one is selected.
    form->Strip().TileClick(form->Strip().Recordings[0].Tile);
    Delete();
    EXPECT_EQ(Names(), QStringList{"PLEN001.wav"});
    EXPECT_EQ(form->Strip().Selected, 0);

    Delete();
    EXPECT_TRUE(Names().isEmpty());
    EXPECT_EQ(form->Strip().Selected, 0);
    EXPECT_FALSE(form->Strip().Marker->isVisibleTo(form.get()));
    EXPECT_TRUE(form->PopupMenu1->actions().isEmpty());
    EXPECT_EQ(form->Image103->Picture().pixel(20, 30), QColor(84, 125, 141).rgb());

    // An empty strip: every command does nothing.
    for (auto command : {&TForm1::Image3Click, &TForm1::Image4Click, &TForm1::Image6Click, &TForm1::Image8Click,
                         &TForm1::Image11Click, &TForm1::Image12Click})
        (form.get()->*command)();
    EXPECT_EQ(form->Strip().ScrollTarget, 0);
    EXPECT_EQ(form->Strip().Selected, 0);
    EXPECT_FALSE(form->Timer3->isActive());
    EXPECT_TRUE(played.isEmpty());
}

TEST_F(StripTest, DeletingTheLastWhenItIsTheFirstSlotMovesTheViewBack) {
    AddRecordings(9);
    Rebuild();
    form->PopupMenu1->actions().at(8)->trigger();
    EXPECT_EQ(form->Strip().ScrollTarget, 61 * 8);
    Animate();
    EXPECT_EQ(VisibleTiles(), QStringList{"PLEN008.wav@112"});
    Delete();
    EXPECT_EQ(form->Strip().Selected, 7);
    EXPECT_EQ(form->Strip().ScrollTarget, 61 * 7);
    EXPECT_EQ(form->Strip().ScrollPos, 61 * 7);
    EXPECT_EQ(VisibleTiles(), QStringList{"PLEN007.wav@112"});
    EXPECT_EQ(MarkerX(), 117);
}

TEST_F(StripTest, DeletingTheFileBeingRecordedLeavesItListed) {
    AddRecordings(2);
    auto writer = env.files.CreateNew(Folder() + "PLEN999.wav");
    ASSERT_TRUE(writer);
    SetTime("PLEN999.wav", Now());
    Rebuild();
    ASSERT_EQ(Names().last(), "PLEN999.wav");
    form->Strip().TileClick(form->Strip().Recordings[2].Tile);
    Delete();
    EXPECT_TRUE(QFile::exists(Folder() + "PLEN999.wav"));
    EXPECT_EQ(Names().size(), 3);
    EXPECT_EQ(form->Strip().Selected, 1);
}

// A held take outlives the clean-up and a delete, its tile flagged.
TEST_F(StripTest, AHeldTakeStaysAndItsTileIsFlagged) {
    AppSettings.ManageFile = true;
    AddFile("PLEN20261205090500.wav", Now().addDays(-2));
    AddFile("PLEN20261207090500.wav", Now().addSecs(-60));
    QFile hold(Folder() + "PLEN20261205090500.hold");
    ASSERT_TRUE(hold.open(QIODevice::WriteOnly));
    hold.close();
    Rebuild();
    ASSERT_EQ(Names(), (QStringList{"PLEN20261205090500.wav", "PLEN20261207090500.wav"}));
    auto flagged = [this](int i) {
        return form->Strip().Recordings[i].Tile->Picture().pixelColor(50, 4) == QColor(241, 196, 15);
    };
    EXPECT_TRUE(flagged(0));
    EXPECT_FALSE(flagged(1));
    form->Strip().TileClick(form->Strip().Recordings[0].Tile);
    Delete();
    EXPECT_TRUE(QFile::exists(Folder() + "PLEN20261205090500.wav"));
    EXPECT_EQ(Names().size(), 2);
}

TEST_F(StripTest, HistoryChoiceDuringPlaybackPlaysAfterTheOldOneEnds) {
    AddRecordings(10);
    Rebuild();
    Playing = true;
    QAction* entry = form->PopupMenu1->actions().at(8);
    entry->trigger();
    EXPECT_EQ(form->Strip().Selected, 8);
    EXPECT_EQ(CheckedEntry(), 8);
    EXPECT_EQ(form->Strip().ScrollTarget, 61 * 8);  // out of view: it becomes the first slot
    EXPECT_TRUE(form->Timer3->isActive());
    EXPECT_EQ(MarkerX(), 117);
    EXPECT_TRUE(form->Timer7->isActive());
    EXPECT_EQ(form->Timer7->interval(), 2000);
    EXPECT_TRUE(played.isEmpty());

    form->Timer7Timer();  // still playing
    EXPECT_TRUE(form->Timer7->isActive());
    EXPECT_TRUE(played.isEmpty());

    Playing = false;
    WaveBackColor = 0;
    form->Timer7Timer();
    EXPECT_FALSE(form->Timer7->isActive());
    EXPECT_EQ(played, QStringList{Folder() + "PLEN008.wav"});
    EXPECT_EQ(playedOn, static_cast<WaveDisplay*>(form->PaintBox2));
    EXPECT_EQ(WaveBackColor, RGB(0, 204, 255));

    // Without playback a choice in view neither scrolls nor plays later.
    Animate();
    form->PopupMenu1->actions().at(9)->trigger();
    EXPECT_EQ(form->Strip().ScrollTarget, 61 * 8);
    EXPECT_FALSE(form->Timer7->isActive());
    form->Image6Click();
    EXPECT_EQ(played.last(), Folder() + "PLEN009.wav");
}

TEST_F(StripTest, ShorterListBringsTheSelectionBackIntoTheList) {
    AddRecordings(10);
    Rebuild();
    form->PopupMenu1->actions().at(9)->trigger();
    Animate();
    for (int i = 0; i < 6; ++i) QFile::remove(Folder() + QStringLiteral("PLEN%1.wav").arg(i, 3, 10, QLatin1Char('0')));
    Rebuild();
    ASSERT_EQ(Names().size(), 4);
    EXPECT_EQ(form->Strip().Selected, 3);
    EXPECT_EQ(form->Strip().ScrollTarget, 0);
    EXPECT_EQ(form->Strip().ScrollPos, 0);
    EXPECT_EQ(CheckedEntry(), 3);
    EXPECT_EQ(MarkerX(), 112 + 183 + 5);
    EXPECT_EQ(VisibleTiles().size(), 4);
    form->Image6Click();
    EXPECT_EQ(played, QStringList{Folder() + "PLEN009.wav"});
}

TEST_F(StripTest, RefreshAfterSettingsPullsTheSelectionIntoTheView) {
    AddRecordings(10);
    Rebuild();
    form->Strip().Selected = 9;
    form->Strip().RefreshAfterSettings();
    EXPECT_EQ(form->Strip().Selected, 6);
    EXPECT_EQ(MarkerX(), 112 + 366 + 5);
    EXPECT_EQ(CheckedEntry(), 6);
}

TEST_F(StripTest, HistoryMenuPopsUpBelowRightOfItsCommand) {
    AddRecordings(2);
    AddFile("PLEN & co.wav", Now().addSecs(-10));
    Rebuild();
    form->show();
    form->Image16Click();
    EXPECT_TRUE(form->PopupMenu1->isVisible());
    EXPECT_EQ(form->PopupMenu1->pos(), form->mapToGlobal(QPoint(72, 186)));
    const QList<QAction*> actions = form->PopupMenu1->actions();
    ASSERT_EQ(actions.size(), 3);
    EXPECT_EQ(actions[2]->text(), "PLEN && co.wav");
    EXPECT_EQ(actions[2]->data().toInt(), 2);
    EXPECT_TRUE(actions[0]->isCheckable());
    actions[1]->trigger();
    EXPECT_EQ(CheckedEntry(), 1);
    form->PopupMenu1->hide();
}

TEST_F(StripTest, EachAnimationTickShowsThePlaceItStartsFrom) {
    AddRecordings(8);
    Rebuild();
    form->show();
    for (int i = 0; i < 5; ++i) QCoreApplication::processEvents();
    QList<int> painted;
    const auto paint = form->PaintBox1->OnPaint;
    form->PaintBox1->OnPaint = [&](QPainter& p) {
        painted.append(form->Strip().ScrollPos);
        paint(p);
    };
    form->Image4Click();
    EXPECT_EQ(Animate().size(), 6);
    // Six ticks, the last one painting twice: before its step and at rest.
    EXPECT_EQ(painted, (QList<int>{0, 37, 51, 57, 59, 60, 61}));
}

TEST_F(StripTest, SwitchingOnARunningTimerKeepsItsTicks) {
    using testing_support::Wait;
    AddRecordings(10);
    Rebuild();
    // Scrolling on and back, over and over within the 50 ms of a tick: a
    // timer started anew by every command would never tick.
    int scrollTicks = 0;
    QObject::connect(form->Timer3, &QTimer::timeout, [&] { ++scrollTicks; });
    form->Image4Click();
    ASSERT_TRUE(form->Timer3->isActive());
    QElapsedTimer clock;
    clock.start();
    for (int i = 0; scrollTicks == 0 && clock.elapsed() < 5000; ++i) {
        if (i % 2 == 0)
            form->Image3Click();
        else
            form->Image4Click();
        Wait(5);
    }
    EXPECT_GT(scrollTicks, 0);

    // The same for the 2 s of the play after a switch, switching every 50 ms.
    Playing = true;
    form->Strip().TileClick(form->Strip().Recordings[2].Tile);
    int playTicks = 0;
    QObject::connect(form->Timer7, &QTimer::timeout, [&] { ++playTicks; });
    form->Image12Click();
    ASSERT_TRUE(form->Timer7->isActive());
    clock.restart();
    for (int i = 0; playTicks == 0 && clock.elapsed() < 10000; ++i) {
        Playing = true;
        if (i % 2 == 0)
            form->Image11Click();
        else
            form->Image12Click();
        Wait(50);
    }
    EXPECT_GT(playTicks, 0);
}

}  // namespace
