#pragma once

#include <cstdint>
#include <string>

// The numbered texts of the dialog and the boxes, in Russian and English.
// Russian is used only for the interface language 0x0419; every other
// language, other Russian variants included, gets English.
class UiText {
public:
    static constexpr std::uint16_t kRussianLanguage = 0x0419;

    // The text of id in the given language; empty text for an unknown id.
    // Any thread.
    static std::wstring lookup(unsigned id, std::uint16_t languageId);

    // The interface language, read from the user's settings at the first call
    // after start or after release(). Any thread.
    static std::uint16_t language();

    // Forgets the language, so that the next lookup reads it again. Called by
    // the progress dialog once its window is gone.
    static void release();
};

// The text of id in the user's interface language. Any thread.
std::wstring uiText(unsigned id);

// The error box's text for an installer that is not started because it is
// not signed by the publisher the build pins, in the user's interface
// language; like uiText(12), it ends with a blank before the closing
// sentence. Kept beside the numbered table, whose ids stay as they are.
// Any thread.
std::wstring unverifiedInstallerText();

// The error box's line naming a full disk: how much more space the folder
// needs, in whole megabytes (rounded up, at least one), in the user's
// interface language. Any thread.
std::wstring diskFullText(std::int64_t missingBytes, const std::wstring& folder);
