// The state a fleet row shows as the collection's news comes in: waiting, reading with its
// percentage, a later try named, then the outcome, which late news never overwrites.

#include "FleetWorker.h"

#include <gtest/gtest.h>

#include <functional>

namespace {

TEST(FleetRowStates, EachRowFollowsItsOwnTriesAndKeepsItsOutcome) {
    FleetResult failed;
    failed.cause = QStringLiteral("tcp://h:1: нет ответа");
    FleetResult whole;
    whole.outcome = FleetOutcome::Whole;
    whole.serialBefore = 500;
    const struct {
        std::function<void(FleetRowStates&)> news;
        QString row0, row1;
    } cases[] = {
        {[](FleetRowStates&) {}, QStringLiteral("ожидает"), QStringLiteral("ожидает")},
        {[](FleetRowStates& s) { s.Started(1, 1); }, QStringLiteral("ожидает"),
         QStringLiteral("читается 0%")},
        {[](FleetRowStates& s) {
             s.Started(0, 1);
             s.Blocks(0, 4223, 8448);
         },
         QStringLiteral("читается 49%"), QStringLiteral("ожидает")},
        {[](FleetRowStates& s) {
             s.Started(0, 1);
             s.Blocks(0, 10, 20);
             s.Started(0, 2);
         },
         QStringLiteral("попытка 2"), QStringLiteral("ожидает")},
        {[](FleetRowStates& s) {
             s.Started(0, 3);
             s.Blocks(0, 8448, 8448);
         },
         QStringLiteral("попытка 3, читается 100%"), QStringLiteral("ожидает")},
        {[&](FleetRowStates& s) {
             s.Finished(0, failed);
             s.Blocks(0, 1, 2);
             s.Started(7, 1);
         },
         QStringLiteral("failed: tcp://h:1: нет ответа"), QStringLiteral("ожидает")},
        {[&](FleetRowStates& s) {
             s.Blocks(1, 0, 0);
             s.Finished(1, whole);
         },
         QStringLiteral("ожидает"), QStringLiteral("whole; прежде на порту был регулятор 500")},
    };
    for (const auto& c : cases) {
        FleetRowStates states(2);
        c.news(states);
        EXPECT_EQ(states.Rows()[0].text, c.row0);
        EXPECT_EQ(states.Rows()[1].text, c.row1);
        EXPECT_EQ(states.Rows()[1].finished, states.Rows()[1].result.has_value());
    }
}

} // namespace
