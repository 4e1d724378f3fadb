#pragma once

// How a kept download says how much of it came from the controller: "прочитано 2 912 блоков из
// 8 448" for a read of only the new records (digits grouped in threes with a space, the noun
// agreeing with the number), nothing for a whole download. One text for the status bar, the
// command line, the library window and the report.

#include <QString>

#include <optional>

// Empty when blocksRead is nullopt (the whole archive was read).
QString BlocksReadText(std::optional<int> blocksRead);
