#pragma once

// Every threshold of the findings, in one table. docs/report.md gives the reason for each; a
// change here is a change there.

struct FindingRules {
    // sensor-missing: a temperature at -3000 for longer than this many logging intervals.
    double missingIntervals = 2.0;
    // sensor-stuck: a measured temperature unchanged to the tenth for at least this long...
    double stuckHours = 24.0;
    // ...while another measured temperature moved over at least this range (degrees).
    double stuckOthersMoved = 1.0;
    // return-above-supply: "Тобр" above "Тпод" by more than this margin (degrees)...
    double returnAboveMargin = 0.5;
    // ...for at least this long.
    double returnAboveHours = 2.0;
    // off-curve: "Тпод" away from "Тграф" by more than this (degrees)...
    double offCurveDegrees = 10.0;
    // ...for at least this long.
    double offCurveHours = 3.0;
    // log-gap: a step between neighbouring records longer than this many logging intervals
    // (more than two intervals' records missing). The charts break their lines at the same step.
    double gapIntervals = 3.0;
    // clock-jump: a record time later than the download by more than this (hours).
    double clockAheadHours = 2.0;
    // relay-cycling: a relay bit that changes between at least this share of neighbouring
    // records...
    double relayChangeShare = 0.85;
    // ...over a window of this length (hours).
    double relayWindowHours = 24.0;
};

// The table the program uses.
inline constexpr FindingRules kFindingRules{};
