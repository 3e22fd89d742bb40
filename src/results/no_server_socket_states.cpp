// Builds without libpq reach no line's server: nothing is published (the front ends publish
// only where RESULTS_NoServerReason() is empty).
#include "results/socket_state_publisher.h"

struct SocketStatePublisher::Shared {};

SocketStatePublisher::SocketStatePublisher(SocketStatesConfig /*config*/)
    : shared_(std::make_shared<Shared>()) {}

SocketStatePublisher::~SocketStatePublisher() = default;

void SocketStatePublisher::Publish(const SocketStateUpdate& /*update*/) {}

std::vector<std::string> SocketStatePublisher::TakeMessages() {
    return {};
}

int SocketStatePublisher::Batches() const {
    return 0;
}

int SocketStatePublisher::Rows() const {
    return 0;
}

void SocketStatePublisher::Closing() {}

void SocketStatePublisher::Close(std::chrono::milliseconds /*bound*/) {
    closed_ = true;
}
