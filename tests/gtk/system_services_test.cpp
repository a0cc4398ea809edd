#include "system_services.h"

#include <glib.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <atomic>
#include <thread>

namespace corvidale::gtk {
namespace {

double secondsSince(gint64 start) { return static_cast<double>(g_get_monotonic_time() - start) / G_USEC_PER_SEC; }

TEST(MainQueue, PostedJobRunsLaterNotInsideTheCall) {
    GLibMainQueue queue;
    bool ran = false;
    queue.post([&] { ran = true; });
    EXPECT_FALSE(ran);
    EXPECT_TRUE(queue.runUntil([&] { return ran; }, 2.0));
}

TEST(MainQueue, JobPostedFromAWorkerRunsOnTheMainThread) {
    GLibMainQueue queue;
    const auto mainThread = std::this_thread::get_id();
    std::atomic<bool> ran{false};
    std::thread::id ranOn;
    std::thread worker([&] {
        queue.post([&] {
            ranOn = std::this_thread::get_id();
            ran = true;
        });
    });
    worker.join();
    ASSERT_TRUE(queue.runUntil([&] { return ran.load(); }, 2.0));
    EXPECT_EQ(ranOn, mainThread);
}

TEST(MainQueue, AfterWaitsForTheDelay) {
    GLibMainQueue queue;
    bool ran = false;
    const gint64 start = g_get_monotonic_time();
    queue.after(0.2, [&] { ran = true; });
    ASSERT_TRUE(queue.runUntil([&] { return ran; }, 3.0));
    EXPECT_GE(secondsSince(start), 0.19);
}

TEST(MainQueue, RepeatingTimerFiresUntilInvalidatedOrDestroyed) {
    GLibMainQueue queue;
    int count = 0;
    auto timer = queue.repeating(0.02, [&] { ++count; });
    EXPECT_TRUE(timer->isValid());
    ASSERT_TRUE(queue.runUntil([&] { return count >= 3; }, 3.0));
    timer->invalidate();
    EXPECT_FALSE(timer->isValid());
    const int stoppedAt = count;
    EXPECT_FALSE(queue.runUntil([] { return false; }, 0.15));
    EXPECT_EQ(count, stoppedAt);

    int other = 0;
    auto dropped = queue.repeating(0.02, [&] { ++other; });
    dropped.reset();
    EXPECT_FALSE(queue.runUntil([] { return false; }, 0.15));
    EXPECT_EQ(other, 0);
}

TEST(MainQueue, TimerMayInvalidateItselfFromItsJob) {
    GLibMainQueue queue;
    int count = 0;
    std::unique_ptr<platform::Timer> timer;
    timer = queue.repeating(0.01, [&] {
        ++count;
        timer->invalidate();
    });
    EXPECT_FALSE(queue.runUntil([] { return false; }, 0.2));
    EXPECT_EQ(count, 1);
}

TEST(MainQueue, RunUntilGivesUpAtTheTimeout) {
    GLibMainQueue queue;
    const gint64 start = g_get_monotonic_time();
    EXPECT_FALSE(queue.runUntil([] { return false; }, 0.1));
    const double elapsed = secondsSince(start);
    EXPECT_GE(elapsed, 0.09);
    EXPECT_LT(elapsed, 2.0);
    EXPECT_TRUE(queue.runUntil([] { return true; }, 0.1));
}

TEST(StandardProcess, WritesEachLineWithOneLineFeedAfterWhatStdioBuffered) {
    int pipeEnds[2];
    ASSERT_EQ(::pipe(pipeEnds), 0);
    std::fflush(stdout);
    const int saved = ::dup(STDOUT_FILENO);
    ::dup2(pipeEnds[1], STDOUT_FILENO);

    StandardProcess process;
    std::fputs("buffered ", stdout);  // still in stdio's buffer
    process.writeStdout("DOWNLOAD SELFTEST: saved");
    process.writeStdout("");

    std::fflush(stdout);
    ::dup2(saved, STDOUT_FILENO);
    ::close(saved);
    ::close(pipeEnds[1]);
    char buffer[256];
    const ssize_t length = ::read(pipeEnds[0], buffer, sizeof buffer);
    ::close(pipeEnds[0]);
    ASSERT_GT(length, 0);
    EXPECT_EQ(std::string(buffer, static_cast<std::size_t>(length)), "buffered DOWNLOAD SELFTEST: saved\n\n");
}

}  // namespace
}  // namespace corvidale::gtk
