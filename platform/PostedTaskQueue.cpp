#include "platform/PostedTaskQueue.h"

#include <utility>

namespace platform {

bool PostedTaskQueue::post(std::unique_ptr<PostedTask> task) {
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        if (!m_accepting) return false;  // the task and its payload are freed here
        m_tasks.push_back(std::move(task));
    }
    m_posted.notify_all();
    return true;
}

std::unique_ptr<PostedTask> PostedTaskQueue::take() {
    std::lock_guard<std::mutex> lock(m_mutex);
    return popFront();
}

std::unique_ptr<PostedTask> PostedTaskQueue::take(std::chrono::steady_clock::time_point deadline) {
    std::unique_lock<std::mutex> lock(m_mutex);
    m_posted.wait_until(lock, deadline, [this] { return !m_tasks.empty() || !m_accepting; });
    return popFront();
}

void PostedTaskQueue::close() {
    std::deque<std::unique_ptr<PostedTask>> dropped;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_accepting = false;
        dropped.swap(m_tasks);
    }
    m_posted.notify_all();
}

std::unique_ptr<PostedTask> PostedTaskQueue::popFront() {
    if (m_tasks.empty()) return nullptr;
    std::unique_ptr<PostedTask> task = std::move(m_tasks.front());
    m_tasks.pop_front();
    return task;
}

}  // namespace platform
