// A collection of eight simulated controllers while the window's port map changes (the port
// doctor gives numbers anew): the collection reads through its own copy of the map, so every
// controller is kept whole from the line it was listed on. Built with ThreadSanitizer
// (tools/tsan.sh) the same run shows that no two threads touch one map.

#include "ArchiveFile.h"
#include "FleetCollection.h"
#include "FrameLink.h"
#include "MappedPorts.h"
#include "SimProcess.h"
#include "TestQtApp.h"

#include <QTemporaryDir>

#include <atomic>
#include <memory>
#include <thread>

#include <gtest/gtest.h>

namespace {

TEST(FleetThreads, ACollectionReadsOnWhileTheWindowsPortMapChanges) {
    EnsureQtCoreApp();
    constexpr int kControllers = 8;
    std::vector<std::unique_ptr<SimProcess>> sims;
    std::map<int, QString> lines;
    std::vector<FleetEntry> entries;
    for (int i = 0; i < kControllers; ++i) {
        sims.push_back(std::make_unique<SimProcess>(
            QStringList{QStringLiteral("--channels"), QStringLiteral("1"),
                        QStringLiteral("--serial"), QString::number(700 + i)}));
        ASSERT_TRUE(sims.back()->Running());
        lines[i + 1] = sims.back()->Device();
        entries.push_back({i + 2, QStringLiteral("COM%1").arg(i + 1), 1, {}});
    }
    QTemporaryDir dir;
    FleetOptions options;
    options.ports = MappedPorts(lines);
    options.archivesFolder = dir.path();
    options.jobs = kControllers;

    // The window's link, renumbered over and over while the collection runs.
    FrameLink window(MappedPorts(lines));
    std::atomic<bool> done{false};
    std::thread doctor([&] {
        for (int turn = 1; !done; ++turn) {
            std::map<int, QString> moved;
            for (const auto& [n, device] : lines)
                moved[(n + turn) % kControllers + 1] = device;
            window.SetPortMap(MappedPorts(moved));
            std::this_thread::yield();
        }
    });
    const std::vector<FleetResult> results = CollectFleet(entries, options);
    done = true;
    doctor.join();

    ASSERT_EQ(results.size(), entries.size());
    for (int i = 0; i < kControllers; ++i) {
        const FleetResult& result = results[static_cast<std::size_t>(i)];
        ASSERT_EQ(result.outcome, FleetOutcome::Whole) << result.cause.toStdString();
        EXPECT_EQ(result.serial, std::optional<std::uint16_t>(700 + i));
        const ArchiveFileReadResult kept = ReadArchiveFile(result.file);
        ASSERT_TRUE(kept.contents) << kept.error.toStdString();
        EXPECT_EQ(kept.contents->port, QStringLiteral("COM%1").arg(i + 1));
    }
}

} // namespace
