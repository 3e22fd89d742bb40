#include "link/station_links.h"

#include <utility>

namespace {

thread_local StationLinks* t_Bound = nullptr;
std::atomic<StationLinks*> g_Default{nullptr};

}  // namespace

StationLinks& LINK_BuiltIn() {
    static StationLinks links;
    return links;
}

StationLinks::StationLinks(LinkEnvironment env)
    : reporter(env.reporter), format(env.format == 1 ? 1 : 0), tick(env.tick) {}

StationLinks& LINK_Station() {
    if (t_Bound != nullptr) return *t_Bound;
    if (StationLinks* links = g_Default.load(std::memory_order_acquire)) return *links;
    return LINK_BuiltIn();
}

StationLinks* LINK_Bind(StationLinks* links) {
    return std::exchange(t_Bound, links);
}

void LINK_SetDefault(StationLinks* links) {
    g_Default.store(links, std::memory_order_release);
}
