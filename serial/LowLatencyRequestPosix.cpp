// RequestLowLatency (LowLatency.h) on Linux: the serial driver's settings through ioctl.

#include "LowLatency.h"

#include <cerrno>
#include <linux/serial.h>
#include <sys/ioctl.h>

LowLatencyReport RequestLowLatency(int fd) {
    serial_struct settings{};
    if (fd < 0 || ioctl(fd, TIOCGSERIAL, &settings) != 0)
        return {LowLatencyOutcome::NotSerialPort, fd < 0 ? EBADF : errno};
    if (settings.flags & ASYNC_LOW_LATENCY)
        return {LowLatencyOutcome::AlreadySet, 0};
    settings.flags |= ASYNC_LOW_LATENCY;
    if (ioctl(fd, TIOCSSERIAL, &settings) != 0)
        return {LowLatencyOutcome::Refused, errno};
    return {LowLatencyOutcome::Applied, 0};
}
