#pragma once

// The library of every visit in the main window: "Файл" → "Библиотека архивов" (Ctrl+L), the
// archives folder indexed at start, and each kept download added (and synced when a server is
// set) as it is saved, all off the window's thread. A build without the library adds nothing.

class TMainForm;

void AddLibraryMenu(TMainForm& form);
