// The serial device on Win32 COM ports (kernel32 serial communications, overlapped I/O).
#ifndef NOMINMAX
#define NOMINMAX
#endif
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <utility>

#include "transport/serial_backend.h"
#include "transport/serial_device.h"

namespace {

using Clock = std::chrono::steady_clock;

// A ReadFile that does not complete at once for bytes already counted waits this long.
constexpr DWORD kReadPendingMs = 100;

constexpr DWORD kPurgeAll = PURGE_TXABORT | PURGE_RXABORT | PURGE_TXCLEAR | PURGE_RXCLEAR;

class UniqueHandle {
    HANDLE h_ = nullptr;

public:
    explicit UniqueHandle(HANDLE h = nullptr) : h_(h == INVALID_HANDLE_VALUE ? nullptr : h) {}
    UniqueHandle(UniqueHandle&& o) noexcept : h_(std::exchange(o.h_, nullptr)) {}
    UniqueHandle& operator=(UniqueHandle&& o) noexcept {
        reset(std::exchange(o.h_, nullptr));
        return *this;
    }
    UniqueHandle(const UniqueHandle&) = delete;
    UniqueHandle& operator=(const UniqueHandle&) = delete;
    ~UniqueHandle() { reset(); }

    void reset(HANDLE h = nullptr) {
        if (h_ != nullptr) CloseHandle(h_);
        h_ = h;
    }
    HANDLE get() const { return h_; }
    explicit operator bool() const { return h_ != nullptr; }
};

class Win32Port final : public PortDevice {
public:
    Win32Port(UniqueHandle port, UniqueHandle readEvent, UniqueHandle writeEvent)
        : writeEvent_(std::move(writeEvent)),
          readEvent_(std::move(readEvent)),
          port_(std::move(port)) {
        osRead_.Offset = 0;
        osRead_.OffsetHigh = 0;
        osRead_.hEvent = readEvent_.get();
        osWrite_.Offset = 0;
        osWrite_.OffsetHigh = 0;
        osWrite_.hEvent = writeEvent_.get();
    }

    int Read(std::span<std::uint8_t> into) override {
        if (closed_.load(std::memory_order_acquire)) return -1;
        if (into.empty()) return 0;
        const HANDLE h = port_.get();

        DWORD errors = 0;
        COMSTAT status{};
        if (!ClearCommError(h, &errors, &status)) return -1;  // the port is gone
        const DWORD want = static_cast<DWORD>(
            std::min<std::size_t>(into.size(), static_cast<std::size_t>(status.cbInQue)));
        if (want == 0) return 0;

        DWORD got = 0;
        if (!ReadFile(h, into.data(), want, &got, &osRead_)) {
            if (GetLastError() != ERROR_IO_PENDING) return -1;
            // The bytes were counted as queued: give them a moment instead of failing.
            if (WaitForSingleObject(osRead_.hEvent, kReadPendingMs) != WAIT_OBJECT_0) {
                CancelIo(h);
            }
            // Wait for the completion (or the cancellation), so the buffer is not written
            // after this returns.
            got = 0;
            if (!GetOverlappedResult(h, &osRead_, &got, TRUE) &&
                GetLastError() != ERROR_OPERATION_ABORTED) {
                return -1;
            }
        }
        return static_cast<int>(got);
    }

    int Write(std::span<const std::uint8_t> bytes) override {
        if (closed_.load(std::memory_order_acquire)) return -1;
        if (bytes.empty()) return 0;
        const HANDLE h = port_.get();
        const DWORD count = static_cast<DWORD>(std::min<std::size_t>(bytes.size(), 0x7FFFFFFF));

        DWORD written = 0;
        if (!WriteFile(h, bytes.data(), count, &written, &osWrite_)) {
            if (GetLastError() != ERROR_IO_PENDING) return ClearAndFail();
            for (;;) {
                written = 0;
                if (GetOverlappedResult(h, &osWrite_, &written, TRUE)) break;
                if (GetLastError() != ERROR_IO_INCOMPLETE) return ClearAndFail();
            }
        }
        return static_cast<int>(written);
    }

    // No operation waits on port events: the input queue is polled.
    int WaitReadable(std::chrono::milliseconds bound) override {
        const auto deadline = Clock::now() + bound;
        for (;;) {
            if (closed_.load(std::memory_order_acquire)) return 1;
            DWORD errors = 0;
            COMSTAT status{};
            if (!ClearCommError(port_.get(), &errors, &status)) return 1;  // the read tells
            if (status.cbInQue > 0) return 1;
            if (Clock::now() >= deadline) return 0;
            Sleep(1);
        }
    }

    // The input is purged; the output is not: every write has completed before it returned,
    // and clearing the transmit side would throw away its last bytes still in the adapter.
    void Close() override {
        if (closed_.exchange(true, std::memory_order_acq_rel)) return;
        const HANDLE h = port_.get();
        SetCommMask(h, 0);
        EscapeCommFunction(h, CLRDTR);
        EscapeCommFunction(h, CLRRTS);
        PurgeComm(h, PURGE_RXABORT | PURGE_RXCLEAR);
    }

private:
    int ClearAndFail() {
        DWORD errors = 0;
        COMSTAT status{};
        ClearCommError(port_.get(), &errors, &status);
        return -1;
    }

    // Released last to first: the port handle, then the read event, then the write event.
    UniqueHandle writeEvent_;
    UniqueHandle readEvent_;
    UniqueHandle port_;
    // The channel's read and write records; each is used only by the channel's worker.
    OVERLAPPED osRead_{};
    OVERLAPPED osWrite_{};
    std::atomic<bool> closed_{false};
};

std::string ReasonFor(DWORD error) {
    switch (error) {
        case ERROR_FILE_NOT_FOUND:
        case ERROR_PATH_NOT_FOUND:
        case ERROR_BAD_UNIT:
        case ERROR_DEV_NOT_EXIST:
            return "no such device";
        case ERROR_ACCESS_DENIED:  // what an open port held by another program answers
        case ERROR_SHARING_VIOLATION:
        case ERROR_BUSY:
            return "busy: held by another program";
        default:
            return "error " + std::to_string(error);
    }
}

SerialHandle Fail(SerialOpenFailure* failure, SerialOpenStage stage, DWORD code,
                  std::string reason = std::string()) {
    if (failure) {
        failure->stage = stage;
        failure->code = static_cast<int>(code);
        failure->reason = reason.empty() ? ReasonFor(code) : std::move(reason);
    }
    return nullptr;
}

}  // namespace

SerialHandle SERIAL_BACKEND_Open(int /*channel*/, const std::string& path, int baudRate,
                                 SerialOpenFailure* failure) {
    UniqueHandle port(CreateFileA(path.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                                  OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OVERLAPPED,
                                  nullptr));
    if (!port) return Fail(failure, SerialOpenStage::kCreate, GetLastError());
    const HANDLE h = port.get();

    SetCommMask(h, EV_RXCHAR);
    SetupComm(h, kSerialQueueSize, kSerialQueueSize);
    PurgeComm(h, kPurgeAll);

    COMMTIMEOUTS timeouts{};
    timeouts.ReadIntervalTimeout = 5000;
    timeouts.ReadTotalTimeoutMultiplier = 0;
    timeouts.ReadTotalTimeoutConstant = 0;
    timeouts.WriteTotalTimeoutMultiplier = 0;
    timeouts.WriteTotalTimeoutConstant = static_cast<DWORD>(SERIAL_WriteBoundMs());
    SetCommTimeouts(h, &timeouts);

    // Only the four line fields change; flow control and modem lines stay as the driver has them.
    DCB dcb{};
    dcb.DCBlength = sizeof(DCB);
    GetCommState(h, &dcb);
    dcb.BaudRate = static_cast<DWORD>(baudRate);
    dcb.ByteSize = 8;
    dcb.Parity = NOPARITY;
    dcb.StopBits = ONESTOPBIT;
    if (!SetCommState(h, &dcb)) {
        return Fail(failure, SerialOpenStage::kSettings, GetLastError(),
                    "bit rate " + std::to_string(baudRate) + " refused");
    }

    // Manual-reset, not signalled, unnamed.
    UniqueHandle readEvent(CreateEventA(nullptr, TRUE, FALSE, nullptr));
    if (!readEvent) return Fail(failure, SerialOpenStage::kReadEvent, GetLastError());
    UniqueHandle writeEvent(CreateEventA(nullptr, TRUE, FALSE, nullptr));
    if (!writeEvent) return Fail(failure, SerialOpenStage::kWriteEvent, GetLastError());

    return std::make_shared<Win32Port>(std::move(port), std::move(readEvent),
                                       std::move(writeEvent));
}
