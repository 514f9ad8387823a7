#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <future>
#include <stdexcept>

#include "platform/scripted/ScriptedDialogHost.h"
#include "setup/CUpdateProgressDlg.h"
#include "setup/UiText.h"
#include "support/InterfaceLanguage.h"
#include "support/WaitFor.h"

namespace {

using namespace std::chrono_literals;
using platform::MessageBoxLayout;

// Runs the dialog on the scripted host with English texts and a worker
// script; records what the hooks saw.
class ProgressDialogTest : public ::testing::Test {
protected:
    void SetUp() override {
        testsupport::setInterfaceLanguage(0x0409);
        UiText::release();
        hooks.isDownloadComplete = [this] { return complete.load(); };
        hooks.launchInstaller = [this](SetupReporter&) {
            ++launches;
            workerEndedAtLaunch = workerEnded.load();
        };
    }

    // Wraps the worker script so that its end is observable.
    void worker(const std::function<void(SetupReporter&)>& script) {
        hooks.runSetup = [this, script](SetupReporter& reporter, const StubSettings& given) {
            settingsSeen = &given;
            script(reporter);
            workerEnded = true;
        };
    }

    // Answers the close confirmation with closeAnswer and records every box.
    void answerClose(int closeAnswer) {
        host.setBoxResponder([closeAnswer](const MessageBoxLayout& box) {
            return box.caption == L"Closing of downloader" ? closeAnswer : 2;
        });
    }

    int run() { return run(host); }
    int run(platform::DialogHost& on) {
        CUpdateProgressDlg dialog(on, settings, hooks);
        return dialog.DoModal();
    }

    bool logged(const std::wstring& line) const {
        const auto log = host.log();
        return std::find(log.begin(), log.end(), line) != log.end();
    }

    platform::ScriptedDialogHost host{10s};
    CUpdateProgressDlg::Hooks hooks;
    const StubSettings settings = StubSettings::read("wrnkit", {});
    std::atomic<const StubSettings*> settingsSeen{nullptr};
    std::atomic<bool> complete{false};
    std::atomic<bool> workerEnded{false};
    int launches = 0;
    bool workerEndedAtLaunch = false;
};

// Forwards to another host and counts the tasks queued on it, so that a test
// can wait until the worker's request is behind whatever runs now.
class PostCountingHost final : public platform::DialogHost {
public:
    explicit PostCountingHost(platform::DialogHost& inner) : m_inner(inner) {}
    int posts() const { return m_posts; }

    void setCaption(const std::wstring& caption) override { m_inner.setCaption(caption); }
    void setStatusText(const std::wstring& text) override { m_inner.setStatusText(text); }
    void setProgressText(const std::wstring& text) override { m_inner.setProgressText(text); }
    void setProgressPosition(int percent) override { m_inner.setProgressPosition(percent); }
    void showWindow() override { m_inner.showWindow(); }
    int runModal(platform::DialogEvents& events) override { return m_inner.runModal(events); }
    void endModal(int result) override { m_inner.endModal(result); }
    int runMessageBox(const MessageBoxLayout& box) override { return m_inner.runMessageBox(box); }
    void showPlainError(const std::wstring& caption, const std::wstring& text) override {
        m_inner.showPlainError(caption, text);
    }
    void post(std::unique_ptr<platform::PostedTask> task) override {
        m_inner.post(std::move(task));
        ++m_posts;
    }

private:
    platform::DialogHost& m_inner;
    std::atomic<int> m_posts{0};
};

void postStatus(SetupReporter& reporter, const wchar_t* text) {
    reporter.postMessage(makeStatusMessage(std::make_unique<std::wstring>(text)));
}

TEST_F(ProgressDialogTest, InitialisesInOrderAndStartsTheWorkerLast) {
    std::vector<std::wstring> logAtWorkerStart;
    worker([&](SetupReporter& reporter) {
        logAtWorkerStart = host.log();
        reporter.postMessage(makeFinishMessage());
        reporter.waitForStop(10s);
    });
    EXPECT_EQ(run(), 1);
    const std::vector<std::wstring> expected{L"caption=WrenKit installation", L"show",
                                             L"progressText=Preparing to Install...",
                                             L"progress=0"};
    EXPECT_EQ(logAtWorkerStart, expected);
    EXPECT_EQ(settingsSeen, &settings);
    EXPECT_TRUE(workerEnded);
    EXPECT_EQ(launches, 0);
}

TEST_F(ProgressDialogTest, CaptionFollowsTheInterfaceLanguage) {
    testsupport::setInterfaceLanguage(UiText::kRussianLanguage);
    UiText::release();
    worker([](SetupReporter& reporter) { reporter.postMessage(makeFinishMessage()); });
    EXPECT_EQ(run(), 1);
    EXPECT_EQ(host.caption(), L"Установка WrenKit");
    EXPECT_EQ(host.progressText(), L"Подготовка к установке...");
}

TEST_F(ProgressDialogTest, MessagesUpdateTheirOwnLines) {
    worker([](SetupReporter& reporter) {
        postStatus(reporter, L"Preparing to Install...");
        reporter.postMessage(makeProgressMessage(12, L"Progress: 12%"));
        reporter.postMessage(makeStatusMessage(nullptr));  // changes nothing
        reporter.postMessage(makeProgressMessage(40, L"Progress: 40%"));
        reporter.postMessage(makeFinishMessage());
        reporter.waitForStop(10s);
    });
    EXPECT_EQ(run(), 1);
    EXPECT_EQ(host.statusText(), L"Preparing to Install...");
    EXPECT_EQ(host.progressText(), L"Progress: 40%");
    EXPECT_EQ(host.progressPosition(), 40);
    EXPECT_TRUE(host.boxes().empty());
    EXPECT_EQ(launches, 0);
}

TEST_F(ProgressDialogTest, ProgressTextIsCutToTheReportsCapacity) {
    const ProgressReport report(5, std::wstring(300, L'x'));
    EXPECT_EQ(report.text.size(), 254u);
}

TEST_F(ProgressDialogTest, CompletionStopsTheWorkerLaunchesOnceAndEnds) {
    worker([this](SetupReporter& reporter) {
        reporter.postMessage(makeProgressMessage(50, L"Progress: 50%"));
        // The record turns complete only after that report was handled.
        testsupport::waitFor([this] { return host.progressText() == L"Progress: 50%"; }, 5s);
        complete = true;
        reporter.postMessage(makeProgressMessage(100, L""));
        reporter.postMessage(makeProgressMessage(100, L""));
        reporter.waitForStop(10s);
    });
    EXPECT_EQ(run(), 1);
    EXPECT_EQ(launches, 1);
    EXPECT_TRUE(workerEndedAtLaunch);
    EXPECT_EQ(host.progressPosition(), 100);
    // Not cleared, nor left at the last figure before completion.
    EXPECT_EQ(host.progressText(), L"Progress: 100%");
}

TEST_F(ProgressDialogTest, DeclinedCloseChangesNothing) {
    std::promise<void> declined;
    bool stopAfterDecline = true;
    host.setBoxResponder([&](const MessageBoxLayout& box) {
        EXPECT_EQ(box.caption, L"Closing of downloader");
        EXPECT_EQ(box.message, L"Do you want to stop download process?");
        EXPECT_EQ(box.first.text, L"Yes");
        EXPECT_EQ(box.second.text, L"No, continue");
        declined.set_value();
        return 2;
    });
    worker([&](SetupReporter& reporter) {
        reporter.postMessage(makeProgressMessage(30, L"Progress: 30%"));
        host.requestClose();
        declined.get_future().wait();
        stopAfterDecline = reporter.waitForStop(50ms);
        reporter.postMessage(makeProgressMessage(31, L"Progress: 31%"));
        reporter.postMessage(makeFinishMessage());
        reporter.waitForStop(10s);
    });
    EXPECT_EQ(run(), 1);
    EXPECT_FALSE(stopAfterDecline);
    EXPECT_EQ(host.progressText(), L"Progress: 31%");
    EXPECT_EQ(host.boxes().size(), 1u);
}

TEST_F(ProgressDialogTest, AcceptedCloseStopsTheWorkerFirstAndEndsWithCancel) {
    answerClose(1);
    worker([&](SetupReporter& reporter) {
        host.requestClose();
        while (!reporter.waitForStop(10s)) {
        }
    });
    EXPECT_EQ(run(), 2);
    EXPECT_TRUE(workerEnded);
    EXPECT_EQ(launches, 0);
    const auto log = host.log();
    ASSERT_FALSE(log.empty());
    EXPECT_EQ(log.back(), L"end=2");
}

TEST_F(ProgressDialogTest, ErrorBoxThenFinish) {
    int errorBoxResult = 0;
    worker([&](SetupReporter& reporter) {
        errorBoxResult = reporter.showErrorBox(L"Internal Error. ", L"");
        reporter.postMessage(makeFinishMessage());
    });
    host.setBoxResponder([](const MessageBoxLayout&) { return 1; });
    EXPECT_EQ(run(), 1);
    EXPECT_EQ(errorBoxResult, 1);
    const auto boxes = host.boxes();
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0].caption, L"Error!");
    EXPECT_EQ(boxes[0].message, L"Internal Error. The program will be automatically closed!");
    EXPECT_EQ(boxes[0].first.text, L"Yes");
    EXPECT_EQ(boxes[0].second.text, L"No");
    EXPECT_EQ(launches, 0);
}

// The worker asks for its error box while the interface thread, having the
// user's confirmation, waits for the worker to end: neither may wait for the
// other.
TEST_F(ProgressDialogTest, CloseConfirmedWhileWorkerWaitsForItsErrorBox) {
    std::promise<void> closeAsked;
    std::atomic<int> errorBoxResult{0};
    PostCountingHost counting(host);
    host.setBoxResponder([&](const MessageBoxLayout& box) {
        if (box.caption != L"Closing of downloader") return 1;
        closeAsked.set_value();
        // The worker's box request is queued behind this question.
        EXPECT_TRUE(testsupport::waitFor([&] { return counting.posts() == 1; }, 5s));
        return 1;
    });
    worker([&](SetupReporter& reporter) {
        host.requestClose();
        closeAsked.get_future().wait();
        errorBoxResult = reporter.showErrorBox(L"Download Error (system code: 7). ", L"");
        reporter.postMessage(makeFinishMessage());
    });
    auto result = std::async(std::launch::async, [&] { return run(counting); });
    if (result.wait_for(10s) != std::future_status::ready) {
        ADD_FAILURE() << "the dialog and its worker wait for each other";
        std::_Exit(1);
    }
    EXPECT_EQ(result.get(), 2);
    EXPECT_EQ(errorBoxResult, 2);
    EXPECT_EQ(host.boxes().size(), 1u);  // the error box was never shown
}

TEST_F(ProgressDialogTest, EscapingWorkerErrorEndsTheRun) {
    worker([](SetupReporter&) { throw std::runtime_error("lost"); });
    EXPECT_EQ(run(), 1);
    EXPECT_FALSE(workerEnded);
}

}  // namespace
