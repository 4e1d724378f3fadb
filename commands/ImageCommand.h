#pragma once

// kv9000 --image FILE.kvarc -o IMAGE.bin: the whole 0x42000-byte image of an archive file of any
// format version (or a raw image), checked by its SHA-256, written for scripts and other tools.
// Needs no application object and no display.
//
// Answers: exit 0 with nothing printed when the image is written whole (a temporary file renamed
// into place, so that a failure leaves no half file). Exit 1 with one line on standard error
// naming the cause: the archive file does not read (its own cause: damaged, truncated, checksum),
// or the output would destroy the archive file itself or a kept archive, or cannot be written.

#include "CommandLine.h"

int AnswerImageCommand(const CommandLine& line);
