#pragma once

// The modal dialogs the window asks the user through: message boxes, the input box and the save
// dialog. The window talks to them only through this interface, so that window tests can answer
// them from a script instead of blocking on a real dialog.

#include <QString>

#include <memory>
#include <optional>

class QWidget;

enum class MessageIcon { None, Information, Warning, Error, Question };

// Buttons of a message box, combined with |; a message box returns the one pressed.
enum MessageButton : int {
    MbOk = 1,
    MbCancel = 2,
    MbYes = 4,
    MbNo = 8,
};

// The settings of the window's save dialog. The object lives as long as the window, so the
// dialog opens with the name chosen the last time.
struct FileSaveDialog {
    QString DefaultExt;          // e.g. "*.txt": added when the user types a name without one
    QString Filter;              // "description|pattern|description|pattern..."
    bool OverwritePrompt = true; // ask before replacing an existing file
    QString FileName;            // the last name chosen; the dialog starts with it
};

class UserDialogs {
public:
    virtual ~UserDialogs() = default;

    // A modal message box; returns the button pressed (one of those given).
    virtual int ShowMessageBox(const QString& text, const QString& caption, MessageIcon icon,
                               int buttons) = 0;

    // A modal input box; the entered text, or nullopt when cancelled.
    virtual std::optional<QString> InputBox(const QString& caption, const QString& prompt,
                                            const QString& defaultText) = 0;

    // Runs the save dialog modally. On acceptance stores the chosen path in dialog.FileName and
    // returns true; on cancel returns false and leaves dialog untouched.
    virtual bool ExecuteSave(FileSaveDialog& dialog) = 0;

    // Runs an open dialog for one existing file with the same settings (OverwritePrompt
    // unused). On acceptance stores the chosen path in dialog.FileName and returns true. The
    // default answers as cancelled, for stand-ins that never open a file.
    virtual bool ExecuteOpen(FileSaveDialog& dialog) {
        (void)dialog;
        return false;
    }
};

// The real dialogs, modal to parent.
std::shared_ptr<UserDialogs> MakeQtUserDialogs(QWidget* parent);
