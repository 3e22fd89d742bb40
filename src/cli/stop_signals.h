#pragma once
// Ctrl-C and SIGTERM during `pelor flash`, in both modes: the first takes no more handsets and
// lets the running jobs finish, the second stops them (the jobs that ended are on record, each
// one still running is recorded as stopped) and the program ends with status 1.
#include <chrono>

// Counts SIGINT and SIGTERM for its lifetime and puts the previous handlers back after.
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
};

// How long the jobs stopped by the second signal have to end on their own before the program
// ends without them (their rows are written before).
inline constexpr std::chrono::milliseconds kStopBound{1000};
