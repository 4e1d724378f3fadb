#pragma once

// The toolkit's own texts in Russian: its dialogs' titles and buttons, the edit fields' context
// menus, the command line's headings and usage errors. The whole interface is Russian whatever
// the system's language, so the catalogue is built into the program and never chosen by locale.

// Installs the toolkit's Russian catalogue on the application object that exists (a console or a
// window one); it stays installed as long as that object lives. Call it once the object exists
// and before any dialog is shown or the command line is read; a second call changes nothing.
// Returns false when there is no application object or the built-in catalogue cannot be read.
bool InstallToolkitTranslation();
