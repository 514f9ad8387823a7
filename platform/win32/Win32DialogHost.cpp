#include "platform/win32/Win32DialogHost.h"

#include <windows.h>
// The headers below need the types of windows.h.
#include <commctrl.h>

#include <algorithm>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

#include "platform/CallbackFailure.h"
#include "platform/win32/ResourceIds.h"

namespace platform {
namespace {

// The one message that carries posted work; lParam owns a PostedTask.
constexpr UINT kPostedTaskMessage = WM_APP + 1;

HINSTANCE instance() { return ::GetModuleHandleW(nullptr); }

// The window is shown by showWindow, centred, not when it is created: the
// template's visible style is taken out of a copy of the template.
std::vector<BYTE> hiddenTemplate(int id) {
    const HRSRC found = ::FindResourceW(instance(), MAKEINTRESOURCEW(id), RT_DIALOG);
    const HGLOBAL loaded = found != nullptr ? ::LoadResource(instance(), found) : nullptr;
    const void* bytes = loaded != nullptr ? ::LockResource(loaded) : nullptr;
    if (bytes == nullptr) return {};
    const auto* begin = static_cast<const BYTE*>(bytes);
    std::vector<BYTE> copy(begin, begin + ::SizeofResource(instance(), found));
    // An extended template: version 1, signature 0xFFFF, then help id,
    // extended style and style.
    constexpr std::size_t kStyleOffset = 12;
    if (copy.size() < kStyleOffset + sizeof(DWORD)) return {};
    DWORD style = 0;
    std::copy_n(copy.data() + kStyleOffset, sizeof style, reinterpret_cast<BYTE*>(&style));
    style &= ~static_cast<DWORD>(WS_VISIBLE);
    std::copy_n(reinterpret_cast<const BYTE*>(&style), sizeof style, copy.data() + kStyleOffset);
    return copy;
}

RECT dialogUnitsToPixels(HWND dialog, const resources::DialogRect& rect) {
    RECT pixels{rect.x, rect.y, rect.x + rect.width, rect.y + rect.height};
    ::MapDialogRect(dialog, &pixels);
    return pixels;
}

class Win32DialogHost final : public DialogHost {
public:
    Win32DialogHost() {
        m_icon = static_cast<HICON>(::LoadImageW(instance(), MAKEINTRESOURCEW(kProgramIconId),
                                                 IMAGE_ICON, 0, 0, LR_DEFAULTSIZE | LR_SHARED));
        const std::vector<BYTE> progressTemplate = hiddenTemplate(kProgressDialogId);
        if (!progressTemplate.empty()) {
            m_window = ::CreateDialogIndirectParamW(
                instance(), reinterpret_cast<LPCDLGTEMPLATEW>(progressTemplate.data()), nullptr,
                &Win32DialogHost::windowProc, reinterpret_cast<LPARAM>(this));
        }
        if (m_window == nullptr) {
            throw std::runtime_error("cannot create the progress window: Windows error " +
                                     std::to_string(::GetLastError()));
        }
    }

    ~Win32DialogHost() override {
        // Tasks still queued are found by their window: freed before it goes.
        discardQueuedTasks();
        if (m_window != nullptr) ::DestroyWindow(m_window);
    }

    void setCaption(const std::wstring& caption) override {
        ::SetWindowTextW(m_window, caption.c_str());
    }
    void setStatusText(const std::wstring& text) override {
        ::SetDlgItemTextW(m_window, kStatusTextId, text.c_str());
    }
    void setProgressText(const std::wstring& text) override {
        ::SetDlgItemTextW(m_window, kProgressTextId, text.c_str());
    }
    void setProgressPosition(int percent) override {
        const WPARAM position = static_cast<WPARAM>(std::clamp(percent, 0, 100));
        ::SendDlgItemMessageW(m_window, kProgressBarId, PBM_SETPOS, position, 0);
    }

    void showWindow() override {
        ::SendMessageW(m_window, WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(m_icon));
        ::SendMessageW(m_window, WM_SETICON, ICON_SMALL, reinterpret_cast<LPARAM>(m_icon));
        centreOnWorkArea(m_window);
        ::ShowWindow(m_window, SW_SHOWNORMAL);
        // The close box stays available for the whole run.
        ::EnableMenuItem(::GetSystemMenu(m_window, FALSE), SC_CLOSE, MF_BYCOMMAND | MF_ENABLED);
    }

    int runModal(DialogEvents& events) override {
        m_events = &events;
        m_running = true;
        MSG message;
        while (m_running && ::GetMessageW(&message, nullptr, 0, 0) > 0) {
            // Gives the window the dialog keys: Esc arrives as IDCANCEL.
            if (!::IsDialogMessageW(m_window, &message)) {
                ::TranslateMessage(&message);
                ::DispatchMessageW(&message);
            }
        }
        m_running = false;
        m_events = nullptr;
        ::ShowWindow(m_window, SW_HIDE);
        discardQueuedTasks();
        m_callbackFailure.rethrow();
        return m_result;
    }

    void endModal(int result) override {
        m_result = result;
        m_running = false;
        // Each open box's run returns the closed result; their nested loops
        // end before the window's.
        for (HWND box : m_openBoxes) ::EndDialog(box, kSecondButtonResult);
        // Wakes GetMessageW so that the loop sees the end.
        ::PostMessageW(m_window, WM_NULL, 0, 0);
    }

    int runMessageBox(const MessageBoxLayout& box) override {
        BoxRun run{this, &box};
        const HWND owner = ::IsWindowVisible(m_window) ? m_window : nullptr;
        const INT_PTR result =
            ::DialogBoxParamW(instance(), MAKEINTRESOURCEW(kMessageBoxId), owner,
                              &Win32DialogHost::boxProc, reinterpret_cast<LPARAM>(&run));
        return result == kFirstButtonResult ? kFirstButtonResult : kSecondButtonResult;
    }

    void showPlainError(const std::wstring& caption, const std::wstring& text) override {
        ::MessageBoxW(nullptr, text.c_str(), caption.c_str(), MB_OK);
    }

    void post(std::unique_ptr<PostedTask> task) override {
        // The message owns the task from here; a message that cannot be
        // posted (window gone) leaves it to be freed here.
        if (m_window != nullptr &&
            ::PostMessageW(m_window, kPostedTaskMessage, 0, reinterpret_cast<LPARAM>(task.get()))) {
            (void)task.release();
        }
    }

private:
    struct BoxRun {
        Win32DialogHost* host;
        const MessageBoxLayout* layout;
    };

    static void centreOnWorkArea(HWND window) {
        RECT area{};
        ::SystemParametersInfoW(SPI_GETWORKAREA, 0, &area, 0);
        RECT frame{};
        ::GetWindowRect(window, &frame);
        const int width = frame.right - frame.left;
        const int height = frame.bottom - frame.top;
        ::SetWindowPos(window, nullptr, area.left + (area.right - area.left - width) / 2,
                       area.top + (area.bottom - area.top - height) / 2, 0, 0,
                       SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
    }

    void discardQueuedTasks() {
        MSG message;
        while (
            ::PeekMessageW(&message, m_window, kPostedTaskMessage, kPostedTaskMessage, PM_REMOVE)) {
            delete reinterpret_cast<PostedTask*>(message.lParam);
        }
    }

    void runTask(LPARAM payload) {
        std::unique_ptr<PostedTask> task(reinterpret_cast<PostedTask*>(payload));
        if (!m_running) return;
        m_callbackFailure.guard(*this, [&task] { task->run(); });
    }

    void requestClose() {
        if (!m_running || m_events == nullptr) return;
        m_callbackFailure.guard(*this, [this] { m_events->onCloseRequested(); });
    }

    static INT_PTR CALLBACK windowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
        if (message == WM_INITDIALOG) {
            ::SetWindowLongPtrW(window, DWLP_USER, lParam);
            ::SendDlgItemMessageW(window, kProgressBarId, PBM_SETRANGE32, 0, 100);
            ::SendDlgItemMessageW(window, kProgressBarId, PBM_SETSTEP, 1, 0);
            return TRUE;
        }
        auto* host = reinterpret_cast<Win32DialogHost*>(::GetWindowLongPtrW(window, DWLP_USER));
        if (host == nullptr) return FALSE;
        switch (message) {
            case kPostedTaskMessage:
                host->runTask(lParam);
                return TRUE;
            case WM_CLOSE:
                // The window stays until the owner ends the run.
                host->requestClose();
                return TRUE;
            case WM_COMMAND:
                // Esc asks like the close box does; Enter does nothing: the
                // window has no button to press.
                if (LOWORD(wParam) == IDCANCEL) host->requestClose();
                return TRUE;
            default:
                return FALSE;
        }
    }

    static INT_PTR CALLBACK boxProc(HWND box, UINT message, WPARAM wParam, LPARAM lParam) {
        switch (message) {
            case WM_INITDIALOG: {
                auto* run = reinterpret_cast<BoxRun*>(lParam);
                ::SetWindowLongPtrW(box, DWLP_USER, lParam);
                run->host->m_openBoxes.push_back(box);
                layOutBox(box, *run->layout);
                return TRUE;
            }
            case WM_COMMAND:
                if (LOWORD(wParam) == IDOK || LOWORD(wParam) == IDCANCEL) {
                    ::EndDialog(box,
                                LOWORD(wParam) == IDOK ? kFirstButtonResult : kSecondButtonResult);
                    return TRUE;
                }
                return FALSE;
            case WM_DESTROY: {
                auto* run = reinterpret_cast<BoxRun*>(::GetWindowLongPtrW(box, DWLP_USER));
                if (run != nullptr) {
                    auto& open = run->host->m_openBoxes;
                    open.erase(std::remove(open.begin(), open.end(), box), open.end());
                }
                return FALSE;
            }
            default:
                return FALSE;
        }
    }

    // How many pixels the message needs beyond its control's height, as the
    // control wraps it with its own font.
    static int messageOverflow(HWND control, const std::wstring& text) {
        RECT place{};
        ::GetClientRect(control, &place);
        const int height = place.bottom - place.top;
        const HDC context = ::GetDC(control);
        if (context == nullptr) return 0;
        const auto font = reinterpret_cast<HFONT>(::SendMessageW(control, WM_GETFONT, 0, 0));
        const HGDIOBJ previous = ::SelectObject(context, font);
        ::DrawTextW(context, text.c_str(), static_cast<int>(text.size()), &place,
                    DT_CALCRECT | DT_WORDBREAK | DT_NOPREFIX);
        ::SelectObject(context, previous);
        ::ReleaseDC(control, context);
        return std::max(0, static_cast<int>(place.bottom - place.top) - height);
    }

    static void layOutBox(HWND box, const MessageBoxLayout& layout) {
        ::SetWindowTextW(box, layout.caption.c_str());
        ::SetDlgItemTextW(box, kMessageTextId, layout.message.c_str());
        // A message longer than the template's area (a failure's cause on
        // lines of its own) grows the box downwards instead of running under
        // the buttons.
        const HWND message = ::GetDlgItem(box, kMessageTextId);
        const int growth = messageOverflow(message, layout.message);
        if (growth > 0) {
            RECT area{};
            ::GetWindowRect(message, &area);
            ::SetWindowPos(message, nullptr, 0, 0, area.right - area.left,
                           area.bottom - area.top + growth,
                           SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
            RECT outer{};
            ::GetWindowRect(box, &outer);
            ::SetWindowPos(box, nullptr, 0, 0, outer.right - outer.left,
                           outer.bottom - outer.top + growth,
                           SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
        }
        const std::pair<int, const MessageBoxButton*> buttons[] = {{IDOK, &layout.first},
                                                                   {IDCANCEL, &layout.second}};
        for (const auto& [id, button] : buttons) {
            const HWND control = ::GetDlgItem(box, id);
            ::SetWindowTextW(control, button->text.c_str());
            const RECT place = dialogUnitsToPixels(box, button->rect);
            ::MoveWindow(control, place.left, place.top + growth, place.right - place.left,
                         place.bottom - place.top, FALSE);
            ::ShowWindow(control, button->visible ? SW_SHOW : SW_HIDE);
        }
        RECT frame{};
        ::GetWindowRect(box, &frame);
        const HWND owner = ::GetWindow(box, GW_OWNER);
        if (owner == nullptr) {
            centreOnWorkArea(box);
            return;
        }
        RECT over{};
        ::GetWindowRect(owner, &over);
        ::SetWindowPos(box, nullptr,
                       over.left + ((over.right - over.left) - (frame.right - frame.left)) / 2,
                       over.top + ((over.bottom - over.top) - (frame.bottom - frame.top)) / 2, 0, 0,
                       SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
    }

    HWND m_window = nullptr;
    HICON m_icon = nullptr;
    DialogEvents* m_events = nullptr;
    bool m_running = false;
    int m_result = kSecondButtonResult;
    CallbackFailure m_callbackFailure;
    std::vector<HWND> m_openBoxes;
};

}  // namespace

std::unique_ptr<DialogHost> createWin32DialogHost() { return std::make_unique<Win32DialogHost>(); }

}  // namespace platform
