#include <gtest/gtest.h>

#include "platform/scripted/ScriptedDialogHost.h"
#include "resources/DialogLayout.h"
#include "setup/CMessageBoxDialog.h"

namespace {

namespace layout = resources::message_box;

TEST(CMessageBoxDialog, TwoButtonsKeepTheirPlaces) {
    platform::ScriptedDialogHost host;
    CMessageBoxDialog box(host);
    box.m_caption = L"Closing of downloader";
    box.m_message = L"Do you want to stop download process?";
    box.m_yesText = L"Yes";
    box.m_noText = L"No, continue";
    const auto shown = box.DoDataExchange();
    EXPECT_EQ(shown.caption, L"Closing of downloader");
    EXPECT_EQ(shown.message, L"Do you want to stop download process?");
    EXPECT_TRUE(shown.first.visible);
    EXPECT_TRUE(shown.second.visible);
    EXPECT_EQ(shown.first.text, L"Yes");
    EXPECT_EQ(shown.second.text, L"No, continue");
    EXPECT_EQ(shown.first.rect.x, layout::kFirstButton.x);
    EXPECT_EQ(shown.second.rect.x, layout::kSecondButton.x);
}

TEST(CMessageBoxDialog, EmptySecondTextLeavesOneCentredButton) {
    platform::ScriptedDialogHost host;
    CMessageBoxDialog box(host);
    box.m_yesText = L"OK";
    const auto shown = box.DoDataExchange();
    EXPECT_TRUE(shown.first.visible);
    EXPECT_FALSE(shown.second.visible);
    // 195 / 2 - 76 / 2 = 59.5, rounded away from zero.
    EXPECT_EQ(shown.first.rect.x, 60);
    EXPECT_EQ(shown.first.rect.y, layout::kFirstButton.y);
    EXPECT_EQ(shown.first.rect.width, layout::kFirstButton.width);
    EXPECT_EQ(shown.first.rect.height, layout::kFirstButton.height);
}

TEST(CMessageBoxDialog, EmptyFirstTextHidesFirstButton) {
    platform::ScriptedDialogHost host;
    CMessageBoxDialog box(host);
    box.m_noText = L"No";
    const auto shown = box.DoDataExchange();
    EXPECT_FALSE(shown.first.visible);
    EXPECT_TRUE(shown.second.visible);
    EXPECT_EQ(shown.first.rect.x, layout::kFirstButton.x);
}

TEST(CMessageBoxDialog, CentringRoundsHalvesAwayFromZero) {
    struct Case {
        int left, width, control, expected;
    };
    for (const Case& c : {Case{0, 195, 76, 60}, Case{0, 196, 76, 60}, Case{-3, 201, 76, 60},
                          Case{-10, 5, 6, -11}, Case{-10, 6, 5, -10}}) {
        EXPECT_EQ(centredLeft(c.left, c.width, c.control), c.expected)
            << c.left << " " << c.width << " " << c.control;
    }
}

TEST(CMessageBoxDialog, DoModalReturnsTheHostsAnswer) {
    platform::ScriptedDialogHost host;
    CMessageBoxDialog box(host);
    box.m_yesText = L"Yes";
    box.m_noText = L"No";
    EXPECT_EQ(box.DoModal(), platform::kSecondButtonResult);
    host.setBoxResponder([](const platform::MessageBoxLayout&) { return 1; });
    EXPECT_EQ(box.DoModal(), platform::kFirstButtonResult);
    EXPECT_EQ(host.boxes().size(), 2u);
}

}  // namespace
