#include "ChildProcess.h"

#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <filesystem>
#include <thread>

namespace {

[[noreturn]] void Exec(const std::vector<std::string>& args) {
    // The program sees the signals as a user's shell gives them, whatever the test
    // runner inherited.
    signal(SIGINT, SIG_DFL);
    signal(SIGTERM, SIG_DFL);
    std::vector<char*> argv;
    for (const std::string& a : args) {
        argv.push_back(const_cast<char*>(a.c_str()));
    }
    argv.push_back(nullptr);
    execv(argv[0], argv.data());
    _exit(127);
}

}  // namespace

ChildProcess::~ChildProcess() {
    if (m_pid > 0 && !m_bExited) {
        kill(m_pid, SIGKILL);
        Reap(true);
    }
    CloseFds();
}

void ChildProcess::CloseFds() {
    if (m_outFd >= 0) {
        close(m_outFd);
        m_outFd = -1;
    }
    if (m_errFd >= 0) {
        close(m_errFd);
        m_errFd = -1;
    }
}

bool ChildProcess::Start(const std::vector<std::string>& args, bool terminal) {
    if (terminal) {
        int master = -1;
        m_pid = forkpty(&master, nullptr, nullptr, nullptr);
        if (m_pid == 0) {
            Exec(args);
        }
        m_errFd = master;
        return m_pid > 0;
    }
    int out[2];
    int err[2];
    if (pipe2(out, O_CLOEXEC) != 0 || pipe2(err, O_CLOEXEC) != 0) {
        return false;
    }
    m_pid = fork();
    if (m_pid == 0) {
        const int null = open("/dev/null", O_RDONLY);
        dup2(null, STDIN_FILENO);
        dup2(out[1], STDOUT_FILENO);
        dup2(err[1], STDERR_FILENO);
        Exec(args);
    }
    close(out[1]);
    close(err[1]);
    m_outFd = out[0];
    m_errFd = err[0];
    return m_pid > 0;
}

bool ChildProcess::Signal(int signal) const {
    return m_pid > 0 && kill(m_pid, signal) == 0;
}

bool ChildProcess::Type(const std::string& text) const {
    return m_errFd >= 0 &&
           write(m_errFd, text.data(), text.size()) == static_cast<ssize_t>(text.size());
}

void ChildProcess::Pump(std::chrono::milliseconds timeout) {
    pollfd fds[2];
    int n = 0;
    if (m_outFd >= 0) {
        fds[n++] = {m_outFd, POLLIN, 0};
    }
    if (m_errFd >= 0) {
        fds[n++] = {m_errFd, POLLIN, 0};
    }
    if (n == 0) {
        // Nothing to read: only the program's end is awaited.
        std::this_thread::sleep_for(timeout);
        return;
    }
    if (poll(fds, n, static_cast<int>(timeout.count())) <= 0) {
        return;
    }
    for (int i = 0; i < n; ++i) {
        if (fds[i].revents == 0) {
            continue;
        }
        char chunk[65536];
        const ssize_t got = read(fds[i].fd, chunk, sizeof chunk);
        std::string& sink = fds[i].fd == m_outFd ? m_result.out : m_result.err;
        if (got > 0) {
            sink.append(chunk, static_cast<size_t>(got));
            continue;
        }
        if (got < 0 && errno == EINTR) {
            continue;
        }
        // End of the stream (a terminal gives EIO once the program has gone).
        close(fds[i].fd);
        (fds[i].fd == m_outFd ? m_outFd : m_errFd) = -1;
    }
}

bool ChildProcess::Reap(bool block) {
    if (m_bExited) {
        return true;
    }
    int status = 0;
    struct rusage usage {};
    const pid_t r = wait4(m_pid, &status, block ? 0 : WNOHANG, &usage);
    if (r != m_pid) {
        return false;
    }
    m_bExited = true;
    m_result.status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    m_result.peakRssKib = usage.ru_maxrss;
    return true;
}

bool ChildProcess::WaitUntil(const std::function<bool()>& condition,
                             std::chrono::milliseconds timeout) {
    const auto deadline = Clock::now() + timeout;
    while (!condition()) {
        if (Clock::now() >= deadline || Reap(false)) {
            return condition();
        }
        Pump(std::chrono::milliseconds(5));
    }
    return true;
}

std::optional<ChildProcess::Result> ChildProcess::Wait(std::chrono::milliseconds timeout) {
    const auto deadline = Clock::now() + timeout;
    while (!Reap(false)) {
        if (Clock::now() >= deadline) {
            kill(m_pid, SIGKILL);
            Reap(true);
            return std::nullopt;
        }
        Pump(std::chrono::milliseconds(20));
    }
    // What is still in the pipes after the end.
    const auto drainDeadline = Clock::now() + std::chrono::seconds(5);
    while ((m_outFd >= 0 || m_errFd >= 0) && Clock::now() < drainDeadline) {
        Pump(std::chrono::milliseconds(100));
    }
    return m_result;
}

ChildProcess::Result ChildProcess::Run(const std::vector<std::string>& args,
                                       std::chrono::milliseconds timeout) {
    ChildProcess child;
    if (!child.Start(args)) {
        return {};
    }
    return child.Wait(timeout).value_or(Result{});
}

std::string ChildProcess::BuiltProgram(const std::string& name) {
    const char* dir = std::getenv("ORVANE_BIN_DIR");
    if (dir != nullptr && *dir != '\0') {
        return std::string(dir) + "/" + name;
    }
    std::error_code ec;
    const std::filesystem::path self = std::filesystem::read_symlink("/proc/self/exe", ec);
    return (self.parent_path() / name).string();
}
