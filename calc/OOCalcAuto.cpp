#include "OOCalcAuto.h"

OOCalcAuto::OOCalcAuto() = default;

OOCalcAuto::~OOCalcAuto() {
    ReleaseAll();
}

bool OOCalcAuto::Connect(const CalcWaitStep& waitStep) {
    if (!office_) {
        office_ = NewOfficeAutomation();
        if (!office_)
            return false;
    }
    return office_->Connect(waitStep);
}

CalcAutomation& OOCalcAuto::Office() {
    if (!office_)
        throw ExportError(QStringLiteral("Нет связи с OpenOffice.org"));
    return *office_;
}

void OOCalcAuto::NewDocument() {
    Office().NewDocument();
}

void OOCalcAuto::SelectSheet(const QString& name, quint16 position) {
    Office().SelectSheet(name, position);
}

bool OOCalcAuto::HasSheet(const QString& name) {
    return Office().HasSheet(name);
}

void OOCalcAuto::ActivateSheet(const QString& name) {
    Office().ActivateSheet(name);
}

void OOCalcAuto::SetCellText(quint32 column, quint32 row, const QString& text) {
    Office().SetCellText(column, row, text);
}

void OOCalcAuto::ReleaseAll() {
    if (office_)
        office_->ReleaseAll();
}
