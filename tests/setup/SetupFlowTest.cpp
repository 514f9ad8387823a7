// The setup flow's decisions, driven against the local test servers with a
// fake in place of the progress dialog: no window, no child process.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <filesystem>
#include <future>
#include <mutex>
#include <ostream>
#include <string>
#include <vector>

#include "setup/SetupFlow.h"
#include "setup/UiText.h"
#include "support/FaultServer.h"
#include "support/InterfaceLanguage.h"
#include "support/Sandbox.h"
#include "support/TestServers.h"
#include "support/WaitFor.h"

namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using testsupport::Endpoint;
using testsupport::FaultRule;
using testsupport::FaultServer;
using testsupport::TestServers;

constexpr std::int64_t kPart = 524288;
constexpr std::int64_t kInstallerSize = kPart + 1000;  // two parts

// Records what the flow reports, one line per report, and answers its error
// boxes; the test requests the stop.
class FakeReporter final : public SetupReporter {
public:
    explicit FakeReporter(int boxAnswer) : m_boxAnswer(boxAnswer) {}

    void postMessage(SetupMessage message) override {
        std::wstring line = L"finish";
        if (auto* report = std::get_if<std::unique_ptr<ProgressReport>>(&message.payload)) {
            line = L"progress=" + std::to_wstring((*report)->percent) + L"|" + (*report)->text;
        } else if (auto* status = std::get_if<std::unique_ptr<std::wstring>>(&message.payload)) {
            line = L"status=" + (*status ? **status : L"(none)");
        }
        record(std::move(line));
    }
    int showErrorBox(std::wstring message, std::wstring details) override {
        record(L"box=" + message);
        const std::lock_guard<std::mutex> lock(m_mutex);
        m_details.push_back(std::move(details));
        return m_boxAnswer;
    }
    void openWebPage(const std::string& url) override {
        record(L"page=" + std::wstring(url.begin(), url.end()));
    }
    const std::atomic<bool>& stopFlag() const override { return m_stop; }
    bool waitForStop(std::chrono::milliseconds timeout) override {
        std::unique_lock<std::mutex> lock(m_mutex);
        return m_stopChanged.wait_for(lock, timeout, [this] { return m_stop.load(); });
    }

    void requestStop() {
        {
            const std::lock_guard<std::mutex> lock(m_mutex);
            m_stop = true;
        }
        m_stopChanged.notify_all();
    }
    // What each box said after its own text.
    std::vector<std::wstring> details() const {
        const std::lock_guard<std::mutex> lock(m_mutex);
        return m_details;
    }
    std::vector<std::wstring> lines() const {
        const std::lock_guard<std::mutex> lock(m_mutex);
        return m_lines;
    }

private:
    void record(std::wstring line) {
        const std::lock_guard<std::mutex> lock(m_mutex);
        m_lines.push_back(std::move(line));
    }

    const int m_boxAnswer;
    mutable std::mutex m_mutex;
    std::condition_variable m_stopChanged;
    std::atomic<bool> m_stop{false};
    std::vector<std::wstring> m_lines;
    std::vector<std::wstring> m_details;
};

// The reports without the running progress, whose number depends on timing;
// each of those must read as the progress line of its own percentage.
std::vector<std::wstring> withoutRunningProgress(const std::vector<std::wstring>& lines) {
    std::vector<std::wstring> kept;
    for (const std::wstring& line : lines) {
        const std::size_t bar = line.find(L'|');
        if (line.rfind(L"progress=", 0) == 0 && bar + 1 < line.size()) {
            EXPECT_EQ(line.substr(bar + 1), L"Progress: " + line.substr(9, bar - 9) + L"%");
            continue;
        }
        kept.push_back(line);
    }
    return kept;
}

// How the configured proxy answers the connectivity probe. The first three
// carry the download (tinyproxy), whatever they said to the probe.
enum class Proxy {
    None,
    Working,
    RefusingTheProbeSite,     // its own 403
    CannotReachTheProbeSite,  // its own 500
    DemandingCredentials,     // a 407 to everything
    Dead,
    Hanging,
};

bool carriesTheDownload(Proxy proxy) {
    return proxy == Proxy::Working || proxy == Proxy::RefusingTheProbeSite ||
           proxy == Proxy::CannotReachTheProbeSite;
}
enum class Size { Ok, NotFound, NoLength, Refused, Hanging };
enum class Transfer { Completes, FailsMidway, Hanging };
enum class Stop { Never, BeforeStart, InProbe, InSizeRequest, InTransfer };

struct Row {
    const char* name;
    Proxy proxy;
    Size size;
    bool installedReelBox;  // the build is "Reel Box", installed, with content to open
    Transfer transfer;
    Stop stop;
    std::vector<std::wstring> reports;  // without the running progress
    bool complete;
    int boxAnswer = 1;
    ExitStatus status = ExitStatus::kClosed;
    bool reelBoxCannotStart = false;  // the installed program's file cannot be executed
};

// Names the row in gtest's output instead of dumping its bytes.
void PrintTo(const Row& row, std::ostream* out) { *out << row.name; }

constexpr const wchar_t kPreparing[] = L"status=Preparing to Install...";
constexpr const wchar_t kDone[] = L"progress=100|";  // the completion report
// The box's "Yes" opens the product's manual download page.
constexpr const wchar_t kManualPage[] = L"page=https://www.wrenkit.example/download";

class SetupFlowDecisions : public ::testing::TestWithParam<Row> {
protected:
    void SetUp() override {
        testsupport::setInterfaceLanguage(0x0409);
        UiText::release();
        // The flow reads these; each row gets its own.
        for (const char* name :
             {"https_proxy", "HTTPS_PROXY", "http_proxy", "HTTP_PROXY", "all_proxy", "ALL_PROXY"}) {
            ::unsetenv(name);
        }
        fs::create_directory(sandbox.path() / "tmp");
        fs::create_directory(sandbox.path() / "uninstall");
        ::setenv("TMPDIR", sandbox.file("tmp").c_str(), 1);
        ::setenv("WEBSETUP_UNINSTALL_DIR", sandbox.file("uninstall").c_str(), 1);
    }
    void TearDown() override {
        for (const char* name : {"TMPDIR", "WEBSETUP_UNINSTALL_DIR", "http_proxy"}) {
            ::unsetenv(name);
        }
    }

    // The installed program records its arguments, one a line; one that
    // cannot start names an interpreter that does not exist.
    void installReelBox(bool startable) const {
        fs::create_directory(sandbox.path() / "ReelBox");
        const std::string opened = sandbox.file("opened");
        sandbox.writeFile("ReelBox/reelbox.exe",
                          std::string(startable ? "#!/bin/sh" : "#!/nonexistent/sh") +
                              "\nprintf '%s\\n' \"$@\" > '" + opened + ".tmp' && mv '" + opened +
                              ".tmp' '" + opened + "'\n");
        sandbox.writeFile("uninstall/ReelBox",
                          "DisplayVersion=3.0\nInstallLocation=" + sandbox.file("ReelBox") + "\n");
    }

    std::vector<FaultRule> downloadRules(const Row& row) const {
        switch (row.size) {
            case Size::NotFound:
                return {FaultRule().status(404).body("no such file")};
            case Size::NoLength:
                return {FaultRule().onMethod("HEAD").status(200).noContentLength()};
            case Size::Hanging:
                return {FaultRule().stall(-1)};
            case Size::Ok:
            case Size::Refused:
                break;
        }
        std::vector<FaultRule> rules{FaultRule().onMethod("HEAD").ranged(kInstallerSize)};
        if (row.transfer == Transfer::FailsMidway) {
            rules.push_back(FaultRule().onRangeStart(kPart).status(404).body("gone"));
        }
        FaultRule parts = FaultRule().ranged(kInstallerSize);
        if (row.transfer == Transfer::Hanging) parts.drip(1, 0.5);
        rules.push_back(parts);
        return rules;
    }

    std::string installerPath() const {
        for (const auto& entry : fs::recursive_directory_iterator(sandbox.path() / "tmp")) {
            if (entry.path().filename().string().find("_.exe") != std::string::npos) {
                return entry.path().string();
            }
        }
        return {};
    }

    const TestServers servers;
    const FaultServer fault{servers};
    const testsupport::Sandbox sandbox;
};

TEST_P(SetupFlowDecisions, ReportsAsTheRowSays) {
    const Row& row = GetParam();
    const std::string id = FaultServer::uniqueId("flow");
    fault.setScenario(id, downloadRules(row));
    const std::string probeId = FaultServer::uniqueId("probe");
    fault.setScenario(probeId, {row.proxy == Proxy::DemandingCredentials
                                    ? FaultRule().status(407).body("log in first")
                                    : FaultRule().endless().drip(1, 0.5)});

    SetupConfig config;
    config.downloadHost =
        row.size == Size::Refused ? servers.closedUrl() : servers.faultUrl(false, "/s/" + id);
    config.probeUrl = servers.url(Endpoint::Http, "/files/1.bin");
    const std::string tinyproxy = "http://" + servers.proxy() + "/";
    // The fault server stands in for a proxy that answers the probe badly.
    const std::string faultProxy = "http://127.0.0.1:" + servers.value("FAULT_HTTP_PORT") + "/";
    switch (row.proxy) {
        case Proxy::Working:
            ::setenv("http_proxy", tinyproxy.c_str(), 1);
            break;
        case Proxy::RefusingTheProbeSite:
            ::setenv("http_proxy", tinyproxy.c_str(), 1);
            config.probeUrl += "?" + servers.value("PROXY_REFUSED_MARKER");
            break;
        case Proxy::CannotReachTheProbeSite:
            ::setenv("http_proxy", tinyproxy.c_str(), 1);
            config.probeUrl = servers.closedUrl() + "probe";
            break;
        case Proxy::Dead:
            ::setenv("http_proxy", servers.closedUrl().c_str(), 1);
            break;
        case Proxy::DemandingCredentials:
        case Proxy::Hanging:
            ::setenv("http_proxy", faultProxy.c_str(), 1);
            config.probeUrl = fault.url(probeId, "probe");
            break;
        case Proxy::None:
            break;
    }
    PayloadInfo payload;
    if (row.installedReelBox) {
        installReelBox(!row.reelBoxCannotStart);
        payload = {{"contentType", "10"}, {"contentAddress", "page"}};
    }
    const StubSettings settings =
        StubSettings::read(row.installedReelBox ? "reelbox" : "wrnkit", payload);

    const auto proxyLogStart = servers.proxyLogSize();
    FakeReporter reporter(row.boxAnswer);
    if (row.stop == Stop::BeforeStart) reporter.requestStop();
    SetupFlow flow(config);
    auto worker = std::async(std::launch::async, [&] { flow.runSetup(reporter, settings); });
    const auto stopWhenRequested = [&](const std::string& scenario, std::size_t count) {
        ASSERT_TRUE(
            testsupport::waitFor([&] { return fault.requests(scenario).size() >= count; }, 20s));
        reporter.requestStop();
    };
    if (row.stop == Stop::InProbe) stopWhenRequested(probeId, 1);
    if (row.stop == Stop::InSizeRequest) stopWhenRequested(id, 1);
    if (row.stop == Stop::InTransfer) stopWhenRequested(id, 2);
    if (worker.wait_for(row.stop == Stop::Never ? 60s : 5s) != std::future_status::ready) {
        ADD_FAILURE() << "the flow did not end";
        std::_Exit(1);
    }

    EXPECT_EQ(withoutRunningProgress(reporter.lines()), row.reports);
    EXPECT_EQ(flow.exitStatus(), row.status);
    // A failed download offers the manual download page; one of this
    // machine does not.
    const bool offersPage =
        row.status == ExitStatus::kNoConnection || row.status == ExitStatus::kServerRefused;
    for (const std::wstring& details : reporter.details()) {
        // The cause in plain words, the page and the log, a line each.
        EXPECT_EQ(std::count(details.begin(), details.end(), L'\n'), offersPage ? 2 : 1) << details;
        EXPECT_EQ(details.find(L"https://www.wrenkit.example/download") != std::wstring::npos,
                  offersPage);
        EXPECT_NE(details.find(L"websetup.log"), std::wstring::npos) << details;
    }
    EXPECT_EQ(flow.isDownloadComplete(), row.complete);
    if (row.complete) {
        EXPECT_EQ(testsupport::readFile(installerPath()),
                  testsupport::patternBytes(0, kInstallerSize));
    }
    if (row.stop == Stop::BeforeStart || row.stop == Stop::InProbe) {
        EXPECT_TRUE(fault.requests(id).empty()) << "no request after the stop";
    }
    if (row.installedReelBox && !row.reelBoxCannotStart) {
        ASSERT_TRUE(testsupport::waitFor([&] { return fs::exists(sandbox.file("opened")); }, 10s));
        EXPECT_EQ(testsupport::readFile(sandbox.file("opened")), "-turl\npage\n");
        EXPECT_EQ(fault.requests(id).size(), 1u) << "only the size request";
    }
    if (row.size != Size::Refused && row.stop != Stop::BeforeStart && row.stop != Stop::InProbe) {
        bool proxied = false;
        for (const std::string& line : servers.proxyLog(proxyLogStart)) {
            proxied = proxied || line.find("/s/" + id + "/") != std::string::npos;
        }
        EXPECT_EQ(proxied, carriesTheDownload(row.proxy));
        // Asked in absolute form, a request came through the fault server
        // as a proxy.
        for (const auto& request : fault.requests(id)) {
            EXPECT_EQ(request.target.rfind("http", 0), std::string::npos) << request.target;
        }
    }
}

// Every row's final decision, and the stop at each step that can wait.
std::vector<Row> rows() {
    const Proxy none = Proxy::None;
    const Transfer completes = Transfer::Completes;
    return {// name, proxy, size answer, installed Reel Box, transfer, stop, reports, complete
            {"DirectDownload",
             none,
             Size::Ok,
             false,
             completes,
             Stop::Never,
             {kPreparing, kDone},
             true},
            {"ThroughAWorkingProxy",
             Proxy::Working,
             Size::Ok,
             false,
             completes,
             Stop::Never,
             {kPreparing, kDone},
             true},
            {"ProxyRefusingTheProbeSite",
             Proxy::RefusingTheProbeSite,
             Size::Ok,
             false,
             completes,
             Stop::Never,
             {kPreparing, kDone},
             true},
            {"ProxyThatCannotReachTheProbeSite",
             Proxy::CannotReachTheProbeSite,
             Size::Ok,
             false,
             completes,
             Stop::Never,
             {kPreparing, kDone},
             true},
            {"ProxyDemandingCredentialsIsLeftSilently",
             Proxy::DemandingCredentials,
             Size::Ok,
             false,
             completes,
             Stop::Never,
             {kPreparing, kDone},
             true},
            {"DeadProxyIsLeftSilently",
             Proxy::Dead,
             Size::Ok,
             false,
             completes,
             Stop::Never,
             {kPreparing, kDone},
             true},
            {"SizeAnsweredNotFound",
             none,
             Size::NotFound,
             false,
             completes,
             Stop::Never,
             {L"box=Download Error (system code: 404). ", L"finish"},
             false,
             2,
             ExitStatus::kServerRefused},
            {"SizeWithoutLength",
             none,
             Size::NoLength,
             false,
             completes,
             Stop::Never,
             {L"box=Server Error (system code: 2001). ", kManualPage, L"finish"},
             false,
             1,
             ExitStatus::kServerRefused},
            {"SizeRequestRefused",
             none,
             Size::Refused,
             false,
             completes,
             Stop::Never,
             {L"box=Download Error (system code: 7). ", L"finish"},
             false,
             2,
             ExitStatus::kNoConnection},
            {"InstalledReelBoxIsOpened",
             none,
             Size::Ok,
             true,
             completes,
             Stop::Never,
             {L"finish"},
             false,
             1,
             ExitStatus::kStarted},
            {"InstalledReelBoxThatCannotStart",
             none,
             Size::Ok,
             true,
             completes,
             Stop::Never,
             {L"box=Internal Error.", L"finish"},
             false,
             1,
             ExitStatus::kLocalSystem,
             true},
            {"TransferFailsMidway",
             none,
             Size::Ok,
             false,
             Transfer::FailsMidway,
             Stop::Never,
             {kPreparing, L"box=Internal Error. ", kManualPage, L"finish"},
             false,
             1,
             ExitStatus::kServerRefused},
            {"StopBeforeStart", none, Size::Ok, false, completes, Stop::BeforeStart, {}, false},
            {"StopInProbe", Proxy::Hanging, Size::Ok, false, completes, Stop::InProbe, {}, false},
            {"StopInSizeRequest",
             none,
             Size::Hanging,
             false,
             completes,
             Stop::InSizeRequest,
             {},
             false},
            {"StopInTransfer",
             none,
             Size::Ok,
             false,
             Transfer::Hanging,
             Stop::InTransfer,
             {kPreparing},
             false}};
}

INSTANTIATE_TEST_SUITE_P(Rows, SetupFlowDecisions, ::testing::ValuesIn(rows()),
                         [](const ::testing::TestParamInfo<Row>& row) {
                             return std::string(row.param.name);
                         });

}  // namespace
