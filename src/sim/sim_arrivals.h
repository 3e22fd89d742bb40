#pragma once
// An operator working a line of sockets: each socket is a stable path (a symbolic link in a
// folder) to the pseudo-terminal of the simulated handset plugged into it. A handset has
// finished when it took GO, or when it fell silent after talking (a failed job); a given time
// later the operator takes it out (the link disappears) and, after a swap time drawn from a
// distribution with a fixed seed, plugs a fresh handset in (the link appears again). One
// operator does one swap at a time. In batch mode the operator waits until every socket's
// handset has finished and then swaps them all, one after the other, as before a Download.
//
// Every handset has a USB serial number, shown as a real system shows it: a link in the line's
// "by-id" folder named "usb-Pelor_Simulated_Handset_SERIAL-if00" to its pseudo-terminal, there
// while the handset is plugged in. With restarts, a handset that took GO restarts as a real
// one does: its socket's link (and its by-id link) goes away and comes back after a time drawn
// like the swap times, to a handset running its new firmware that answers nothing, or answers
// every request with a refusal (it is not in download mode), drawn one or the other; the
// operator takes it out once it is back.
#include <chrono>
#include <cstdint>
#include <memory>
#include <mutex>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "sim/sim_agent.h"

// The operator's time for one swap (out and in).
struct SimSwapTime {
    enum class Kind { Fixed, Uniform, Exponential };
    Kind kind = Kind::Fixed;
    std::chrono::microseconds a{0};  // the fixed time, the lower bound, or the mean
    std::chrono::microseconds b{0};  // the upper bound of a uniform draw
};

// "4s" (fixed), "uniform:3s-6s", "exp:4s" (exponential with that mean, capped at 5 means).
// 1 on success, else 0 with error set.
int SIM_ParseSwapTime(const std::string& text, SimSwapTime& swap, std::string& error);
// One draw; the same generator state gives the same sequence on every platform.
std::chrono::microseconds SIM_DrawSwapTime(const SimSwapTime& swap, std::mt19937& rng);

struct SimArrivalOptions {
    int sockets = 8;
    std::string folder;  // where the sockets' links are made ("socket0", "socket1", ...)
    std::chrono::microseconds leaveAfter{std::chrono::seconds(1)};
    SimSwapTime swap;
    std::uint32_t seed = 1;
    int handsets = 0;  // handsets to plug in all, the first ones included; 0 = no limit
    bool batch = false;
    // A handset that talked and then stayed silent this long has finished (its job failed).
    std::chrono::microseconds quiet{std::chrono::seconds(5)};
    SimOptions handset;  // every handset's options (pace, latencies, faults)
    // A socket going bad: per socket, the share (0..1) of the handsets plugged into it whose
    // link fails (the line goes away in the middle of the image); missing or 0 = sound. The
    // draws come from the seed.
    std::vector<double> badRate;
    bool restart = false;  // a handset restarts on GO (leaves and comes back)
};

// The serial number of the line's n-th handset (0-based) and the by-id name it is shown under.
std::string SIM_HandsetSerial(std::uint32_t seed, int handset);
std::string SIM_ByIdName(const std::string& serial);

struct SimArrivalEvent {
    double seconds = 0;  // since the line started
    int socket = 0;
    bool plugged = false;  // true: a handset arrived; false: one was taken out
    bool started = false;  // taken out: the handset had taken GO
    bool restart = false;  // the handset leaving on its restart, or coming back from it
};

class SimHandset;

class SimLine {
public:
    // Plugs the first handsets into every socket and starts the operator. Null with error set
    // when a pseudo-terminal, a link or the thread cannot be had.
    static std::unique_ptr<SimLine> Start(SimArrivalOptions options, std::string* error);
    ~SimLine();
    SimLine(const SimLine&) = delete;
    SimLine& operator=(const SimLine&) = delete;

    // Ends the operator and takes every handset out (their links disappear).
    void Stop();

    std::string SocketPath(int socket) const;
    // Where the handsets' serial numbers are shown (by-id links).
    std::string ByIdFolder() const;
    int Restarts() const;  // handsets back from their restart so far
    int Plugged() const;   // handsets plugged in so far
    int Finished() const;  // handsets taken out after GO
    // Batch mode: every socket holds a fresh handset and the operator stands by.
    bool Ready() const;
    std::vector<SimArrivalEvent> Events() const;
    // Per handset, seconds from its link appearing to its first request seen (the operator
    // looks every 5 ms, so each figure is late by up to that much).
    std::vector<double> FirstRequestLatencies() const;

    explicit SimLine(SimArrivalOptions options);  // use Start

private:
    struct Place {
        std::unique_ptr<SimHandset> handset;
        bool ended = false;
        std::chrono::steady_clock::time_point endedAt;
        std::size_t lastCount = 0;
        std::chrono::steady_clock::time_point lastChange;
        std::chrono::steady_clock::time_point pluggedAt;
        std::string serial;
        bool tookGo = false;      // the handset plugged in took GO (before a restart)
        bool restarting = false;  // gone on its restart, back at backAt
        bool back = false;        // the handset now there is back from its restart
        std::chrono::steady_clock::time_point backAt;
    };

    bool Plug(int socket, std::string* error);  // caller holds mu_
    // Makes the socket's link (and the by-id link) lead to the handset; caller holds mu_.
    bool Show(int socket, std::unique_ptr<SimHandset> handset, std::string* error);
    void Hide(int socket);    // takes the links away and the handset out; caller holds mu_
    void Unplug(int socket);  // caller holds mu_
    void Restart(int socket, std::chrono::steady_clock::time_point now);  // caller holds mu_
    void ComeBack(int socket);                                            // caller holds mu_
    void Run();
    void Look(std::chrono::steady_clock::time_point now);  // caller holds mu_
    // A handset that left by itself (its cable pulled) has ended, and its link goes at once,
    // as a device's link goes with it. Caller holds mu_.
    void ForgetLeft(std::chrono::steady_clock::time_point now);
    int NextSwap(std::chrono::steady_clock::time_point now) const;  // caller holds mu_
    void Record(int socket, bool plugged, bool started,
                bool restart = false);  // caller holds mu_

    const SimArrivalOptions options_;
    const std::chrono::steady_clock::time_point began_;
    mutable std::mutex mu_;
    std::vector<Place> places_;
    std::vector<SimArrivalEvent> events_;
    std::vector<double> latencies_;
    std::mt19937 rng_;
    std::mt19937 badRng_;      // which handsets of a bad socket fail, and where
    std::mt19937 restartRng_;  // apart from the swaps': restarts leave the swap draws as they were
    int restarts_ = 0;
    int plugged_ = 0;
    int finished_ = 0;
    int swapping_ = -1;  // the socket being swapped, -1 when the operator stands by
    std::chrono::steady_clock::time_point swapEnds_;
    bool batchSwapping_ = false;
    bool stop_ = false;
    std::thread thread_;
};
