#pragma once

#include <chrono>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "platform/DialogHost.h"
#include "platform/PostedTaskQueue.h"

namespace platform {

// An in-memory front end for tests of the dialog logic: it records what the
// window and its boxes show, answers boxes through a responder and runs posted
// tasks in order on the thread that calls runModal.
class ScriptedDialogHost final : public DialogHost {
public:
    // Interface thread; returns the box's result.
    using BoxResponder = std::function<int(const MessageBoxLayout&)>;

    // A run that sees no endModal within this time returns kRunTimedOut, so a
    // hanging dialog fails its test instead of stalling the suite.
    static constexpr int kRunTimedOut = -1;
    explicit ScriptedDialogHost(std::chrono::milliseconds runLimit = std::chrono::seconds(20));

    // Boxes are answered with kSecondButtonResult unless a responder is set.
    void setBoxResponder(BoxResponder responder);
    // Any thread: queues the user's close request (the close box).
    void requestClose();

    // What the window shows now, and every call in order, as readable lines
    // ("caption=...", "show", "progress=40", "box=caption|message", "end=1").
    std::wstring caption() const;
    std::wstring statusText() const;
    std::wstring progressText() const;
    int progressPosition() const;
    std::vector<std::wstring> log() const;
    std::vector<MessageBoxLayout> boxes() const;

    void setCaption(const std::wstring& caption) override;
    void setStatusText(const std::wstring& text) override;
    void setProgressText(const std::wstring& text) override;
    void setProgressPosition(int percent) override;
    void showWindow() override;
    int runModal(DialogEvents& events) override;
    void endModal(int result) override;
    int runMessageBox(const MessageBoxLayout& box) override;
    void showPlainError(const std::wstring& caption, const std::wstring& text) override;
    void post(std::unique_ptr<PostedTask> task) override;

private:
    void record(std::wstring line);
    bool isRunning() const;

    const std::chrono::milliseconds m_runLimit;
    PostedTaskQueue m_tasks;
    mutable std::mutex m_mutex;
    bool m_running = false;
    int m_result = 0;
    DialogEvents* m_events = nullptr;
    BoxResponder m_responder;

    std::wstring m_caption;
    std::wstring m_statusText;
    std::wstring m_progressText;
    int m_progress = 0;
    std::vector<std::wstring> m_log;
    std::vector<MessageBoxLayout> m_boxes;
};

}  // namespace platform
