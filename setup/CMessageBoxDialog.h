#pragma once

#include <string>

#include "platform/DialogHost.h"

// The program's own modal box: a message and up to two buttons whose texts the
// caller sets before running it. An empty second text leaves one button,
// centred; an empty first text hides the first button.
class CMessageBoxDialog {
public:
    explicit CMessageBoxDialog(platform::DialogHost& owner);

    // The layout the box is shown with, from the four texts.
    platform::MessageBoxLayout DoDataExchange() const;

    // Runs the box on the interface thread; returns 1 for the first button,
    // 2 for the second one or a box closed without a choice.
    int DoModal();

    std::wstring m_noText;
    std::wstring m_yesText;
    std::wstring m_caption;
    std::wstring m_message;

private:
    platform::DialogHost& m_owner;
};

// The left edge that centres a control of the given width on the box, in the
// box's client coordinates; halves round away from zero.
int centredLeft(int boxLeft, int boxWidth, int controlWidth);
