#include "SerialTransport.h"

#include <windows.h>

#include <algorithm>

namespace {

HANDLE Handle(void* handle) {
    return static_cast<HANDLE>(handle);
}

} // namespace

SerialTransport::~SerialTransport() {
    Close();
}

void SerialTransport::Close() {
    if (handle_)
        CloseHandle(Handle(handle_));
    handle_ = nullptr;
    timeoutsFor_ = -1;
}

bool SerialTransport::Open(const QString& device, std::int32_t speed) {
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
    SetupComm(h, 4096, 4096);
    if (!SetMode8N1()) {
        Close();
        return false;
    }
    PurgeComm(h, PURGE_RXCLEAR | PURGE_TXCLEAR);
    return true;
}

bool SerialTransport::SetMode8N1() {
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

bool SerialTransport::UseTimeouts(bool reading, int timeoutMs) {
    const int ms = std::max(timeoutMs, 0);
    const int key = reading ? -2 - ms : ms;
    if (key == timeoutsFor_)
        return true;
    COMMTIMEOUTS t{};
    if (reading) {
        // Return at once with what has arrived; with nothing, wait for the first byte at most ms.
        t.ReadIntervalTimeout = MAXDWORD;
        t.ReadTotalTimeoutMultiplier = MAXDWORD;
        t.ReadTotalTimeoutConstant = static_cast<DWORD>(std::max(ms, 1));
    } else {
        t.WriteTotalTimeoutConstant = static_cast<DWORD>(std::max(ms, 1));
    }
    if (!SetCommTimeouts(Handle(handle_), &t))
        return false;
    timeoutsFor_ = key;
    return true;
}

TransportResult SerialTransport::Fail() {
    failed_ = true;
    return TransportResult::Failed;
}

TransportResult SerialTransport::DiscardInput() {
    if (failed_ || !handle_)
        return TransportResult::Failed;
    return PurgeComm(Handle(handle_), PURGE_RXCLEAR | PURGE_RXABORT) ? TransportResult::Ok : Fail();
}

TransportResult SerialTransport::Write(std::span<const std::uint8_t> bytes, int timeoutMs) {
    if (failed_ || !handle_)
        return TransportResult::Failed;
    if (!UseTimeouts(false, timeoutMs))
        return Fail();
    DWORD written = 0;
    if (!WriteFile(Handle(handle_), bytes.data(), static_cast<DWORD>(bytes.size()), &written,
                   nullptr))
        return Fail(); // a vanished adapter: every later call would fail the same way
    return written == bytes.size() ? TransportResult::Ok : TransportResult::TimedOut;
}

TransportResult SerialTransport::Read(std::vector<std::uint8_t>& into, int timeoutMs) {
    if (failed_ || !handle_)
        return TransportResult::Failed;
    if (!UseTimeouts(true, timeoutMs))
        return Fail();
    std::uint8_t buffer[4096];
    DWORD got = 0;
    if (!ReadFile(Handle(handle_), buffer, sizeof buffer, &got, nullptr))
        return Fail();
    if (got == 0)
        return TransportResult::TimedOut;
    into.insert(into.end(), buffer, buffer + got);
    return TransportResult::Ok;
}
