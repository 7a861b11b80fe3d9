#include "StopSignals.h"

volatile std::sig_atomic_t StopSignals::s_nSignal = 0;

StopSignals::StopSignals() {
    s_nSignal = 0;
    struct sigaction action {};
    action.sa_handler = &StopSignals::Handler;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESETHAND | SA_RESTART;
    sigaction(SIGINT, &action, &m_oldInt);
    sigaction(SIGTERM, &action, &m_oldTerm);
}

StopSignals::~StopSignals() {
    sigaction(SIGINT, &m_oldInt, nullptr);
    sigaction(SIGTERM, &m_oldTerm, nullptr);
}

void StopSignals::Handler(int signal) {
    s_nSignal = signal;
}
