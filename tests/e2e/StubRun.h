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
    // The exit status once the program ended within timeout; -1000 if not.
    int waitForExit(std::chrono::milliseconds timeout);
    const std::string& output() const { return m_output; }

private:
    int m_master = -1;
    int m_pid = -1;
    std::string m_output;
};

}  // namespace e2e
