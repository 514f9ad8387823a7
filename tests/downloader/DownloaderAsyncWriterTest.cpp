#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <fstream>
#include <future>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "SmallDisk.h"
#include "downloader/DownloaderAsyncWriter.h"
#include "support/Sandbox.h"
#include "support/WaitFor.h"

namespace {

boost::shared_array<char> bytesOf(const std::string& text) {
    boost::shared_array<char> bytes(new char[text.size()]);
    std::copy(text.begin(), text.end(), bytes.get());
    return bytes;
}

class WriterTest : public ::testing::Test {
protected:
    WriterTest() : m_path(m_sandbox.writeFile("dest", std::string(16, '.'))) {
        m_file.open(m_path, std::ios::binary | std::ios::in | std::ios::out);
    }

    std::string content() {
        m_file.close();
        return testsupport::readFile(m_path);
    }

    testsupport::Sandbox m_sandbox;
    std::string m_path;
    std::fstream m_file;
};

TEST_F(WriterTest, WritesQueuedTasksInOrderByStop) {
    DownloaderAsyncWriter writer(m_file);
    writer.start();
    writer.write(2, 4, bytesOf("aaaaXX"));  // only `length` bytes count
    writer.write(10, 3, bytesOf("bbb"));
    writer.write(4, 4, bytesOf("cccc"));  // overlaps the first: the later bytes win
    writer.write(15, 1, bytesOf("d"));    // a single last task waits for stop()
    writer.stop();
    writer.write(0, 2, bytesOf("zz"));  // after stop: dropped
    writer.stop();
    EXPECT_FALSE(writer.failed());
    EXPECT_EQ(content(), "..aacccc..bbb..d");
}

TEST_F(WriterTest, ReadBackSeesQueuedBytesAndSurvivesTheEndOfTheFile) {
    DownloaderAsyncWriter writer(m_file);
    writer.start();
    writer.write(4, 4, bytesOf("abcd"));  // alone, so it stays queued

    boost::shared_array<char> buffer;
    ASSERT_EQ(writer.readPart(buffer, 2, 8), 8);
    EXPECT_EQ(std::string(buffer.get(), 8), "..abcd..");

    EXPECT_EQ(writer.readPart(buffer, 12, 8), 4);  // runs past the end
    writer.write(0, 1, bytesOf("x"));
    writer.write(1, 1, bytesOf("y"));
    writer.stop();
    EXPECT_FALSE(writer.failed());
    EXPECT_EQ(content(), "xy..abcd........");
}

// A resume point claims the parts queued before it: its action must see
// them in the file, run without waiting for a next task (the transfer that
// would send one may hang), and never run once a write before it failed.
TEST_F(WriterTest, AnActionRunsAtOnceButOnlyAfterEveryEarlierWriteReachedTheFile) {
    std::mutex mutex;
    std::vector<std::string> seen;
    const auto record = [&](const std::string& what) {
        return [&, what] {
            const std::lock_guard<std::mutex> lock(mutex);
            seen.push_back(what.empty() ? testsupport::readFile(m_path) : what);
        };
    };
    const auto count = [&] {
        const std::lock_guard<std::mutex> lock(mutex);
        return seen.size();
    };
    DownloaderAsyncWriter writer(m_file);
    writer.start();
    writer.write(0, 4, bytesOf("aaaa"));
    writer.afterEarlierWrites(record(""));
    ASSERT_TRUE(testsupport::waitFor([&] { return count() == 1; }, std::chrono::seconds(10)));
    writer.write(8, 4, bytesOf("bbbb"));
    boost::shared_array<char> buffer;
    ASSERT_EQ(writer.readPart(buffer, 8, 4), 4);
    writer.afterEarlierWrites(record(""));
    writer.stop();
    writer.afterEarlierWrites(record("after stop"));
    EXPECT_EQ(seen, (std::vector<std::string>{"aaaa............", "aaaa....bbbb...."}));

    std::fstream closed;
    DownloaderAsyncWriter failing(closed);
    failing.start();
    failing.write(0, 1, bytesOf("x"));
    failing.afterEarlierWrites(record("after a failure"));
    failing.stop();
    EXPECT_TRUE(failing.failed());
    EXPECT_EQ(count(), 2u);
}

// The queue is what a writer that falls behind costs in memory: past its
// bound the transfer waits for the thread instead of piling parts up.
TEST_F(WriterTest, AWriteBeyondTheBoundWaitsUntilTheThreadTakesTheQueue) {
    std::promise<void> release;
    std::shared_future<void> released = release.get_future().share();
    std::atomic<bool> busy{false};
    DownloaderAsyncWriter writer(m_file);
    writer.start();
    writer.afterEarlierWrites([&busy, released] {
        busy = true;
        released.wait();  // keeps the thread from the queue
    });
    ASSERT_TRUE(testsupport::waitFor([&] { return busy.load(); }, std::chrono::seconds(10)));
    std::size_t queued = 0;
    for (; queued < DownloaderAsyncWriter::kMaxQueuedWrites; ++queued) {
        writer.write(static_cast<std::int32_t>(queued), 1, bytesOf("q"));  // returns at once
    }
    std::atomic<bool> returned{false};
    std::thread producer([&] {
        const boost::shared_array<char> spare = writer.handOver(8, 4, bytesOf("over"), 4);
        returned = true;
    });
    EXPECT_FALSE(
        testsupport::waitFor([&] { return returned.load(); }, std::chrono::milliseconds(300)));
    release.set_value();
    EXPECT_TRUE(testsupport::waitFor([&] { return returned.load(); }, std::chrono::seconds(10)));
    producer.join();
    writer.stop();
    EXPECT_FALSE(writer.failed());
    EXPECT_EQ(content(), "qq......over....");
}

TEST_F(WriterTest, AStreamThatIsNotOpenIsAFailure) {
    std::fstream closed;
    DownloaderAsyncWriter writer(closed);
    writer.start();
    writer.write(0, 1, bytesOf("x"));
    writer.stop();
    EXPECT_TRUE(writer.failed());
}

TEST(WriterOnAFullDisk, ReportsTheFailedWrite) {
    const testsupport::Sandbox sandbox;
    const downloadertest::SmallDisk disk(sandbox.file("disk"), 64 * 1024);
    if (!disk.available()) {
        GTEST_SKIP() << disk.reason();
    }
    const std::string path = sandbox.file("disk/dest");
    disk.createSparseFile(path, 1024 * 1024);
    std::fstream file(path, std::ios::binary | std::ios::in | std::ios::out);
    ASSERT_TRUE(file.is_open());

    const std::string part(256 * 1024, 'p');
    DownloaderAsyncWriter writer(file);
    writer.start();
    for (std::int32_t offset = 0; offset < 1024 * 1024; offset += 256 * 1024) {
        writer.write(offset, static_cast<std::int32_t>(part.size()), bytesOf(part));
    }
    writer.stop();
    EXPECT_TRUE(writer.failed());
    boost::shared_array<char> buffer;
    EXPECT_EQ(writer.readPart(buffer, 0, 16), 0);
}

}  // namespace
