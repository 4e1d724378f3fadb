// The serial port on Windows ("\\.\COM3"), through the system's own communication functions,
// used blocking like its POSIX neighbour. A read waits in the driver, never in a poll: with the
// read time-outs MAXDWORD, MAXDWORD, T a read returns the bytes there are at once, or else the
// first byte as it arrives, or nothing after T.

#include "SerialTransport.h"

#include "OpenDevices.h"

#include <windows.h>

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
    // Sets a read to wait at most readTimeoutMs for its first byte and a write to give up after
    // writeTimeoutMs (1 ms at least each), skipping the call when these are in force already.
    bool UseTimeouts(int readTimeoutMs, int writeTimeoutMs);
    // Appends up to `want` bytes (at most 4096) read with the time-outs in force: the number
    // read, or -1 when the device failed.
    long ReadUpTo(std::vector<std::uint8_t>& into, DWORD want);
    // A failure is final: the port stays failed so that later calls give up at once instead of
    // waiting on a dead device.
    TransportResult Fail();
    void Close();

    HANDLE handle_ = nullptr; // the port's handle; null when closed
    QString device_;          // the device open, for the port doctor (OpenDevices.h)
    std::int32_t speed_ = 0;
    int readTimeout_ = -1;  // the read time-out in force, -1 for none yet
    int writeTimeout_ = -1; // the write time-out in force, -1 for none yet
    bool failed_ = false;
};

} // namespace

WindowsSerialTransport::~WindowsSerialTransport() {
    Close();
}

void WindowsSerialTransport::Close() {
    if (handle_) {
        CloseHandle(handle_);
        NoteDeviceClosed(device_);
    }
    handle_ = nullptr;
    readTimeout_ = -1;
    writeTimeout_ = -1;
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
    device_ = device;
    NoteDeviceOpened(device);
    speed_ = speed;
    SetupComm(h, 4096, 4096);
    if (!SetMode8N1() || !UseTimeouts(1, 1)) {
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
    if (!GetCommState(handle_, &dcb))
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
    return SetCommState(handle_, &dcb) != 0;
}

bool WindowsSerialTransport::UseTimeouts(int readTimeoutMs, int writeTimeoutMs) {
    // MAXDWORD as the constant would wait for ever.
    const int read = std::clamp(readTimeoutMs, 1, 24 * 3600 * 1000);
    const int write = std::max(writeTimeoutMs, 1);
    if (read == readTimeout_ && write == writeTimeout_)
        return true;
    COMMTIMEOUTS t{};
    t.ReadIntervalTimeout = MAXDWORD;
    t.ReadTotalTimeoutMultiplier = MAXDWORD;
    t.ReadTotalTimeoutConstant = static_cast<DWORD>(read);
    t.WriteTotalTimeoutConstant = static_cast<DWORD>(write);
    if (!SetCommTimeouts(handle_, &t))
        return false;
    readTimeout_ = read;
    writeTimeout_ = write;
    return true;
}

TransportResult WindowsSerialTransport::Fail() {
    failed_ = true;
    return TransportResult::Failed;
}

TransportResult WindowsSerialTransport::DiscardInput() {
    if (failed_ || !handle_)
        return TransportResult::Failed;
    return PurgeComm(handle_, PURGE_RXCLEAR | PURGE_RXABORT) ? TransportResult::Ok : Fail();
}

TransportResult WindowsSerialTransport::Write(std::span<const std::uint8_t> bytes, int timeoutMs) {
    if (failed_ || !handle_)
        return TransportResult::Failed;
    if (!UseTimeouts(readTimeout_, timeoutMs))
        return Fail();
    DWORD written = 0;
    if (!WriteFile(handle_, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr))
        return Fail(); // a vanished adapter: every later call would fail the same way
    return written == bytes.size() ? TransportResult::Ok : TransportResult::TimedOut;
}

long WindowsSerialTransport::ReadUpTo(std::vector<std::uint8_t>& into, DWORD want) {
    std::uint8_t buffer[4096];
    DWORD got = 0;
    if (!ReadFile(handle_, buffer, std::min<DWORD>(want, sizeof buffer), &got, nullptr))
        return -1;
    into.insert(into.end(), buffer, buffer + got);
    return static_cast<long>(got);
}

TransportResult WindowsSerialTransport::Read(std::vector<std::uint8_t>& into, int timeoutMs) {
    if (failed_ || !handle_)
        return TransportResult::Failed;
    if (!UseTimeouts(timeoutMs, writeTimeout_))
        return Fail();
    // One byte first: Wine keeps "return as soon as bytes are there" only for a read the first
    // byte fills (a longer one waits out the whole time there; see docs/platforms.md), and on
    // Windows it makes no difference. The rest of the answer is in the driver by then.
    const long first = ReadUpTo(into, 1);
    if (first < 0)
        return Fail(); // a vanished adapter
    if (first == 0)
        return TransportResult::TimedOut;
    DWORD errors = 0;
    COMSTAT status{};
    if (!ClearCommError(handle_, &errors, &status))
        return Fail();
    // Exactly what the driver holds: the read returns at once.
    if (status.cbInQue > 0 && ReadUpTo(into, status.cbInQue) < 0)
        return Fail();
    return TransportResult::Ok;
}

std::unique_ptr<SerialTransport> MakeSerialTransport() {
    return std::make_unique<WindowsSerialTransport>();
}
