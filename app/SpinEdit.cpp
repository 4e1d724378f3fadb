#include "SpinEdit.h"

#include <QEvent>
#include <QLineEdit>

#include <algorithm>

TSpinEdit::TSpinEdit(QWidget* parent) : QSpinBox(parent) {
    setKeyboardTracking(true);
    setCorrectionMode(QAbstractSpinBox::CorrectToNearestValue);
    lineEdit()->installEventFilter(this);
    // Leaving the field shows the value as it was pulled into the range.
    connect(this, &QAbstractSpinBox::editingFinished, this, [this] {
        const int v = Value();
        setValue(v);
        lineEdit()->setText(textFromValue(v));
    });
}

int TSpinEdit::Value() const {
    return valueFromText(lineEdit()->text());
}

QValidator::State TSpinEdit::validate(QString& input, int& pos) const {
    Q_UNUSED(pos);
    // Any run of digits with an optional sign may be typed; its value is pulled into the range
    // when it is read. Other characters are refused as they are typed.
    const QString t = input.trimmed();
    int i = 0;
    if (i < t.size() && (t[i] == QLatin1Char('-') || t[i] == QLatin1Char('+')))
        ++i;
    for (; i < t.size(); ++i) {
        if (!t[i].isDigit() || t[i].unicode() > 0x7F)
            return QValidator::Invalid;
    }
    return t.size() > 11 ? QValidator::Invalid : QValidator::Acceptable;
}

int TSpinEdit::valueFromText(const QString& text) const {
    bool ok = false;
    const qlonglong v = text.trimmed().toLongLong(&ok, 10);
    if (!ok)
        return minimum();
    return static_cast<int>(std::clamp<qlonglong>(v, minimum(), maximum()));
}

void TSpinEdit::fixup(QString& input) const {
    input = textFromValue(valueFromText(input));
}

bool TSpinEdit::eventFilter(QObject* watched, QEvent* event) {
    if (watched == lineEdit() && event->type() == QEvent::MouseButtonDblClick)
        emit doubleClicked();
    return QSpinBox::eventFilter(watched, event);
}
