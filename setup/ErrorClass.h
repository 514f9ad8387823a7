#pragma once

#include <cstdint>
#include <string>

#include "setup/FailureCause.h"

// A failure of the setup flow that the user is told about, thrown and caught
// by value.
struct ErrorClass {
    static constexpr std::int32_t kDownloadError = 1;
    static constexpr std::int32_t kServerError = 2;
    // The size request's answer names no length.
    static constexpr std::int32_t kMissingContentLength = 2001;
    // The downloaded file's digest is not the one its server announced
    // (a download error).
    static constexpr std::int32_t kDigestMismatch = 2002;

    // kDownloadError (systemCode: libcurl's result), kServerError; any other
    // value reads as an internal error.
    std::int32_t errorType = 0;
    std::int32_t systemCode = 0;
    // What the box adds after its text, and how the run ends.
    FailureCause cause;
};

// The error box's text for anything other than an ErrorClass. It has no
// Russian form, and unlike uiText(12) no blank before the closing sentence.
inline constexpr const wchar_t kInternalErrorText[] = L"Internal Error.";

// The text the error box shows for error, before the closing sentence.
std::wstring errorText(const ErrorClass& error);
