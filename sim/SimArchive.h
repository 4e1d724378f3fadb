#pragma once

// The controller's data flash as the simulator serves it: 0x42000 bytes, split into one or two
// equal channel blocks, each holding 32-byte data records followed by four 32-byte settings
// blocks.

#include <QByteArray>

#include <cstdint>

namespace sim {

constexpr int kArchiveSize = 0x42000;
constexpr int kRecordSize = 32;
constexpr int kSettingsBlocks = 4;

inline int ChannelBlockSize(int channels) {
    return kArchiveSize / channels;
}
inline int RecordsPerChannel(int channels) {
    return (ChannelBlockSize(channels) - kSettingsBlocks * kRecordSize) / kRecordSize;
}

// A plausible archive for a controller with the given channel count (1 or 2), the same for the
// same seed. Each channel is a ring of half-hourly records: the newest lap from the start of the
// block, an erased 4 KB sector (bytes FF) ahead of the write position, then the older lap. Supply
// and return temperatures follow the outdoor temperature through a heating curve; a short power
// cut leaves a few erased records, and a failed room sensor and one outdoor reading show -3000.
// Every channel ends with four valid settings blocks. A clean archive has no power cut and no
// -3000 values: only the faults planted into it later.
QByteArray GenerateArchive(int channels, std::uint32_t seed = 9000, bool clean = false);

} // namespace sim
