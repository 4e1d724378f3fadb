#pragma once

// The three lines that open every export (text file, Excel sheet, Calc sheet): the controller's
// identification text, the serial line and the place line.

#include <QString>

struct HeadingLines {
    QString
        identification; // the identification text, unchanged (empty when no controller answered)
    QString serialLine; // serial label, one space, the serial number in plain decimal digits
    QString placeLine;  // comment label, one space, the comment (may be empty)
};

// serialLabel and commentLabel are the captions of the window's labels ("Серийный номер:" and
// "Место установки регулятора:"). The serial number is written without leading zeros or
// thousands separators; an empty comment leaves the label and the space.
HeadingLines MakeHeadingLines(const QString& identification, const QString& serialLabel, int serial,
                              const QString& commentLabel, const QString& comment);
