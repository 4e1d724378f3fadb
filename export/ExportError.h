#pragma once

// The error an export raises when it cannot go on: a file that cannot be created or written, or
// a failing call into the workbook application. Its text is what the user is shown, unchanged.

#include <QString>

#include <stdexcept>

class ExportError : public std::runtime_error {
public:
    explicit ExportError(const QString& text)
        : std::runtime_error(text.toStdString()), text_(text) {}
    const QString& Text() const { return text_; }

private:
    QString text_;
};
