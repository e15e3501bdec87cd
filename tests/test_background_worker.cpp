// SPDX-License-Identifier: GPL-3.0-or-later
#include <gtest/gtest.h>

#include <atomic>
#include <mutex>

#include "support/TestSupport.h"
#include "util/BackgroundWorker.h"

namespace {

using std::chrono::milliseconds;
using testing_support::WaitUntil;

BackgroundWorker::Options Quick(const char* name) {
    BackgroundWorker::Options options;
    options.name = name;
    options.firstRetry = milliseconds(1);
    options.maxRetry = milliseconds(4);
    return options;
}

TEST(BackoffTest, DoublesUpToItsCeilingAndStartsOverAfterASuccess) {
    Backoff backoff(milliseconds(5), milliseconds(30));
    std::vector<long> waits;
    for (int i = 0; i < 6; ++i) waits.push_back(static_cast<long>(backoff.Next().count()));
    EXPECT_EQ(waits, (std::vector<long>{5, 10, 20, 30, 30, 30}));
    backoff.Reset();
    EXPECT_EQ(backoff.Next(), milliseconds(5));
}

// Jobs run in the order posted; a retried one holds those behind it until
// it succeeds.
TEST(BackgroundWorkerTest, RunsJobsInOrderAndRetriesTheOneInHand) {
    BackgroundWorker worker(Quick("test"));
    std::mutex mutex;
    std::vector<QString> ran;
    auto note = [&](const QString& what) {
        std::lock_guard lock(mutex);
        ran.push_back(what);
    };
    int tries = 0;
    worker.Post("a", [&] { note("a"); });
    worker.PostRetried("b", [&] {
        note("b");
        return ++tries == 4;
    });
    worker.Post("c", [&] { note("c"); });
    ASSERT_TRUE(worker.WaitIdleFor(milliseconds(5000)));
    EXPECT_EQ(ran, (std::vector<QString>{"a", "b", "b", "b", "b", "c"}));
    EXPECT_TRUE(worker.StopWithin(milliseconds(5000)).Clean());
    EXPECT_FALSE(worker.Post("late", [] {}));
}

// A thread held inside a job is not waited for beyond the limit; the report
// names the job in hand and those that never ran, and they never do.
TEST(BackgroundWorkerTest, AHeldStopIsBoundedAndNamesWhatItAbandoned) {
    testing_support::CoreApp();
    auto gate = std::make_shared<testing_support::Gate>();
    gate->Shut(true);
    std::atomic<int> after{0};
    auto worker = std::make_unique<BackgroundWorker>(Quick("store"));
    worker->Post("list", [gate] { gate->Pass(); });
    worker->Post("delete A.wav", [&] { ++after; });
    worker->Post("repair", [&] { ++after; });
    ASSERT_TRUE(WaitUntil([&] { return gate->Waiting() > 0; }, 5000));
    EXPECT_FALSE(worker->WaitIdleFor(milliseconds(20)));
    const BackgroundWorker::StopReport held = worker->StopWithin(milliseconds(50));
    EXPECT_FALSE(held.ended);
    EXPECT_EQ(held.running, "list");
    EXPECT_EQ(held.abandoned, (QStringList{"delete A.wav", "repair"}));
    EXPECT_EQ(held.Line(), "store: still in list at the limit; left to end with the process; "
                           "not done: delete A.wav, repair");
    gate->Shut(false);
    EXPECT_TRUE(worker->StopWithin(milliseconds(5000)).Clean());
    worker.reset();
    EXPECT_EQ(after, 0);

    // A retried job is given up when the stop's drain time is over.
    BackgroundWorker failing(Quick("alerts"));
    std::atomic<int> tries{0};
    failing.PostRetried("POST started", [&] { return ++tries < 0; });
    ASSERT_TRUE(WaitUntil([&] { return tries > 2; }, 5000));
    failing.RequestStop();
    const BackgroundWorker::StopReport given = failing.StopWithin(milliseconds(5000));
    EXPECT_TRUE(given.ended);
    EXPECT_EQ(given.abandoned, QStringList{"POST started"});
}

}  // namespace
