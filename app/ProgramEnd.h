#pragma once
// The program's last step, once everything of its own is closed and written (the windows, the
// application object, the files): the process ends with code.
//
// On Windows it ends without the C runtime's exit handlers. There the toolkit's and the C++
// runtime's own static objects, torn down after threads that used them (the library's workers,
// the toolkit's image threads), can deadlock in MinGW's thread library: the window closes and
// the process stays. Nothing of the program's is left to them.
[[noreturn]] void EndProgram(int code);
