#pragma once

#include <chrono>
#include <condition_variable>
#include <deque>
#include <memory>
#include <mutex>

#include "platform/DialogHost.h"

namespace platform {

// The queue behind DialogHost::post for a front end whose interface thread
// waits for work itself (terminal, scripted); the GTK and Win32 front ends
// post into their toolkit's own queue instead. Tasks come out in the order
// they went in. Once closed the queue holds nothing: a task posted later is
// destroyed at once, on the posting thread, and never runs.
class PostedTaskQueue {
public:
    PostedTaskQueue() = default;
    PostedTaskQueue(const PostedTaskQueue&) = delete;
    PostedTaskQueue& operator=(const PostedTaskQueue&) = delete;

    // Any thread. Queues the task and returns true, so that the caller wakes
    // the interface thread; a closed queue destroys the task and returns false.
    bool post(std::unique_ptr<PostedTask> task);

    // Interface thread. The oldest task, or null when none is queued.
    std::unique_ptr<PostedTask> take();
    // Interface thread. As take, but waits until a task is posted, the queue
    // is closed or the deadline passes.
    std::unique_ptr<PostedTask> take(std::chrono::steady_clock::time_point deadline);

    // Interface thread, when the run ends. Stops accepting and destroys the
    // tasks still queued, after releasing the lock: a payload's destructor may
    // post. Closing again does nothing.
    void close();

private:
    std::unique_ptr<PostedTask> popFront();

    std::mutex m_mutex;
    std::condition_variable m_posted;
    std::deque<std::unique_ptr<PostedTask>> m_tasks;
    bool m_accepting = true;
};

}  // namespace platform
