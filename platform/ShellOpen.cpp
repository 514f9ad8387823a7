#include "platform/ShellOpen.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <csignal>
#include <cstring>

#include "platform/SystemErrorText.h"
#include "text/TextConversion.h"

namespace platform {

namespace {

class Descriptor {
public:
    explicit Descriptor(int fd = -1) : m_fd(fd) {}
    ~Descriptor() { reset(); }
    Descriptor(const Descriptor&) = delete;
    Descriptor& operator=(const Descriptor&) = delete;
    int get() const { return m_fd; }
    void reset() {
        // Nothing was written through these descriptors that a close could lose.
        if (m_fd >= 0) ::close(m_fd);
        m_fd = -1;
    }

private:
    int m_fd;
};

// True for an ELF file or a "#!" script; sets owner execution on it if
// missing. Read through fd, from its start.
bool isProgram(int fd) {
    std::array<char, 4> head{};
    const ssize_t got = ::pread(fd, head.data(), head.size(), 0);
    const bool elf = got == 4 && std::memcmp(head.data(),
                                             "\x7f"
                                             "ELF",
                                             4) == 0;
    const bool script = got >= 2 && head[0] == '#' && head[1] == '!';
    if (!elf && !script) return false;
    struct stat status {};
    if (::fstat(fd, &status) == 0 && (status.st_mode & S_IXUSR) == 0) {
        // Failure shows when the program is executed.
        (void)::fchmod(fd, (status.st_mode & 07777) | S_IXUSR);
    }
    return true;
}

// What spawnDetached executes: a program found on the search path, a path,
// or the file behind a descriptor that the program inherits.
struct Executable {
    std::string path;
    bool searchPath = false;
    int inheritedFd = -1;
};

// Runs executable with command as its argument vector in a new session as a
// grandchild, so that it is neither our child to reap nor tied to our
// terminal. Only async-signal-safe calls
// happen between fork and exec: everything is prepared before.
ShellOpenResult spawnDetached(const Executable& executable,
                              const std::vector<std::string>& command) {
    std::vector<char*> argv;
    argv.reserve(command.size() + 1);
    for (const std::string& argument : command) argv.push_back(const_cast<char*>(argument.c_str()));
    argv.push_back(nullptr);

    int ends[2];
    if (::pipe2(ends, O_CLOEXEC) != 0) return {false, errnoText("pipe2", errno)};
    Descriptor readEnd(ends[0]);
    Descriptor writeEnd(ends[1]);

    const pid_t child = ::fork();
    if (child < 0) return {false, errnoText("fork", errno)};
    if (child == 0) {
        ::setsid();
        const pid_t grandchild = ::fork();
        if (grandchild != 0) {
            int error = grandchild < 0 ? errno : 0;
            if (error != 0) (void)!::write(writeEnd.get(), &error, sizeof error);
            ::_exit(error == 0 ? 0 : 1);
        }
        sigset_t none;
        ::sigemptyset(&none);
        // After fork this is the only thread.
        ::sigprocmask(SIG_SETMASK, &none, nullptr);  // NOLINT(concurrency-mt-unsafe)
        ::signal(SIGINT, SIG_DFL);
        ::signal(SIGPIPE, SIG_DFL);
        const int input = ::open("/dev/null", O_RDONLY);
        if (input >= 0 && input != STDIN_FILENO) ::dup2(input, STDIN_FILENO);
        // A script's interpreter opens the script by the descriptor's name.
        if (executable.inheritedFd >= 0) ::fcntl(executable.inheritedFd, F_SETFD, 0);
        if (executable.searchPath) {
            ::execvp(executable.path.c_str(), argv.data());
        } else {
            ::execv(executable.path.c_str(), argv.data());
        }
        int error = errno;
        (void)!::write(writeEnd.get(), &error, sizeof error);
        ::_exit(127);
    }
    writeEnd.reset();
    int status = 0;
    while (::waitpid(child, &status, 0) < 0 && errno == EINTR) {
    }
    // The pipe closes on a successful exec and carries errno otherwise.
    int error = 0;
    ssize_t got = 0;
    do {
        got = ::read(readEnd.get(), &error, sizeof error);
    } while (got < 0 && errno == EINTR);
    if (got == static_cast<ssize_t>(sizeof error)) {
        return {false, errnoText("cannot start " + command.front(), error)};
    }
    return {true, {}};
}

std::vector<std::string> commandOf(const std::string& path,
                                   const std::optional<std::wstring>& parameters) {
    std::vector<std::string> command{path};
    if (parameters) {
        for (const std::wstring& argument : splitCommandLine(*parameters)) {
            command.push_back(wideToUtf8(argument));
        }
    }
    return command;
}

ShellOpenResult openWithXdg(const std::string& path) {
    ShellOpenResult result = spawnDetached({"xdg-open", true, -1}, {"xdg-open", path});
    if (!result.started) result.error += " to open " + path;
    return result;
}

}  // namespace

ShellOpenResult openWebPage(const std::string& url) { return openWithXdg(url); }

ShellOpenResult shellOpen(const std::wstring& file, const std::optional<std::wstring>& parameters) {
    const std::string path = wideToUtf8(file);
    const Descriptor held(::open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC));
    if (held.get() < 0) return {false, errnoText("cannot open " + path, errno)};
    if (!isProgram(held.get())) return openWithXdg(path);
    return spawnDetached({path, false, -1}, commandOf(path, parameters));
}

ShellOpenResult shellOpen(const ReadOnlyFile& file, const std::optional<std::wstring>& parameters) {
    const int fd = static_cast<int>(file.nativeHandle());
    if (!isProgram(fd)) return openWithXdg(file.path());
    return spawnDetached({"/proc/self/fd/" + std::to_string(fd), false, fd},
                         commandOf(file.path(), parameters));
}

}  // namespace platform
