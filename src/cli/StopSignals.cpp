#include "StopSignals.h"

volatile std::sig_atomic_t StopSignals::s_nSignal = 0;

StopSignals::StopSignals() {
    s_nSignal = 0;
    struct sigaction action {};
    action.sa_handler = &StopSignals::Handler;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESETHAND | SA_RESTART;
    Install(SIGINT, action, m_oldInt);
    Install(SIGTERM, action, m_oldTerm);
}

void StopSignals::Install(int signal, const struct sigaction& action, struct sigaction& old) {
    sigaction(signal, nullptr, &old);
    // A signal ignored from the start (nohup, a background job) stays ignored.
    if (old.sa_handler != SIG_IGN) {
        sigaction(signal, &action, nullptr);
    }
}

StopSignals::~StopSignals() {
    sigaction(SIGINT, &m_oldInt, nullptr);
    sigaction(SIGTERM, &m_oldTerm, nullptr);
}

void StopSignals::Handler(int signal) {
    s_nSignal = signal;
}
