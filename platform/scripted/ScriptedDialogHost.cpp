#include "platform/scripted/ScriptedDialogHost.h"

#include <algorithm>

namespace platform {

ScriptedDialogHost::ScriptedDialogHost(std::chrono::milliseconds runLimit) : m_runLimit(runLimit) {}

void ScriptedDialogHost::setBoxResponder(BoxResponder responder) {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_responder = std::move(responder);
}

void ScriptedDialogHost::requestClose() {
    post(makePostedTask([this] {
        if (m_events != nullptr) m_events->onCloseRequested();
    }));
}

std::wstring ScriptedDialogHost::caption() const {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_caption;
}

std::wstring ScriptedDialogHost::statusText() const {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_statusText;
}

std::wstring ScriptedDialogHost::progressText() const {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_progressText;
}

int ScriptedDialogHost::progressPosition() const {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_progress;
}

std::vector<std::wstring> ScriptedDialogHost::log() const {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_log;
}

std::vector<MessageBoxLayout> ScriptedDialogHost::boxes() const {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_boxes;
}

void ScriptedDialogHost::record(std::wstring line) {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_log.push_back(std::move(line));
}

void ScriptedDialogHost::setCaption(const std::wstring& caption) {
    record(L"caption=" + caption);
    std::lock_guard<std::mutex> lock(m_mutex);
    m_caption = caption;
}

void ScriptedDialogHost::setStatusText(const std::wstring& text) {
    record(L"status=" + text);
    std::lock_guard<std::mutex> lock(m_mutex);
    m_statusText = text;
}

void ScriptedDialogHost::setProgressText(const std::wstring& text) {
    record(L"progressText=" + text);
    std::lock_guard<std::mutex> lock(m_mutex);
    m_progressText = text;
}

void ScriptedDialogHost::setProgressPosition(int percent) {
    const int clamped = std::clamp(percent, 0, 100);
    record(L"progress=" + std::to_wstring(clamped));
    std::lock_guard<std::mutex> lock(m_mutex);
    m_progress = clamped;
}

void ScriptedDialogHost::showWindow() { record(L"show"); }

int ScriptedDialogHost::runModal(DialogEvents& events) {
    const auto deadline = std::chrono::steady_clock::now() + m_runLimit;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_events = &events;
        m_running = true;
    }
    while (isRunning()) {
        std::unique_ptr<PostedTask> task = m_tasks.take(deadline);
        if (task == nullptr) {
            std::lock_guard<std::mutex> lock(m_mutex);
            m_running = false;
            m_result = kRunTimedOut;
            break;
        }
        task->run();
    }
    m_tasks.close();
    std::lock_guard<std::mutex> lock(m_mutex);
    m_events = nullptr;
    return m_result;
}

bool ScriptedDialogHost::isRunning() const {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_running;
}

void ScriptedDialogHost::endModal(int result) {
    record(L"end=" + std::to_wstring(result));
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_running = false;
        m_result = result;
    }
    m_tasks.close();
}

int ScriptedDialogHost::runMessageBox(const MessageBoxLayout& box) {
    record(L"box=" + box.caption + L"|" + box.message);
    BoxResponder responder;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_boxes.push_back(box);
        responder = m_responder;
    }
    return responder ? responder(box) : kSecondButtonResult;
}

void ScriptedDialogHost::showPlainError(const std::wstring& caption, const std::wstring& text) {
    record(L"plainError=" + caption + L"|" + text);
}

void ScriptedDialogHost::post(std::unique_ptr<PostedTask> task) { m_tasks.post(std::move(task)); }

}  // namespace platform
