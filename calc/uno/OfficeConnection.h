#pragma once

// Reaching the user's office over UNO, the way the SDK's bootstrap does it: start soffice with
// an --accept on a pipe of our own (a running office takes the request over from the new process
// and the new process ends), then connect to that pipe. Unlike the SDK's bootstrap, the wait has
// an end: an office that fails to start, or never accepts, gives a null context instead of a
// program that waits for ever.

#include <com/sun/star/uno/Reference.hxx>
#include <com/sun/star/uno/XComponentContext.hpp>

#include <QString>

#include <chrono>

// The soffice to start: the one in UNO_PATH when that is set, else the one on PATH, else the one
// of the office this module was built against. Empty when there is none.
QString FindOffice();

// The office's component context, or null when the office cannot be reached within `limit`
// (not installed, fails to start, does not accept). What the started soffice prints goes to
// `outputFile` (appended), or nowhere when that is empty. Never throws.
css::uno::Reference<css::uno::XComponentContext>
ConnectToOffice(std::chrono::milliseconds limit = std::chrono::seconds(60),
                const QString& outputFile = QString());
