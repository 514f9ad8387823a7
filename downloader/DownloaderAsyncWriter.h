#pragma once

#include <atomic>
#include <boost/shared_array.hpp>
#include <boost/thread/condition_variable.hpp>
#include <boost/thread/mutex.hpp>
#include <boost/thread/thread.hpp>
#include <cstdint>
#include <deque>
#include <fstream>
#include <functional>
#include <vector>

// One queued write; the task owns its copy of the bytes. A task with an
// action instead runs it once everything queued before it is written.
struct WriteTask {
    boost::shared_array<char> data;
    std::int32_t offset = 0;
    std::int32_t length = 0;
    // The size of `data` when it may be recycled once written, else 0.
    std::size_t capacity = 0;
    std::function<void()> afterEarlierWrites;
};

// Writes parts of the destination file on a thread of its own, so that disk
// writes never hold up the transfers. It neither opens nor closes the stream:
// the download opens it, and closes it only after stop() has returned, so the
// stream outlives every use the writer makes of it.
//
// Threads: write(), readPart() and stop() are called by the download thread;
// run() is the writer's own thread. m_mutex guards the queue, the stop flag
// and every use of the stream.
class DownloaderAsyncWriter {
public:
    explicit DownloaderAsyncWriter(std::fstream& file);
    ~DownloaderAsyncWriter();  // NOLINT(bugprone-exception-escape): see the definition
    DownloaderAsyncWriter(const DownloaderAsyncWriter&) = delete;
    DownloaderAsyncWriter& operator=(const DownloaderAsyncWriter&) = delete;

    void start();

    // Queues a copy of the first `length` bytes of `buffer` for `offset`; the
    // caller may reuse `buffer` at once. Dropped after stop() or a failure.
    // The thread sleeps until two tasks wait, so a single task is written
    // only when another arrives, a read-back needs it, or stop() is called.
    // While kMaxQueuedWrites writes wait, the caller waits for the thread to
    // take them: a writer that falls behind holds the transfer back instead
    // of collecting parts in memory.
    void write(std::int32_t offset, std::int32_t length, const boost::shared_array<char>& buffer);

    // Like write() (and waiting like it), but queues `buffer` itself instead
    // of a copy and returns an array of `capacity` bytes in its place: one the
    // writer has finished with, or a new one. `buffer` must hold `capacity`
    // bytes.
    boost::shared_array<char> handOver(std::int32_t offset, std::int32_t length,
                                       boost::shared_array<char> buffer, std::size_t capacity);

    // Replaces `buffer` by a new array of `length` bytes holding the file's
    // content at `offset`, queued writes included. Returns the number of
    // bytes read; anything short of `length` means the read-back failed.
    std::int32_t readPart(boost::shared_array<char>& buffer, std::int32_t offset,
                          std::int32_t length);

    // Queues `action` to run, on whichever thread writes the queue out, once
    // every task queued before it is written and the stream flushed (the
    // thread wakes for it at once, without waiting for a second task); the
    // writer's lock is not held while it runs, so transfers go on meanwhile.
    // Dropped after stop() or a failure, like a write: an action never runs
    // after a write it follows has failed.
    void afterEarlierWrites(std::function<void()> action);

    // Writes what is queued, flushes and joins the thread. Once it has
    // returned, every accepted task is in the file unless failed() says
    // otherwise. A second call does nothing.
    void stop();

    // True once a seek, write or flush of the stream failed (or the stream
    // was not open when the thread started): the file cannot be trusted, and
    // later tasks are dropped.
    bool failed() const;

    // Writes queued at once before write() and handOver() wait. Two, because
    // the thread wakes for the second; every further one is a part held in
    // memory only because the thread was not scheduled yet.
    static constexpr std::size_t kMaxQueuedWrites = 2;

private:
    void run();
    // Requires `lock` on m_mutex. Returns once fewer than kMaxQueuedWrites
    // writes wait, or when nothing will take them any more.
    void waitForRoomLocked(boost::unique_lock<boost::mutex>& lock);
    // Requires `lock` on m_mutex. Writes out the whole queue in order and
    // flushes once; releases the lock while an action runs.
    void writeQueueLocked(boost::unique_lock<boost::mutex>& lock);

    std::fstream& m_file;
    bool m_stopped = false;
    std::atomic<bool> m_failed{false};
    std::deque<WriteTask> m_queue;
    // Actions in m_queue; the thread wakes for any.
    std::size_t m_queuedActions = 0;
    // Writes in m_queue, bounded by kMaxQueuedWrites while the thread runs.
    std::size_t m_queuedWrites = 0;
    bool m_running = false;
    // Written arrays that no one else holds, for handOver() to return.
    std::vector<boost::shared_array<char>> m_spare;
    std::size_t m_spareCapacity = 0;
    boost::mutex m_mutex;
    // Held while an action runs, taken while m_mutex is held and never the
    // other way round: actions run one at a time, in queue order.
    boost::mutex m_actionMutex;
    boost::condition_variable m_condition;
    // Signalled when the thread has taken the queue, or ends.
    boost::condition_variable m_roomCondition;
    boost::thread m_thread;
};
