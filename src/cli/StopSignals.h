#pragma once

#include <csignal>

// Ctrl-C and SIGTERM as a stop request: while installed, the handler only records
// the signal, and the command's main thread asks the job to stop. A second signal
// gets the default action, so a conversion stuck in a system call can still be killed.
class StopSignals {
  public:
    StopSignals();
    // Puts back the handlers that were there before.
    ~StopSignals();
    StopSignals(const StopSignals&) = delete;
    StopSignals& operator=(const StopSignals&) = delete;

    // The signal received since the handlers were installed, 0 for none.
    static int Received() { return s_nSignal; }

  private:
    static void Handler(int signal);
    static void Install(int signal, const struct sigaction& action, struct sigaction& old);
    static volatile std::sig_atomic_t s_nSignal;

    struct sigaction m_oldInt {};
    struct sigaction m_oldTerm {};
};
