#include "ChartsMenu.h"

#include "ChartWindow.h"
#include "MainForm.h"

#include <QAction>
#include <QMenu>
#include <QPointer>

namespace {

class ChartsMenu : public QObject {
public:
    explicit ChartsMenu(TMainForm& form) : QObject(&form), form_(form) {
        QAction* action = form.ViewMenu->addAction(QStringLiteral("&Графики"));
        action->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_G));
        form.addAction(action); // the shortcut works wherever the focus is in the window
        connect(action, &QAction::triggered, this,
                [this] { form_.RunHandler([this] { Show(); }); });
        connect(&form, &TMainForm::ArchiveShown, this, [this] {
            if (charts_ && charts_->isVisible())
                charts_->ShowArchive(*form_.ShownArchive(), form_.ShownArchivePath(),
                                     form_.Session().ControllerFolder());
        });
    }

private:
    void Show() {
        const ArchiveFileContents* shown = form_.ShownArchive();
        if (!shown) {
            form_.ShowMessage(
                QStringLiteral("Нет архива для графиков: прочитайте данные из регулятора или "
                               "откройте файл архива."),
                MessageIcon::Information);
            return;
        }
        if (!charts_) {
            // A window of its own, closed with the main window; closing it only hides it.
            charts_ = new ChartWindow({}, &form_);
            connect(charts_, &ChartWindow::RecordActivated, this, [this](int channel, int row) {
                form_.SelectRecordRow(channel, row);
                form_.activateWindow();
                form_.raise();
            });
        }
        charts_->ShowArchive(*shown, form_.ShownArchivePath(), form_.Session().ControllerFolder());
        charts_->show();
        charts_->raise();
        charts_->activateWindow();
    }

    TMainForm& form_;
    QPointer<ChartWindow> charts_; // created on first use
};

} // namespace

void AddChartsMenu(TMainForm& form) {
    new ChartsMenu(form);
}
