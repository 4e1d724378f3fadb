#pragma once

// Cuts a fuzz input into the chunks a serial line might deliver it in. The first byte chooses
// the chunking, the rest are the line's bytes, so the fuzzer varies both and every input replays
// the same way.

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

inline std::vector<std::span<const std::uint8_t>> InputChunks(const std::uint8_t* data,
                                                              std::size_t size) {
    std::vector<std::span<const std::uint8_t>> chunks;
    if (size == 0)
        return chunks;
    const std::uint8_t control = data[0];
    const std::span<const std::uint8_t> line(data + 1, size - 1);
    // Chunk sizes from 1 to maxChunk, from a small generator seeded by the control byte.
    const std::size_t maxChunk = (control & 0x3F) + 1u;
    std::uint32_t state = control * 2654435761u + 1u;
    for (std::size_t at = 0; at < line.size();) {
        state ^= state << 13;
        state ^= state >> 17;
        state ^= state << 5;
        const std::size_t n = std::min<std::size_t>(1 + state % maxChunk, line.size() - at);
        chunks.push_back(line.subspan(at, n));
        at += n;
    }
    return chunks;
}
