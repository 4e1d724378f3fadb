#pragma once

// The error an export raises when it cannot go on: a file that cannot be created or written, or
// a failing call into the workbook application or the office. Its text is what the user is
// shown, unchanged.
//
// How the export layer (export/, and calc/ behind its interface) reports a failure: by throwing
// ExportError, the one exception class of the exports; the exporters catch it where the window's
// behaviour asks for a message box and let it reach the handler otherwise. The Windows
// automation layer's own AutomationError is turned into ExportError at the export's edge.

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
