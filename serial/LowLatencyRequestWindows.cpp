// RequestLowLatency (LowLatency.h) on Windows: the port is opened by its COM name, never as a
// descriptor, and the adapter's latency is the driver's setting in the system's device manager.
// The serial transport there never asks; an answer is still defined for any caller.

#include "LowLatency.h"

LowLatencyReport RequestLowLatency(int) {
    return {LowLatencyOutcome::NotSerialPort, 0};
}
