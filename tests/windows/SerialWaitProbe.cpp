// Not a test by itself: shows how the system's serial driver keeps the three documented ways of
// waiting for bytes, against the simulator on COM1 (tools/windows-check.sh runs it under Wine).
// Each way sends a request for the serial number and times the wait for the answer:
//   time-outs   ReadFile of 64 bytes with the read time-outs MAXDWORD, MAXDWORD, 1000 ("return
//               as soon as bytes are there, else after 1000 ms");
//   one byte    the same with a read of one byte (what SerialTransportWindows.cpp does);
//   overlapped  an overlapped ReadFile of one byte, waiting on its event for at most 1000 ms;
//   comm event  WaitCommEvent(EV_RXCHAR), overlapped, waiting at most 1000 ms.
// One line each: "<way>: <ms> ms, <bytes> bytes[, error <n>]".
//
//   kv9000-serial-wait-probe [DEVICE]     (default \\.\COM1)

#include "FrameCodec.h"

#include <windows.h>

#include <cstdio>
#include <string>

namespace {

double NowMs() {
    LARGE_INTEGER frequency, count;
    QueryPerformanceFrequency(&frequency);
    QueryPerformanceCounter(&count);
    return 1000.0 * static_cast<double>(count.QuadPart) / static_cast<double>(frequency.QuadPart);
}

HANDLE OpenPort(const std::wstring& device, bool overlapped, const COMMTIMEOUTS& timeouts) {
    const HANDLE h = CreateFileW(device.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                                 OPEN_EXISTING, overlapped ? FILE_FLAG_OVERLAPPED : 0, nullptr);
    if (h == INVALID_HANDLE_VALUE)
        return h;
    DCB dcb{};
    dcb.DCBlength = sizeof dcb;
    GetCommState(h, &dcb);
    dcb.BaudRate = 115200;
    dcb.ByteSize = 8;
    dcb.Parity = NOPARITY;
    dcb.StopBits = ONESTOPBIT;
    dcb.fBinary = TRUE;
    SetCommState(h, &dcb);
    COMMTIMEOUTS t = timeouts;
    SetCommTimeouts(h, &t);
    PurgeComm(h, PURGE_RXCLEAR | PURGE_TXCLEAR);
    return h;
}

// Sends the request for the serial number (address 1, command 7) and waits for its end.
bool SendRequest(HANDLE h, HANDLE event) {
    const auto frame = kv::EncodeFrame(1, 7, {});
    OVERLAPPED o{};
    o.hEvent = event;
    DWORD written = 0;
    if (!WriteFile(h, frame.data(), static_cast<DWORD>(frame.size()), &written,
                   event ? &o : nullptr)) {
        if (GetLastError() != ERROR_IO_PENDING || !GetOverlappedResult(h, &o, &written, TRUE))
            return false;
    }
    return written == frame.size();
}

void Report(const char* way, double startMs, DWORD bytes, DWORD error) {
    std::printf("%s: %.1f ms, %lu bytes", way, NowMs() - startMs,
                static_cast<unsigned long>(bytes));
    if (error != 0)
        std::printf(", error %lu", static_cast<unsigned long>(error));
    std::printf("\n");
    std::fflush(stdout);
}

void WithTimeouts(const std::wstring& device, DWORD size) {
    const char* way = size == 1 ? "one byte" : "time-outs";
    COMMTIMEOUTS t{};
    t.ReadIntervalTimeout = MAXDWORD;
    t.ReadTotalTimeoutMultiplier = MAXDWORD;
    t.ReadTotalTimeoutConstant = 1000;
    const HANDLE h = OpenPort(device, false, t);
    if (h == INVALID_HANDLE_VALUE || !SendRequest(h, nullptr))
        return Report(way, NowMs(), 0, GetLastError());
    const double start = NowMs();
    char buffer[64];
    DWORD got = 0;
    const DWORD error = ReadFile(h, buffer, size, &got, nullptr) ? 0 : GetLastError();
    Report(way, start, got, error);
    CloseHandle(h);
}

void Overlapped(const std::wstring& device, bool commEvent) {
    const char* way = commEvent ? "comm event" : "overlapped";
    const HANDLE h = OpenPort(device, true, COMMTIMEOUTS{});
    const HANDLE event = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    if (h == INVALID_HANDLE_VALUE || !SendRequest(h, event))
        return Report(way, NowMs(), 0, GetLastError());
    const double start = NowMs();
    OVERLAPPED o{};
    o.hEvent = event;
    char first = 0;
    DWORD got = 0, mask = 0, error = 0;
    BOOL done = FALSE;
    if (commEvent) {
        SetCommMask(h, EV_RXCHAR);
        done = WaitCommEvent(h, &mask, &o);
    } else {
        done = ReadFile(h, &first, 1, &got, &o);
    }
    if (!done && (error = GetLastError()) == ERROR_IO_PENDING) {
        error = 0;
        if (WaitForSingleObject(event, 1000) != WAIT_OBJECT_0)
            CancelIoEx(h, &o);
        if (!GetOverlappedResult(h, &o, &got, TRUE))
            error = GetLastError();
    }
    if (commEvent && error == 0) {
        COMSTAT status{};
        DWORD errors = 0;
        ClearCommError(h, &errors, &status);
        got = (mask & EV_RXCHAR) ? status.cbInQue : 0;
    }
    Report(way, start, got, error);
    CloseHandle(event);
    CloseHandle(h);
}

} // namespace

int main(int argc, char* argv[]) {
    std::wstring device = L"\\\\.\\COM1";
    if (argc > 1) {
        const std::string narrow(argv[1]);
        device.assign(narrow.begin(), narrow.end());
    }
    WithTimeouts(device, 64);
    WithTimeouts(device, 1);
    Overlapped(device, false);
    Overlapped(device, true);
    return 0;
}
