#include "stop_signals.h"

#include <csignal>

namespace {

// Stop requests counted by the signal handler; read by the run's pump.
volatile std::sig_atomic_t g_stopSignals = 0;

extern "C" void OnStopSignal(int) {
    g_stopSignals = g_stopSignals + 1;
}

using Handler = void (*)(int);

void Restore(int signal, Handler previous) {
    std::signal(signal, previous == SIG_ERR ? SIG_DFL : previous);
}

}  // namespace

StopSignals::StopSignals() {
    g_stopSignals = 0;
    previousInt_ = std::signal(SIGINT, OnStopSignal);
    previousTerm_ = std::signal(SIGTERM, OnStopSignal);
    // POSIX only: Windows has neither.
#ifdef SIGHUP
    previousHup_ = std::signal(SIGHUP, OnStopSignal);
#endif
#ifdef SIGPIPE
    previousPipe_ = std::signal(SIGPIPE, SIG_IGN);
#endif
}

StopSignals::~StopSignals() {
    Restore(SIGINT, previousInt_);
    Restore(SIGTERM, previousTerm_);
#ifdef SIGHUP
    Restore(SIGHUP, previousHup_);
#endif
#ifdef SIGPIPE
    Restore(SIGPIPE, previousPipe_);
#endif
}

int StopSignals::Count() const {
    return g_stopSignals;
}
