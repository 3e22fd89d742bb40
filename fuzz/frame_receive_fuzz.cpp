// Bytes from a handset, through the frame assembler into the link's reply handling: nothing may
// overrun, and the link's counters must stay consistent whatever arrives. The station runs in
// virtual time with a port that takes every write, so no input waits or sleeps.
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <span>

#include "jobs/station.h"
#include "link/commands.h"
#include "link/flash_downloader.h"
#include "link/frame.h"
#include "link/station_links.h"
#include "transport/serial_port.h"
#include "transport/virtual_clock.h"

namespace {

void Check(bool condition) {
    if (!condition) std::abort();
}

// Takes every write whole; nothing to read (the input is fed to the assembler directly).
class SinkPort final : public PortDevice {
public:
    int Read(std::span<std::uint8_t>) override { return 0; }
    int Write(std::span<const std::uint8_t> bytes) override {
        return static_cast<int>(bytes.size());
    }
    int WaitReadable(std::chrono::milliseconds) override { return 0; }
};

// One station for the whole run, bound to the fuzzing thread, with the write pause of a real
// run: in virtual time it costs nothing.
struct Harness {
    VirtualClock clock;
    std::unique_ptr<Station> station;
    std::unique_ptr<StationScope> scope;
    std::shared_ptr<SinkPort> port = std::make_shared<SinkPort>();

    Harness() {
        Environment env;
        env.clock = &clock;
        env.delayMs = kDefaultWriteDelayMs;
        station = std::make_unique<Station>(env);
        scope = std::make_unique<StationScope>(*station);
    }
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static Harness harness;
    constexpr int ch = 0;
    FRAME_Reset(ch);
    FLASH_DOWNLOADER_LinkStart(ch);
    SERIAL_PORT_Start(ch, 1, 1382400);
    {
        std::lock_guard lock(SERIAL_PORT_Mutex());
        g_hSerialDevice.Set(ch, harness.port);
    }
    // The channel is not active: a send that finds the window shut gives up at once.
    g_bChannelActive[ch] = 0;
    // Three requests outstanding, so that replies have something to answer.
    const std::uint8_t block[4] = {1, 2, 3, 4};
    for (int i = 0; i < 3; ++i) Check(FLASH_DOWNLOADER_Write(ch, 0x4000u * i, 4, block) == 1);
    Check(FN[ch].sendFailed == 0);
    const int sentBefore = FN[ch].sentCount;
    int repliesBefore = FN[ch].replyCount;
    // Feed in pieces, so frames split across reads are exercised too.
    std::size_t offset = 0;
    while (offset < size) {
        const std::size_t piece = 1 + (data[offset] % 64);
        const std::size_t n = piece < size - offset ? piece : size - offset;
        FRAME_Assemble(ch, std::span<const std::uint8_t>(data + offset, n), 0, static_cast<int>(n));
        offset += n;
        const FlashLink& fn = FN[ch];
        Check(fn.replyCount >= repliesBefore);
        Check(fn.sentCount == sentBefore);
        Check(fn.errorCount >= 0);
        Check((fn.errorCount > 0) == (fn.fault != LinkFault::None));
        Check(fn.error_no == -1 || (fn.error_no >= 0 && fn.error_no <= fn.replyCount));
        for (std::uint8_t s : fn.slotState) Check(s == 0 || s == 0x02 || s == 0x03);
        Check(FRAME_AssemblerLength(ch) >= 0 && FRAME_AssemblerLength(ch) <= 16400);
        Check(FRAME_AssemblerState(ch) >= 0 && FRAME_AssemblerState(ch) <= 3);
        repliesBefore = fn.replyCount;
        Check(fn.pendingCount >= 0 && fn.pendingCount <= 4);
        // Done means done: counts that match, nothing to resend and no error can only mean that
        // every request was acknowledged, each under its own sequence number.
        if (fn.sentCount == fn.replyCount && fn.pendingCount == 0 && fn.errorCount == 0) {
            Check(FLASH_DOWNLOADER_Unconfirmed(ch) == 0);
            for (int c = sentBefore - 3; c < sentBefore; ++c)
                Check(FLASH_DOWNLOADER_Answer(ch, c) == FrameAnswer::Ack);
        }
    }
    // A resend after any of it must end, leaving nothing pending unless a send failed.
    FLASH_DOWNLOADER_Resend(ch);
    Check(FN[ch].pendingCount == 0 || FN[ch].sendFailed == 1);
    Check((FN[ch].pendingCount == 0) == (FN[ch].error_no == -1));
    return 0;
}
