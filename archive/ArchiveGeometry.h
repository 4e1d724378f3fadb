#pragma once

// How the controller's data flash is laid out. The archive is always 0x42000 bytes; it is divided
// into ChannelCount equal channel blocks, channel 1 first. Each channel block holds its data
// records of 32 bytes from its start, then a settings area of 4 settings blocks of 32 bytes.

constexpr int ArchiveSize = 0x42000;  // bytes of the whole archive (270,336)
constexpr int SettingsAreaSize = 128; // bytes of settings at the end of each channel block
constexpr int ArchiveRecordSize = 32; // bytes of one data record or settings block
constexpr int SettingsBlockCount = SettingsAreaSize / ArchiveRecordSize; // 4 per channel
constexpr int MaxChannelCount = 2;

struct ArchiveGeometry {
    int channelBlockSize = 0; // archive bytes per channel
    int recordAreaSize = 0;   // channelBlockSize minus the settings area
    int recordCount = 0;      // data records per channel
};

// The geometry of a controller with one or two channels: 0x42000 / 0x41F80 / 8444 for one,
// 0x21000 / 0x20F80 / 4220 for two. Any other count (0 while no controller is known) gives zeros.
ArchiveGeometry GeometryFor(int channelCount);
