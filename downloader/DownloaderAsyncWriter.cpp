#include "downloader/DownloaderAsyncWriter.h"

#include <algorithm>
#include <cstring>

namespace {

// A batch is at most the bounded queue; its arrays are all a next batch needs.
constexpr std::size_t kMaxSpare = DownloaderAsyncWriter::kMaxQueuedWrites;

}  // namespace

DownloaderAsyncWriter::DownloaderAsyncWriter(std::fstream& file) : m_file(file) {}

// A lock or join that fails leaves no safe way on: ending the program, as a
// throwing destructor does, is the outcome wanted.
// NOLINTNEXTLINE(bugprone-exception-escape)
DownloaderAsyncWriter::~DownloaderAsyncWriter() { stop(); }

// A lambda rather than a member pointer: the 32-bit Windows compiler fails on
// Boost.Thread's member-pointer call.
void DownloaderAsyncWriter::start() {
    {
        boost::lock_guard<boost::mutex> lock(m_mutex);
        m_running = true;
    }
    m_thread = boost::thread([this] { run(); });
}

void DownloaderAsyncWriter::waitForRoomLocked(boost::unique_lock<boost::mutex>& lock) {
    // Without a running thread nothing would make room: such a queue only
    // grows until stop() or a read-back writes it.
    m_roomCondition.wait(lock, [this] {
        return !m_running || m_stopped || m_failed || m_queuedWrites < kMaxQueuedWrites;
    });
}

void DownloaderAsyncWriter::write(std::int32_t offset, std::int32_t length,
                                  const boost::shared_array<char>& buffer) {
    if (length < 0) {
        return;
    }
    boost::shared_array<char> copy(new char[static_cast<std::size_t>(length)]);
    std::memcpy(copy.get(), buffer.get(), static_cast<std::size_t>(length));

    boost::unique_lock<boost::mutex> lock(m_mutex);
    waitForRoomLocked(lock);
    if (m_stopped || m_failed) {
        return;
    }
    m_queue.push_back(WriteTask{copy, offset, length, 0, {}});
    ++m_queuedWrites;
    if (m_queue.size() >= 2) {
        m_condition.notify_one();
    }
}

boost::shared_array<char> DownloaderAsyncWriter::handOver(std::int32_t offset, std::int32_t length,
                                                          boost::shared_array<char> buffer,
                                                          std::size_t capacity) {
    boost::unique_lock<boost::mutex> lock(m_mutex);
    if (length >= 0) {
        waitForRoomLocked(lock);
    }
    if (length >= 0 && !m_stopped && !m_failed) {
        m_queue.push_back(WriteTask{std::move(buffer), offset, length, capacity, {}});
        ++m_queuedWrites;
        if (m_queue.size() >= 2) {
            m_condition.notify_one();
        }
    } else if (buffer) {
        return buffer;  // dropped, so the caller may keep it
    }
    if (m_spareCapacity == capacity && !m_spare.empty()) {
        boost::shared_array<char> spare = std::move(m_spare.back());
        m_spare.pop_back();
        return spare;
    }
    lock.unlock();
    return boost::shared_array<char>(new char[capacity]);
}

void DownloaderAsyncWriter::afterEarlierWrites(std::function<void()> action) {
    boost::unique_lock<boost::mutex> lock(m_mutex);
    if (m_stopped || m_failed) {
        return;
    }
    WriteTask task;
    task.afterEarlierWrites = std::move(action);
    m_queue.push_back(std::move(task));
    // Not held back like a single write: a resume point is wanted now, and
    // the transfer that would queue the next task may hang.
    ++m_queuedActions;
    m_condition.notify_one();
}

std::int32_t DownloaderAsyncWriter::readPart(boost::shared_array<char>& buffer, std::int32_t offset,
                                             std::int32_t length) {
    boost::unique_lock<boost::mutex> lock(m_mutex);
    buffer.reset(new char[static_cast<std::size_t>(std::max(length, 0))]);
    // A part saved when the last transfer ended early may still be queued;
    // reading the file under it would return its older bytes.
    writeQueueLocked(lock);
    if (m_failed || length <= 0) {
        return 0;
    }
    m_file.seekg(offset, std::ios::beg);
    m_file.read(buffer.get(), length);
    const auto count = static_cast<std::int32_t>(std::max<std::streamsize>(m_file.gcount(), 0));
    // A read that runs past the end leaves the stream failed; that says
    // nothing about the writes, which must go on.
    m_file.clear();
    return count;
}

void DownloaderAsyncWriter::stop() {
    {
        boost::unique_lock<boost::mutex> lock(m_mutex);
        m_stopped = true;
        m_condition.notify_one();
        m_roomCondition.notify_all();
    }
    if (m_thread.joinable()) {
        m_thread.join();
    }
}

bool DownloaderAsyncWriter::failed() const { return m_failed; }

void DownloaderAsyncWriter::run() {
    try {
        boost::unique_lock<boost::mutex> lock(m_mutex);
        if (!m_file.is_open()) {
            m_failed = true;
            m_queue.clear();
            m_queuedActions = 0;
            m_queuedWrites = 0;
            m_running = false;
            m_roomCondition.notify_all();
            return;
        }
        for (;;) {
            m_condition.wait(
                lock, [this] { return m_stopped || m_queue.size() >= 2 || m_queuedActions > 0; });
            writeQueueLocked(lock);
            if (m_stopped) {
                m_running = false;
                m_roomCondition.notify_all();
                return;
            }
        }
    } catch (...) {
        // Only allocation or thread interruption can throw here; either way
        // the queued bytes will not reach the file.
        m_failed = true;
        boost::lock_guard<boost::mutex> lock(m_mutex);
        m_running = false;
        m_roomCondition.notify_all();
    }
}

void DownloaderAsyncWriter::writeQueueLocked(boost::unique_lock<boost::mutex>& lock) {
    if (m_queue.empty()) {
        return;
    }
    while (!m_queue.empty()) {
        const WriteTask task = std::move(m_queue.front());
        m_queue.pop_front();
        if (task.afterEarlierWrites) {
            --m_queuedActions;
        } else {
            --m_queuedWrites;
        }
        if (m_failed) {
            continue;
        }
        if (task.afterEarlierWrites) {
            if (!m_file.flush()) {
                m_failed = true;
                continue;
            }
            // Taken before the queue's lock is let go: a readPart() meanwhile
            // may write later tasks on the download thread, but runs a later
            // action only after this one.
            boost::unique_lock<boost::mutex> actionLock(m_actionMutex);
            lock.unlock();
            task.afterEarlierWrites();
            actionLock.unlock();
            lock.lock();
            continue;
        }
        m_file.seekp(task.offset, std::ios::beg);
        m_file.write(task.data.get(), task.length);
        if (!m_file) {
            m_failed = true;
        }
        // Kept only while nobody else holds it: a caller that still reads
        // the array must not get it back for writing.
        if (task.capacity > 0 && task.data.use_count() == 1 && m_spare.size() < kMaxSpare) {
            if (m_spareCapacity != task.capacity) {
                m_spare.clear();
                m_spareCapacity = task.capacity;
            }
            m_spare.push_back(task.data);
        }
    }
    if (!m_failed && !m_file.flush()) {
        m_failed = true;
    }
    m_roomCondition.notify_all();
}
