#include "jobs/station.h"

#include <system_error>
#include <utility>

#include "transport/thread_binding.h"

using StationBinding = ThreadBinding<Station>;

Station::Station(Environment env)
    : ownPorts_(std::make_unique<StationPorts>(
          PortEnvironment{nullptr, nullptr, env.delayMs < 0 ? 0 : env.delayMs, env.clock})),
      ownLinks_(std::make_unique<StationLinks>(
          LinkEnvironment{env.reporter != nullptr ? env.reporter : &STATUS_Reporter(), env.format,
                          nullptr, env.observer})),
      ports_(*ownPorts_),
      links_(*ownLinks_),
      starter_(std::move(env.workers)) {}

Station::Station(BuiltInTag) : ports_(SERIAL_PORT_BuiltIn()), links_(LINK_BuiltIn()) {
    links_.reporter = &STATUS_Reporter();
}

Station::~Station() {
    // Nothing may go on reporting to, or looking up, a station that is gone.
    for (int ch = 0; ch < kChannels; ++ch) {
        ports_.channel(ch).active = 0;
        ports_.channel(ch).wake.Signal();
    }
    if (StationBinding::ClearDefault(this)) {
        SERIAL_PORT_SetDefault(nullptr);
        LINK_SetDefault(nullptr);
    }
}

Station::Channel Station::channel(int index) {
    return Channel{ports_.channel(index), links_.channel(index),
                   jobs_[static_cast<std::size_t>(index)]};
}

void Station::MakeDefault() {
    SERIAL_PORT_SetDefault(&ports_);
    LINK_SetDefault(&links_);
    StationBinding::SetDefault(this);
}

void Station::SetWorkerStarter(WorkerStarter starter) {
    std::lock_guard lock(starterLock_);
    starter_ = std::move(starter);
}

bool Station::StartWorker(std::thread& thread, int channel, std::function<void()> body) {
    WorkerStarter starter;
    {
        std::lock_guard lock(starterLock_);
        starter = starter_;
    }
    std::function<void()> bound = [this, body = std::move(body)] {
        StationScope scope(*this);
        body();
    };
    if (starter) return starter(thread, channel, bound);
    try {
        thread = std::thread(std::move(bound));
        return true;
    } catch (const std::system_error&) {
        return false;
    }
}

Station& STATION_Current() {
    if (Station* station = StationBinding::Get()) return *station;
    static Station builtIn{Station::BuiltInTag{}};
    return builtIn;
}

StationScope::StationScope(Station& station)
    : previous_(StationBinding::Bind(&station)),
      previousPorts_(SERIAL_PORT_Bind(&station.ports())),
      previousLinks_(LINK_Bind(&station.links())) {}

StationScope::~StationScope() {
    LINK_Bind(previousLinks_);
    SERIAL_PORT_Bind(previousPorts_);
    StationBinding::Bind(previous_);
}
