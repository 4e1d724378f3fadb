#pragma once

// What every benchmark that starts the program or the simulator does first: find them beside
// itself unless KV_BIN_DIR says where, and read --paced-only / --unpaced-only.

#include <QCoreApplication>

#include <cstdlib>
#include <cstring>

struct PacedModes {
    bool unpaced = true;
    bool paced = true;
};

// Call once the application object exists.
inline PacedModes StartBench(int argc, char** argv) {
    if (!std::getenv("KV_BIN_DIR"))
        setenv("KV_BIN_DIR", QCoreApplication::applicationDirPath().toLocal8Bit().constData(), 1);
    PacedModes modes;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--paced-only") == 0)
            modes.unpaced = false;
        else if (std::strcmp(argv[i], "--unpaced-only") == 0)
            modes.paced = false;
    }
    return modes;
}
