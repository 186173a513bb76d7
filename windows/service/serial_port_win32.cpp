// The serial device on Windows: an overlapped port handle, so the reader's wait and the UPS
// object's writes go on at once; reads take what has arrived without waiting.
#include <windows.h>

#include <algorithm>
#include <cstring>
#include <mutex>
#include <string>

#include "serial_port.h"
#include "ups_lib/platform/wide_text.h"

namespace torvane {

using ups::platform::Wide;

namespace {

constexpr DWORD kWaitSlice = 100;  // ms

// Waits for a read or write that went pending; false when it failed.
bool Finish(HANDLE port, OVERLAPPED& overlapped, DWORD& done) {
    return GetOverlappedResult(port, &overlapped, &done, TRUE) != 0;
}

}  // namespace

struct SerialPort::Handle {
    HANDLE port = INVALID_HANDLE_VALUE;
    HANDLE ioEvent = nullptr;    // reads and writes, one at a time under CRS232's locks
    HANDLE waitEvent = nullptr;  // the reader's waiting read
    // What the waiting read took off the line, handed out by the next read.
    std::mutex aheadMutex;
    std::string ahead;
    bool gone = false;
    // Counts the flushes: a byte the waiting read took before one is stale and dropped.
    unsigned flushes = 0;
    ~Handle() {
        if (port != INVALID_HANDLE_VALUE) CloseHandle(port);
        if (waitEvent != nullptr) CloseHandle(waitEvent);
        if (ioEvent != nullptr) CloseHandle(ioEvent);
    }
};

SerialPort::SerialPort(std::unique_ptr<Handle> handle) : handle_(std::move(handle)) {}
SerialPort::~SerialPort() = default;

std::unique_ptr<SerialPort> SerialPort::Open(const std::string& path, int baud, Failure& failure,
                                             int& code) {
    auto handle = std::make_unique<Handle>();
    if (!path.empty()) {
        handle->port = CreateFileW(Wide(path).c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                                   OPEN_EXISTING, FILE_FLAG_OVERLAPPED, nullptr);
    }
    if (handle->port == INVALID_HANDLE_VALUE) {
        code = path.empty() ? ERROR_FILE_NOT_FOUND : static_cast<int>(GetLastError());
        failure = Failure::kOpen;
        return nullptr;
    }
    // 8N1 at the given speed, binary, no flow control of either kind, modem lines ignored.
    DCB dcb{};
    dcb.DCBlength = sizeof dcb;
    COMMTIMEOUTS timeouts{};
    // A read waits at most kWaitSlice for all it asked for: the waiting read asks for one byte,
    // every other read only for what has arrived. A write that cannot finish in 2 s gives up.
    timeouts.ReadTotalTimeoutConstant = kWaitSlice;
    timeouts.WriteTotalTimeoutConstant = 2000;
    bool set = GetCommState(handle->port, &dcb) != 0;
    if (set) {
        dcb.BaudRate = static_cast<DWORD>(baud);
        dcb.ByteSize = 8;
        dcb.Parity = NOPARITY;
        dcb.StopBits = ONESTOPBIT;
        dcb.fBinary = TRUE;
        dcb.fParity = FALSE;
        dcb.fOutxCtsFlow = FALSE;
        dcb.fOutxDsrFlow = FALSE;
        dcb.fDsrSensitivity = FALSE;
        dcb.fOutX = FALSE;
        dcb.fInX = FALSE;
        dcb.fErrorChar = FALSE;
        dcb.fNull = FALSE;
        dcb.fAbortOnError = FALSE;
        dcb.fDtrControl = DTR_CONTROL_ENABLE;
        dcb.fRtsControl = RTS_CONTROL_ENABLE;
        set = SetCommState(handle->port, &dcb) != 0 &&
              SetCommTimeouts(handle->port, &timeouts) != 0 &&
              SetCommMask(handle->port, EV_RXCHAR) != 0;
    }
    if (set) {
        handle->waitEvent = CreateEventW(nullptr, TRUE, FALSE, nullptr);
        handle->ioEvent = CreateEventW(nullptr, TRUE, FALSE, nullptr);
        set = handle->waitEvent != nullptr && handle->ioEvent != nullptr;
    }
    if (!set) {
        code = static_cast<int>(GetLastError());
        failure = Failure::kSettings;
        return nullptr;
    }
    PurgeComm(handle->port, PURGE_RXCLEAR | PURGE_TXCLEAR | PURGE_RXABORT | PURGE_TXABORT);
    failure = Failure::kNone;
    return std::unique_ptr<SerialPort>(new SerialPort(std::move(handle)));
}

// Waits by reading: a read of the first byte to come, in slices, rather than a comm-event wait,
// which not every system lets a read pass while it is pending.
bool SerialPort::WaitReadable(std::chrono::milliseconds wait) {
    Handle& h = *handle_;
    const auto deadline = std::chrono::steady_clock::now() + wait;
    do {
        unsigned flushes = 0;
        {
            std::lock_guard lock(h.aheadMutex);
            if (!h.ahead.empty() || h.gone) return true;
            flushes = h.flushes;
        }
        DWORD errors = 0;
        COMSTAT status{};
        if (!ClearCommError(h.port, &errors, &status) || status.cbInQue > 0) return true;
        char first = 0;
        OVERLAPPED overlapped{};
        overlapped.hEvent = h.waitEvent;
        ResetEvent(overlapped.hEvent);
        DWORD got = 0;
        bool done = ReadFile(h.port, &first, 1, &got, &overlapped) != 0;
        if (!done && GetLastError() == ERROR_IO_PENDING) done = Finish(h.port, overlapped, got);
        // A slice that passes without a byte ends the read in success with nothing, or, under
        // Wine, in ERROR_TIMEOUT: neither is a dead line.
        if (!done && GetLastError() == ERROR_TIMEOUT) {
            done = true;
            got = 0;
        }
        std::lock_guard lock(h.aheadMutex);
        if (!done) h.gone = true;
        if (got == 1 && flushes == h.flushes) h.ahead += first;
        if (!h.ahead.empty() || h.gone) return true;
    } while (std::chrono::steady_clock::now() < deadline);
    return false;
}

int SerialPort::ReadSome(char* buffer, std::size_t size) {
    Handle& h = *handle_;
    std::size_t n = 0;
    {
        std::lock_guard lock(h.aheadMutex);
        n = std::min(size, h.ahead.size());
        std::memcpy(buffer, h.ahead.data(), n);
        h.ahead.erase(0, n);
        if (n == 0 && h.gone) return -1;
    }
    DWORD errors = 0;
    COMSTAT status{};
    if (!ClearCommError(h.port, &errors, &status)) return n > 0 ? static_cast<int>(n) : -1;
    // Only what is there already, so that the read cannot wait.
    const DWORD more = static_cast<DWORD>(std::min<std::size_t>(size - n, status.cbInQue));
    if (more == 0) return static_cast<int>(n);
    OVERLAPPED overlapped{};
    overlapped.hEvent = h.ioEvent;
    ResetEvent(overlapped.hEvent);
    DWORD got = 0;
    if (!ReadFile(h.port, buffer + n, more, &got, &overlapped)) {
        if (GetLastError() != ERROR_IO_PENDING || !Finish(h.port, overlapped, got)) {
            return n > 0 ? static_cast<int>(n) : -1;
        }
    }
    return static_cast<int>(n + got);
}

bool SerialPort::Write(const char* data, std::size_t size) {
    OVERLAPPED overlapped{};
    overlapped.hEvent = handle_->ioEvent;
    ResetEvent(overlapped.hEvent);
    DWORD sent = 0;
    if (!WriteFile(handle_->port, data, static_cast<DWORD>(size), &sent, &overlapped)) {
        if (GetLastError() != ERROR_IO_PENDING) return false;
        // The write time-out ends it: a port that takes nothing in 2 s is not dead for that.
        // Under Wine a write that ran out of time ends in ERROR_TIMEOUT; it is not dead either.
        if (!Finish(handle_->port, overlapped, sent)) return GetLastError() == ERROR_TIMEOUT;
    }
    return true;
}

void SerialPort::Flush(bool input, bool output) {
    if (input) {
        std::lock_guard lock(handle_->aheadMutex);
        handle_->ahead.clear();
        ++handle_->flushes;
    }
    DWORD flags = 0;
    if (input) flags |= PURGE_RXCLEAR;
    if (output) flags |= PURGE_TXCLEAR;
    if (flags != 0) PurgeComm(handle_->port, flags);
}

}  // namespace torvane
