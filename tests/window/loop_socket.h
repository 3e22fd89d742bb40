#pragma once
// A socket of the bench for the window's tests: a loopback line with a port number in the port
// table, and a simulated handset plugged into it (POSIX only: the lines are socket pairs).
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <utility>

#include "sim/sim_fault.h"
#include "sim/sim_handset.h"
#include "transport/loopback_port.h"
#include "transport/port_table.h"

namespace window_test {

class LoopSocket {
public:
    explicit LoopSocket(std::string name) : name_(std::move(name)) {
        port_ = PORTTABLE_Assign("loop:" + name_);
    }
    ~LoopSocket() {
        if (!handset_) return;
        LOOPBACK_Remove(name_);
        handset_->Unplug();
    }
    LoopSocket(const LoopSocket&) = delete;
    LoopSocket& operator=(const LoopSocket&) = delete;

    int port() const { return port_; }
    std::string device() const { return "loop:" + name_; }
    SimHandset& Plug(const std::string& faults = "", SimOptions options = {}) {
        std::string error;
        if (!faults.empty()) {
            EXPECT_TRUE(SIM_ParseFaults(faults, options.faults, error)) << error;
        }
        handset_ = SimHandset::StartOnFd(LOOPBACK_Create(name_), std::move(options));
        return *handset_;
    }

private:
    std::string name_;
    int port_ = 0;
    std::unique_ptr<SimHandset> handset_;
};

}  // namespace window_test
