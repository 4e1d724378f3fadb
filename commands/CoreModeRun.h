#pragma once

// A command-line mode that talks to controllers, on a core application object (no window): the
// controller's texts need Windows-1251, checked first, and a cause thrown on the way (settings
// that cannot be read) ends the mode with that cause. fail says a cause and gives the exit code.

#include <QString>

#include <functional>

int RunCoreMode(int& argc, char** argv, const std::function<int()>& mode,
                const std::function<int(const QString&)>& fail);
