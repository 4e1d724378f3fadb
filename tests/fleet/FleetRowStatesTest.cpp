// The state a fleet row shows as the collection's news comes in: a later try named with its
// reading's percentage, and the outcome, which late news never overwrites.

#include "FleetWorker.h"

#include <gtest/gtest.h>

TEST(FleetRowStates, ARowNamesItsTryAndKeepsItsOutcome) {
    FleetRowStates states(3);
    states.Started(0, 1);
    states.Blocks(0, 4223, 8448);
    states.Started(1, 3);
    states.Blocks(1, 8448, 8448);
    FleetResult failed;
    failed.cause = QStringLiteral("tcp://h:1: нет ответа");
    states.Finished(2, failed);
    states.Blocks(2, 1, 2); // news after the end changes nothing
    states.Started(7, 1);   // not a row: nothing changes
    QStringList shown;
    for (const FleetRowState& row : states.Rows())
        shown << row.text;
    EXPECT_EQ(shown, QStringList({QStringLiteral("читается 49%"),
                                  QStringLiteral("попытка 3, читается 100%"),
                                  QStringLiteral("не собран: tcp://h:1: нет ответа")}));
}
