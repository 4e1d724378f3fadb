#pragma once

// Dialogs for the window benchmarks: message boxes are counted and remembered (and echoed on
// standard error unless told otherwise) instead of shown; input boxes and file dialogs cancel.

#include "UserDialogs.h"

#include <cstdio>

class SilentDialogs : public UserDialogs {
public:
    bool echo = true;
    int messages = 0;
    QString last;
    int ShowMessageBox(const QString& text, const QString&, MessageIcon, int) override {
        if (echo)
            std::fprintf(stderr, "message: %s\n", text.toUtf8().constData());
        ++messages;
        last = text;
        return MbOk;
    }
    std::optional<QString> InputBox(const QString&, const QString&, const QString&) override {
        return std::nullopt;
    }
    bool ExecuteSave(FileSaveDialog&) override { return false; }
};
