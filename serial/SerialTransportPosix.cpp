// The serial port on POSIX systems, through Qt Serial Port, which opens, sets up and reads it; a
// request goes out on the port's own descriptor (see Write).

#include "SerialTransport.h"

#include "LowLatency.h"
#include "OpenDevices.h"

#include <QElapsedTimer>
#include <QSerialPort>

#include <cerrno>
#include <poll.h>
#include <sys/ioctl.h>
#include <unistd.h>

namespace {

class PosixSerialTransport final : public SerialTransport {
public:
    ~PosixSerialTransport() override;
    bool Open(const QString& device, std::int32_t speed) override;
    bool SetMode8N1() override;
    TransportResult DiscardInput() override;
    TransportResult Write(std::span<const std::uint8_t> bytes, int timeoutMs) override;
    TransportResult Read(std::vector<std::uint8_t>& into, int timeoutMs) override;

private:
    // The one place where the port's errors become the link's results. A failure is final: the
    // port stays failed so that later calls give up at once instead of waiting on a dead device.
    TransportResult Outcome(bool done);

    QSerialPort port_;
    QString device_; // noted as open here while the port is open
    bool failed_ = false;
};

} // namespace

PosixSerialTransport::~PosixSerialTransport() {
    if (!device_.isEmpty())
        NoteDeviceClosed(device_);
}

bool PosixSerialTransport::Open(const QString& device, std::int32_t speed) {
    port_.setPortName(device);
    if (!port_.open(QIODevice::ReadWrite))
        return false;
    if (speed <= 0 || !port_.setBaudRate(speed) || !SetMode8N1()) {
        port_.close();
        return false;
    }
    // A USB adapter otherwise holds every short answer for its latency timer. A port that
    // refuses (or a pseudo-terminal) works as before; the outcome is kept for the port doctor.
    RecordLowLatency(device, RequestLowLatency(port_.handle()));
    // The port doctor tells this program's own ports from those another program holds.
    if (device_.isEmpty()) {
        device_ = device;
        NoteDeviceOpened(device);
    }
    failed_ = false;
    return true;
}

bool PosixSerialTransport::SetMode8N1() {
    if (failed_ || !port_.isOpen())
        return false;
    return port_.setDataBits(QSerialPort::Data8) && port_.setParity(QSerialPort::NoParity) &&
           port_.setStopBits(QSerialPort::OneStop) &&
           port_.setFlowControl(QSerialPort::NoFlowControl);
}

TransportResult PosixSerialTransport::Outcome(bool done) {
    if (done)
        return TransportResult::Ok;
    switch (port_.error()) {
    case QSerialPort::NoError:
    case QSerialPort::TimeoutError:
        return TransportResult::TimedOut;
    default:
        // A vanished USB adapter or a pseudo-terminal whose other end closed: the read finds
        // the line hung up and fails at once, every time. Remember it.
        failed_ = true;
        return TransportResult::Failed;
    }
}

TransportResult PosixSerialTransport::DiscardInput() {
    if (failed_)
        return TransportResult::Failed;
    // Flushed only when something waits to be thrown away. Right after an answer was read, the
    // kernel worker that delivered it is often still finishing, and a flush of the terminal's
    // input waits for it: a sleep and a wake-up before every request of a download (measured on
    // a paced pseudo-terminal: about 1.3 % of the line time). Asking how much waits does not.
    int waiting = 0;
    if (port_.bytesAvailable() == 0 &&
        ::ioctl(static_cast<int>(port_.handle()), FIONREAD, &waiting) == 0 && waiting == 0)
        return TransportResult::Ok;
    port_.clearError();
    return Outcome(port_.clear(QSerialPort::Input));
}

TransportResult PosixSerialTransport::Write(std::span<const std::uint8_t> bytes, int timeoutMs) {
    if (failed_ || !port_.isOpen())
        return TransportResult::Failed;
    // Written on the port's own descriptor: the toolkit's write first polls the terminal for
    // room, and that poll waits for the kernel worker as the flush above does (measured: as much
    // again). A request fits the port's output buffer: one write, without a wait.
    const int fd = static_cast<int>(port_.handle());
    QElapsedTimer clock;
    clock.start();
    while (!bytes.empty()) {
        const ssize_t n = ::write(fd, bytes.data(), bytes.size());
        if (n > 0) {
            bytes = bytes.subspan(static_cast<std::size_t>(n));
            continue;
        }
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0 && errno != EAGAIN && errno != EWOULDBLOCK) {
            failed_ = true; // a vanished adapter, a pseudo-terminal whose other end closed
            return TransportResult::Failed;
        }
        pollfd room{fd, POLLOUT, 0};
        const int left = static_cast<int>(timeoutMs - clock.elapsed());
        if (left <= 0 || (::poll(&room, 1, left) == 0))
            return TransportResult::TimedOut;
    }
    return TransportResult::Ok;
}

TransportResult PosixSerialTransport::Read(std::vector<std::uint8_t>& into, int timeoutMs) {
    if (failed_)
        return TransportResult::Failed;
    port_.clearError();
    if (port_.bytesAvailable() == 0 && !port_.waitForReadyRead(timeoutMs))
        return Outcome(false);
    const QByteArray data = port_.readAll();
    if (data.isEmpty())
        return Outcome(false);
    into.insert(into.end(), data.begin(), data.end());
    return TransportResult::Ok;
}

std::unique_ptr<SerialTransport> MakeSerialTransport() {
    return std::make_unique<PosixSerialTransport>();
}
