#pragma once
// Channel indices, shared by every layer. The per-channel run state lives in the station
// (transport/station_ports.h).
inline constexpr int kChannels = 8;

inline bool IsChannel(int channel) {
    return channel >= 0 && channel < kChannels;
}
