#pragma once

// Reaching the user's office over UNO, the way the SDK's bootstrap does it: start soffice with
// an --accept on a pipe of our own (a running office takes the request over from the new process
// and the new process ends), then connect to that pipe. Unlike the SDK's bootstrap, the wait has
// an end: an office that fails to start, or never accepts, gives a null context instead of a
// program that waits for ever. The pipe stays the same for the whole run, so an office reached
// once is reached again on it without starting another soffice.

#include <com/sun/star/uno/Reference.hxx>
#include <com/sun/star/uno/XComponentContext.hpp>

#include <QString>

#include <chrono>
#include <functional>

// The soffice to start: the one in UNO_PATH when that is set, else the one on PATH, else the one
// of the office this module was built against. Empty when there is none.
QString FindOffice();

inline constexpr std::chrono::seconds kOfficeStartLimit{60};

// The office's component context, or null when the office cannot be reached within `limit`
// (not installed, fails to start, does not accept) or `waitStep` returned false. While the
// office starts, waitStep (when not empty) is called every 50 ms or so. What a started soffice
// prints goes to `outputFile` (appended), or nowhere when that is empty. Never throws.
css::uno::Reference<css::uno::XComponentContext>
ConnectToOffice(std::chrono::milliseconds limit = kOfficeStartLimit,
                const QString& outputFile = QString(), const std::function<bool()>& waitStep = {});
