#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <memory>
#include <thread>
#include <utility>
#include <vector>

#include "platform/PostedTaskQueue.h"

namespace {

using namespace std::chrono_literals;
using platform::makePostedTask;
using platform::PostedTaskQueue;

std::chrono::steady_clock::time_point in(std::chrono::milliseconds delay) {
    return std::chrono::steady_clock::now() + delay;
}

// A task's payload that tells whether it ran and on which thread it was freed.
struct Tracked {
    std::atomic<bool> ran{false};
    std::atomic<bool> freed{false};
    std::thread::id freedOn;
};

class Payload {
public:
    explicit Payload(Tracked& tracked) : m_tracked(tracked) {}
    ~Payload() {
        m_tracked.freedOn = std::this_thread::get_id();
        m_tracked.freed = true;
    }
    Payload(const Payload&) = delete;
    Payload& operator=(const Payload&) = delete;

    void run() { m_tracked.ran = true; }

private:
    Tracked& m_tracked;
};

std::unique_ptr<platform::PostedTask> trackedTask(Tracked& tracked) {
    return makePostedTask([payload = std::make_shared<Payload>(tracked)] { payload->run(); });
}

// Posters on several threads while the interface thread takes: every task
// arrives once, runs on the taking thread, and each poster's tasks keep the
// order they were posted in. A waiting take that is not woken by a post
// fails here at its deadline.
TEST(PostedTaskQueue, TasksFromSeveralThreadsRunOnTheTakerInTheirPostersOrder) {
    constexpr int kPosters = 4;
    constexpr int kTasksEach = 500;
    PostedTaskQueue queue;
    const std::thread::id taker = std::this_thread::get_id();
    std::vector<std::vector<int>> seen(kPosters);  // taker only
    bool allOnTaker = true;
    std::atomic<int> refused{0};

    std::vector<std::thread> posters;
    posters.reserve(kPosters);
    for (int poster = 0; poster < kPosters; ++poster) {
        posters.emplace_back([&, poster] {
            for (int i = 0; i < kTasksEach; ++i) {
                const bool queued = queue.post(makePostedTask([&, poster, i] {
                    allOnTaker = allOnTaker && std::this_thread::get_id() == taker;
                    seen[static_cast<std::size_t>(poster)].push_back(i);
                }));
                if (!queued) ++refused;
            }
        });
    }
    for (int taken = 0; taken < kPosters * kTasksEach; ++taken) {
        std::unique_ptr<platform::PostedTask> task = queue.take(in(20s));
        ASSERT_NE(task, nullptr) << "after " << taken << " tasks";
        task->run();
    }
    for (std::thread& poster : posters) poster.join();

    EXPECT_EQ(refused, 0);
    EXPECT_EQ(queue.take(in(50ms)), nullptr);  // nothing more comes: the wait ends
    EXPECT_TRUE(allOnTaker);
    for (const std::vector<int>& order : seen) {
        ASSERT_EQ(order.size(), static_cast<std::size_t>(kTasksEach));
        for (int i = 0; i < kTasksEach; ++i) EXPECT_EQ(order[static_cast<std::size_t>(i)], i);
    }
}

// The end of a run: what is still queued is freed without running, and a
// task posted afterwards is freed at once on the posting thread, so a worker
// that posts late leaks nothing and runs nothing.
TEST(PostedTaskQueue, ClosingFreesQueuedTasksAndLaterPostsWithoutRunningThem) {
    PostedTaskQueue queue;
    Tracked queued;
    ASSERT_TRUE(queue.post(trackedTask(queued)));
    EXPECT_FALSE(queued.freed);

    queue.close();
    EXPECT_TRUE(queued.freed);
    EXPECT_FALSE(queued.ran);
    EXPECT_EQ(queued.freedOn, std::this_thread::get_id());

    Tracked late;
    std::thread::id poster;
    bool accepted = true;
    std::thread([&] {
        poster = std::this_thread::get_id();
        accepted = queue.post(trackedTask(late));
    }).join();
    EXPECT_FALSE(accepted);
    EXPECT_TRUE(late.freed);
    EXPECT_EQ(late.freedOn, poster);
    EXPECT_EQ(queue.take(), nullptr);
    EXPECT_EQ(queue.take(in(1h)), nullptr);  // a closed queue does not wait
    EXPECT_FALSE(late.ran);
}

}  // namespace
