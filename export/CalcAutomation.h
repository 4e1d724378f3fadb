#pragma once

// The operations the Calc export needs from the office suite, as a plain C++ interface: no UNO
// type appears here, so the program can be built and run where the office is not installed.
//
// Calling order: Connect; only when it returned true NewDocument; then any number of SelectSheet
// and SetCellText (each SetCellText writes into the sheet selected last); then ReleaseAll or
// destruction. Every operation except Connect reports a failure of the office (a refused call,
// a document the user closed meanwhile, an office that went away) by throwing ExportError with a
// text the user can be shown; the object keeps what it obtained so far until it is released.

#include "ExportError.h"

#include <QString>

#include <functional>

// Called again and again (every 50 ms or so) while Connect waits for the office to start, so
// that the window can handle its events meanwhile (repaint, run its closing handler). It returns
// false to give the wait up.
using CalcWaitStep = std::function<bool()>;

class CalcAutomation {
public:
    virtual ~CalcAutomation() = default;

    // Starts the user's office or reaches the one already running, and fetches its desktop; an
    // office reached by an earlier object is reached again without starting another. False when
    // the office cannot be reached (not installed, cannot start) or waitStep (may be empty) gave
    // the wait up; never throws for that. Throws ExportError only when the office answered but
    // refused the desktop.
    virtual bool Connect(const CalcWaitStep& waitStep) = 0;

    // Opens a new, empty and visible spreadsheet document in its own window. When the office
    // hands back no document, nothing else is fetched and the next SelectSheet throws.
    virtual void NewDocument() = 0;

    // Makes the named sheet the current one and the one the user sees, inserting it at the
    // zero-based position first when the document has no sheet of that name (an existing sheet
    // keeps its place and the position is ignored).
    virtual void SelectSheet(const QString& name, quint16 position) = 0;

    // Whether the document has a sheet of that name.
    virtual bool HasSheet(const QString& name) = 0;

    // Makes the named (existing) sheet the current one and the one the user sees.
    virtual void ActivateSheet(const QString& name) = 0;

    // Sets the text of one cell of the current sheet, column and row zero-based (0, 0 is A1).
    // Always a text: "21,5" stays the text "21,5", never a number or a formula.
    virtual void SetCellText(quint32 column, quint32 row, const QString& text) = 0;

    // Drops every reference to the office, last obtained first. The document stays open,
    // unsaved and visible; the office keeps running. Valid in every state, never throws.
    virtual void ReleaseAll() = 0;
};
