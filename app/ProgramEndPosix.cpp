#include "ProgramEnd.h"

#include <cstdlib>

void EndProgram(int code) {
    std::exit(code);
}
