#include "link/frame_codec.h"

void FRAME_EncodeTo(std::span<const std::uint8_t> content, std::vector<std::uint8_t>& out) {
    out.reserve(out.size() + content.size() + content.size() / 32 + 4);
    out.push_back(kFrameFlag);
    for (std::uint8_t b : content) {
        if (b == kFrameFlag || b == kFrameEscape) {
            out.push_back(kFrameEscape);
            out.push_back(static_cast<std::uint8_t>(b ^ 0x20));
        } else {
            out.push_back(b);
        }
    }
    out.push_back(kFrameFlag);
}
