#pragma once
// The framing of the handset link, free of any channel state, shared by the station's frame
// layer and the simulated handset: 0x7E, content with 0x7D/0x7E stuffed as 0x7D, b^0x20, 0x7E.
#include <array>
#include <cstdint>
#include <span>
#include <vector>

inline constexpr std::uint8_t kFrameFlag = 0x7E;
inline constexpr std::uint8_t kFrameEscape = 0x7D;
inline constexpr int kFrameAreaSize = 16400;

// Appends the wire form of content (flag, stuffed bytes, flag) to out.
void FRAME_EncodeTo(std::span<const std::uint8_t> content, std::vector<std::uint8_t>& out);

// Receive assembler. State 0 hunts for a flag, 1 follows an opening flag, 2 is inside a frame,
// 3 follows an escape. A closing flag returns it to state 0. A frame that would grow beyond the
// frame area is dropped and the assembler hunts for the next flag.
class FrameAssembler {
public:
    void Reset() {
        state_ = 0;
        length_ = 0;
    }
    int State() const { return state_; }
    int Length() const { return length_; }
    int DroppedOversize() const { return droppedOversize_; }

    // Feeds bytes; calls onFrame(std::span<const std::uint8_t>) for each complete frame before
    // looking at the next byte.
    template <typename OnFrame>
    void Feed(std::span<const std::uint8_t> bytes, OnFrame&& onFrame) {
        for (std::uint8_t b : bytes) {
            switch (state_) {
                case 0:
                    if (b == kFrameFlag) {
                        state_ = 1;
                        length_ = 0;
                    }
                    break;
                case 1:
                    if (b == kFrameFlag) break;
                    state_ = 2;
                    [[fallthrough]];
                case 2:
                    if (b == kFrameEscape) {
                        state_ = 3;
                    } else if (b == kFrameFlag) {
                        state_ = 0;
                        if (length_ > 0) {
                            const int n = length_;
                            length_ = 0;
                            onFrame(std::span<const std::uint8_t>(area_.data(), n));
                        }
                        length_ = 0;
                    } else {
                        Store(b);
                    }
                    break;
                case 3:
                    state_ = 2;
                    Store(static_cast<std::uint8_t>(b ^ 0x20));
                    break;
                default:
                    state_ = 0;
                    length_ = 0;
                    break;
            }
        }
    }

private:
    void Store(std::uint8_t b) {
        if (length_ >= kFrameAreaSize) {
            // Too long for any frame of the link: drop it and hunt for the next flag.
            ++droppedOversize_;
            state_ = 0;
            length_ = 0;
            return;
        }
        area_[length_++] = b;
    }

    int state_ = 0;
    int length_ = 0;
    int droppedOversize_ = 0;
    std::array<std::uint8_t, kFrameAreaSize> area_{};
};
