// SPDX-License-Identifier: GPL-3.0-or-later
// Recording files: header, names, locking, flushing, failed writes, repair.
#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QtEndian>

#include <algorithm>
#include <atomic>
#include <mutex>
#include <functional>
#include <future>
#include <thread>
#include <sys/stat.h>
#include <unistd.h>

#include "capture/RecordingFile.h"
#include "capture/TakeStore.h"
#include "capture/TakeWriter.h"
#include "capture/WaveFile.h"
#include "capture/Unit2.h"
#include "settings/publicunit.h"
#include "support/ForwardingFiles.h"
#include "support/TestSupport.h"

namespace {

// Real files whose writes and flushes are watched and, on demand, fail.
struct SpyFiles final : testing_support::ForwardingFiles {
    SpyFiles() : ForwardingFiles(real) {}
    platform::PosixFiles real;
    std::vector<int64_t> syncedSizes;  // file size at every flush
    bool failHeader = false;
    int dataWrites = 0;
    // Bytes that the n-th data write (from 1) really writes; all by default.
    std::function<int64_t(int n, int64_t size)> plan = [](int, int64_t size) { return size; };
    // Runs right after a file lets go of its lock (closed or discarded).
    std::function<void()> afterRelease = [] {};

    struct File final : platform::WritableFile {
        SpyFiles& spy;
        std::unique_ptr<platform::WritableFile> f;
        File(SpyFiles& s, std::unique_ptr<platform::WritableFile> inner) : spy(s), f(std::move(inner)) {}
        int64_t Append(const void* d, int64_t n) override { return f->Append(d, n); }
        bool WriteAt(int64_t offset, const void* d, int64_t n) override {
            if (offset == 0 && spy.failHeader) return false;
            if (offset < kWaveHeaderBytes) return f->WriteAt(offset, d, n);
            const int64_t done = spy.plan(++spy.dataWrites, n);
            return (done == 0 || f->WriteAt(offset, d, done)) && done == n;
        }
        int64_t Size() override { return f->Size(); }
        bool Sync() override {
            spy.syncedSizes.push_back(f->Size());
            return true;
        }
        bool Close() override {
            const bool closed = f->Close();
            spy.afterRelease();
            return closed;
        }
        bool Discard() override {
            const bool removed = f->Discard();
            spy.afterRelease();
            return removed;
        }
    };

    std::unique_ptr<platform::WritableFile> CreateNew(const QString& p) override {
        auto f = real.CreateNew(p);
        return f ? std::make_unique<File>(*this, std::move(f)) : nullptr;
    }
};

class RecordingFiles : public ::testing::Test {
protected:
    testing_support::TestEnvironment env;
    QString folder = env.AppDir() + "record/";
    std::array<int16_t, 4096> block{};

    void SetUp() override { QDir().mkpath(folder); }
    static QByteArray Read(const QString& path) {
        QFile f(path);
        return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
    }
    static void Write(const QString& path, const QByteArray& bytes) {
        QFile f(path);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write(bytes);
    }
    static quint32 U32(const QByteArray& b, int at) { return qFromLittleEndian<quint32>(b.constData() + at); }
    void AppendBlock(platform::WritableFile& f, int16_t value) {
        block.fill(value);
        f.Append(block.data(), 8192);
    }
};

TEST_F(RecordingFiles, HeaderIsProvisionalWhileOpenAndMatchesTheFileWhenClosed) {
    const QString name = folder + "a.wav";
    auto f = OpenRecordingFile(2, 16, name, 22050);
    ASSERT_TRUE(f);
    AppendBlock(*f, 7);
    // Held exclusively: no reader, no deleter.
    EXPECT_FALSE(env.files.OpenRead(name));
    EXPECT_FALSE(env.files.Remove(name));
    QByteArray b = Read(name);
    ASSERT_EQ(b.size(), 44 + 8192);
    EXPECT_EQ(b.left(4), QByteArray::fromHex("52494646"));
    EXPECT_EQ(U32(b, 4), 36u);
    EXPECT_EQ(U32(b, 40), 0u);
    CloseRecordingFile(*f);
    b = Read(name);
    EXPECT_EQ(b.left(44), QByteArray(reinterpret_cast<const char*>(MakeWaveHeader(2, 16, 22050, 8228, 8192).data()), 44));
    EXPECT_EQ(b.mid(8, 8), "WAVEfmt ");
    EXPECT_EQ(U32(b, 16), 16u);
    EXPECT_EQ(U32(b, 20), 1u | (2u << 16));  // PCM, 2 channels
    EXPECT_EQ(U32(b, 24), 22050u);
    EXPECT_EQ(U32(b, 28), 88200u);
    EXPECT_EQ(U32(b, 32), 4u | (16u << 16));  // block align 4, 16 bits
    EXPECT_EQ(b.mid(36, 4), "data");
    EXPECT_TRUE(env.files.OpenRead(name));
    // Never replaces a file.
    EXPECT_FALSE(OpenRecordingFile(2, 16, name, 22050));
    EXPECT_EQ(Read(name), b);
}

TEST_F(RecordingFiles, NamesCarryTheStartTimeAndNeverReplaceATake) {
    const QDateTime eve(QDate(2026, 12, 31), QTime(23, 59, 59));
    EXPECT_EQ(RecordingFileName(folder, eve), folder + "PLEN20261231235959.wav");
    EXPECT_EQ(RecordingFileName("", QDateTime(QDate(2027, 1, 2), QTime(3, 4, 5)), 3), "PLEN20270102030405-3.wav");
    Write(folder + "PLEN20261231235959.wav", "one");
    Write(folder + "PLEN20261231235959-2.wav", "two");
    QString name;
    auto f = OpenNewRecording(folder, eve, 22050, name);
    ASSERT_TRUE(f);
    EXPECT_EQ(name, folder + "PLEN20261231235959-3.wav");
    EXPECT_EQ(Read(folder + "PLEN20261231235959.wav"), "one");
    EXPECT_EQ(Read(folder + "PLEN20261231235959-2.wav"), "two");
    EXPECT_FALSE(OpenNewRecording(folder + "missing/", eve, 22050, name));
}

// A reader that opens a short take the moment the writer lets go of it (a
// web client, say) cannot keep it alive: the take is gone first.
TEST_F(RecordingFiles, AShortTakeGoesEvenWhenAReaderComesAtItsClose) {
    SpyFiles spy;
    platform::Services().files = &spy;
    const QString name = folder + "PLEN20261231235959.wav";
    std::unique_ptr<platform::ReadableFile> reader;
    spy.afterRelease = [&] { reader = spy.real.OpenRead(name); };
    TakeWriter writer;
    QStringList problems;
    QObject::connect(&writer, &TakeWriter::fileProblem, [&](const QString& line) { problems << line; });
    writer.BeginNew(name, 22050);
    block.fill(5);
    ASSERT_TRUE(writer.Append(block.data(), 8192));
    writer.End(true);
    writer.WaitIdle();
    EXPECT_FALSE(reader);
    EXPECT_FALSE(QFileInfo::exists(name));
    EXPECT_TRUE(problems.isEmpty());
}

// A delete that comes while a take is being created never finds it
// unlocked: every take created under a deleter's fire is still there.
TEST_F(RecordingFiles, ADeleteDuringCreationNeverRemovesTheNewTake) {
    std::atomic<bool> stop{false};
    std::mutex turn;  // a deleter's look at the round and its delete are one step
    int round = -1;
    std::atomic<int> removed{0};
    auto pathOf = [this](int i) { return folder + QStringLiteral("PLEN%1.wav").arg(i); };
    std::thread deleter([&] {
        while (!stop) {
            {
                std::lock_guard hold(turn);
                if (round >= 0 && env.files.Remove(pathOf(round))) ++removed;
            }
            std::this_thread::yield();
        }
    });
    int lost = 0;
    for (int i = 0; i < 1000 && lost == 0; ++i) {
        {
            std::lock_guard hold(turn);
            round = i;
        }
        auto f = OpenRecordingFile(2, 16, pathOf(i), 22050);
        if (!f) {  // not an ASSERT: the deleter must still be stopped
            ADD_FAILURE() << "round " << i << ": the take was not created";
            break;
        }
        if (!QFileInfo::exists(pathOf(i))) ++lost;
        // Held: the deleter fails on it for as long as it is open.
        EXPECT_FALSE(env.files.Remove(pathOf(i)));
        // Called off before the take is closed, after which a delete is fair.
        {
            std::lock_guard hold(turn);
            round = -1;
        }
        CloseRecordingFile(*f);
    }
    stop = true;
    deleter.join();
    EXPECT_EQ(lost, 0);
    EXPECT_EQ(removed, 0);
}

TEST_F(RecordingFiles, DataIsFlushedAtLeastEveryTwoSeconds) {
    SpyFiles spy;
    platform::Services().files = &spy;
    for (auto [rate, every] : {std::pair{22050, 22}, std::pair{44100, 44}, std::pair{11025, 11}}) {
        spy.syncedSizes.clear();
        auto f = OpenRecordingFile(2, 16, folder + QString::number(rate), rate);
        ASSERT_TRUE(f);
        for (int i = 0; i < 2 * every + 1; ++i) AppendBlock(*f, 1);
        CloseRecordingFile(*f);
        const int64_t last = 44 + (2 * every + 1) * 8192;
        EXPECT_EQ(spy.syncedSizes, (std::vector<int64_t>{44 + every * 8192, 44 + 2 * every * 8192, last}));
    }
}

TEST_F(RecordingFiles, FailedWritesKeepTheFramesInPlaceAndStillCount) {
    SpyFiles spy;
    platform::Services().files = &spy;
    // The 3rd block is cut short, the 6th and later are lost (disk full).
    spy.plan = [](int n, int64_t size) -> int64_t { return n == 3 ? 1000 : n >= 6 ? 0 : size; };
    AppSettings = TAppSettings{};
    TFRecord rec;
    rec.RecordFolder = folder;
    rec.SampleRate = 22050;
    rec.Manual = rec.ManualRequest = true;
    for (int16_t i = 1; i <= 108; ++i) {
        block.fill(i);
        rec.ControlStep(0.0, block.data());
    }
    rec.ManualRequest = false;
    rec.ControlStep(0.0, block.data());
    EXPECT_EQ(rec.FramesWritten, 109 * 2048);
    rec.Writer->WaitIdle();
    ASSERT_TRUE(QFile::exists(rec.FileName));  // kept by the frames counted
    const QByteArray b = Read(rec.FileName);
    ASSERT_EQ(b.size(), 44 + 4 * 8192);
    EXPECT_EQ(U32(b, 4), static_cast<quint32>(b.size() - 8));
    EXPECT_EQ(U32(b, 40), static_cast<quint32>(b.size() - 44));
    const int16_t expected[] = {1, 2, 4, 5};
    for (int k = 0; k < 4; ++k) EXPECT_EQ(b[44 + k * 8192 + 8191 - 1], expected[k]) << k;

    // A header that cannot be written leaves no file and no take.
    spy.failHeader = true;
    QString name;
    EXPECT_FALSE(OpenNewRecording(folder, env.clock.now.addDays(1), 22050, name));
    EXPECT_FALSE(QFile::exists(name));
}

// Blocks handed over while the writer is held up travel together, yet each
// is written on its own, in order, and counts against the queue until then.
TEST_F(RecordingFiles, BlocksQueuedBehindABusyWriterAreWrittenOneByOneInOrder) {
    SpyFiles spy;
    platform::Services().files = &spy;
    std::promise<void> release;
    std::shared_future<void> released = release.get_future().share();
    spy.plan = [&](int n, int64_t size) -> int64_t {
        if (n == 1) released.wait();
        return n == 5 ? 0 : size;  // the 5th block is lost
    };
    TakeWriter writer(12);
    const QString name = folder + "PLEN20261231235959.wav";
    writer.BeginNew(name, 22050);
    QByteArray expected;
    for (int16_t i = 1; i <= 12; ++i) {
        block.fill(i);
        const int bytes = i == 7 ? 4000 : 8192;
        ASSERT_TRUE(writer.Append(block.data(), bytes)) << i;
        if (i != 5) expected.append(reinterpret_cast<const char*>(block.data()), bytes);
    }
    EXPECT_FALSE(writer.Append(block.data(), 8192));  // the queue is full
    release.set_value();
    writer.End();
    writer.WaitIdle();
    EXPECT_EQ(writer.QueuedBlocks(), 0);
    EXPECT_EQ(spy.dataWrites, 12);
    EXPECT_EQ(Read(name).mid(44), expected);
}

TEST_F(RecordingFiles, RepairFixesOnlyTakesLeftOpen) {
    const QDateTime old = QDateTime::currentDateTime().addDays(-2).addSecs(-17);
    auto make = [&](const QString& name, const QByteArray& bytes) {
        Write(folder + name, bytes);
        QFile f(folder + name);
        ASSERT_TRUE(f.open(QIODevice::ReadWrite));
        f.setFileTime(old, QFileDevice::FileModificationTime);
    };
    auto header = [](uint16_t ch, uint16_t bits, int rate, uint32_t riff, uint32_t data) {
        const WaveHeader h = MakeWaveHeader(ch, bits, rate, riff, data);
        return QByteArray(reinterpret_cast<const char*>(h.data()), 44);
    };
    const QByteArray data(3 * 8192, '\x11');
    make("PLEN1.wav", header(2, 16, 22050, 36, 0) + data);         // left open
    make("mono8.wav", header(1, 8, 8000, 36, 0) + QByteArray(5, 'x'));
    make("PLEN2.wav", header(2, 16, 22050, 36 + 3 * 8192, 3 * 8192) + data);  // fine
    QByteArray odd = header(2, 16, 22050, 36, 0) + data;
    odd[16] = 18;  // a longer format chunk: not ours to judge
    make("odd.wav", odd);
    make("short.wav", QByteArray("RIFF\x24\0\0\0WAVE", 12));
    make("notes.txt", QByteArray(60, 'n'));
    auto open = OpenRecordingFile(2, 16, folder + "PLEN3.wav", 22050);  // being written
    const QByteArray heldBefore = Read(folder + "PLEN3.wav");

    EXPECT_EQ(RepairRecordings(folder.chopped(1)), 2);
    QByteArray b = Read(folder + "PLEN1.wav");
    EXPECT_EQ(b, header(2, 16, 22050, 36 + 3 * 8192, 3 * 8192) + data);
    EXPECT_EQ(Read(folder + "mono8.wav").left(44), header(1, 8, 8000, 41, 5));
    EXPECT_EQ(Read(folder + "odd.wav"), odd);
    EXPECT_EQ(Read(folder + "short.wav").size(), 12);
    EXPECT_EQ(Read(folder + "notes.txt"), QByteArray(60, 'n'));
    EXPECT_EQ(Read(folder + "PLEN3.wav"), heldBefore);
    for (const char* n : {"PLEN1.wav", "PLEN2.wav", "mono8.wav"})
        EXPECT_EQ(QFileInfo(folder + n).lastModified().toSecsSinceEpoch(), old.toSecsSinceEpoch()) << n;
    EXPECT_EQ(RepairRecordings(folder), 0);
}

// A finished file with a chunk after its sound (as editors write) keeps every
// byte; a data size beyond the end (cut while patching) is mended; a FIFO or a
// folder named like a take is passed over by listing, reading, repair and
// deletion instead of holding start-up up, and a link by listing.
TEST_F(RecordingFiles, RepairAndListingTouchOnlyCutRegularTakes) {
    auto header = [](uint32_t riff, uint32_t data) {
        const WaveHeader h = MakeWaveHeader(2, 16, 22050, riff, data);
        return QByteArray(reinterpret_cast<const char*>(h.data()), 44);
    };
    const QByteArray sound(4096, '\x22');
    QByteArray list("LIST\x1a\0\0\0INFOISFT\x0e\0\0\0SomeEditor 1.0", 34);
    const QByteArray tagged = header(36 + 4096 + 34, 4096) + sound + list;
    Write(folder + "PLEN20261207100000.wav", tagged);
    Write(folder + "PLEN20261207110000.wav", header(36 + 9000, 9000) + sound);
    ASSERT_EQ(::mkfifo(QFile::encodeName(folder + "PLEN20261207120000.wav").constData(), 0644), 0);
    ASSERT_TRUE(QDir().mkpath(folder + "PLEN20261207130000.wav"));

    EXPECT_EQ(RepairRecordings(folder), 1);
    EXPECT_EQ(Read(folder + "PLEN20261207100000.wav"), tagged);
    EXPECT_EQ(Read(folder + "PLEN20261207110000.wav"), header(36 + 4096, 4096) + sound);

    // A link named like a take is never followed, wherever it leads.
    Write(env.AppDir() + "elsewhere.wav", tagged);
    ASSERT_EQ(::symlink(QFile::encodeName(env.AppDir() + "elsewhere.wav").constData(),
                        QFile::encodeName(folder + "PLEN20261207140000.wav").constData()),
              0);
    QStringList listed;
    for (const platform::DirEntry& e : env.files.List(folder, ".wav")) listed << e.name;
    listed.sort();
    EXPECT_EQ(listed, QStringList({"PLEN20261207100000.wav", "PLEN20261207110000.wav"}));
    for (const char* name : {"PLEN20261207120000.wav", "PLEN20261207130000.wav"}) {
        EXPECT_FALSE(env.files.OpenRead(folder + name)) << name;
        EXPECT_FALSE(env.files.Remove(folder + name)) << name;
        EXPECT_TRUE(QFileInfo::exists(folder + name)) << name;
    }
    // What the listing passes over still holds its name.
    testing_support::CoreApp();
    TakeStore store(folder);
    EXPECT_EQ(store.NameTake(QDateTime(QDate(2026, 12, 7), QTime(14, 0))), folder + "PLEN20261207140000-2.wav");
}

}  // namespace

namespace {

// The real files of a small disk: what is free is its size less the takes'.
struct SmallDisk final : testing_support::ForwardingFiles {
    SmallDisk() : ForwardingFiles(real) {}
    platform::PosixFiles real;
    QString folder;
    int64_t capacity = 0;
    QList<platform::DirEntry> List(const QString& d, const QString& s) override {
        frozen.Pass();
        return real.List(d, s);
    }
    // While frozen, listing waits as on a frozen file system.
    void Freeze(bool on) { frozen.Shut(on); }
    testing_support::Gate frozen;
    int64_t FreeBytes(const QString&) override {
        int64_t used = 0;
        for (const QFileInfo& info : QDir(folder).entryInfoList(QDir::Files)) used += info.size();
        return capacity - used;
    }
};

class TakeStoreTest : public RecordingFiles {
protected:
    void SetUp() override {
        RecordingFiles::SetUp();
        testing_support::CoreApp();
        disk.folder = folder;
        disk.capacity = 10 << 20;
        platform::Services().files = &disk;
    }
    // A file of `mb` megabytes last written `age` hours before now.
    void Add(const QString& name, int mb, int age) {
        Write(folder + name, QByteArray(mb << 20, '\0'));
        const QDateTime when = env.clock.now.addSecs(-3600 * age);
        QFile f(folder + name);
        ASSERT_TRUE(f.open(QIODevice::ReadWrite));
        ASSERT_TRUE(f.setFileTime(when, QFileDevice::FileModificationTime));
    }
    QStringList Run(TakeStore& store) {
        QStringList removed;
        QObject here;  // the connections last for this run only
        QObject::connect(&store, &TakeStore::removed, &here,
                         [&](const QString& name, const QString& why) { removed << name + " (" + why + ")"; });
        bool listed = false;
        QObject::connect(&store, &TakeStore::listed, &here, [&] { listed = true; });
        store.Refresh();
        EXPECT_TRUE(testing_support::WaitUntil([&] { return listed; }, 5000));
        return removed;
    }
    SmallDisk disk;
};

// The oldest takes go until enough is free: archived ones first, never the
// open take, never a file that is not a take.
TEST_F(TakeStoreTest, KeepFreeRemovesTheOldestTakesArchivedFirst) {
    Add("notes.wav", 1, 50);
    Add("PLEN20261201000000.wav", 1, 40);
    Add("PLEN20261202000000.wav", 1, 30);
    Add("PLEN20261203000000.wav", 1, 20);
    Add("PLEN20261204000000.wav", 1, 10);
    Add("PLEN20261205000000.wav", 1, 1);
    TakeStore store(folder);
    store.SetOpenTake(folder + "PLEN20261201000000.wav");
    store.SetPolicy({.expireAfterDay = false,
                     .keepFreeMB = 6,
                     .archiveConfigured = true,
                     .archived = [](const QString& name) { return name == "PLEN20261203000000.wav"; }});
    EXPECT_EQ(Run(store), (QStringList{"PLEN20261203000000.wav (keeping 6 MB free)",
                                       "PLEN20261202000000.wav (keeping 6 MB free)"}));
    EXPECT_TRUE(QFileInfo::exists(folder + "notes.wav"));
    EXPECT_TRUE(QFileInfo::exists(folder + "PLEN20261201000000.wav"));
    EXPECT_TRUE(QFileInfo::exists(folder + "PLEN20261204000000.wav"));
    // Off by default: nothing goes.
    store.SetPolicy({});
    disk.capacity = 0;
    EXPECT_TRUE(Run(store).isEmpty());
}

// With an archive configured, the 24-hour rule takes only archived takes.
TEST_F(TakeStoreTest, WithAnArchiveOnlyArchivedTakesAgeOut) {
    Add("PLEN20261201000000.wav", 0, 40);
    Add("PLEN20261202000000.wav", 0, 30);
    Add("PLEN20261205000000.wav", 0, 1);
    TakeStore store(folder);
    store.SetPolicy({.expireAfterDay = true,
                     .keepFreeMB = 0,
                     .archiveConfigured = true,
                     .archived = [](const QString& name) { return name != "PLEN20261202000000.wav"; }});
    EXPECT_EQ(Run(store), QStringList{"PLEN20261201000000.wav (older than 24 hours)"});
    store.SetPolicy({.expireAfterDay = true, .keepFreeMB = 0, .archiveConfigured = false, .archived = {}});
    EXPECT_EQ(Run(store), QStringList{"PLEN20261202000000.wav (older than 24 hours)"});
}

// A held take outlives the 24-hour rule, KeepFreeMB and a delete; a take's
// note goes with it, and a mark without its take goes with the next listing.
TEST_F(TakeStoreTest, HeldTakesStayAndMarksFollowTheirTake) {
    Add("PLEN20261201000000.wav", 1, 40);
    Add("PLEN20261202000000.wav", 1, 30);
    Add("PLEN20261205000000.wav", 1, 10);
    Write(folder + "PLEN20261203000000.note", "a note whose take has gone");
    TakeStore store(folder);
    EXPECT_EQ(store.SetHold("PLEN20261201000000.wav", true), TakeStore::Mark::Done);
    EXPECT_EQ(store.SetHold("PLEN20261202000000.wav", true), TakeStore::Mark::Done);
    EXPECT_EQ(store.SetNote("PLEN20261201000000.wav", "hearing 14/2"), TakeStore::Mark::Done);
    EXPECT_EQ(store.SetNote("PLEN20261205000000.wav", "rehearsal"), TakeStore::Mark::Done);
    EXPECT_EQ(store.SetNote("PLEN20261209000000.wav", "no take"), TakeStore::Mark::Missing);
    QList<TakeInfo> listing;
    QObject::connect(&store, &TakeStore::listed, &store, [&](const QList<TakeInfo>& takes) { listing = takes; });
    // Archived or not, past 24 hours and on a full disk: only the one not held goes.
    store.SetPolicy({.expireAfterDay = true,
                     .keepFreeMB = 9,
                     .archiveConfigured = true,
                     .archived = [](const QString&) { return true; }});
    EXPECT_EQ(Run(store), QStringList{"PLEN20261205000000.wav (keeping 9 MB free)"});
    EXPECT_FALSE(QFileInfo::exists(folder + "PLEN20261205000000.note"));
    EXPECT_FALSE(QFileInfo::exists(folder + "PLEN20261203000000.note"));
    ASSERT_EQ(listing.size(), 2);
    EXPECT_TRUE(listing[0].held && listing[1].held);
    EXPECT_EQ(store.Note("PLEN20261201000000.wav"), "hearing 14/2");
    // A cleared note stays empty beside its take, so that the archive still
    // deletes its object after a restart.
    EXPECT_EQ(store.SetNote("PLEN20261201000000.wav", ""), TakeStore::Mark::Done);
    EXPECT_EQ(store.Note("PLEN20261201000000.wav"), "");
    EXPECT_TRUE(QFileInfo::exists(folder + "PLEN20261201000000.note"));

    bool refused = false;
    QObject::connect(&store, &TakeStore::deleted, &store, [&](const QString&, bool ok) { refused = !ok; });
    store.Delete("PLEN20261202000000.wav");
    EXPECT_TRUE(testing_support::WaitUntil([&] { return refused; }, 5000));
    EXPECT_FALSE(store.Remove("PLEN20261201000000.wav"));
    EXPECT_TRUE(QFileInfo::exists(folder + "PLEN20261201000000.wav"));
    EXPECT_EQ(store.SetHold("PLEN20261201000000.wav", false), TakeStore::Mark::Done);
    EXPECT_TRUE(store.Remove("PLEN20261201000000.wav"));
    EXPECT_FALSE(QFileInfo::exists(folder + "PLEN20261201000000.note"));
}

// Each header is read once and remembered until the take goes; one too
// short to tell is read again.
TEST_F(TakeStoreTest, HeadersAreReadOnceUntilTheTakeGoes) {
    platform::Services().files = &env.files;
    auto header = [](int32_t rate) {
        const WaveHeader h = MakeWaveHeader(2, 16, rate, 36, 0);
        return QByteArray(reinterpret_cast<const char*>(h.data()), kWaveHeaderBytes);
    };
    Write(folder + "PLEN20261201000000.wav", header(22050));
    Write(folder + "PLEN20261202000000.wav", QByteArray(10, 'R'));
    TakeStore store(folder);
    auto rates = [&store] { return store.ByteRates(store.ListTakes()); };
    auto sorted = [](std::vector<int32_t> v) {
        std::sort(v.begin(), v.end());
        return v;
    };
    EXPECT_EQ(sorted(rates()), (std::vector<int32_t>{0, 88200}));
    Write(folder + "PLEN20261201000000.wav", header(44100));
    Write(folder + "PLEN20261202000000.wav", header(11025));
    EXPECT_EQ(sorted(rates()), (std::vector<int32_t>{44100, 88200}));
    store.Forget("PLEN20261201000000.wav");
    EXPECT_EQ(sorted(rates()), (std::vector<int32_t>{44100, 176400}));
}

}  // namespace

// A caller that waits for the store gives up after its limit when the disk
// does not answer, and the store still does the work once it does.
TEST_F(TakeStoreTest, AWaitForAFrozenDiskHasALimit) {
    Add("PLEN20261201000000.wav", 1, 1);
    TakeStore store(folder);
    ASSERT_TRUE(store.WaitIdleFor(5000));
    bool listed = false;
    QObject::connect(&store, &TakeStore::listed, [&] { listed = true; });
    disk.Freeze(true);
    store.Refresh();
    EXPECT_FALSE(store.WaitIdleFor(200));
    disk.Freeze(false);
    EXPECT_TRUE(store.WaitIdleFor(5000));
    EXPECT_TRUE(testing_support::WaitUntil([&] { return listed; }, 5000));
}
