#pragma once

// A spin edit holding a whole number within its range. A value outside the range is pulled to
// the nearest end when it is set or when the field is left; text that is not a number reads as
// the lower end. A double click in the text of the field is reported by doubleClicked(), also when
// the field is read-only.

#include <QLineEdit>
#include <QSpinBox>

class TSpinEdit : public QSpinBox {
    Q_OBJECT

public:
    explicit TSpinEdit(QWidget* parent = nullptr);

    // The number the text stands for, pulled into the range (the text may still be being edited).
    int Value() const;

    // The text field inside the spin edit.
    QLineEdit* Editor() const { return lineEdit(); }

signals:
    void doubleClicked();

protected:
    QValidator::State validate(QString& input, int& pos) const override;
    int valueFromText(const QString& text) const override;
    void fixup(QString& input) const override;
    bool eventFilter(QObject* watched, QEvent* event) override;
};
