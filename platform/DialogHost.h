#pragma once

#include <memory>
#include <string>
#include <utility>

#include "resources/DialogLayout.h"

namespace platform {

// Work handed to the interface thread. The task owns whatever it carries: a
// task that never runs (posted after the modal run ended) frees its payload
// when it is destroyed.
class PostedTask {
public:
    virtual ~PostedTask() = default;
    virtual void run() = 0;
};

template <typename Function>
std::unique_ptr<PostedTask> makePostedTask(Function function) {
    class Task final : public PostedTask {
    public:
        explicit Task(Function body) : m_body(std::move(body)) {}
        void run() override { m_body(); }

    private:
        Function m_body;
    };
    return std::make_unique<Task>(std::move(function));
}

struct MessageBoxButton {
    std::wstring text;
    bool visible = true;
    resources::DialogRect rect{};
};

// A box as the caller has laid it out (dialog units of the box's template).
struct MessageBoxLayout {
    std::wstring caption;
    std::wstring message;
    MessageBoxButton first;
    MessageBoxButton second;
};

// Results of a modal box: the first button, or the second button / the box
// closed without a choice.
inline constexpr int kFirstButtonResult = 1;
inline constexpr int kSecondButtonResult = 2;

// What the front end reports to the window's owner, on the interface thread.
class DialogEvents {
public:
    // The user asked to close the window (close box, system menu, Esc, Ctrl-C).
    // The window stays until the owner ends the modal run.
    virtual void onCloseRequested() = 0;

protected:
    ~DialogEvents() = default;
};

// The program's one window and its boxes, as a front end (GTK, terminal,
// Win32, scripted) shows them. Unless marked otherwise, every operation belongs to
// the interface thread: the thread that created the host.
class DialogHost {
public:
    virtual ~DialogHost() = default;

    virtual void setCaption(const std::wstring& caption) = 0;
    // The line at the top.
    virtual void setStatusText(const std::wstring& text) = 0;
    // The line above the bar.
    virtual void setProgressText(const std::wstring& text) = 0;
    // The bar's range is 0 to 100; values outside it are clamped.
    virtual void setProgressPosition(int percent) = 0;
    // Shows the window, centred on the screen.
    virtual void showWindow() = 0;

    // Runs the window until endModal; posted tasks and close requests are
    // handled meanwhile. Returns endModal's result. Tasks still queued when
    // the run ends are destroyed without running.
    virtual int runModal(DialogEvents& events) = 0;
    // Ends the run started by runModal, closing any box still open over the
    // window (its run returns kSecondButtonResult).
    virtual void endModal(int result) = 0;

    // Shows a box over the window and returns kFirstButtonResult or
    // kSecondButtonResult. Posted tasks may run while it is open.
    virtual int runMessageBox(const MessageBoxLayout& box) = 0;

    // The plain box of start-up: no owner window, one OK button.
    virtual void showPlainError(const std::wstring& caption, const std::wstring& text) = 0;

    // Any thread. Queues the task to run on the interface thread during the
    // modal run.
    virtual void post(std::unique_ptr<PostedTask> task) = 0;
};

}  // namespace platform
