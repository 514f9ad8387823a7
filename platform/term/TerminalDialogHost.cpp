#include "platform/term/TerminalDialogHost.h"

#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <string>

#include "platform/PostedTaskQueue.h"
#include "text/TextConversion.h"

namespace platform {
namespace {

// The write end of the pipe the SIGINT handler writes to; -1 while no run
// listens for Ctrl-C.
volatile sig_atomic_t g_interruptFd = -1;

extern "C" void onInterrupt(int) {
    const int savedErrno = errno;
    const int fd = g_interruptFd;
    if (fd >= 0) {
        const char byte = 'i';
        // Nothing to do if the pipe is full: a request is already pending.
        [[maybe_unused]] const ssize_t written = ::write(fd, &byte, 1);
    }
    errno = savedErrno;
}

class Pipe {
public:
    Pipe() {
        if (::pipe2(m_fds, O_CLOEXEC | O_NONBLOCK) != 0) m_fds[0] = m_fds[1] = -1;
    }
    ~Pipe() {
        for (int fd : m_fds) {
            if (fd >= 0) ::close(fd);
        }
    }
    Pipe(const Pipe&) = delete;
    Pipe& operator=(const Pipe&) = delete;

    int readEnd() const { return m_fds[0]; }
    int writeEnd() const { return m_fds[1]; }

    void signal() const {
        const char byte = 'w';
        [[maybe_unused]] const ssize_t written = ::write(m_fds[1], &byte, 1);
    }
    // Empties the pipe; true when anything was in it.
    bool drain() const {
        char buffer[64];
        bool any = false;
        while (::read(m_fds[0], buffer, sizeof buffer) > 0) any = true;
        return any;
    }

private:
    int m_fds[2];
};

// Ctrl-C writes to the interrupt pipe while an instance lives.
class InterruptCatcher {
public:
    explicit InterruptCatcher(const Pipe& pipe) : m_previousFd(g_interruptFd) {
        g_interruptFd = pipe.writeEnd();
        struct sigaction action {};
        action.sa_handler = &onInterrupt;
        sigemptyset(&action.sa_mask);
        ::sigaction(SIGINT, &action, &m_previous);
    }
    ~InterruptCatcher() {
        ::sigaction(SIGINT, &m_previous, nullptr);
        g_interruptFd = m_previousFd;
    }
    InterruptCatcher(const InterruptCatcher&) = delete;
    InterruptCatcher& operator=(const InterruptCatcher&) = delete;

private:
    const int m_previousFd;
    struct sigaction m_previous {};
};

constexpr int kBarWidth = 30;

class TerminalDialogHost final : public DialogHost {
public:
    TerminalDialogHost()
        : m_outputIsTerminal(::isatty(STDERR_FILENO) == 1),
          m_inputIsTerminal(::isatty(STDIN_FILENO) == 1) {}

    void setCaption(const std::wstring& caption) override { m_caption = caption; }

    void setStatusText(const std::wstring& text) override {
        if (text == m_statusText) return;
        m_statusText = text;
        clearProgressLine();
        std::fprintf(stderr, "%s\n", wideToUtf8(text).c_str());
        m_progressDirty = true;
    }

    void setProgressText(const std::wstring& text) override {
        m_progressDirty = m_progressDirty || text != m_progressText;
        m_progressText = text;
    }

    void setProgressPosition(int percent) override {
        const int clamped = std::clamp(percent, 0, 100);
        m_progressDirty = m_progressDirty || clamped != m_percent;
        m_percent = clamped;
    }

    void showWindow() override {
        std::fprintf(stderr, "%s\n", wideToUtf8(m_caption).c_str());
        m_shown = true;
    }

    int runModal(DialogEvents& events) override {
        InterruptCatcher catcher(m_interrupts);
        m_running = true;
        render();
        while (m_running) {
            pollfd fds[2] = {{m_wakeups.readEnd(), POLLIN, 0}, {m_interrupts.readEnd(), POLLIN, 0}};
            if (::poll(fds, 2, -1) < 0 && errno != EINTR) break;
            m_wakeups.drain();
            if (m_interrupts.drain()) {
                events.onCloseRequested();
                render();
            }
            runQueuedTasks();
        }
        clearProgressLine();
        if (m_lineOpen) std::fputc('\n', stderr);
        m_lineOpen = false;
        m_tasks.close();
        return m_result;
    }

    void endModal(int result) override {
        m_result = result;
        m_running = false;
        m_tasks.close();
    }

    int runMessageBox(const MessageBoxLayout& box) override {
        finishProgressLine();
        std::fprintf(stderr, "\n[%s]\n%s\n", wideToUtf8(box.caption).c_str(),
                     wideToUtf8(box.message).c_str());
        int result = kSecondButtonResult;
        if (!m_inputIsTerminal) {
            // Nobody can answer: the box counts as answered with its default
            // button, as an Enter would.
            std::fprintf(stderr, "(%s)\n", wideToUtf8(defaultButtonText(box)).c_str());
            result = box.first.visible ? kFirstButtonResult : kSecondButtonResult;
        } else {
            result = askOnTerminal(box);
        }
        m_progressDirty = true;
        return result;
    }

    void showPlainError(const std::wstring& caption, const std::wstring& text) override {
        finishProgressLine();
        std::fprintf(stderr, "%s %s\n", wideToUtf8(caption).c_str(), wideToUtf8(text).c_str());
        if (m_inputIsTerminal) {
            std::fprintf(stderr, "Press Enter to close.\n");
            std::string ignored;
            readLine(ignored);
        }
    }

    void post(std::unique_ptr<PostedTask> task) override {
        if (m_tasks.post(std::move(task))) m_wakeups.signal();
    }

private:
    // Stops with the run: endModal closes the queue.
    void runQueuedTasks() {
        while (std::unique_ptr<PostedTask> task = m_tasks.take()) {
            task->run();
            render();
        }
    }

    void render() {
        if (!m_shown || !m_progressDirty) return;
        m_progressDirty = false;
        const std::string text = wideToUtf8(m_progressText);
        if (m_outputIsTerminal) {
            const int filled = m_percent * kBarWidth / 100;
            std::string bar(static_cast<std::size_t>(filled), '#');
            bar.append(static_cast<std::size_t>(kBarWidth - filled), '-');
            std::fprintf(stderr, "\r\033[K[%s] %3d%%  %s", bar.c_str(), m_percent, text.c_str());
            m_lineOpen = true;
        } else if (m_percent != m_printedPercent) {
            std::fprintf(stderr, "%3d%%  %s\n", m_percent, text.c_str());
            m_printedPercent = m_percent;
        }
        std::fflush(stderr);
    }

    void clearProgressLine() {
        if (m_outputIsTerminal && m_lineOpen) std::fputs("\r\033[K", stderr);
        m_lineOpen = false;
    }

    void finishProgressLine() {
        if (m_lineOpen) std::fputc('\n', stderr);
        m_lineOpen = false;
    }

    static std::wstring defaultButtonText(const MessageBoxLayout& box) {
        return box.first.visible ? box.first.text : box.second.text;
    }

    int askOnTerminal(const MessageBoxLayout& box) {
        for (;;) {
            if (box.first.visible) {
                std::fprintf(stderr, "  1) %s (Enter)", wideToUtf8(box.first.text).c_str());
            }
            if (box.second.visible) {
                std::fprintf(stderr, "  2) %s", wideToUtf8(box.second.text).c_str());
            }
            std::fputs("\n> ", stderr);
            std::fflush(stderr);
            std::string answer;
            if (!readLine(answer)) {
                std::fputc('\n', stderr);
                return kSecondButtonResult;  // Ctrl-C or end of input closes the box
            }
            if (box.first.visible &&
                (answer.empty() || answer == "1" || answer == wideToUtf8(box.first.text))) {
                return kFirstButtonResult;
            }
            if (box.second.visible && (answer == "2" || answer == wideToUtf8(box.second.text))) {
                return kSecondButtonResult;
            }
            if (!box.first.visible && answer.empty()) return kSecondButtonResult;
        }
    }

    // Reads one line from stdin; false on end of input, an error or Ctrl-C.
    bool readLine(std::string& line) {
        InterruptCatcher catcher(m_interrupts);
        line.clear();
        for (;;) {
            pollfd fds[2] = {{STDIN_FILENO, POLLIN, 0}, {m_interrupts.readEnd(), POLLIN, 0}};
            if (::poll(fds, 2, -1) < 0) {
                if (errno == EINTR) continue;
                return false;
            }
            if (m_interrupts.drain()) return false;
            char c = 0;
            const ssize_t got = ::read(STDIN_FILENO, &c, 1);
            if (got < 0 && errno == EINTR) continue;
            if (got <= 0) return false;
            if (c == '\n') return true;
            if (c != '\r') line.push_back(c);
        }
    }

    const bool m_outputIsTerminal;
    const bool m_inputIsTerminal;
    Pipe m_wakeups;
    Pipe m_interrupts;

    PostedTaskQueue m_tasks;

    // Interface thread only.
    bool m_running = false;
    int m_result = kSecondButtonResult;
    std::wstring m_caption;
    std::wstring m_statusText;
    std::wstring m_progressText;
    int m_percent = 0;
    int m_printedPercent = -1;
    bool m_shown = false;
    bool m_progressDirty = true;
    bool m_lineOpen = false;
};

}  // namespace

std::unique_ptr<DialogHost> createTerminalDialogHost() {
    return std::make_unique<TerminalDialogHost>();
}

}  // namespace platform
