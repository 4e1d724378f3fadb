#pragma once

// The error an export raises when it cannot go on: a file that cannot be created or written, or
// a failing call into the workbook application or the office (the Windows automation layer
// raises it too). Its text is what the user is shown, unchanged.
//
// How the export layer (export/, and calc/ behind its interface) reports a failure: by throwing
// ExportError, the one exception class of the exports; the exporters catch it where the window's
// behaviour asks for a message box and let it reach the handler otherwise.

#include <QString>

#include <stdexcept>

class ExportError : public std::runtime_error {
public:
    // Failure: this call failed, the next one may work. ServerGone: the application at the other
    // end is gone (closed, crashed, disconnected); every later call would fail the same way.
    enum class Kind { Failure, ServerGone };

    explicit ExportError(const QString& text, Kind kind = Kind::Failure)
        : std::runtime_error(text.toStdString()), text_(text), kind_(kind) {}
    const QString& Text() const { return text_; }
    bool ServerGone() const { return kind_ == Kind::ServerGone; }

private:
    QString text_;
    Kind kind_;
};
