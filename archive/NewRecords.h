#pragma once

// Reading only what changed since an earlier complete download of the same controller. The
// controller has no write pointer, so it is found from the records: each channel's data records
// form a ring written in time order, and a record, once written, changes only when the ring comes
// round to it again (the assumption docs/archive-file.md states beside the blocks-read field).
//
// For each channel the earlier download's newest record is the start. A binary search over the
// slots after it, reading the controller's blocks, finds the newest record written since (an
// erased slot, a power-cut gap or the erased sector ahead of the write position is judged by the
// first written record after it). Then every block written since is read, the erased stretch
// ahead of the write position up to the first record that is as it was, and the settings areas.
// What was not read is checked: the earlier newest record and the one before it, the ring's
// first and last slot and a random sample of other record blocks must be as the earlier download
// holds them. The image is the earlier one with every block read put in.
//
// Any doubt gives no image but its cause in one line (the caller then reads the whole archive):
// an earlier channel without records, a record after the earlier newest one that is older than it
// (a clock set back, another controller), times that go back within what was written since, a
// gap longer than the ring holds, a block outside what was written since that is not as it was.

#include "ArchiveGeometry.h"

#include <QByteArray>
#include <QString>

#include <cstdint>
#include <functional>
#include <optional>

constexpr int ArchiveBlockCount = ArchiveSize / ArchiveRecordSize; // 8,448 blocks of 32 bytes
constexpr int NewRecordsSampleSize = 64; // blocks not read that are compared with the earlier ones

// Reads block number block (0 .. ArchiveBlockCount - 1) from the controller: its 32 bytes, or
// nothing when the run failed (the reader keeps the cause). Each block is asked for once.
using ArchiveBlockReader = std::function<std::optional<QByteArray>(int block)>;

struct NewRecordsHooks {
    ArchiveBlockReader read;                  // required
    std::function<void(int total)> onPlanned; // the blocks the run will read in all, when known
};

struct NewRecordsRead {
    bool failed = false; // the reader failed: nothing else is set
    QString doubt;       // why the whole archive must be read; empty when image is set
    QByteArray image;    // the controller's whole archive as a whole download would give it
    int blocksRead = 0;  // distinct blocks asked from the controller
};

// Runs the read against earlier, a complete image of the same controller with channelCount
// channels (1 or 2). sampleSeed chooses the sample of blocks checked.
NewRecordsRead ReadNewRecords(const QByteArray& earlier, int channelCount,
                              const NewRecordsHooks& hooks, std::uint64_t sampleSeed);
