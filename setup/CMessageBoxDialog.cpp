#include "setup/CMessageBoxDialog.h"

#include <cmath>

#include "resources/DialogLayout.h"

namespace layout = resources::message_box;

CMessageBoxDialog::CMessageBoxDialog(platform::DialogHost& owner) : m_owner(owner) {}

int centredLeft(int boxLeft, int boxWidth, int controlWidth) {
    return static_cast<int>(std::round(boxLeft + boxWidth * 0.5 - controlWidth * 0.5));
}

platform::MessageBoxLayout CMessageBoxDialog::DoDataExchange() const {
    platform::MessageBoxLayout box;
    box.caption = m_caption;
    box.message = m_message;
    box.first = {m_yesText, !m_yesText.empty(), layout::kFirstButton};
    box.second = {m_noText, !m_noText.empty(), layout::kSecondButton};
    if (!box.second.visible) {
        // The layout is in client coordinates already, where the box spans
        // from 0 to its width.
        box.first.rect.x = centredLeft(0, layout::kWidth, box.first.rect.width);
    }
    return box;
}

int CMessageBoxDialog::DoModal() { return m_owner.runMessageBox(DoDataExchange()); }
