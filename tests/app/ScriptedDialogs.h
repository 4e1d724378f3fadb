#pragma once

// Dialogs answered from a script, for window tests: no test ever blocks on a modal dialog.
// Message boxes are recorded and answered with the next queued answer (default: the first
// button offered); the input box and the save dialog take the next queued answer (default:
// cancelled).

#include "UserDialogs.h"

#include <deque>
#include <optional>
#include <vector>

class ScriptedDialogs : public UserDialogs {
public:
    struct Message {
        QString text;
        QString caption;
        MessageIcon icon;
        int buttons;
    };
    struct Input {
        QString caption;
        QString prompt;
        QString defaultText;
    };

    std::vector<Message> messages;
    std::deque<int> messageAnswers;

    std::vector<Input> inputs;
    std::deque<std::optional<QString>> inputAnswers;

    std::vector<FileSaveDialog> saves; // the dialog's settings each time it was run
    std::deque<std::optional<QString>> saveAnswers;

    std::vector<FileSaveDialog> opens; // the open dialog's settings each time it was run
    std::deque<std::optional<QString>> openAnswers;

    int ShowMessageBox(const QString& text, const QString& caption, MessageIcon icon,
                       int buttons) override {
        messages.push_back({text, caption, icon, buttons});
        if (!messageAnswers.empty()) {
            const int answer = messageAnswers.front();
            messageAnswers.pop_front();
            return answer;
        }
        for (int b : {MbOk, MbYes, MbNo, MbCancel})
            if (buttons & b)
                return b;
        return MbOk;
    }

    std::optional<QString> InputBox(const QString& caption, const QString& prompt,
                                    const QString& defaultText) override {
        inputs.push_back({caption, prompt, defaultText});
        if (inputAnswers.empty())
            return std::nullopt;
        const bool given = inputAnswers.front().has_value();
        const QString text = given ? *inputAnswers.front() : QString();
        inputAnswers.pop_front();
        if (!given)
            return std::nullopt;
        return text;
    }

    bool ExecuteSave(FileSaveDialog& dialog) override {
        saves.push_back(dialog);
        if (saveAnswers.empty() || !saveAnswers.front()) {
            if (!saveAnswers.empty())
                saveAnswers.pop_front();
            return false;
        }
        dialog.FileName = *saveAnswers.front();
        saveAnswers.pop_front();
        return true;
    }

    bool ExecuteOpen(FileSaveDialog& dialog) override {
        opens.push_back(dialog);
        const bool given = !openAnswers.empty() && openAnswers.front();
        if (given)
            dialog.FileName = *openAnswers.front();
        if (!openAnswers.empty())
            openAnswers.pop_front();
        return given;
    }

    // The texts of the message boxes shown so far.
    std::vector<QString> MessageTexts() const {
        std::vector<QString> texts;
        for (const Message& m : messages)
            texts.push_back(m.text);
        return texts;
    }
};
