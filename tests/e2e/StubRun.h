#pragma once

#include <chrono>
#include <map>
#include <string>
#include <vector>

#include "support/Process.h"
#include "support/Sandbox.h"

namespace e2e {

// One user's machine for a stamped stub: its own temporary folder, uninstall
// folder and a folder where the fake installer records each run.
class StubMachine {
public:
    StubMachine();

    // A copy of the end-to-end stub stamped with the settings.
    std::string stampedStub(const std::vector<std::string>& settings) const;
    // A copy of the stub at `stub` stamped with the settings.
    std::string stamped(const std::string& stub, const std::vector<std::string>& settings) const;

    // The command that runs program in this machine's environment: no
    // display, no proxy unless set in `environment`, English unless LANG is.
    std::vector<std::string> command(const std::string& program,
                                     std::map<std::string, std::string> environment) const;

    // Runs to the end; returns once the stub and everything it started have
    // closed their output.
    testsupport::ProcessResult run(const std::string& program,
                                   const std::map<std::string, std::string>& environment) const;

    // The arguments of each recorded installer run, one vector per run.
    std::vector<std::vector<std::string>> installerRuns() const;
    // sha256 of the installer as each run saw itself.
    std::vector<std::string> installerHashes() const;
    // The pages the stub asked the browser to show, in order.
    std::vector<std::string> openedPages() const;
    // Processes whose program or arguments lie in this machine's folders: the
    // stub, the installer it downloaded, anything started from them.
    std::vector<std::string> runningPrograms() const;

    std::string tempFolder() const { return m_sandbox.file("tmp"); }
    std::string privateFolder() const;
    std::string uninstallFolder() const { return m_sandbox.file("uninstall"); }
    std::string recordFolder() const { return m_sandbox.file("runs"); }
    const testsupport::Sandbox& sandbox() const { return m_sandbox; }

private:
    testsupport::Sandbox m_sandbox;
};

// The fake installer: a script that records its arguments and its own
// sha256 in $WEBSETUP_E2E_RECORD_DIR, padded to `size` bytes after its end so
// that it downloads in several parts.
std::string fakeInstaller(std::size_t size);

// A program under a pseudo-terminal, as a user at a terminal runs it.
class TerminalRun {
public:
    explicit TerminalRun(const std::vector<std::string>& command);
    ~TerminalRun();
    TerminalRun(const TerminalRun&) = delete;
    TerminalRun& operator=(const TerminalRun&) = delete;

    // Reads output until it contains text (searched from `from`); false when
    // the time is up or the program closed the terminal first.
    bool waitForOutput(const std::string& text, std::chrono::milliseconds timeout);
    void type(const std::string& keys);
    // Ends the program at once, as a crash or a power cut would: nothing of
    // it runs any more, no clean-up included.
    void kill();
    // The exit status once the program ended within timeout; -1000 if not.
    int waitForExit(std::chrono::milliseconds timeout);
    const std::string& output() const { return m_output; }

private:
    int m_master = -1;
    int m_pid = -1;
    std::string m_output;
};

// A private X display (Xvfb with openbox, from tests/gui/xsession.sh) for
// driving the GTK window as a user's mouse and keyboard do. The display ends
// with this object, or with the test process if that dies first.
class XSession {
public:
    // Logs and the display number file go to logFolder.
    explicit XSession(const std::string& logFolder);
    ~XSession();
    XSession(const XSession&) = delete;
    XSession& operator=(const XSession&) = delete;

    // ":N", for the DISPLAY of the programs under test.
    const std::string& display() const { return m_display; }

    // The id of the window titled exactly `title`, waiting up to 30 s for it
    // to show; empty when it did not.
    std::string window(const std::string& title) const;
    // Whether no window is titled `title`, waiting up to 5 s for it to go.
    bool gone(const std::string& title) const;
    // The window manager's close, as the title bar's close button.
    void close(const std::string& id) const;
    // Activates the window, then presses the keys (xdotool names).
    void keys(const std::string& id, const std::vector<std::string>& keys) const;
    // The whole screen as an image file (PNG by its extension).
    void screenshot(const std::string& file) const;
    // Whether the window shows the filled part of a progress bar, waiting up
    // to 30 s for it.
    bool showsProgress(const std::string& id) const;
    // Whether the window has been painted, waiting up to 10 s for it: until
    // then the screen shows there whatever was beneath it.
    bool drawn(const std::string& id) const;

private:
    testsupport::ProcessResult run(const std::vector<std::string>& arguments) const;
    void stop();

    int m_pid = -1;
    int m_input = -1;  // closing it ends the session
    std::string m_display;
};

}  // namespace e2e
