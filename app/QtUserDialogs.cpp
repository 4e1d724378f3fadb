#include "UserDialogs.h"

#include <QFileDialog>
#include <QInputDialog>
#include <QMessageBox>
#include <QPointer>
#include <QStringList>

namespace {

// "txt|*.txt|all|*.*" -> "txt (*.txt);;all (*.*)"
QString QtNameFilters(const QString& filter) {
    const QStringList parts = filter.split(QLatin1Char('|'));
    QStringList filters;
    for (int i = 0; i + 1 < parts.size(); i += 2)
        filters << QStringLiteral("%1 (%2)").arg(parts[i], parts[i + 1]);
    return filters.join(QStringLiteral(";;"));
}

// "*.txt" or ".txt" or "txt" -> "txt"
QString QtSuffix(QString ext) {
    if (ext.startsWith(QLatin1Char('*')))
        ext.remove(0, 1);
    if (ext.startsWith(QLatin1Char('.')))
        ext.remove(0, 1);
    return ext;
}

// Shows the dialog with the settings' file name preselected; on acceptance the name chosen goes
// back into the settings.
bool RunFileDialog(QFileDialog& dialog, FileSaveDialog& settings) {
    if (!settings.FileName.isEmpty())
        dialog.selectFile(settings.FileName);
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty())
        return false;
    settings.FileName = dialog.selectedFiles().constFirst();
    return true;
}

class QtUserDialogs : public UserDialogs {
public:
    explicit QtUserDialogs(QWidget* parent) : parent_(parent) {}

    int ShowMessageBox(const QString& text, const QString& caption, MessageIcon icon,
                       int buttons) override {
        QMessageBox box(parent_);
        box.setWindowTitle(caption);
        // Plain text: the texts carry file names, which may hold "<" and "&".
        box.setTextFormat(Qt::PlainText);
        box.setText(text);
        switch (icon) {
        case MessageIcon::None:
            box.setIcon(QMessageBox::NoIcon);
            break;
        case MessageIcon::Information:
            box.setIcon(QMessageBox::Information);
            break;
        case MessageIcon::Warning:
            box.setIcon(QMessageBox::Warning);
            break;
        case MessageIcon::Error:
            box.setIcon(QMessageBox::Critical);
            break;
        case MessageIcon::Question:
            box.setIcon(QMessageBox::Question);
            break;
        }
        if (buttons == 0)
            buttons = MbOk;
        QMessageBox::StandardButtons qtButtons;
        if (buttons & MbOk)
            qtButtons |= QMessageBox::Ok;
        if (buttons & MbCancel)
            qtButtons |= QMessageBox::Cancel;
        if (buttons & MbYes)
            qtButtons |= QMessageBox::Yes;
        if (buttons & MbNo)
            qtButtons |= QMessageBox::No;
        box.setStandardButtons(qtButtons);
        switch (box.exec()) {
        case QMessageBox::Yes:
            return MbYes;
        case QMessageBox::No:
            return MbNo;
        case QMessageBox::Cancel:
            return MbCancel;
        default:
            return (buttons & MbOk) ? MbOk : MbCancel;
        }
    }

    std::optional<QString> InputBox(const QString& caption, const QString& prompt,
                                    const QString& defaultText) override {
        QInputDialog dialog(parent_);
        dialog.setWindowTitle(caption);
        dialog.setLabelText(prompt);
        dialog.setTextValue(defaultText);
        if (dialog.exec() != QDialog::Accepted)
            return std::nullopt;
        return dialog.textValue();
    }

    bool ExecuteSave(FileSaveDialog& settings) override {
        QFileDialog dialog(parent_);
        dialog.setAcceptMode(QFileDialog::AcceptSave);
        dialog.setFileMode(QFileDialog::AnyFile);
        dialog.setNameFilter(QtNameFilters(settings.Filter));
        dialog.setDefaultSuffix(QtSuffix(settings.DefaultExt));
        dialog.setOption(QFileDialog::DontConfirmOverwrite, !settings.OverwritePrompt);
        return RunFileDialog(dialog, settings);
    }

    bool ExecuteOpen(FileSaveDialog& settings) override {
        QFileDialog dialog(parent_);
        dialog.setAcceptMode(QFileDialog::AcceptOpen);
        dialog.setFileMode(QFileDialog::ExistingFile);
        dialog.setNameFilter(QtNameFilters(settings.Filter));
        return RunFileDialog(dialog, settings);
    }

private:
    QPointer<QWidget> parent_;
};

} // namespace

std::shared_ptr<UserDialogs> MakeQtUserDialogs(QWidget* parent) {
    return std::make_shared<QtUserDialogs>(parent);
}
