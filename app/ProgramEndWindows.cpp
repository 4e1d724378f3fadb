#include "ProgramEnd.h"

#include <cstdio>
#include <cstdlib>

void EndProgram(int code) {
    std::fflush(nullptr);
    std::_Exit(code);
}
