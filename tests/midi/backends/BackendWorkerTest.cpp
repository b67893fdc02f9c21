#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <thread>

#include "midi/MidiBackend.h"

namespace bq::midi {
namespace {

using namespace std::chrono_literals;

// A gate a task waits at until the test opens it, and a count the test can wait on.
class Gate {
public:
    void Open() {
        std::lock_guard lock(m_mutex);
        m_open = true;
        m_cv.notify_all();
    }
    void Pass() {
        std::unique_lock lock(m_mutex);
        m_cv.wait(lock, [this] { return m_open; });
    }
    void Count() {
        std::lock_guard lock(m_mutex);
        ++m_count;
        m_cv.notify_all();
    }
    // True once the count has reached `n`; the bound is only a failure limit.
    bool WaitFor(int n) {
        std::unique_lock lock(m_mutex);
        return m_cv.wait_for(lock, 20s, [&] { return m_count >= n; });
    }
    int Counted() {
        std::lock_guard lock(m_mutex);
        return m_count;
    }

private:
    std::mutex m_mutex;
    std::condition_variable m_cv;
    bool m_open = false;
    int m_count = 0;
};

TEST(BackendWorker, SleepsUntilWokenAndNoWakeUpIsLost) {
    Gate polls;
    BackendWorker worker([&] {
        polls.Count();
        return -1;  // until woken
    });
    ASSERT_TRUE(polls.WaitFor(1));  // the first pass
    const int before = polls.Counted();

    // Wakes from a thread that is neither the worker nor the caller of the tasks, as JACK's
    // process thread is; each one that lands after a poll brings exactly the next poll.
    for (int i = 1; i <= 3; ++i) {
        std::thread([&] { worker.Wake(); }).join();
        ASSERT_TRUE(polls.WaitFor(before + i)) << "a wake-up was lost";
    }
    // A task is a wake-up too: the poll after it sees what it changed.
    bool set = false;
    worker.RunSync([&] { set = true; });
    EXPECT_TRUE(set);
    ASSERT_TRUE(polls.WaitFor(before + 4));
}

TEST(BackendWorker, ACallEndsAtItsLimitWhileTheWorkerIsStuckAndItsUndoRunsAfterTheTask) {
    BackendWorker worker([] { return -1; });
    Gate stuck;
    Gate entered;
    std::atomic<bool> taskEnded{false};
    std::atomic<bool> undoAfterTask{false};
    std::atomic<bool> undone{false};
    // The task blocks (as a libjack call on a server that hangs): the caller gives up.
    EXPECT_FALSE(worker.Call(
        [&] {
            entered.Count();
            stuck.Pass();
            taskEnded = true;
        },
        1s,
        [&] {
            undoAfterTask = taskEnded.load();
            undone = true;
        }));
    ASSERT_EQ(entered.Counted(), 1) << "the idle worker did not start the task within 1 s";
    // While it is stuck, a later call neither waits nor runs later: its caller has gone on.
    std::atomic<bool> lateRan{false};
    EXPECT_FALSE(worker.Call([&] { lateRan = true; }, 20ms));
    EXPECT_FALSE(undone.load()) << "the undo must wait for the task's end";

    stuck.Open();
    // The next call runs after the undo (tasks run in order on the one thread).
    bool last = false;
    ASSERT_TRUE(worker.Call([&] { last = true; }, 20s));
    EXPECT_TRUE(last);
    EXPECT_TRUE(undone.load());
    EXPECT_TRUE(undoAfterTask.load());
    EXPECT_FALSE(lateRan.load()) << "a withdrawn call ran after its caller had given up";

    // A call that ends in time returns its result and never undoes.
    std::atomic<bool> undoneInTime{false};
    int value = 0;
    EXPECT_TRUE(worker.Call([&] { value = 7; }, 20s, [&] { undoneInTime = true; }));
    EXPECT_EQ(value, 7);
    worker.Stop();
    EXPECT_FALSE(undoneInTime.load());
    // After the stop nothing runs and nothing waits.
    EXPECT_FALSE(worker.Call([&] { value = 8; }, 20s));
    EXPECT_EQ(value, 7);
}

}  // namespace
}  // namespace bq::midi
