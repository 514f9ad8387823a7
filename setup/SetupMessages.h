#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <variant>

// The messages the setup worker posts to the progress dialog. Each message
// owns its payload: the dialog's handler frees it by scope, and a message that
// is never handled (posted after the dialog ended) frees it when discarded.

// The first message number applications may use for themselves.
inline constexpr unsigned kAppMessageBase = 0x8000;

inline constexpr unsigned WM_SETUP_PROGRESS = kAppMessageBase + 0x10;
inline constexpr unsigned WM_SETUP_STATUS = kAppMessageBase + 0x11;
inline constexpr unsigned WM_SETUP_FINISH = kAppMessageBase + 0x12;

struct ProgressReport {
    // Room for the text including its terminating unit; longer texts are cut
    // to kTextCapacity - 2 characters, as the home platform's copy does.
    static constexpr std::size_t kTextCapacity = 256;

    ProgressReport(std::int32_t percentDone, std::wstring_view line);

    std::int32_t percent;
    std::wstring text;  // empty in the completion report
};

struct SetupMessage {
    unsigned id;
    // WM_SETUP_PROGRESS: a report; WM_SETUP_STATUS: the status line (null when
    // the worker could not make one); WM_SETUP_FINISH: nothing.
    std::variant<std::monostate, std::unique_ptr<ProgressReport>, std::unique_ptr<std::wstring>>
        payload;
};

SetupMessage makeProgressMessage(std::int32_t percent, std::wstring_view text);
// The line above the bar for a share of the download: "Progress: 52%" in
// English, "Прогресс: 52%" in Russian.
std::wstring progressText(std::int32_t percent);
SetupMessage makeStatusMessage(std::unique_ptr<std::wstring> status);
SetupMessage makeFinishMessage();
