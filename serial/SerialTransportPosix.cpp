// The serial port on POSIX systems, through Qt Serial Port.

#include "SerialTransport.h"

#include "LowLatency.h"
#include "OpenDevices.h"

#include <QSerialPort>

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
    port_.clearError();
    return Outcome(port_.clear(QSerialPort::Input));
}

TransportResult PosixSerialTransport::Write(std::span<const std::uint8_t> bytes, int timeoutMs) {
    if (failed_)
        return TransportResult::Failed;
    port_.clearError();
    const auto size = static_cast<qint64>(bytes.size());
    if (port_.write(reinterpret_cast<const char*>(bytes.data()), size) != size)
        return Outcome(false);
    // Without an event loop the port's buffer drains only while we wait on it.
    while (port_.bytesToWrite() > 0)
        if (!port_.waitForBytesWritten(timeoutMs))
            return Outcome(false);
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
