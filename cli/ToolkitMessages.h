#pragma once

// The answers given without a window print only the program's own lines: Qt's own messages (a
// platform's "XDG_RUNTIME_DIR not set", a database driver's "QSqlQuery::prepare: database not
// open") would mix with them on standard error, where scripts read the program's causes.

// From now on, Qt's debug, information, warning and critical messages are dropped; a fatal one
// still ends the program, after one line "kv9000: внутренняя ошибка: ..." on standard error.
// Install before the first application object of a command-line mode.
void KeepToolkitMessagesOffConsole();
