#include "stop_signals.h"

#include <csignal>

namespace {

// Stop requests counted by the signal handler; read by the run's pump.
volatile std::sig_atomic_t g_stopSignals = 0;

extern "C" void OnStopSignal(int) {
    g_stopSignals = g_stopSignals + 1;
}

}  // namespace

StopSignals::StopSignals() {
    g_stopSignals = 0;
    previousInt_ = std::signal(SIGINT, OnStopSignal);
    previousTerm_ = std::signal(SIGTERM, OnStopSignal);
}

StopSignals::~StopSignals() {
    std::signal(SIGINT, previousInt_ == SIG_ERR ? SIG_DFL : previousInt_);
    std::signal(SIGTERM, previousTerm_ == SIG_ERR ? SIG_DFL : previousTerm_);
}

int StopSignals::Count() const {
    return g_stopSignals;
}
