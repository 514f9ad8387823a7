#include <gtest/gtest.h>

#include <stdexcept>

#include "app/CUpdateProgressApp.h"
#include "platform/scripted/ScriptedDialogHost.h"

namespace {

TEST(CUpdateProgressApp, UnknownProductShowsOnlyTheErrorBox) {
    platform::ScriptedDialogHost host;
    CUpdateProgressDlg::Hooks hooks;
    bool workerRan = false;
    hooks.runSetup = [&](SetupReporter&, const StubSettings&) { workerRan = true; };
    CUpdateProgressApp app(
        host,
        [] {
            return StubSettings::read("nosuchproduct", {{"vid", "7"}});
        },
        hooks);
    EXPECT_FALSE(app.InitInstance());
    EXPECT_EQ(host.log(), std::vector<std::wstring>{L"plainError=Error!|Invalid installer!"});
    EXPECT_FALSE(workerRan);
}

TEST(CUpdateProgressApp, ErrorTextDropsInvalidUtf8) {
    platform::ScriptedDialogHost host;
    CUpdateProgressApp app(
        host,
        []() -> StubSettings { throw std::runtime_error("caf\xc3\xa9 \xff\xfe broken \xe2\x82"); },
        {});
    EXPECT_FALSE(app.InitInstance());
    EXPECT_EQ(host.log(), std::vector<std::wstring>{L"plainError=Error!|café  broken "});
}

}  // namespace
