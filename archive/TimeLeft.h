#pragma once

// The time a download still needs, estimated from its rate so far.

#include <QString>

#include <optional>

// Seconds left, rounded up, for done of total units after elapsedSeconds; nullopt while too
// little is done to tell (nothing done, or less than half a second gone).
std::optional<int> EstimateSecondsLeft(long long done, long long total, double elapsedSeconds);

// "осталось 1:05" (minutes and seconds), "осталось 1:02:05" from an hour on.
QString FormatTimeLeft(int seconds);
