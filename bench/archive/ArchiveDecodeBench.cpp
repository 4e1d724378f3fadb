// Prints how long decoding a full archive image into the grids takes, for one and two channels,
// and the process's resident memory once both channels' grids are full.

#include "ArchiveDecoder.h"
#include "ArchiveGeometry.h"
#include "ArchiveImageBuilder.h"
#include "ProcessMemory.h"
#include "TextGrid.h"

#include <QFile>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <memory>
#include <vector>

namespace {

// Every record and settings block valid: the most text the decoder can produce.
QByteArray AllValidImage(int channels) {
    QByteArray image = testimage::ErasedImage();
    const ArchiveGeometry geo = GeometryFor(channels);
    for (int ch = 0; ch < channels; ++ch) {
        const int base = ch * geo.channelBlockSize;
        for (int i = 0; i < geo.recordCount; ++i)
            testimage::Place(image, base + 32 * i,
                             testimage::Encode(testimage::SampleRecord(i + ch * 10000)));
        for (int j = 0; j < SettingsBlockCount; ++j)
            testimage::Place(image, base + geo.recordAreaSize + 32 * j,
                             testimage::Encode(testimage::SampleSettings(j)));
    }
    return image;
}

struct WindowGrids {
    // As the window creates them: data grids 4220 rows, settings grids 5.
    TextGrid g1{DataGridColumns, 4220}, g2{SettingsGridColumns, 5};
    TextGrid g3{DataGridColumns, 4220}, g4{SettingsGridColumns, 5};
    std::array<TextGrid*, 4> All() { return {&g1, &g2, &g3, &g4}; }
};

void TimeDecode(int channels, int runs) {
    const QByteArray image = AllValidImage(channels);
    const int records = GeometryFor(channels).recordCount;
    std::vector<double> ms;
    for (int i = 0; i < runs; ++i) {
        auto grids = std::make_unique<WindowGrids>();
        const auto t0 = std::chrono::steady_clock::now();
        DecodeArchive(image, channels, records, grids->All());
        const auto t1 = std::chrono::steady_clock::now();
        ms.push_back(std::chrono::duration<double, std::milli>(t1 - t0).count());
        grids.reset(); // freeing the texts is not part of decoding
    }
    std::sort(ms.begin(), ms.end());
    std::printf("decode %d channel(s), %d records each, %d runs: min %.2f ms, median %.2f ms, "
                "max %.2f ms (target <= 40 ms)\n",
                channels, records, runs, ms.front(), ms[ms.size() / 2], ms.back());
}

} // namespace

int main() {
    const long baseKb = VmRssKb();
    TimeDecode(1, 25);
    TimeDecode(2, 25);

    // Both channels' grids full as the window can hold them: channel 1 from a one-channel
    // download (8445 rows), channel 2 from a two-channel one (4221 rows).
    const long beforeKb = VmRssKb();
    WindowGrids window;
    {
        const QByteArray one = AllValidImage(1);
        DecodeArchive(one, 1, GeometryFor(1).recordCount, window.All());
    }
    {
        const QByteArray two = AllValidImage(2);
        TextGrid scratch1(DataGridColumns, 4220), scratch2(SettingsGridColumns, 5);
        DecodeArchive(two, 2, GeometryFor(2).recordCount,
                      {&scratch1, &scratch2, &window.g3, &window.g4});
    }
    const long fullKb = VmRssKb();
    std::printf("grids full (%d + %d data rows): VmRSS %ld kB (process start %ld kB, "
                "before filling %ld kB; target <= 80 MB)\n",
                window.g1.RowCount(), window.g3.RowCount(), fullKb, baseKb, beforeKb);
    return 0;
}
