#pragma once
// The station: eight channels and the environment they run in, given once at construction.
// A channel is made of its port (transport), its link (link) and its job's result (here); the
// station owns all three, and the specified functions (SERIAL_PORT_*, FLASH_DOWNLOADER_*,
// PELOR_*, ...) work on the station of the calling thread: the one a worker runs for, or the
// one bound with StationScope, else the front end's (MakeDefault). Two stations live side by
// side in one process; each runs its workers bound to itself.
#include <array>
#include <atomic>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>

#include "jobs/status.h"
#include "link/station_links.h"
#include "transport/station_ports.h"

// How a worker is started: runs body (the channel's job, bound to its station) on thread.
// Returns false when the thread could not be started. Tests give one that fails on purpose.
using WorkerStarter =
    std::function<bool(std::thread& thread, int channel, const std::function<void()>& body)>;

// Everything a station needs from outside.
struct Environment {
    // How time passes: the passes of the link's waits, the pause before a write, the tick of
    // the completion texts. nullptr: real time. A VirtualClock (transport/virtual_clock.h) runs
    // every wait and pause in no real time.
    StationClock* clock = nullptr;
    StatusReporter* reporter = nullptr;  // texts and progress; nullptr: the status messages
    LinkObserver* observer = nullptr;    // told of every frame and its answer; nullptr: none
    WorkerStarter workers;               // empty: std::thread
    int delayMs = kDefaultWriteDelayMs;  // "DELAY" before every write
    int format = 1;                      // 1 FS_FORMAT before the resource image, 0 FS_INIT
};

// A channel's job, as the front end reads it once the job has ended.
struct JobChannel {
    // 1 when every slot went through and the handset acknowledged everything; 0 when it failed;
    // -1 before the job has ended.
    std::atomic<int> result{0};
    // Whether the handset answered the job's final GO: 1 answered, 0 no answer within the
    // grace, -1 when the job did not get as far as a successful close.
    std::atomic<int> goAnswered{-1};
    // 1 once the job's handset has answered the unlock: it is in download mode.
    std::atomic<int> unlocked{0};
    // 1 once the job has sent GO (after a failed slot too): the handset may restart.
    std::atomic<int> goSent{0};
};

class Station {
public:
    explicit Station(Environment env = {});
    ~Station();
    Station(const Station&) = delete;
    Station& operator=(const Station&) = delete;

    // One channel: its port, its link and its job.
    struct Channel {
        PortChannel& port;
        LinkChannel& link;
        JobChannel& job;
    };
    Channel channel(int index);
    StationPorts& ports() { return ports_; }
    StationLinks& links() { return links_; }

    // Makes this the station of every thread that has none bound (the front end's station).
    void MakeDefault();

    // Starts body for channel on thread through the environment's starter, bound to this
    // station. Returns false when the thread could not be started.
    bool StartWorker(std::thread& thread, int channel, std::function<void()> body);
    void SetWorkerStarter(WorkerStarter starter);  // empty: std::thread

    // Where status messages go during a run (set by PELOR_Start, cleared by PELOR_Stop).
    std::atomic<NotifyTarget*> notifyTarget{nullptr};
    std::atomic<unsigned> notifyMessage{0};

private:
    friend Station& STATION_Current();
    struct BuiltInTag {};
    explicit Station(BuiltInTag);  // over the lower layers' own parts

    std::unique_ptr<StationPorts> ownPorts_;
    std::unique_ptr<StationLinks> ownLinks_;
    StationPorts& ports_;
    StationLinks& links_;
    std::array<JobChannel, kChannels> jobs_;
    std::mutex starterLock_;
    WorkerStarter starter_;
};

// The calling thread's station: bound, else the default, else the process's own.
Station& STATION_Current();

// Binds a station to the calling thread for the scope's life (a test's thread, a worker).
class StationScope {
public:
    explicit StationScope(Station& station);
    ~StationScope();
    StationScope(const StationScope&) = delete;
    StationScope& operator=(const StationScope&) = delete;

private:
    Station* previous_;
    StationPorts* previousPorts_;
    StationLinks* previousLinks_;
};

// The calling thread's station's job results by their long-standing names: g_nChannelResult[ch]
// and g_nGoAnswered[ch], g_nUnlocked[ch] and g_nGoSent[ch] (see
// JobChannel).
template <std::atomic<int> JobChannel::*Field>
struct JobFlagView {
    std::atomic<int>& operator[](int channel) const {
        return STATION_Current().channel(channel).job.*Field;
    }
};
inline constexpr JobFlagView<&JobChannel::result> g_nChannelResult{};
inline constexpr JobFlagView<&JobChannel::goAnswered> g_nGoAnswered{};
inline constexpr JobFlagView<&JobChannel::unlocked> g_nUnlocked{};
inline constexpr JobFlagView<&JobChannel::goSent> g_nGoSent{};
