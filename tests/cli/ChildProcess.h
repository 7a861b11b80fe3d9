#pragma once

#include <sys/types.h>

#include <chrono>
#include <functional>
#include <optional>
#include <string>
#include <vector>

// A program started by a test, with its output collected. Standard input is
// /dev/null, or, on request, all three streams are a pseudo-terminal so that the
// program sees a user at a terminal.
class ChildProcess {
  public:
    using Clock = std::chrono::steady_clock;

    struct Result {
        int status = -1;  // the exit status, 128 + the signal for a killed process
        std::string out;
        std::string err;      // with a terminal: everything the program wrote to it
        long peakRssKib = 0;  // the program's peak resident memory
    };

    ChildProcess() = default;
    ~ChildProcess();
    ChildProcess(const ChildProcess&) = delete;
    ChildProcess& operator=(const ChildProcess&) = delete;

    bool Start(const std::vector<std::string>& args, bool terminal = false);
    pid_t Pid() const { return m_pid; }
    bool Signal(int signal) const;
    // Writes to the terminal, as typed.
    bool Type(const std::string& text) const;
    // Collects output until the condition holds; false at the deadline or when the
    // program ended first.
    bool WaitUntil(const std::function<bool()>& condition, std::chrono::milliseconds timeout);
    // Collects output until the program ends; nullopt at the deadline (it is then killed).
    std::optional<Result> Wait(std::chrono::milliseconds timeout);
    const std::string& Out() const { return m_result.out; }
    const std::string& Err() const { return m_result.err; }

    // A program of the build: in ORVANE_BIN_DIR when CTest sets it, else next to
    // the test binary (both land in the build's bin folder).
    static std::string BuiltProgram(const std::string& name);

    // Runs to the end with stdin from /dev/null.
    static Result Run(const std::vector<std::string>& args,
                      std::chrono::milliseconds timeout = std::chrono::minutes(2));

  private:
    // Reads what is there, waiting up to timeout for something.
    void Pump(std::chrono::milliseconds timeout);
    bool Reap(bool block);
    void CloseFds();

    pid_t m_pid = -1;
    int m_outFd = -1;
    int m_errFd = -1;  // the terminal's master side in terminal mode
    bool m_bExited = false;
    Result m_result;
};

// The build's orvane-extract, and a run of it to the end.
inline std::string Bin() {
    return ChildProcess::BuiltProgram("orvane-extract");
}

inline ChildProcess::Result Extract(std::vector<std::string> args) {
    args.insert(args.begin(), Bin());
    return ChildProcess::Run(args);
}
