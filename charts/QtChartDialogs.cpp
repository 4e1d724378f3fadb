#include "ChartDialogs.h"

#include <QFileDialog>
#include <QFileInfo>
#include <QMessageBox>
#include <QPointer>
#include <QWidget>

namespace {

class QtChartDialogs : public ChartDialogs {
public:
    explicit QtChartDialogs(QWidget* parent) : parent_(parent) {}

    QString OpenArchive(const QString& proposedPath) override {
        return QFileDialog::getOpenFileName(
            parent_, QStringLiteral("Сравнить с архивом"), proposedPath,
            QStringLiteral("Архивы регулятора (*.kvarc);;Все файлы (*)"));
    }

    QString SaveChart(const QString& proposedPath) override {
        QString filter = proposedPath.endsWith(QStringLiteral(".pdf"), Qt::CaseInsensitive)
                             ? QStringLiteral("PDF (*.pdf)")
                             : QStringLiteral("PNG (*.png)");
        QString path =
            QFileDialog::getSaveFileName(parent_, QStringLiteral("Сохранить график"), proposedPath,
                                         QStringLiteral("PNG (*.png);;PDF (*.pdf)"), &filter);
        // A name typed without an extension gets the one of the chosen type.
        if (!path.isEmpty() && QFileInfo(path).suffix().isEmpty())
            path += filter.startsWith(QStringLiteral("PDF")) ? QStringLiteral(".pdf")
                                                             : QStringLiteral(".png");
        return path;
    }

    void Warn(const QString& text) override {
        // Plain text: a file name such as "<b>x</b>.kvarc" is shown as it is spelled.
        QMessageBox box(QMessageBox::Warning, QStringLiteral("Графики"), text, QMessageBox::Ok,
                        parent_);
        box.setTextFormat(Qt::PlainText);
        box.exec();
    }

private:
    QPointer<QWidget> parent_;
};

} // namespace

std::unique_ptr<ChartDialogs> MakeQtChartDialogs(QWidget* parent) {
    return std::make_unique<QtChartDialogs>(parent);
}
