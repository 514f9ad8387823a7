#include "support/Process.h"

#include <fcntl.h>
#include <poll.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <cstring>
#include <stdexcept>

namespace testsupport {
namespace {

// The posix_spawn family returns its error instead of setting errno.
void check(int error, const char* operation) {
    if (error != 0) throw std::runtime_error(std::string(operation) + ": " + std::strerror(error));
}

class Pipe {
public:
    Pipe() {
        if (::pipe2(m_ends.data(), O_CLOEXEC) != 0) {
            throw std::runtime_error(std::string("pipe2: ") + std::strerror(errno));
        }
    }
    Pipe(const Pipe&) = delete;
    Pipe& operator=(const Pipe&) = delete;
    ~Pipe() {
        closeRead();
        closeWrite();
    }
    int readEnd() const { return m_ends[0]; }
    int writeEnd() const { return m_ends[1]; }
    void closeRead() { closeEnd(0); }
    void closeWrite() { closeEnd(1); }

private:
    void closeEnd(std::size_t which) {
        if (m_ends[which] >= 0) ::close(m_ends[which]);  // a pipe holds no data to lose
        m_ends[which] = -1;
    }
    std::array<int, 2> m_ends{-1, -1};
};

class SpawnActions {
public:
    SpawnActions() { ::posix_spawn_file_actions_init(&m_actions); }
    SpawnActions(const SpawnActions&) = delete;
    SpawnActions& operator=(const SpawnActions&) = delete;
    ~SpawnActions() { ::posix_spawn_file_actions_destroy(&m_actions); }
    posix_spawn_file_actions_t* get() { return &m_actions; }

private:
    posix_spawn_file_actions_t m_actions{};
};

// Reads both pipes until the child has closed them; reading one at a time
// could block the child on the other one's full buffer.
void drain(Pipe& out, Pipe& err, ProcessResult& result) {
    std::array<pollfd, 2> fds{pollfd{out.readEnd(), POLLIN, 0}, pollfd{err.readEnd(), POLLIN, 0}};
    std::array<std::string*, 2> sinks{&result.out, &result.err};
    char buffer[4096];
    while (fds[0].fd >= 0 || fds[1].fd >= 0) {
        if (::poll(fds.data(), fds.size(), -1) < 0) {
            if (errno == EINTR) continue;
            throw std::runtime_error(std::string("poll: ") + std::strerror(errno));
        }
        for (std::size_t i = 0; i < fds.size(); ++i) {
            if (fds[i].fd < 0 || fds[i].revents == 0) continue;
            const ssize_t got = ::read(fds[i].fd, buffer, sizeof buffer);
            if (got > 0) {
                sinks[i]->append(buffer, static_cast<std::size_t>(got));
            } else if (got == 0 || errno != EINTR) {
                fds[i].fd = -1;  // poll ignores negative descriptors
            }
        }
    }
}

}  // namespace

ProcessResult runProcess(const std::vector<std::string>& command) {
    if (command.empty()) throw std::invalid_argument("runProcess: empty command");
    Pipe out;
    Pipe err;
    SpawnActions actions;
    check(::posix_spawn_file_actions_addopen(actions.get(), 0, "/dev/null", O_RDONLY, 0),
          "posix_spawn_file_actions_addopen");
    check(::posix_spawn_file_actions_adddup2(actions.get(), out.writeEnd(), 1),
          "posix_spawn_file_actions_adddup2");
    check(::posix_spawn_file_actions_adddup2(actions.get(), err.writeEnd(), 2),
          "posix_spawn_file_actions_adddup2");

    std::vector<char*> argv;
    argv.reserve(command.size() + 1);
    for (const std::string& argument : command) argv.push_back(const_cast<char*>(argument.c_str()));
    argv.push_back(nullptr);

    pid_t child = -1;
    check(::posix_spawn(&child, command[0].c_str(), actions.get(), nullptr, argv.data(), environ),
          ("cannot start " + command[0]).c_str());
    out.closeWrite();
    err.closeWrite();

    ProcessResult result;
    drain(out, err, result);
    int status = 0;
    while (::waitpid(child, &status, 0) < 0) {
        if (errno != EINTR)
            throw std::runtime_error(std::string("waitpid: ") + std::strerror(errno));
    }
    result.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -WTERMSIG(status);
    return result;
}

}  // namespace testsupport
