// The built stub, stamped and started as a user starts it, against the local
// nginx, fault server and tinyproxy. Without a display it runs its terminal
// front end; with its input not a terminal, boxes print and take their first
// button.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <atomic>
#include <cctype>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <map>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "StubRun.h"
#include "downloader/ResumeState.h"
#include "downloader/SmallDisk.h"
#include "support/FaultServer.h"
#include "support/Minisign.h"
#include "support/TestServers.h"
#include "support/WaitFor.h"
#include "tools/stamp/PayloadBlock.h"

namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using namespace std::string_literals;
using testsupport::Endpoint;
using testsupport::FaultRule;
using testsupport::FaultServer;
using testsupport::TestServers;
using Args = std::vector<std::string>;

constexpr std::size_t kInstallerSize = 1300000;  // three parts
// The stub's documented exit statuses, as scripts rely on them.
constexpr int kExitStarted = 0;
constexpr int kExitInternal = 1;
constexpr int kExitClosed = 2;
constexpr int kExitNoConnection = 3;
constexpr int kExitServerRefused = 4;
constexpr int kExitRefusedFile = 5;
const std::string kClosing = "The program will be automatically closed!";

// Bytes of the parts the record, or the resume state, at path counts as
// done; -1 while there is none that reads back whole.
std::int64_t committedInRecord(const std::string& path) {
    std::error_code missing;
    if (!fs::exists(path, missing)) return -1;
    std::string error;
    const auto record = DownloadInfo::fromRecordBytes(testsupport::readFile(path), error);
    return record ? record->committedSize() : -1;
}

std::int64_t committedInResumeState(const std::string& path) {
    std::error_code missing;
    if (!fs::exists(path, missing)) return -1;
    std::string error;
    const auto state = decodeResumeState(testsupport::readFile(path), error);
    return state ? state->record.committedSize() : -1;
}

// nginx numbers its connections as it accepts them: every connection
// opened after this returns has a higher number than the one returned.
long connectionNumberNow(const TestServers& servers) {
    static int counter = 0;
    const std::string marker =
        "/files/1.bin?mark=" + std::to_string(::getpid()) + "-" + std::to_string(++counter);
    const std::uintmax_t from = servers.accessLogSize();
    servers.fetch(servers.url(Endpoint::Http, marker));
    const auto entries = servers.awaitAccessLog(from, marker, 1);
    return entries.empty() ? -1 : entries.front().connection;
}

// Body bytes of the range requests for `name` that nginx answered on
// connections numbered above `after`. A killed client's requests are logged
// whenever nginx notices, so the log's position cannot separate two runs.
std::int64_t rangeBytesServed(const TestServers& servers, long after, const std::string& name) {
    std::int64_t bytes = 0;
    for (const auto& entry : servers.accessLog()) {
        if (entry.connection > after && !entry.range.empty() &&
            entry.target().find(name) != std::string::npos) {
            bytes += entry.bodyBytes;
        }
    }
    return bytes;
}

// The installer arguments `websetup-stamp --show` prints for the stub, read
// back from its one-per-line form (quoted with C-style escapes when needed).
Args shownInstallerArguments(const std::string& stub) {
    const auto shown = testsupport::runProcess({STAMP_TOOL_PATH, "--show", stub});
    Args arguments;
    std::size_t line = shown.out.find("\narguments (");
    if (shown.exitCode != 0 || line == std::string::npos) {
        ADD_FAILURE() << "no arguments shown: " << shown.out << shown.err;
        return arguments;
    }
    line = shown.out.find('\n', line + 1) + 1;
    for (std::size_t end; shown.out.compare(line, 2, "  ") == 0; line = end + 1) {
        end = shown.out.find('\n', line);
        std::string text = shown.out.substr(line + 2, end - line - 2);
        if (text.size() < 2 || text.front() != '"') {
            arguments.push_back(text);
            continue;
        }
        std::string argument;
        for (std::size_t i = 1; i + 1 < text.size(); ++i) {
            if (text[i] == '\\') ++i;  // the tests' values hold no \t, \n or \x escapes
            argument.push_back(text[i]);
        }
        arguments.push_back(argument);
    }
    return arguments;
}

class SetupEndToEnd : public ::testing::Test {
protected:
    // Serves a fresh fake installer; returns the host setting that makes the
    // stub's catalogue address fetch it through `route` ("files", "slow/64k",
    // "redirect/1"). The catalogue path lands in the query, which nginx
    // ignores.
    std::string serveInstaller(const std::string& route = "files",
                               std::size_t size = kInstallerSize) {
        static std::atomic<int> counter{0};
        installerName = "e2e-" + std::to_string(::getpid()) + "-" + std::to_string(++counter);
        installer = e2e::fakeInstaller(size);
        servers.writeServedFile(installerName, installer);
        return servers.url(Endpoint::Https, "/" + route + "/" + installerName) + "?";
    }

    std::map<std::string, std::string> environment(const std::string& host,
                                                   const std::string& productKey = "wrnkit") {
        return {{"WEBSETUP_E2E_DOWNLOAD_HOST", host},
                {"WEBSETUP_E2E_PRODUCT_KEY", productKey},
                // A page that exists: the probe counts only a success.
                {"WEBSETUP_E2E_PROBE_URL", servers.url(Endpoint::Http, "/files/1.bin")}};
    }

    void forgetInstallerRuns() const {
        fs::remove_all(machine.recordFolder());
        fs::create_directory(machine.recordFolder());
    }

    std::string installedCopy(const std::string& stem = "wren_kit") const {
        return machine.privateFolder() + "/" + stem + "_.exe";
    }
    std::string recordPath() const { return machine.privateFolder() + "/_.txt"; }
    std::string resumeStatePath() const { return recordPath() + ".resume"; }

    // Runs the stub until its record counts `committed` bytes as done, then
    // closes it as a user does (Ctrl-C, then "Yes").
    void runUntilCommittedThenClose(const std::string& stub,
                                    const std::map<std::string, std::string>& env,
                                    std::int64_t committed) {
        e2e::TerminalRun run(machine.command(stub, env));
        ASSERT_TRUE(
            testsupport::waitFor([&] { return committedInRecord(recordPath()) == committed; }, 30s))
            << run.output();
        run.type("\x03");
        ASSERT_TRUE(run.waitForOutput("Do you want to stop download process?", 10s))
            << run.output();
        ASSERT_TRUE(run.waitForOutput("> ", 10s)) << run.output();
        run.type("1\r");
        ASSERT_EQ(run.waitForExit(10s), kExitClosed) << run.output();
    }

    TestServers servers;
    e2e::StubMachine machine;
    std::string installerName;
    std::string installer;
};

std::string sha256(const std::string& path) {
    const auto result = testsupport::runProcess({"/usr/bin/sha256sum", path});
    return result.out.substr(0, 64);
}

mode_t modeOf(const std::string& path) {
    struct stat status {};
    return ::lstat(path.c_str(), &status) == 0 ? status.st_mode & 07777 : 0;
}

TEST_F(SetupEndToEnd, InstallerStartsOnceWithTheSettingsArguments) {
    const struct {
        const char* name;
        const char* productKey;
        std::vector<std::string> settings;
        Args expected;
    } cases[] = {
        {"partner, vid, silent",
         "wrnkit",
         {"partnerId=12", "vid=7", "silentMode=true"},
         {"/partnerId=12", "/vid=7", "/S"}},
        {"content with blanks, silentMode not exactly true",
         "wrnkit",
         {"contentType=3", "contentAddress=http://example.com/a b", "silentMode=TRUE"},
         {"/contentType=3", "/contentAddress=http://example.com/a b"}},
        {"quotes kept, offerUrl",
         "wrnkit",
         {"contentAddress=say \"hi\" now", "offerUrl=https://example.com/?a=1&b=2"},
         {"/contentAddress=say \"hi\" now", "/offerUrl=https://example.com/?a=1&b=2"}},
        {"extras in key order, decoded",
         "wrnkit",
         {"b=2", "a=x y", "PidVaulto=abc", "silentMode=true"},
         {"/S", "/PidVaulto=abc", "/a=x y", "/b=2"}},
        {"Vault-O passes only its campaign",
         "vaulto",
         {"PidVaulto=abc", "partnerId=12", "silentMode=true"},
         {"/subid", "abc"}},
        {"Vault-O without a campaign passes nothing",
         "vaulto",
         {"partnerId=12", "silentMode=true"},
         {}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        forgetInstallerRuns();
        const std::string host = serveInstaller();
        const std::string stub = machine.stampedStub(c.settings);
        const auto result = machine.run(stub, environment(host, c.productKey));
        EXPECT_EQ(result.exitCode, 0) << result.err;
        EXPECT_EQ(machine.installerRuns(), std::vector<Args>{c.expected}) << result.err;
        // What the stamp tool shows is what the installer got; it shows the
        // arguments of its own build's product only.
        if (std::string(c.productKey) == "wrnkit") {
            EXPECT_EQ(shownInstallerArguments(stub), c.expected);
        }
        const std::string stem = std::string(c.productKey) == "vaulto" ? "vault_o" : "wren_kit";
        EXPECT_EQ(testsupport::readFile(installedCopy(stem)), installer);
        EXPECT_EQ(machine.installerHashes(), std::vector<std::string>{sha256(installedCopy(stem))});
        EXPECT_EQ(modeOf(installedCopy(stem)), 0700u) << "executable by its owner only";
        EXPECT_EQ(modeOf(machine.privateFolder()), 0700u);
    }
}

TEST_F(SetupEndToEnd, StampedValuesCannotAddSwitchesToTheInstaller) {
    const std::string stub =
        machine.stampedStub({"contentAddress=x\" /S \"y", "ap=a\" /D=C:\\evil \"b"});
    const auto result = machine.run(stub, environment(serveInstaller()));
    EXPECT_EQ(result.exitCode, 0) << result.err;
    EXPECT_EQ(machine.installerRuns(),
              (std::vector<Args>{{"/contentAddress=x\" /S \"y", "/ap=a\" /D=C:\\evil \"b"}}))
        << result.err;
    EXPECT_EQ(shownInstallerArguments(stub), machine.installerRuns().at(0));

    // Nor cut it short: a block stamped by other means may hold a value that
    // decodes to a NUL character, which ends a C string. That setting is
    // dropped, and said so; the rest are passed on.
    forgetInstallerRuns();
    const std::string raw = machine.stampedStub({});
    std::ofstream(raw, std::ios::binary | std::ios::app)
        << "PayloadInfo:vid=1%00;ap=a%00b;partnerId=12;\0\0"s;
    const auto dropped = machine.run(raw, environment(serveInstaller()));
    EXPECT_EQ(machine.installerRuns(), (std::vector<Args>{{"/partnerId=12"}})) << dropped.err;
    EXPECT_NE(dropped.err.find("the stamped setting \"vid\" is dropped: its value decodes to a "
                               "NUL character\n"),
              std::string::npos)
        << dropped.err;
}

// Asked by people who hand copies out or help their users: the answer comes
// before anything else, so no window, no request and no file, not even the
// short log or the private folder.
TEST_F(SetupEndToEnd, HelpAndVersionAnswerWithoutARequestOrAFile) {
    const std::string stub = machine.stampedStub({"partnerId=42", "fusionChannel=7"});
    const std::string host = serveInstaller();
    const std::string version =
        "product: wrnkit (WrenKit)\ndownload address: " + host + "/app/download\n";
    const struct {
        std::vector<std::string> arguments;
        std::vector<std::string> expectedParts;
    } cases[] = {
        {{"--version"}, {" (websetup) ", version}},
        {{"ignored", "--help"},
         {"usage: ", version, "WEBSETUP_DOWNLOADER_LOG", "TMPDIR",
          "\n" + machine.privateFolder() + "/websetup.log\n", "\nfusionChannel=7\npartnerId=42\n",
          "parameter text: /partnerId=42 /fusionChannel=\"7\"\n",
          "arguments (2):\n  /partnerId=42\n  /fusionChannel=7\n",
          "not keys the stub knows: fusionChannel\n", "\n  silentMode "}},
    };
    // Other tests share the server: the stub's own requests are told apart
    // by the installer's name and a probe address of this test's own.
    std::map<std::string, std::string> addresses = environment(host);
    addresses["WEBSETUP_E2E_PROBE_URL"] =
        servers.url(Endpoint::Http, "/files/1.bin?probe-" + installerName);
    for (const auto& c : cases) {
        SCOPED_TRACE(c.arguments.back());
        const std::uintmax_t served = servers.accessLogSize();
        std::vector<std::string> command = machine.command(stub, addresses);
        command.insert(command.end(), c.arguments.begin(), c.arguments.end());
        const auto result = testsupport::runProcess(command);
        EXPECT_EQ(result.exitCode, 0);
        EXPECT_EQ(result.err, "");
        for (const std::string& part : c.expectedParts) {
            EXPECT_NE(result.out.find(part), std::string::npos) << part << "\n" << result.out;
        }
        EXPECT_TRUE(fs::is_empty(machine.tempFolder()));
        EXPECT_TRUE(machine.installerRuns().empty());
        // The probe and the size request would go to this server: once a
        // request of ours made after the stub ended is logged, none of the
        // stub's may be before it.
        const std::string marker = "after-stub-" + installerName;
        servers.fetch(servers.url(Endpoint::Http, "/files/1.bin?" + marker));
        ASSERT_EQ(servers.awaitAccessLog(served, marker, 1).size(), 1u);
        for (const testsupport::AccessLogEntry& entry : servers.accessLog(served)) {
            const bool ours = entry.request.find(marker) != std::string::npos;
            EXPECT_TRUE(ours || entry.request.find(installerName) == std::string::npos)
                << "the stub made a request: " << entry.request;
        }
    }
}

// A stub built with a stamp key believes only a block that key signed, and
// runs any other copy as an unstamped one, saying why. Blocks are signed by
// the minisign tool itself, so that the stub is held to minisign's format.
TEST_F(SetupEndToEnd, StampKeyBelievesOnlyBlocksItSigned) {
    const testsupport::MinisignKey stampKey;
    const testsupport::MinisignKey otherKey;
    const auto signedBlock = [&](const StampSettings& settings,
                                 const testsupport::MinisignKey& key) {
        return makeSignedPayloadBlock(settings, [&](std::string_view bytes) {
            return key.sign(machine.sandbox().writeFile("signed-bytes", std::string(bytes)));
        });
    };
    const auto stubWithBlock = [&](const std::string& block) {
        std::string stub = machine.stampedStub({});
        std::ofstream(stub, std::ios::binary | std::ios::app) << block;
        return stub;
    };
    const auto restamped = [&](std::vector<std::string> arguments) {
        std::string stub = machine.sandbox().file("restamped-" + std::to_string(arguments.size()));
        arguments.insert(arguments.begin(), STAMP_TOOL_PATH);
        arguments.insert(arguments.end() - 1, {"-o", stub});
        const auto result = testsupport::runProcess(arguments);
        EXPECT_EQ(result.exitCode, 0) << result.err;
        return stub;
    };
    const StampSettings settings{{"vid", "7"}, {"ap", "x y"}};
    const Args stamped{"/vid=7", "/ap=x y"};
    const std::string intact = signedBlock(settings, stampKey);
    std::string changed = intact;
    changed.replace(changed.find("vid=7"), 5, "vid=8");
    const std::string appended = intact.substr(0, intact.size() - 2) + "partnerId=6;\0\0"s;
    const std::string signedStub = stubWithBlock(intact);

    const struct {
        const char* name;
        std::string stub;
        Args expected;
        std::string why;  // empty: believed
    } cases[] = {
        {"signed by the stamp key", signedStub, stamped, ""},
        {"a value changed after signing",
         stubWithBlock(changed),
         {},
         "the signature does not match"},
        {"unsigned",
         stubWithBlock(makePayloadBlock(settings)),
         {},
         "the settings block is not signed"},
        {"signed by another key",
         stubWithBlock(signedBlock(settings, otherKey)),
         {},
         "signed with key"},
        {"a setting appended after the signature",
         stubWithBlock(appended),
         {},
         "a setting follows"},
        {"restamped signed",
         restamped({"--sign-key", stampKey.secretKeyFile(), signedStub, "partnerId=5"}),
         {"/partnerId=5"},
         ""},
        {"restamped unsigned",
         restamped({signedStub, "partnerId=4"}),
         {},
         "the settings block is not signed"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        forgetInstallerRuns();
        auto env = environment(serveInstaller());
        env["WEBSETUP_E2E_STAMP_KEY"] = stampKey.publicKey();
        const auto result = machine.run(c.stub, env);
        EXPECT_EQ(result.exitCode, kExitStarted) << result.err;
        EXPECT_EQ(machine.installerRuns(), std::vector<Args>{c.expected}) << result.err;
        if (c.why.empty()) {
            EXPECT_EQ(result.err.find("not believed"), std::string::npos) << result.err;
            continue;
        }
        const std::string cause = "the stamped settings are not believed: " + c.why;
        EXPECT_NE(result.err.find(cause), std::string::npos) << result.err;
        EXPECT_NE(testsupport::readFile(machine.privateFolder() + "/websetup.log").find(cause),
                  std::string::npos);
    }

    // Without a stamp key the signature item is taken out all the same.
    forgetInstallerRuns();
    const auto result = machine.run(signedStub, environment(serveInstaller()));
    EXPECT_EQ(machine.installerRuns(), std::vector<Args>{stamped}) << result.err;
}

TEST_F(SetupEndToEnd, EachFailureShowsItsBoxAndStartsNothing) {
    const FaultServer fault(servers);
    const std::string closedHost = servers.closedUrl();
    const auto scenario = [&](const std::vector<FaultRule>& rules) {
        const std::string id = FaultServer::uniqueId("e2e");
        fault.setScenario(id, rules);
        return servers.faultUrl(false, "/s/" + id);
    };
    const auto proxyScenario = [&](const std::vector<FaultRule>& rules) {
        std::string id = FaultServer::uniqueId("proxy");
        fault.setScenario(id, rules);
        return id;
    };
    const std::int64_t size = 3 * 524288;
    const std::string host = "127.0.0.1";
    const std::string page = "https://www.wrenkit.example/download";
    const struct {
        const char* name;
        std::string host;
        const char* language;
        std::string expected;  // the box's own text and closing sentence
        int status;            // exit status
        std::string added;     // the box's next line: the cause in plain words
        std::string cause;     // in the cause line on stderr and in the short log
        // A scenario of the fault server acting as the user's proxy; empty:
        // none.
        std::string proxyAnswer;
    } cases[] = {
        {"refused", closedHost, "en_US.UTF-8",
         "[Error!]\nDownload Error (system code: 7). " + kClosing, kExitNoConnection,
         "Could not connect to " + host + ".", closedHost, ""},
        {"refused, Russian", closedHost, "ru_RU.UTF-8",
         "[Ошибка!]\nDownload Error (system code: 7). Программа будет автоматически закрыта!",
         kExitNoConnection, "Не удалось подключиться к " + host + ".", closedHost, ""},
        {"unresolvable", "https://websetup-e2e.invalid", "en_US.UTF-8",
         "Download Error (system code: 6). " + kClosing, kExitNoConnection,
         "Could not connect to websetup-e2e.invalid.", "https://websetup-e2e.invalid", ""},
        // No download host set: the catalogue's own host, under a reserved
        // name that never resolves.
        {"catalogue host", "", "en_US.UTF-8", "Download Error (system code: 6). " + kClosing,
         kExitNoConnection, "Could not connect to downloads.wrenkit.example.",
         "downloads.wrenkit.example", ""},
        {"untrusted certificate", servers.url(Endpoint::Untrusted, "/files/1.bin?"), "en_US.UTF-8",
         "Download Error (system code: 60). " + kClosing, kExitNoConnection,
         "Could not connect to " + host + ".", "SSL certificate", ""},
        // A proxy that wants credentials is left; without it nothing is
        // reachable.
        {"proxy answering 407 to everything, no direct route", "https://websetup-e2e.invalid",
         "en_US.UTF-8", "Download Error (system code: 6). " + kClosing, kExitNoConnection,
         "Could not connect to websetup-e2e.invalid.", "https://websetup-e2e.invalid",
         proxyScenario({FaultRule().status(407).body("log in first")})},
        {"404", scenario({FaultRule().status(404).body("no such file")}), "en_US.UTF-8",
         "Download Error (system code: 404). " + kClosing, kExitServerRefused,
         "The server " + host + " answered 404 Not Found.", "404 Not Found", ""},
        {"503, Russian", scenario({FaultRule().status(503).body("busy")}), "ru_RU.UTF-8",
         "Download Error (system code: 503). Программа будет автоматически закрыта!",
         kExitServerRefused, "Сервер " + host + " ответил: 503 Service Unavailable.",
         "503 Service Unavailable", ""},
        {"no length", scenario({FaultRule().noContentLength().body("x")}), "en_US.UTF-8",
         "Server Error (system code: 2001). " + kClosing, kExitServerRefused,
         "The answer of the server " + host + " could not be used.", "names no Content-Length", ""},
        {"length 0", scenario({FaultRule().contentLength(0)}), "ru_RU.UTF-8",
         "Internal Error.Программа будет автоматически закрыта!", kExitInternal,
         "Подробности записаны в ", "Undefined error!", ""},
        {"ranges answered 404",
         scenario({FaultRule().onMethod("HEAD").ranged(size),
                   FaultRule().onRangeStart(524288).status(404), FaultRule().ranged(size)}),
         "en_US.UTF-8", "Internal Error. " + kClosing, kExitServerRefused,
         "The server " + host + " answered 404 Not Found.", "404 Not Found", ""},
        {"ranges answered 404, Russian",
         scenario({FaultRule().onMethod("HEAD").ranged(size),
                   FaultRule().onRangeStart(524288).status(404), FaultRule().ranged(size)}),
         "ru_RU.UTF-8", "Внутренняя ошибка. Программа будет автоматически закрыта!",
         kExitServerRefused, "Сервер " + host + " ответил: 404 Not Found.", "404 Not Found", ""},
        {"stalled", scenario({FaultRule().stall(-1)}), "en_US.UTF-8",
         "Download Error (system code: 28). " + kClosing, kExitNoConnection,
         "Could not connect to " + host + ".", "(libcurl code 28)", ""},
    };
    const std::string stub = machine.stampedStub({"partnerId=12"});
    const std::string shortLog = machine.privateFolder() + "/websetup.log";
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        std::error_code ignored;
        fs::remove(shortLog, ignored);
        fs::remove(machine.sandbox().file("opened-pages"), ignored);
        auto env = environment(c.host);
        env["LANG"] = c.language;
        if (!c.proxyAnswer.empty()) {
            env["https_proxy"] = "http://127.0.0.1:" + servers.value("FAULT_HTTP_PORT") + "/";
            env["WEBSETUP_E2E_PROBE_URL"] = fault.url(c.proxyAnswer, "probe");
        }
        const auto result = machine.run(stub, env);
        EXPECT_EQ(result.exitCode, c.status);
        EXPECT_NE(result.err.find(c.expected + "\n" + c.added), std::string::npos) << result.err;
        // One cause line, on stderr and in the short log alike.
        const std::size_t causeAt = result.err.find("websetup: ");
        ASSERT_NE(causeAt, std::string::npos) << result.err;
        const std::string causeLine =
            result.err.substr(causeAt + 10, result.err.find('\n', causeAt) - causeAt - 10);
        EXPECT_NE(causeLine.find(c.cause), std::string::npos) << causeLine;
        const std::string logged = testsupport::readFile(shortLog);
        EXPECT_NE(logged.find("Error: " + causeLine), std::string::npos) << logged;
        // The proxy decision and why, without the proxy's credentials.
        EXPECT_NE(logged.find(c.proxyAnswer.empty() ? "proxy: none configured"
                                                    : "not used, connecting directly"),
                  std::string::npos)
            << logged;
        // The box's first button, taken when nobody can answer, opens the
        // manual download page of a failed download.
        EXPECT_EQ(machine.openedPages(), c.status == kExitInternal
                                             ? std::vector<std::string>{}
                                             : std::vector<std::string>{page});
        EXPECT_TRUE(machine.installerRuns().empty());
    }
}

TEST_F(SetupEndToEnd, UsesAWorkingProxyAndFallsBackSilentlyFromADeadOne) {
    const std::string stub = machine.stampedStub({"vid=1"});
    auto env = environment(serveInstaller());
    env["https_proxy"] = "http://" + servers.proxy() + "/";
    const auto logStart = servers.proxyLogSize();
    const auto viaProxy = machine.run(stub, env);
    ASSERT_EQ(machine.installerRuns().size(), 1u) << viaProxy.err;
    std::string proxyLog;
    for (const auto& line : servers.proxyLog(logStart)) proxyLog += line + "\n";
    EXPECT_NE(proxyLog.find("GET " + env["WEBSETUP_E2E_PROBE_URL"]), std::string::npos) << proxyLog;
    EXPECT_NE(proxyLog.find("CONNECT 127.0.0.1:" + servers.value("NGINX_HTTPS_PORT")),
              std::string::npos)
        << proxyLog;

    env["https_proxy"] = servers.closedUrl();
    const auto direct = machine.run(stub, env);
    EXPECT_EQ(machine.installerRuns().size(), 2u) << direct.err;
    EXPECT_EQ(direct.err.find("Error"), std::string::npos) << direct.err;
}

// The lines of a squid access log, from `from` bytes on, that carried a
// request starting with `requestStart` (squid also logs the 407 it answers
// first to a client that sends its credentials only when asked).
std::vector<std::string> squidCarried(const std::string& log, std::uintmax_t from,
                                      const std::string& requestStart) {
    std::istringstream stream(testsupport::readFile(log).substr(from));
    std::vector<std::string> carried;
    for (std::string line; std::getline(stream, line);) {
        if (line.find(requestStart) != std::string::npos &&
            line.find("TCP_DENIED/407") == std::string::npos) {
            carried.push_back(line);
        }
    }
    return carried;
}

class ProxyAuthentication : public SetupEndToEnd {
protected:
    void SetUp() override {
        SetupEndToEnd::SetUp();
        stub = machine.stampedStub({"vid=1"});
        // Plain HTTP, so that squid sees (and logs) every part, not a tunnel.
        serveInstaller();
        const std::string address = servers.url(Endpoint::Http, "/files/" + installerName);
        env = environment(address + "?");
        env["WEBSETUP_DOWNLOADER_LOG"] = machine.sandbox().file("downloader.log");
        partRequest = "GET " + address;
    }

    // Runs the stub through the squid of `log` with `proxyUrl`; expects the
    // installer started and returns the run.
    testsupport::ProcessResult runThrough(const std::string& proxyUrl, const std::string& log) {
        env["http_proxy"] = proxyUrl;
        logStart = fs::file_size(log);
        forgetInstallerRuns();
        auto result = machine.run(stub, env);
        EXPECT_EQ(machine.installerRuns().size(), 1u) << result.err;
        return result;
    }

    // Every part went through squid as `user` (squid logs a request once it
    // is done, so the lines may come a moment after the stub has ended).
    void expectPartsCarriedAs(const std::string& log, const std::string& user) const {
        testsupport::waitFor([&] { return squidCarried(log, logStart, partRequest).size() >= 3; },
                             std::chrono::seconds(10));
        const std::vector<std::string> parts = squidCarried(log, logStart, partRequest);
        EXPECT_GE(parts.size(), 3u);
        for (const std::string& line : parts) {
            EXPECT_NE(line.find(" " + user + " HIER_DIRECT"), std::string::npos) << line;
        }
    }

    std::string shortLog() const {
        return testsupport::readFile(machine.privateFolder() + "/websetup.log");
    }

    std::string stub;
    std::map<std::string, std::string> env;
    std::string partRequest;
    std::uintmax_t logStart = 0;
};

TEST_F(ProxyAuthentication, CredentialsInTheProxyAddressAnswerBasic) {
    const std::string user = servers.value("SQUID_USER");
    const std::string password = servers.value("SQUID_PASSWORD");
    std::string encoded;  // as a proxy URL must carry it
    for (const char c : password) {
        if (std::isalnum(static_cast<unsigned char>(c))) {
            encoded += c;
        } else {
            encoded += '%' + std::string(1, "0123456789ABCDEF"[(c >> 4) & 0xF]) +
                       "0123456789ABCDEF"[c & 0xF];
        }
    }
    const std::string squid = "127.0.0.1:" + servers.value("SQUID_PORT");
    const std::string log = servers.value("SQUID_ACCESS_LOG");

    const std::string proxyUrl = "http://" + user + ":" + encoded + "@" + squid + "/";
    const auto run = runThrough(proxyUrl, log);
    expectPartsCarriedAs(log, user);
    const std::string logged = shortLog();
    EXPECT_NE(
        logged.find("proxy: " + squid + " answered the probe (200, authenticated with Basic)"),
        std::string::npos)
        << logged;
    // The secret stays with the proxy, encoded or not.
    for (const std::string& text :
         {run.err, run.out, logged, testsupport::readFile(env["WEBSETUP_DOWNLOADER_LOG"])}) {
        EXPECT_EQ(text.find(password), std::string::npos) << text;
        EXPECT_EQ(text.find(encoded), std::string::npos) << text;
    }

    // An HTTPS download goes through tunnels, each opened with the credentials.
    env["WEBSETUP_E2E_DOWNLOAD_HOST"] = serveInstaller();
    runThrough(proxyUrl, log);
    const std::string tunnel = "CONNECT 127.0.0.1:" + servers.value("NGINX_HTTPS_PORT");
    testsupport::waitFor([&] { return !squidCarried(log, logStart, tunnel).empty(); },
                         std::chrono::seconds(10));
    EXPECT_FALSE(squidCarried(log, logStart, tunnel).empty());
    for (const std::string& line : squidCarried(log, logStart, tunnel)) {
        EXPECT_NE(line.find(" " + user + " HIER_DIRECT"), std::string::npos) << line;
    }

    // Without them squid refuses the probe, and the stub goes direct as ever.
    runThrough("http://" + squid + "/", log);
    EXPECT_NE(shortLog().find("proxy: " + squid + " not used"), std::string::npos);
    EXPECT_TRUE(squidCarried(log, logStart, tunnel).empty());
}

// The realm of the test servers: its user holds a ticket in the cache that
// KRB5CCNAME names, and nobody gives the stub a password.
TEST_F(ProxyAuthentication, NegotiateUsesTheLoggedOnUsersTicket) {
    const std::string squid = "localhost:" + servers.value("NEGOTIATE_PROXY_PORT");
    const std::string log = servers.value("NEGOTIATE_PROXY_LOG");
    env["KRB5_CONFIG"] = servers.value("KRB5_CONFIG");
    env["KRB5CCNAME"] = servers.value("KRB5CCNAME");

    runThrough("http://" + squid + "/", log);
    expectPartsCarriedAs(log, servers.value("KERBEROS_USER"));
    EXPECT_NE(shortLog().find("proxy: " + squid +
                              " answered the probe (200, authenticated with Negotiate)"),
              std::string::npos)
        << shortLog();

    // A user without a ticket is refused, and the stub goes direct.
    env["KRB5CCNAME"] = "FILE:" + machine.sandbox().file("no-such-ccache");
    runThrough("http://" + squid + "/", log);
    EXPECT_NE(shortLog().find("proxy: " + squid + " not used"), std::string::npos) << shortLog();
    EXPECT_TRUE(squidCarried(log, logStart, partRequest).empty());
}

TEST_F(SetupEndToEnd, InstalledReelBoxIsOpenedInsteadOfDownloading) {
    // The installed program is the fake installer too: it records its runs.
    const std::string location = machine.sandbox().file("ReelBoxFolder");
    fs::create_directory(location);
    machine.sandbox().writeFile("ReelBoxFolder/reelbox.exe", e2e::fakeInstaller(0));
    machine.sandbox().writeFile("uninstall/ReelBox",
                                "DisplayVersion=3.0\nInstallLocation=" + location + "\n");
    const std::string host = serveInstaller();
    const struct {
        const char* name;
        std::vector<std::string> settings;
        std::string host;
        Args expected;
        bool downloaded;
    } cases[] = {
        {"web content",
         {"contentType=10", "contentAddress=http://example.com/v"},
         host,
         {"-turl", "http://example.com/v"},
         false},
        {"other content",
         {"contentType=3", "contentAddress=movie.mkv"},
         host,
         {"movie.mkv"},
         false},
        {"no content type: normal download",
         {"contentAddress=movie.mkv"},
         host,
         {"/contentAddress=movie.mkv"},
         true},
        {"unreachable server first",
         {"contentType=10", "contentAddress=x"},
         servers.closedUrl(),
         {},
         false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        forgetInstallerRuns();
        const auto result =
            machine.run(machine.stampedStub(c.settings), environment(c.host, "reelbox"));
        const auto runs = machine.installerRuns();
        if (c.host == servers.closedUrl()) {
            EXPECT_TRUE(runs.empty());
            EXPECT_NE(result.err.find("Download Error (system code: 7)"), std::string::npos);
            continue;
        }
        EXPECT_EQ(runs, std::vector<Args>{c.expected}) << result.err;
        EXPECT_EQ(fs::exists(installedCopy("reel_box")), c.downloaded);
    }
}

TEST_F(SetupEndToEnd, SizeComesFromTheFinalAnswerOfARedirect) {
    // nginx's 302 carries a Content-Length of its own short body.
    const std::string host = serveInstaller("redirect/1");
    const auto result = machine.run(machine.stampedStub({"vid=1"}), environment(host));
    ASSERT_EQ(machine.installerRuns().size(), 1u) << result.err;
    EXPECT_EQ(testsupport::readFile(installedCopy()), installer);
}

TEST_F(SetupEndToEnd, ClosingMidDownloadAsksAndObeysTheAnswer) {
    for (const bool confirm : {true, false}) {
        SCOPED_TRACE(confirm ? "confirmed" : "declined");
        forgetInstallerRuns();
        const std::string host = serveInstaller(confirm ? "slow/64k" : "slow/400k");
        e2e::TerminalRun run(machine.command(machine.stampedStub({"vid=1"}), environment(host)));
        ASSERT_TRUE(run.waitForOutput("Progress: ", 30s)) << run.output();
        run.type("\x03");
        ASSERT_TRUE(run.waitForOutput("Do you want to stop download process?", 10s))
            << run.output();
        ASSERT_TRUE(run.waitForOutput("> ", 10s)) << run.output();
        const auto answered = std::chrono::steady_clock::now();
        run.type(confirm ? "1\r" : "2\r");
        if (confirm) {
            // About 2 s: the transfers are stopped, not waited out.
            EXPECT_EQ(run.waitForExit(3s), kExitClosed) << run.output();
            EXPECT_LT(std::chrono::steady_clock::now() - answered, 3s);
            EXPECT_TRUE(machine.installerRuns().empty());
        } else {
            EXPECT_EQ(run.waitForExit(60s), 0) << run.output();
            // The installer records its run just after the stub has ended.
            testsupport::waitFor([&] { return !machine.installerRuns().empty(); }, 5s);
            ASSERT_EQ(machine.installerRuns().size(), 1u) << run.output();
            EXPECT_EQ(testsupport::readFile(installedCopy()), installer);
        }
    }
}

// The same question from the GTK window under a private X display, closed
// through the window manager. The screenshots stay in the build tree.
TEST_F(SetupEndToEnd, ClosingTheWindowMidDownloadAsksAndObeysTheAnswer) {
    const std::string shots = SCREENSHOT_DIR;
    fs::remove_all(shots);
    const e2e::XSession x(shots);
    const std::string stub = machine.stampedStub({"vid=1"});
    const std::string caption = "WrenKit installation";
    const std::string question = "Closing of downloader";
    for (const bool confirm : {true, false}) {
        SCOPED_TRACE(confirm ? "confirmed" : "declined");
        forgetInstallerRuns();
        // Slow enough that the download outlasts a slow start of GTK and the
        // question on a busy machine: about 18 s declined.
        auto env = environment(serveInstaller(confirm ? "slow/16k" : "slow/24k"));
        env["DISPLAY"] = x.display();
        e2e::TerminalRun run(machine.command(stub, env));
        const std::string main = x.window(caption);
        ASSERT_FALSE(main.empty()) << run.output();
        ASSERT_TRUE(x.showsProgress(main)) << "the bar never filled\n" << run.output();
        const std::string tag = confirm ? "yes" : "no";
        x.screenshot(shots + "/" + tag + "-window.png");

        x.close(main);
        const std::string box = x.window(question);
        ASSERT_FALSE(box.empty()) << run.output();
        ASSERT_TRUE(x.drawn(box)) << "the question was never painted\n" << run.output();
        x.screenshot(shots + "/" + tag + "-confirmation.png");
        // The first button, Yes, is the default; Tab moves to "No, continue".
        x.keys(box, confirm ? Args{"Return"} : Args{"Tab", "Return"});
        const auto answered = std::chrono::steady_clock::now();
        if (confirm) {
            // About 2 s: the transfers are stopped, not waited out.
            EXPECT_EQ(run.waitForExit(10s), kExitClosed) << run.output();
            EXPECT_LT(std::chrono::steady_clock::now() - answered, 3s);
        } else {
            EXPECT_TRUE(x.gone(question)) << run.output();
            EXPECT_FALSE(x.window(caption).empty()) << "declining ended the run";
            EXPECT_TRUE(machine.installerRuns().empty()) << "the download ended before the answer";
            x.screenshot(shots + "/no-continued.png");
            EXPECT_EQ(run.waitForExit(120s), 0) << run.output();
        }

        // The installer records its run just after the stub ends; whatever
        // was started is given a few seconds to be seen, then to be gone.
        testsupport::waitFor([&] { return !machine.installerRuns().empty(); }, 5s);
        testsupport::waitFor([&] { return machine.runningPrograms().empty(); }, 10s);
        EXPECT_EQ(machine.runningPrograms(), std::vector<std::string>{});
        if (confirm) {
            EXPECT_TRUE(machine.installerRuns().empty());
        } else {
            EXPECT_EQ(machine.installerRuns().size(), 1u) << run.output();
            EXPECT_EQ(testsupport::readFile(installedCopy()), installer);
            EXPECT_EQ(machine.installerHashes(), std::vector<std::string>{sha256(installedCopy())});
        }
    }
}

TEST_F(SetupEndToEnd, PlantedLinksAreNotFollowed) {
    const std::string victim = machine.sandbox().writeFile("victim", "keep");
    // Where a naive stub writes in the shared folder, and the private folder
    // itself replaced by a link to somewhere else.
    fs::create_symlink(victim, machine.tempFolder() + "/wren_kit_.exe");
    fs::create_symlink(victim, machine.tempFolder() + "/_.txt");
    const std::string elsewhere = machine.sandbox().file("elsewhere");
    fs::create_directory(elsewhere);
    fs::create_directory_symlink(elsewhere, machine.privateFolder());

    // The stub works in a fresh folder of its own and says why.
    const auto result = machine.run(machine.stampedStub({"vid=1"}), environment(serveInstaller()));
    EXPECT_EQ(machine.installerRuns().size(), 1u) << result.err;
    EXPECT_NE(result.err.find(machine.privateFolder() + " is not a directory of its own"),
              std::string::npos)
        << result.err;
    EXPECT_TRUE(fs::is_empty(elsewhere));
    EXPECT_EQ(testsupport::readFile(victim), "keep");

    // Hard links planted at the record's and the installer's names in the
    // user's own folder are replaced, not written through.
    forgetInstallerRuns();
    fs::remove(machine.privateFolder());
    fs::create_directory(machine.privateFolder());
    fs::permissions(machine.privateFolder(), fs::perms::owner_all);
    fs::create_hard_link(victim, machine.privateFolder() + "/_.txt");
    fs::create_hard_link(victim, installedCopy());
    const auto linked = machine.run(machine.stampedStub({"vid=1"}), environment(serveInstaller()));
    EXPECT_EQ(machine.installerRuns().size(), 1u) << linked.err;
    EXPECT_EQ(testsupport::readFile(installedCopy()), installer);
    EXPECT_EQ(testsupport::readFile(victim), "keep");
}

// An installer larger than the free space: the box says how much more the
// folder needs, the cause goes to stderr and the log, and the disk is left
// with the space it had (ext4 keeps what a failed reservation took).
TEST_F(SetupEndToEnd, AFullDiskIsNamedAndLeftAsItWasFound) {
    using Kind = downloadertest::SmallDisk::Kind;
    const struct {
        const char* name;
        Kind kind;
        std::int64_t bytes;
        const char* language;
    } cases[] = {
        {"tmpfs, English", Kind::Tmpfs, 256 * 1024, "en_US.UTF-8"},
        {"ext4, Russian", Kind::Ext4, 2 * 1024 * 1024, "ru_RU.UTF-8"},
    };
    const std::size_t size = 2500000;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const downloadertest::SmallDisk disk(machine.tempFolder(), c.bytes, c.kind);
        if (!disk.available()) GTEST_SKIP() << disk.reason();
        const std::int64_t freeBefore = disk.freeBytes();
        const std::string log = machine.sandbox().file(std::string("log of ") + c.name);
        auto variables = environment(serveInstaller("files", size));
        variables["WEBSETUP_DOWNLOADER_LOG"] = log;
        variables["LANG"] = c.language;

        const auto result = machine.run(machine.stampedStub({"vid=1"}), variables);
        // Only the private folder and the record are left on the disk.
        const std::int64_t freeAfter = disk.freeBytes();
        EXPECT_GT(freeAfter, freeBefore - 64 * 1024);
        const std::int64_t megabytes =
            (static_cast<std::int64_t>(size) - freeAfter + 1048575) / 1048576;
        // The box's own text first, then the cause on a line of its own. The
        // stub measures the free space at its failure, a journal's release a
        // moment later may move it across a megabyte: either figure is right.
        const auto box = [&](std::int64_t mb) {
            return c.kind == Kind::Tmpfs
                       ? "Internal Error. " + kClosing +
                             "\nThe disk is full: " + std::to_string(mb) +
                             " MB more are needed in " + machine.privateFolder() + ".\n"
                       : "Внутренняя ошибка. Программа будет автоматически закрыта!\nДиск "
                         "заполнен: в папке " +
                             machine.privateFolder() + " не хватает " + std::to_string(mb) +
                             " МБ.\n";
        };
        EXPECT_TRUE(result.err.find(box(megabytes)) != std::string::npos ||
                    result.err.find(box(megabytes + 1)) != std::string::npos ||
                    result.err.find(box(megabytes - 1)) != std::string::npos)
            << result.err;
        EXPECT_EQ(result.exitCode, 6);
        const std::string cause =
            "cannot reserve space for " + installedCopy() + ": " + std::strerror(ENOSPC);
        EXPECT_NE(result.err.find(cause), std::string::npos) << result.err;
        EXPECT_NE(testsupport::readFile(log).find(cause), std::string::npos);
        EXPECT_FALSE(fs::exists(installedCopy()));
        EXPECT_TRUE(machine.installerRuns().empty());
    }
}

TEST_F(SetupEndToEnd, AnInstallerThatCannotStartIsAFailureWithItsCause) {
    // The system refuses to execute the downloaded file, as it refuses a
    // program on a noexec mount or one built for another machine: here a
    // script whose interpreter does not exist.
    installerName = "e2e-unstartable-" + std::to_string(::getpid());
    servers.writeServedFile(
        installerName, "#!/nonexistent/websetup-interpreter\n" + std::string(kInstallerSize, '#'));
    const std::string log = machine.sandbox().file("diagnostic.log");
    auto variables = environment(servers.url(Endpoint::Https, "/files/" + installerName) + "?");
    variables["WEBSETUP_DOWNLOADER_LOG"] = log;

    const auto result = machine.run(machine.stampedStub({"vid=1"}), variables);
    EXPECT_EQ(result.exitCode, 6) << result.err;
    EXPECT_NE(result.err.find("Internal Error." + kClosing), std::string::npos) << result.err;
    const std::string cause = "cannot start " + installedCopy() + ": " + std::strerror(ENOENT);
    EXPECT_NE(result.err.find(cause), std::string::npos) << result.err;
    EXPECT_NE(testsupport::readFile(log).find(cause), std::string::npos);
}

TEST_F(SetupEndToEnd, SecondCopyDuringADownloadDoesNotBreakTheFirst) {
    const std::string stub = machine.stampedStub({"vid=1"});
    // Some 8 s at 64 KiB/s a part: the second copy, slow to start under a
    // sanitizer, must still find the first one downloading.
    e2e::TerminalRun first(machine.command(stub, environment(serveInstaller("slow/64k"))));
    const std::string firstInstaller = installer;
    ASSERT_TRUE(first.waitForOutput("Progress: ", 30s)) << first.output();

    const auto second = machine.run(stub, environment(serveInstaller()));
    EXPECT_NE(second.err.find("Internal Error." + kClosing), std::string::npos) << second.err;
    EXPECT_EQ(second.exitCode, 6) << second.err;
    EXPECT_EQ(first.waitForExit(60s), 0) << first.output();
    testsupport::waitFor([&] { return !machine.installerRuns().empty(); }, 5s);
    ASSERT_EQ(machine.installerRuns().size(), 1u) << first.output();
    EXPECT_EQ(testsupport::readFile(installedCopy()), firstInstaller);
    EXPECT_EQ(machine.installerHashes(), std::vector<std::string>{sha256(installedCopy())});
}

// Servers and proxies that lie, refuse, redirect where they must not, or
// never finish: each ends in its box, or falls back to a direct connection,
// within its bound, and nothing is started unless it is the exact installer.
TEST_F(SetupEndToEnd, HostileServersAndProxiesNeverGetAWrongInstallerStarted) {
    using Clock = std::chrono::steady_clock;
    const FaultServer fault(servers);
    const auto scenario = [&](const std::vector<FaultRule>& rules) {
        std::string id = FaultServer::uniqueId("hostile");
        fault.setScenario(id, rules);
        return id;
    };
    const auto host = [&](const std::string& id, bool tls = false) {
        return servers.faultUrl(tls, "/s/" + id);
    };
    // The size request is answered honestly; every part as given.
    const std::int64_t size = 3 * 524288;
    const auto parts = [&](FaultRule answer) {
        return host(scenario({FaultRule().onMethod("HEAD").ranged(size), answer.ranged(size)}));
    };
    const std::string faultProxy = "http://127.0.0.1:" + servers.value("FAULT_HTTP_PORT") + "/";
    const std::string plainTarget = scenario({FaultRule().ranged(size)});
    const std::string internalError = "Internal Error. " + kClosing;
    const struct {
        const char* name;
        std::string host;         // empty: the honest installer from nginx
        std::string proxyAnswer;  // a scenario of the fault server acting as the proxy
        std::string expectedBox;  // empty: the installer starts once, as served
        std::chrono::seconds bound;
        int status = kExitServerRefused;
    } cases[] = {
        {"parts of a larger file",
         parts(FaultRule().contentRange("Content-Range: bytes {first}-{last}/1572865")), "",
         internalError, 20s},
        {"parts of a file of unknown size",
         parts(FaultRule().contentRange("Content-Range: bytes {first}-{last}/*")), "",
         internalError, 20s},
        {"parts without Content-Range", parts(FaultRule().contentRange("")), "", internalError,
         20s},
        {"other bytes named by a Content-Range with a blank before the colon",
         parts(FaultRule().rangeShift(1000).contentRange(
             "Content-Range : bytes {first}-{last}/{size}")),
         "", internalError, 20s},
        {"size answered with two lengths",
         host(scenario({FaultRule().header("Content-Length : 1").ranged(size)})), "",
         "Download Error (system code: 8). " + kClosing, 20s},
        {"size answered 404", host(scenario({FaultRule().status(404).body("no such file")})), "",
         "Download Error (system code: 404). " + kClosing, 20s},
        {"size answered 503", host(scenario({FaultRule().status(503).body("busy")})), "",
         "Download Error (system code: 503). " + kClosing, 20s},
        {"size request redirected to ftp",
         host(scenario({FaultRule().redirects(1).location(
             "ftp://127.0.0.1:" + servers.value("CLOSED_PORT") + "/setup.exe")})),
         "", "Download Error (system code: 1). " + kClosing, 20s},
        {"size request redirected from HTTPS to HTTP",
         host(scenario({FaultRule().redirects(1).location(fault.url(plainTarget))}), true), "",
         "Download Error (system code: 1). " + kClosing, 20s},
        {"proxy refusing everything with 407", "",
         scenario({FaultRule().status(407).body("log in first")}), "", 20s, kExitStarted},
        {"proxy dripping the probe's answer for ever", "",
         scenario({FaultRule().endless().drip(1, 0.5)}), "", 25s, kExitStarted},
    };
    const std::string stub = machine.stampedStub({"vid=1"});
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        forgetInstallerRuns();
        auto env = environment(c.host.empty() ? serveInstaller() : c.host);
        if (!c.proxyAnswer.empty()) {
            env["https_proxy"] = faultProxy;
            env["WEBSETUP_E2E_PROBE_URL"] = fault.url(c.proxyAnswer, "probe");
        }
        const auto start = Clock::now();
        const auto result = machine.run(stub, env);
        EXPECT_LT(Clock::now() - start, c.bound);
        EXPECT_EQ(result.exitCode, c.status);
        if (c.expectedBox.empty()) {
            ASSERT_EQ(machine.installerRuns().size(), 1u) << result.err;
            EXPECT_EQ(testsupport::readFile(installedCopy()), installer);
            EXPECT_EQ(result.err.find("Error"), std::string::npos) << result.err;
        } else {
            EXPECT_NE(result.err.find(c.expectedBox + "\n"), std::string::npos) << result.err;
            EXPECT_TRUE(machine.installerRuns().empty());
        }
        EXPECT_TRUE(fault.requests(plainTarget).empty());
        if (!c.proxyAnswer.empty()) {
            ASSERT_FALSE(fault.requests(c.proxyAnswer).empty()) << "the probe used no proxy";
            EXPECT_EQ(fault.requests(c.proxyAnswer)[0].target, fault.url(c.proxyAnswer, "probe"));
        }
    }
}

// The digest the size request's final answer announces decides whether the
// installer starts; a digest elsewhere, or of an algorithm not checked, is
// logged and changes nothing.
TEST_F(SetupEndToEnd, AnnouncedDigestMustMatchTheInstaller) {
    const FaultServer fault(servers);
    const std::string original =
        machine.sandbox().writeFile("installer", e2e::fakeInstaller(kInstallerSize));
    std::string changedContent = testsupport::readFile(original);
    changedContent[changedContent.size() - 2] ^= 0x01;  // in the padding: still runs
    const std::string changed = machine.sandbox().writeFile("changed", changedContent);
    const auto member = [](const std::string& algorithm, const std::string& file) {
        return algorithm + "=:" +
               testsupport::base64Digest(algorithm == "sha-512" ? "sha512" : "sha256", file) + ":";
    };
    const auto repr = [&](const std::string& algorithm, const std::string& file) {
        return "Repr-Digest: " + member(algorithm, file);
    };
    // The box's own text, then the cause in plain words.
    const std::string mismatchBox =
        "Download Error (system code: 2002). " + kClosing +
        "\nThe downloaded installer is damaged: its checksum is not the one its server announced.";
    const struct {
        const char* name;
        std::vector<FaultRule> rules;  // {id} in a rule's Location is the scenario id
        std::string expectedBox;       // empty: started
        std::string logged;
    } cases[] = {
        {"matching sha-256",
         {FaultRule().file(original).header(repr("sha-256", original))},
         "",
         "installer verified: its sha-256 digest is the announced"},
        {"matching sha-512, older field",
         {FaultRule().file(original).header("Digest: SHA-512=" +
                                            testsupport::base64Digest("sha512", original))},
         "",
         "installer verified: its sha-512 digest is the announced"},
        {"mismatching by one byte",
         {FaultRule().file(original).header(repr("sha-256", changed))},
         mismatchBox,
         "its sha-256 digest is "},
        {"file changed between the size request and the parts",
         {FaultRule().onMethod("HEAD").file(original).header(repr("sha-512", original)),
          FaultRule().file(changed)},
         mismatchBox,
         "its sha-512 digest is "},
        {"only the redirect announces one",
         {FaultRule()
              .onPath("file")
              .status(302)
              .header("Location: final")
              .header(repr("sha-256", changed)),
          FaultRule().file(original)},
         "",
         ""},
        {"unknown algorithm",
         {FaultRule().file(original).header("Repr-Digest: md5=:AAAAAAAAAAAAAAAAAAAAAA==:")},
         "",
         "digest not used: Repr-Digest: algorithm md5 is not one we check"},
        // No file has two digests of one algorithm: whichever comes first.
        {"two sha-256 values in one field, the right one first",
         {FaultRule().file(original).header(repr("sha-256", original) + ", " +
                                            member("sha-256", changed))},
         mismatchBox,
         "its sha-256 digest is "},
        {"two sha-256 values on two lines, the right one last",
         {FaultRule()
              .file(original)
              .header(repr("sha-256", changed))
              .header(repr("sha-256", original))},
         mismatchBox,
         "its sha-256 digest is "},
    };
    const std::string stub = machine.stampedStub({"vid=1"});
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        forgetInstallerRuns();
        const std::string id = FaultServer::uniqueId("digest");
        fault.setScenario(id, c.rules);
        const std::string log = machine.sandbox().file(id + ".log");
        auto env = environment(servers.faultUrl(true, "/s/" + id + "/file?"));
        env["WEBSETUP_DOWNLOADER_LOG"] = log;
        const auto result = machine.run(stub, env);
        EXPECT_EQ(result.exitCode, c.expectedBox.empty() ? kExitStarted : kExitRefusedFile);
        if (c.expectedBox.empty()) {
            EXPECT_EQ(machine.installerRuns().size(), 1u) << result.err;
            EXPECT_EQ(testsupport::readFile(installedCopy()), testsupport::readFile(original));
            EXPECT_EQ(result.err.find("Error"), std::string::npos) << result.err;
        } else {
            EXPECT_NE(result.err.find(c.expectedBox + "\n"), std::string::npos) << result.err;
            EXPECT_TRUE(machine.installerRuns().empty());
            EXPECT_FALSE(fs::exists(installedCopy()));
        }
        if (!c.logged.empty()) {
            EXPECT_NE(testsupport::readFile(log).find(c.logged), std::string::npos)
                << testsupport::readFile(log);
        }
    }
}

// Sloppy but unambiguous header lines, on the size answer and on every part,
// are read as the fields they name: the installer starts, and a digest so
// announced is checked.
TEST_F(SetupEndToEnd, SloppyHeaderLinesAreReadAsTheFieldsTheyName) {
    const FaultServer fault(servers);
    const std::string original =
        machine.sandbox().writeFile("installer", e2e::fakeInstaller(kInstallerSize));
    const std::string digest = testsupport::base64Digest("sha256", original);
    const struct {
        const char* name;
        std::vector<std::string> lines;  // on every answer
        std::string contentRange;        // of the parts; empty: the usual one
        std::string logged;
    } cases[] = {
        {"an unrelated field with a blank before the colon", {"X-Foo : bar"}, "", ""},
        {"an unrelated field folded over three lines", {"X-Fold: one", "  two", "\tthree"}, "", ""},
        {"Content-Range with a blank before the colon",
         {},
         "Content-Range : bytes {first}-{last}/{size}",
         ""},
        {"the digest with a blank before the colon, folded",
         {"Repr-Digest :", " sha-256=:" + digest + ":"},
         "",
         "installer verified: its sha-256 digest is the announced"},
    };
    const std::string stub = machine.stampedStub({"vid=1"});
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        forgetInstallerRuns();
        FaultRule answer = FaultRule().file(original);
        for (const std::string& line : c.lines) answer.header(line);
        if (!c.contentRange.empty()) answer.contentRange(c.contentRange);
        const std::string id = FaultServer::uniqueId("sloppy");
        fault.setScenario(id, {answer});
        const std::string log = machine.sandbox().file(id + ".log");
        auto env = environment(servers.faultUrl(true, "/s/" + id + "/file?"));
        env["WEBSETUP_DOWNLOADER_LOG"] = log;
        const auto result = machine.run(stub, env);
        EXPECT_EQ(result.exitCode, 0);
        ASSERT_EQ(machine.installerRuns().size(), 1u) << result.err;
        EXPECT_EQ(testsupport::readFile(installedCopy()), testsupport::readFile(original));
        EXPECT_EQ(result.err.find("Error"), std::string::npos) << result.err;
        EXPECT_NE(testsupport::readFile(log).find(c.logged), std::string::npos)
            << testsupport::readFile(log);
    }
}

// A build that pins a publisher starts only what that publisher signed; the
// signature lies beside the installer, made by the real minisign tool. It is
// fetched before the installer: without a readable one no part is asked for.
TEST_F(SetupEndToEnd, PinnedPublisherMustHaveSignedTheInstaller) {
    const testsupport::MinisignKey publisher;
    const testsupport::MinisignKey stranger;
    // The box's own text, then the cause in plain words.
    const std::string unverified =
        "The installer could not be verified. " + kClosing +
        "\nThe installer is not signed by its publisher, or its signature was not found.";
    const std::string unverifiedRussian =
        "Не удалось проверить подлинность установщика. Программа будет автоматически "
        "закрыта!\nУстановщик не подписан своим издателем, или его подпись не найдена.";
    enum class Signature { Good, Tampered, Stranger, Missing, Garbage, Huge };
    const struct {
        const char* name;
        Signature signature;
        const char* language;
        std::string expectedBox;  // empty: started
        std::string cause;
    } cases[] = {
        {"good", Signature::Good, "en_US.UTF-8", "", ""},
        {"tampered file", Signature::Tampered, "en_US.UTF-8", unverified,
         "the signature does not match the file"},
        {"another key", Signature::Stranger, "ru_RU.UTF-8", unverifiedRussian,
         "not with the pinned"},
        {"no signature", Signature::Missing, "en_US.UTF-8", unverified, "no signature at https://"},
        {"garbage signature", Signature::Garbage, "en_US.UTF-8", unverified,
         "not a signature file of four lines"},
        {"huge signature", Signature::Huge, "en_US.UTF-8", unverified,
         "is larger than a signature"},
    };
    const std::string stub = machine.stampedStub({"vid=1"});
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        forgetInstallerRuns();
        const std::string host = serveInstaller();
        const std::string served = servers.value("SERVED_DIR") + "/" + installerName;
        switch (c.signature) {
            case Signature::Good:
                servers.writeServedFile(installerName + ".minisig", publisher.sign(served));
                break;
            case Signature::Tampered: {
                servers.writeServedFile(installerName + ".minisig", publisher.sign(served));
                std::string tampered = installer;
                tampered[tampered.size() - 2] ^= 0x01;
                installer = tampered;
                servers.writeServedFile(installerName, tampered);
                break;
            }
            case Signature::Stranger:
                servers.writeServedFile(installerName + ".minisig", stranger.sign(served));
                break;
            case Signature::Missing:
                break;
            case Signature::Garbage:
                servers.writeServedFile(installerName + ".minisig", "<html>not found</html>\n");
                break;
            case Signature::Huge:
                servers.createServedFile(installerName + ".minisig", 8 * 1024 * 1024);
                break;
        }
        auto env = environment(host);
        env["WEBSETUP_E2E_PUBLISHER_KEY"] = publisher.publicKey();
        env["LANG"] = c.language;
        const std::uintmax_t logStart = servers.accessLogSize();
        const auto result = machine.run(stub, env);
        EXPECT_EQ(result.exitCode, c.expectedBox.empty() ? kExitStarted : kExitRefusedFile);
        // The signature's request is logged by the time the parts' would be.
        servers.awaitAccessLog(logStart, installerName + ".minisig", 1);
        std::size_t partRequests = 0;
        for (const auto& entry : servers.accessLog(logStart)) {
            if (!entry.range.empty() && entry.target().find(installerName) != std::string::npos) {
                ++partRequests;
            }
        }
        const bool signatureUnusable = c.signature == Signature::Missing ||
                                       c.signature == Signature::Garbage ||
                                       c.signature == Signature::Huge;
        EXPECT_EQ(partRequests == 0, signatureUnusable) << partRequests;
        if (c.expectedBox.empty()) {
            EXPECT_EQ(machine.installerRuns().size(), 1u) << result.err;
            EXPECT_EQ(testsupport::readFile(installedCopy()), installer);
            EXPECT_EQ(result.err.find("Error"), std::string::npos) << result.err;
        } else {
            EXPECT_NE(result.err.find(c.expectedBox + "\n"), std::string::npos) << result.err;
            EXPECT_NE(result.err.find(c.cause), std::string::npos) << result.err;
            EXPECT_TRUE(machine.installerRuns().empty());
            EXPECT_FALSE(fs::exists(installedCopy()));
        }
    }
}

// The user closes while a request hangs: in the probe, in the size request,
// in the signature's or in the parts. The stub ends within about a second of
// the confirmation.
TEST_F(SetupEndToEnd, ClosingEndsAnyHangingRequestWithinASecond) {
    const FaultServer fault(servers);
    const std::int64_t size = 3 * 524288;
    const struct {
        const char* name;
        std::vector<FaultRule> rules;
        bool isProxy;                // the scenario answers the probe as the proxy
        std::size_t hangingRequest;  // the number of the request that hangs
        bool pinsPublisher = false;
    } cases[] = {
        {"probe through a dripping proxy", {FaultRule().endless().drip(1, 0.5)}, true, 1},
        {"silent size request", {FaultRule().stall(-1)}, false, 1},
        {"dripping parts",
         {FaultRule().onMethod("HEAD").ranged(size), FaultRule().ranged(size).drip(1, 0.5)},
         false,
         2},
        // With a pinned publisher the signature is asked for before any part.
        {"silent signature request",
         {FaultRule().onMethod("HEAD").ranged(size), FaultRule().stall(-1)},
         false,
         2,
         true},
    };
    const std::string stub = machine.stampedStub({"vid=1"});
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string id = FaultServer::uniqueId("hang");
        fault.setScenario(id, c.rules);
        auto env = environment(c.isProxy ? serveInstaller() : servers.faultUrl(false, "/s/" + id));
        if (c.isProxy) {
            env["https_proxy"] = "http://127.0.0.1:" + servers.value("FAULT_HTTP_PORT") + "/";
            env["WEBSETUP_E2E_PROBE_URL"] = fault.url(id, "probe");
        }
        if (c.pinsPublisher) {
            env["WEBSETUP_E2E_PUBLISHER_KEY"] = testsupport::MinisignKey().publicKey();
        }
        e2e::TerminalRun run(machine.command(stub, env));
        ASSERT_TRUE(testsupport::waitFor(
            [&] { return fault.requests(id).size() >= c.hangingRequest; }, 10s))
            << run.output();
        if (c.pinsPublisher) {
            EXPECT_NE(fault.requests(id)[1].target.find(".minisig"), std::string::npos);
        }
        run.type("\x03");
        ASSERT_TRUE(run.waitForOutput("Do you want to stop download process?", 10s))
            << run.output();
        ASSERT_TRUE(run.waitForOutput("> ", 10s)) << run.output();
        const auto answered = std::chrono::steady_clock::now();
        run.type("1\r");
        EXPECT_EQ(run.waitForExit(5s), kExitClosed) << run.output();
        const auto took = std::chrono::duration_cast<std::chrono::milliseconds>(
            std::chrono::steady_clock::now() - answered);
        std::printf("%s: ended %lld ms after the confirmation\n", c.name,
                    static_cast<long long>(took.count()));
        EXPECT_LT(took, 1500ms);
        EXPECT_TRUE(machine.installerRuns().empty());
        EXPECT_EQ(run.output().find("Error"), std::string::npos) << run.output();
    }
}

// An interrupted download continues where it stopped only while the server
// still has the same file; one that swaps the bytes under an unchanged tag is
// caught by the digest it announces, and forgotten with the refused file. A
// server that answers the resumed part with the whole file is met by
// starting afresh in the same run.
TEST_F(SetupEndToEnd, ResumesOnlyWhileTheServersFileIsUnchanged) {
    constexpr std::int64_t P = DownloadInfo::kDefaultPartSize;
    const FaultServer fault(servers);
    const std::string first =
        machine.sandbox().writeFile("first", e2e::fakeInstaller(kInstallerSize));
    std::string otherContent = testsupport::readFile(first);
    otherContent[P + 10] ^= 0x01;  // padding of a part the first run completes: still runs
    const std::string other = machine.sandbox().writeFile("other", otherContent);
    const std::string otherDigest =
        "Repr-Digest: sha-256=:" + testsupport::base64Digest("sha256", other) + ":";
    const std::string v1 = "\"v1\"";
    const std::string mismatchBox = "Download Error (system code: 2002). " + kClosing;
    const struct {
        const char* name;
        std::string served;  // on the second run, under `tag`
        std::string tag;
        bool announceDigest;
        bool ifRangeIgnored;
        std::vector<std::string> ifRanges;  // of each range the second run asks
        std::string started;                // empty: nothing, and `box` instead
        std::string box;
    } cases[] = {
        {"unchanged", first, v1, false, false, {v1}, first, ""},
        {"replaced under a new tag", other, "\"v2\"", false, false, {"", "", ""}, other, ""},
        {"replaced under the same tag, digest sent", other, v1, true, false, {v1}, "", mismatchBox},
        {"the resumed part answered whole", first, v1, false, true, {v1, "", "", ""}, first, ""},
    };
    const std::string stub = machine.stampedStub({"vid=1"});
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        forgetInstallerRuns();
        const std::string id = FaultServer::uniqueId("resume");
        const auto env = environment(servers.faultUrl(true, "/s/" + id + "/file?"));
        // The last of the three parts hangs until the user closes the stub.
        fault.setScenario(id, {FaultRule().onRangeStart(2 * P).stall(-1),
                               FaultRule().file(first).header("ETag: " + v1)});
        runUntilCommittedThenClose(stub, env, 2 * P);
        EXPECT_EQ(committedInResumeState(resumeStatePath()), 2 * P);

        FaultRule second = FaultRule().file(c.served).header("ETag: " + c.tag);
        if (c.announceDigest) second.header(otherDigest);
        std::vector<FaultRule> rules = {second};
        if (c.ifRangeIgnored)
            rules.insert(rules.begin(), FaultRule(second).onHeader("If-Range").ignoreRange());
        fault.setScenario(id, rules);
        const auto result = machine.run(stub, env);
        EXPECT_EQ(result.exitCode, c.started.empty() ? kExitRefusedFile : kExitStarted);
        std::vector<std::string> ifRanges;
        for (const auto& request : fault.requests(id)) {
            if (request.hasHeader("Range")) ifRanges.push_back(request.header("If-Range"));
        }
        EXPECT_EQ(ifRanges, c.ifRanges);
        if (!c.started.empty()) {
            EXPECT_EQ(machine.installerRuns().size(), 1u) << result.err;
            EXPECT_EQ(testsupport::readFile(installedCopy()), testsupport::readFile(c.started));
        } else {
            EXPECT_NE(result.err.find(c.box + "\n"), std::string::npos) << result.err;
            EXPECT_TRUE(machine.installerRuns().empty());
            EXPECT_FALSE(fs::exists(installedCopy()));
            EXPECT_FALSE(fs::exists(resumeStatePath())) << "the refused file's state is kept";
        }
    }
}

// Killed at any moment (a seeded table of moments), the stub's next run
// starts the exact installer, and fetches no part a resume point had
// committed.
TEST_F(SetupEndToEnd, KilledAtAnyMomentTheNextRunFinishesFetchingOnlyWhatIsMissing) {
    constexpr std::size_t kSize = 16 * 1024 * 1024;  // 32 parts: three rounds of 12
    std::mt19937 random(20261211);
    std::uniform_int_distribution<int> moment(100, 2900);
    const std::string stub = machine.stampedStub({"vid=1"});
    int resumed = 0;
    for (int run = 0; run < 5; ++run) {
        const int killAfter = moment(random);
        SCOPED_TRACE("killed " + std::to_string(killAfter) + " ms into the download");
        forgetInstallerRuns();
        // About a second a round: each connection gets 512 KiB/s.
        const auto env = environment(serveInstaller("slow/512k", kSize));
        {
            e2e::TerminalRun first(machine.command(stub, env));
            ASSERT_TRUE(first.waitForOutput("Progress: ", 30s)) << first.output();
            first.waitForOutput("\x01never\x01", std::chrono::milliseconds(killAfter));
            first.kill();
        }
        const std::int64_t committed = committedInResumeState(resumeStatePath());
        const long before = connectionNumberNow(servers);
        ASSERT_GT(before, 0);
        const auto second = machine.run(stub, env);
        EXPECT_EQ(second.exitCode, 0) << second.err;
        ASSERT_EQ(machine.installerRuns().size(), 1u) << second.err;
        EXPECT_EQ(testsupport::readFile(installedCopy()), installer);
        EXPECT_EQ(machine.installerHashes(), std::vector<std::string>{sha256(installedCopy())});

        const std::int64_t served = rangeBytesServed(servers, before, installerName);
        if (committed > 0) {
            ++resumed;
            EXPECT_EQ(served, static_cast<std::int64_t>(installer.size()) - committed);
            // The progress shown starts at the share already there.
            const std::size_t shown = second.err.find("Progress: ");
            ASSERT_NE(shown, std::string::npos) << second.err;
            EXPECT_GE(
                std::stoi(second.err.substr(shown + 10)),
                static_cast<int>(committed * 100 / static_cast<std::int64_t>(installer.size())));
        } else {
            EXPECT_EQ(served, static_cast<std::int64_t>(installer.size()));
        }
    }
    // Moments past the first round always leave a resume point behind.
    EXPECT_GE(resumed, 2);

    // Run once more, the download is complete and unchanged: nothing is
    // fetched again, and the checked file starts.
    forgetInstallerRuns();
    const long before = connectionNumberNow(servers);
    const auto again = machine.run(
        stub, environment(servers.url(Endpoint::Https, "/slow/512k/" + installerName) + "?"));
    EXPECT_EQ(again.exitCode, 0) << again.err;
    EXPECT_EQ(rangeBytesServed(servers, before, installerName), 0);
    EXPECT_EQ(machine.installerRuns().size(), 1u) << again.err;
    EXPECT_EQ(testsupport::readFile(installedCopy()), installer);
}

}  // namespace
