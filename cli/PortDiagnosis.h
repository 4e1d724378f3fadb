#pragma once

// kv9000 --diagnose: the port doctor's table as plain text on standard output, so that a user on
// the phone with support can send it. Uses the program's settings file for the "Ports" section
// and the speed, asks every port this user can open for the identification text.

// Prints the table; the exit code (always 0: a machine without ports is an answer too).
int PrintPortDiagnosis();
