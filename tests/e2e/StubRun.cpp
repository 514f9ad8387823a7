#include "StubRun.h"

#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <sstream>
#include <stdexcept>

#include "support/WaitFor.h"

namespace e2e {
namespace fs = std::filesystem;

StubMachine::StubMachine() {
    for (const auto& folder : {tempFolder(), uninstallFolder(), recordFolder()}) {
        fs::create_directory(folder);
    }
    // The user's browser: writes down each page it is asked to show.
    fs::create_directory(m_sandbox.file("bin"));
    const std::string browser = m_sandbox.file("bin/xdg-open");
    m_sandbox.writeFile("bin/xdg-open", "#!/bin/sh\nprintf '%s\\n' \"$1\" >> '" +
                                            m_sandbox.file("opened-pages") + "'\n");
    fs::permissions(browser, fs::perms::owner_all);
}

std::vector<std::string> StubMachine::openedPages() const {
    std::vector<std::string> pages;
    std::error_code missing;
    if (!fs::exists(m_sandbox.file("opened-pages"), missing)) return pages;
    std::istringstream lines(testsupport::readFile(m_sandbox.file("opened-pages")));
    for (std::string line; std::getline(lines, line);) pages.push_back(line);
    return pages;
}

std::string StubMachine::privateFolder() const {
    return tempFolder() + "/websetup-" + std::to_string(::geteuid());
}

std::string StubMachine::stampedStub(const std::vector<std::string>& settings) const {
    return stamped(STUB_PATH, settings);
}

std::string StubMachine::stamped(const std::string& stub,
                                 const std::vector<std::string>& settings) const {
    static int counter = 0;
    std::string out = m_sandbox.file("stub-" + std::to_string(++counter));
    std::vector<std::string> command{STAMP_TOOL_PATH, stub, "-o", out};
    command.insert(command.end(), settings.begin(), settings.end());
    const auto result = testsupport::runProcess(command);
    if (result.exitCode != 0) throw std::runtime_error("stamping failed: " + result.err);
    return out;
}

std::vector<std::string> StubMachine::command(
    const std::string& program, std::map<std::string, std::string> environment) const {
    std::vector<std::string> command{"/usr/bin/env"};
    for (const char* name : {"DISPLAY", "WAYLAND_DISPLAY", "LC_ALL", "LC_MESSAGES", "https_proxy",
                             "HTTPS_PROXY", "http_proxy", "HTTP_PROXY", "all_proxy", "ALL_PROXY"}) {
        command.insert(command.end(), {"-u", name});
    }
    environment.emplace("LANG", "en_US.UTF-8");
    environment["TMPDIR"] = tempFolder();
    environment["WEBSETUP_UNINSTALL_DIR"] = uninstallFolder();
    environment["WEBSETUP_E2E_RECORD_DIR"] = recordFolder();
    const char* path = std::getenv("PATH");
    environment["PATH"] = m_sandbox.file("bin") + ":" + (path ? path : "/usr/bin:/bin");
    for (const auto& [name, value] : environment) command.push_back(name + "=" + value);
    command.push_back(program);
    return command;
}

testsupport::ProcessResult StubMachine::run(
    const std::string& program, const std::map<std::string, std::string>& environment) const {
    return testsupport::runProcess(command(program, environment));
}

namespace {

std::vector<std::string> lines(const std::string& text) {
    std::vector<std::string> result;
    std::size_t start = 0;
    for (std::size_t end; (end = text.find('\n', start)) != std::string::npos; start = end + 1) {
        result.push_back(text.substr(start, end - start));
    }
    return result;
}

std::vector<fs::path> recordsEndingIn(const std::string& folder, const std::string& extension) {
    std::vector<fs::path> found;
    for (const auto& entry : fs::directory_iterator(folder)) {
        if (entry.path().extension() == extension) found.push_back(entry.path());
    }
    std::sort(found.begin(), found.end());
    return found;
}

}  // namespace

std::vector<std::vector<std::string>> StubMachine::installerRuns() const {
    std::vector<std::vector<std::string>> runs;
    for (const auto& path : recordsEndingIn(recordFolder(), ".argv")) {
        runs.push_back(lines(testsupport::readFile(path)));
    }
    return runs;
}

std::vector<std::string> StubMachine::installerHashes() const {
    std::vector<std::string> hashes;
    for (const auto& path : recordsEndingIn(recordFolder(), ".sha")) {
        const auto text = lines(testsupport::readFile(path));
        hashes.push_back(text.empty() ? "" : text.front());
    }
    return hashes;
}

std::vector<std::string> StubMachine::runningPrograms() const {
    const std::string root = m_sandbox.path().string();
    std::vector<std::string> found;
    for (const auto& entry : fs::directory_iterator("/proc")) {
        const std::string pid = entry.path().filename().string();
        if (pid.find_first_not_of("0123456789") != std::string::npos) continue;
        std::string commandLine;
        std::error_code error;
        const std::string program = fs::read_symlink(entry.path() / "exe", error).string();
        try {
            commandLine = testsupport::readFile(entry.path() / "cmdline");
        } catch (const std::exception&) {
            continue;  // ended meanwhile
        }
        std::replace(commandLine.begin(), commandLine.end(), '\0', ' ');
        if (program.find(root) != std::string::npos ||
            commandLine.find(root) != std::string::npos) {
            found.push_back(pid + ": " + commandLine);
        }
    }
    return found;
}

std::string fakeInstaller(std::size_t size) {
    std::string script =
        "#!/bin/sh\n"
        "# Fake installer of the end-to-end tests: records its arguments and\n"
        "# its own sha256, each file appearing whole.\n"
        "run=\"$WEBSETUP_E2E_RECORD_DIR/run.$$\"\n"
        "sha256sum \"$0\" | cut -d' ' -f1 > \"$run.tmp\" && mv \"$run.tmp\" \"$run.sha\"\n"
        "for a in \"$@\"; do printf '%s\\n' \"$a\"; done > \"$run.tmp\"\n"
        "mv \"$run.tmp\" \"$run.argv\"\n"
        "exit 0\n";
    while (script.size() < size) {
        script += "# padding " + std::to_string(script.size()) + "\n";
    }
    return script;
}

TerminalRun::TerminalRun(const std::vector<std::string>& command) {
    std::vector<char*> argv;
    argv.reserve(command.size() + 1);
    for (const auto& argument : command) argv.push_back(const_cast<char*>(argument.c_str()));
    argv.push_back(nullptr);
    const pid_t pid = ::forkpty(&m_master, nullptr, nullptr, nullptr);
    if (pid < 0) throw std::runtime_error("forkpty failed");
    if (pid == 0) {
        ::execv(argv[0], argv.data());
        ::_exit(127);
    }
    m_pid = pid;
}

TerminalRun::~TerminalRun() {
    if (m_pid > 0) {
        ::kill(m_pid, SIGKILL);
        ::waitpid(m_pid, nullptr, 0);
    }
    if (m_master >= 0) ::close(m_master);
}

bool TerminalRun::waitForOutput(const std::string& text, std::chrono::milliseconds timeout) {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    while (m_output.find(text) == std::string::npos) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0) return false;
        pollfd fd{m_master, POLLIN, 0};
        if (::poll(&fd, 1, static_cast<int>(left.count())) <= 0) continue;
        char buffer[4096];
        const ssize_t got = ::read(m_master, buffer, sizeof buffer);
        if (got <= 0) return m_output.find(text) != std::string::npos;  // terminal closed
        m_output.append(buffer, static_cast<std::size_t>(got));
    }
    return true;
}

void TerminalRun::type(const std::string& keys) {
    if (::write(m_master, keys.data(), keys.size()) != static_cast<ssize_t>(keys.size())) {
        throw std::runtime_error("cannot type on the terminal");
    }
}

void TerminalRun::kill() {
    if (m_pid <= 0) return;
    ::kill(m_pid, SIGKILL);
    ::waitpid(m_pid, nullptr, 0);
    m_pid = -1;
}

int TerminalRun::waitForExit(std::chrono::milliseconds timeout) {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    for (;;) {
        int status = 0;
        const pid_t done = ::waitpid(m_pid, &status, WNOHANG);
        if (done == m_pid) {
            m_pid = -1;
            return WIFEXITED(status) ? WEXITSTATUS(status) : -WTERMSIG(status);
        }
        if (std::chrono::steady_clock::now() > deadline) return -1000;
        // Keep the terminal drained so the program never blocks writing.
        waitForOutput("\x01never\x01", std::chrono::milliseconds(20));
    }
}

XSession::XSession(const std::string& logFolder) {
    fs::create_directories(logFolder);
    int input[2];
    int output[2];
    if (::pipe2(input, O_CLOEXEC) != 0) throw std::runtime_error("pipe failed");
    if (::pipe2(output, O_CLOEXEC) != 0) {
        ::close(input[0]);
        ::close(input[1]);
        throw std::runtime_error("pipe failed");
    }
    const std::string script = XSESSION_SCRIPT;
    std::vector<char*> argv{const_cast<char*>(script.c_str()), const_cast<char*>("serve"),
                            const_cast<char*>(logFolder.c_str()), nullptr};
    const pid_t pid = ::fork();
    if (pid < 0) {
        for (const int fd : {input[0], input[1], output[0], output[1]}) ::close(fd);
        throw std::runtime_error("fork failed");
    }
    if (pid == 0) {
        ::dup2(input[0], 0);
        ::dup2(output[1], 1);
        ::execv(argv[0], argv.data());
        ::_exit(127);
    }
    ::close(input[0]);
    ::close(output[1]);
    m_input = input[1];
    m_pid = pid;

    // The script prints the display once Xvfb and openbox answer; up to a
    // minute, as a loaded machine may need.
    std::string said;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
    while (said.find('\n') == std::string::npos && std::chrono::steady_clock::now() < deadline) {
        pollfd fd{output[0], POLLIN, 0};
        if (::poll(&fd, 1, 100) <= 0) continue;
        char buffer[256];
        const ssize_t got = ::read(output[0], buffer, sizeof buffer);
        if (got <= 0) break;
        said.append(buffer, static_cast<std::size_t>(got));
    }
    ::close(output[0]);
    const std::string prefix = "DISPLAY=";
    if (said.rfind(prefix, 0) != 0 || said.find('\n') == std::string::npos) {
        stop();
        throw std::runtime_error("no X display (see " + logFolder + "): " + said);
    }
    m_display = said.substr(prefix.size(), said.find('\n') - prefix.size());
}

XSession::~XSession() { stop(); }

void XSession::stop() {
    if (m_input >= 0) ::close(m_input);
    m_input = -1;
    if (m_pid <= 0) return;
    // The script ends Xvfb and openbox, then itself; a signal if it hangs.
    const auto ended = [this] { return ::waitpid(m_pid, nullptr, WNOHANG) == m_pid; };
    if (!testsupport::waitFor(ended, std::chrono::seconds(5))) {
        ::kill(m_pid, SIGTERM);
        if (!testsupport::waitFor(ended, std::chrono::seconds(5))) {
            ::kill(m_pid, SIGKILL);
            ::waitpid(m_pid, nullptr, 0);
        }
    }
    m_pid = -1;
}

testsupport::ProcessResult XSession::run(const std::vector<std::string>& arguments) const {
    std::vector<std::string> command{"/usr/bin/env", "DISPLAY=" + m_display, "LC_ALL=C.UTF-8",
                                     XSESSION_SCRIPT};
    command.insert(command.end(), arguments.begin(), arguments.end());
    return testsupport::runProcess(command);
}

std::string XSession::window(const std::string& title) const {
    const auto result = run({"window", title});
    std::string id = result.out;
    while (!id.empty() && (id.back() == '\n' || id.back() == ' ')) id.pop_back();
    return result.exitCode == 0 ? id : "";
}

bool XSession::gone(const std::string& title) const { return run({"gone", title}).exitCode == 0; }

void XSession::close(const std::string& id) const {
    const auto result = run({"close", id});
    if (result.exitCode != 0) throw std::runtime_error("cannot close window " + id + result.err);
}

void XSession::keys(const std::string& id, const std::vector<std::string>& keys) const {
    std::vector<std::string> arguments{"keys", id};
    arguments.insert(arguments.end(), keys.begin(), keys.end());
    const auto result = run(arguments);
    if (result.exitCode != 0) throw std::runtime_error("cannot press keys: " + result.err);
}

void XSession::screenshot(const std::string& file) const {
    const auto result = run({"shot", file});
    if (result.exitCode != 0) throw std::runtime_error("no screenshot: " + result.err);
}

bool XSession::showsProgress(const std::string& id) const {
    return run({"shows-progress", id}).exitCode == 0;
}

bool XSession::drawn(const std::string& id) const { return run({"drawn", id}).exitCode == 0; }

}  // namespace e2e
