// The serial port on Windows ("\\.\COM3"), through the system's own communication functions,
// used blocking like its POSIX neighbour.

#include "SerialTransport.h"

#include <windows.h>

#include <mmsystem.h>

#include <algorithm>

namespace {

class WindowsSerialTransport final : public SerialTransport {
public:
    WindowsSerialTransport() = default;
    ~WindowsSerialTransport() override;
    WindowsSerialTransport(const WindowsSerialTransport&) = delete;
    WindowsSerialTransport& operator=(const WindowsSerialTransport&) = delete;

    bool Open(const QString& device, std::int32_t speed) override;
    bool SetMode8N1() override;
    TransportResult DiscardInput() override;
    TransportResult Write(std::span<const std::uint8_t> bytes, int timeoutMs) override;
    TransportResult Read(std::vector<std::uint8_t>& into, int timeoutMs) override;

private:
    // Sets reads to return at once and writes to give up after writeTimeoutMs (1 at least),
    // skipping the call when these are in force already.
    bool UseTimeouts(int writeTimeoutMs);
    // A failure is final: the port stays failed so that later calls give up at once instead of
    // waiting on a dead device.
    TransportResult Fail();
    void Close();

    void* handle_ = nullptr; // the port's handle; null when closed
    std::int32_t speed_ = 0;
    int timeoutsFor_ = -1; // the write time-out in force, -1 for none yet
    bool failed_ = false;
};

} // namespace

namespace {

HANDLE Handle(void* handle) {
    return static_cast<HANDLE>(handle);
}

} // namespace

WindowsSerialTransport::~WindowsSerialTransport() {
    Close();
}

void WindowsSerialTransport::Close() {
    if (handle_) {
        CloseHandle(Handle(handle_));
        timeEndPeriod(1);
    }
    handle_ = nullptr;
    timeoutsFor_ = -1;
}

bool WindowsSerialTransport::Open(const QString& device, std::int32_t speed) {
    Close();
    failed_ = false;
    if (speed <= 0)
        return false;
    // No sharing: a port another program holds fails here, as it does on the other platforms.
    const HANDLE h =
        CreateFileW(reinterpret_cast<LPCWSTR>(device.utf16()), GENERIC_READ | GENERIC_WRITE, 0,
                    nullptr, OPEN_EXISTING, 0, nullptr);
    if (h == INVALID_HANDLE_VALUE)
        return false;
    handle_ = h;
    speed_ = speed;
    // Read polls the driver every millisecond: ask for the system's finest timer while open.
    timeBeginPeriod(1);
    SetupComm(h, 4096, 4096);
    if (!SetMode8N1() || !UseTimeouts(1)) {
        Close();
        return false;
    }
    PurgeComm(h, PURGE_RXCLEAR | PURGE_TXCLEAR);
    return true;
}

bool WindowsSerialTransport::SetMode8N1() {
    if (failed_ || !handle_)
        return false;
    DCB dcb{};
    dcb.DCBlength = sizeof dcb;
    if (!GetCommState(Handle(handle_), &dcb))
        return false;
    dcb.BaudRate = static_cast<DWORD>(speed_);
    dcb.fBinary = TRUE;
    dcb.ByteSize = 8;
    dcb.Parity = NOPARITY;
    dcb.fParity = FALSE;
    dcb.StopBits = ONESTOPBIT;
    dcb.fOutxCtsFlow = FALSE;
    dcb.fOutxDsrFlow = FALSE;
    dcb.fDtrControl = DTR_CONTROL_ENABLE;
    dcb.fRtsControl = RTS_CONTROL_ENABLE;
    dcb.fDsrSensitivity = FALSE;
    dcb.fOutX = FALSE;
    dcb.fInX = FALSE;
    dcb.fNull = FALSE;
    dcb.fErrorChar = FALSE;
    // A framing error must not abort the reads that follow: the frame's check catches it.
    dcb.fAbortOnError = FALSE;
    return SetCommState(Handle(handle_), &dcb) != 0;
}

bool WindowsSerialTransport::UseTimeouts(int writeTimeoutMs) {
    const int ms = std::max(writeTimeoutMs, 1);
    if (ms == timeoutsFor_)
        return true;
    // Reads return at once with what the driver holds (Read waits for bytes itself, see there);
    // a write gives up after ms.
    COMMTIMEOUTS t{};
    t.ReadIntervalTimeout = MAXDWORD;
    t.WriteTotalTimeoutConstant = static_cast<DWORD>(ms);
    if (!SetCommTimeouts(Handle(handle_), &t))
        return false;
    timeoutsFor_ = ms;
    return true;
}

TransportResult WindowsSerialTransport::Fail() {
    failed_ = true;
    return TransportResult::Failed;
}

TransportResult WindowsSerialTransport::DiscardInput() {
    if (failed_ || !handle_)
        return TransportResult::Failed;
    return PurgeComm(Handle(handle_), PURGE_RXCLEAR | PURGE_RXABORT) ? TransportResult::Ok : Fail();
}

TransportResult WindowsSerialTransport::Write(std::span<const std::uint8_t> bytes, int timeoutMs) {
    if (failed_ || !handle_)
        return TransportResult::Failed;
    if (!UseTimeouts(timeoutMs))
        return Fail();
    DWORD written = 0;
    if (!WriteFile(Handle(handle_), bytes.data(), static_cast<DWORD>(bytes.size()), &written,
                   nullptr))
        return Fail(); // a vanished adapter: every later call would fail the same way
    return written == bytes.size() ? TransportResult::Ok : TransportResult::TimedOut;
}

TransportResult WindowsSerialTransport::Read(std::vector<std::uint8_t>& into, int timeoutMs) {
    if (failed_ || !handle_)
        return TransportResult::Failed;
    // The driver is asked how many bytes it holds, every millisecond until some arrive or the
    // time is up: a blocking read with a total time-out would wait out the whole time under
    // some drivers (Wine's among them) even when the answer came at once.
    const ULONGLONG deadline = GetTickCount64() + static_cast<ULONGLONG>(std::max(timeoutMs, 0));
    for (;;) {
        DWORD errors = 0;
        COMSTAT status{};
        if (!ClearCommError(Handle(handle_), &errors, &status))
            return Fail(); // a vanished adapter
        if (status.cbInQue > 0) {
            std::uint8_t buffer[4096];
            DWORD got = 0;
            const DWORD want = std::min<DWORD>(status.cbInQue, sizeof buffer);
            if (!ReadFile(Handle(handle_), buffer, want, &got, nullptr))
                return Fail();
            into.insert(into.end(), buffer, buffer + got);
            return got > 0 ? TransportResult::Ok : TransportResult::TimedOut;
        }
        if (GetTickCount64() >= deadline)
            return TransportResult::TimedOut;
        Sleep(1);
    }
}

std::unique_ptr<SerialTransport> MakeSerialTransport() {
    return std::make_unique<WindowsSerialTransport>();
}
