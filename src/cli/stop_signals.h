#pragma once
// Ctrl-C, SIGTERM and SIGHUP (the terminal closed) during `pelor flash`, in both modes: the
// first takes no more handsets and lets the running jobs finish, the second stops them (each is
// on record as it ends; one that does not end within kStopBound is recorded as stopped) and the
// program ends with status 1. A terminal or pipe that went away does not end the program while
// it writes (SIGPIPE is ignored: the writes fail instead).
#include <chrono>

// Counts SIGINT, SIGTERM and SIGHUP for its lifetime and puts the previous handlers back after.
class StopSignals {
public:
    StopSignals();
    ~StopSignals();
    StopSignals(const StopSignals&) = delete;
    StopSignals& operator=(const StopSignals&) = delete;
    // Signals received since it was made.
    int Count() const;

private:
    using Handler = void (*)(int);
    Handler previousInt_;
    Handler previousTerm_;
    Handler previousHup_ = nullptr;
    Handler previousPipe_ = nullptr;
};

// How long the jobs stopped by the second signal have to end on their own before the program
// ends without them (their rows are written before).
inline constexpr std::chrono::milliseconds kStopBound{1000};
