#include "link/station_links.h"

#include <utility>

#include "transport/thread_binding.h"

using LinksBinding = ThreadBinding<StationLinks>;

StationLinks& LINK_BuiltIn() {
    static StationLinks links;
    return links;
}

StationLinks::StationLinks(LinkEnvironment env)
    : reporter(env.reporter),
      format(env.format == 1 ? 1 : 0),
      tick(env.tick),
      observer(env.observer) {}

StationLinks& LINK_Station() {
    if (StationLinks* links = LinksBinding::Get()) return *links;
    return LINK_BuiltIn();
}

StationLinks* LINK_Bind(StationLinks* links) {
    return LinksBinding::Bind(links);
}

void LINK_SetDefault(StationLinks* links) {
    LinksBinding::SetDefault(links);
}
