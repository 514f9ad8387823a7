#include "verify/PasswordPrompt.h"

#include <termios.h>
#include <unistd.h>

#include <iostream>
#include <stdexcept>

namespace {

// Echo off on the terminal for as long as it lives.
class EchoOff {
public:
    EchoOff() : m_saved(), m_changed(::tcgetattr(STDIN_FILENO, &m_saved) == 0) {
        if (!m_changed) return;
        termios quiet = m_saved;
        quiet.c_lflag &= ~static_cast<tcflag_t>(ECHO);
        m_changed = ::tcsetattr(STDIN_FILENO, TCSAFLUSH, &quiet) == 0;
    }
    ~EchoOff() {
        if (m_changed) ::tcsetattr(STDIN_FILENO, TCSAFLUSH, &m_saved);
    }
    EchoOff(const EchoOff&) = delete;
    EchoOff& operator=(const EchoOff&) = delete;

private:
    termios m_saved;
    bool m_changed;
};

}  // namespace

std::string readPassword(const std::string& prompt) {
    std::string password;
    bool got = false;
    if (::isatty(STDIN_FILENO) != 0) {
        std::cerr << prompt << std::flush;
        {
            const EchoOff echoOff;
            got = static_cast<bool>(std::getline(std::cin, password));
        }
        // The Enter the user typed was not echoed either.
        std::cerr << '\n';
    } else {
        got = static_cast<bool>(std::getline(std::cin, password));
    }
    if (!got) throw std::runtime_error("no password: standard input has no line left");
    if (!password.empty() && password.back() == '\r') password.pop_back();
    return password;
}
