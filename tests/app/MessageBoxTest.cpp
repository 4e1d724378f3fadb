// The real message boxes of the window and of the chart window show their texts as plain text:
// a file named "<b>x</b>.kvarc" is shown as it is spelled, not in bold.

#include "ChartDialogs.h"
#include "UserDialogs.h"
#include "WindowTestSupport.h"

#include <QApplication>
#include <QMessageBox>
#include <QTimer>

#include <gtest/gtest.h>

#include <functional>

namespace {

struct SeenBox {
    bool seen = false;
    Qt::TextFormat format = Qt::AutoText;
    QString text;
};

// Runs show (which opens a modal message box) and reads the box as it is shown, then closes it.
SeenBox WatchMessageBox(const std::function<void()>& show) {
    SeenBox seen;
    QTimer timer;
    timer.setInterval(10);
    QObject::connect(&timer, &QTimer::timeout, [&] {
        auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
        if (!box)
            return;
        seen = {true, box->textFormat(), box->text()};
        box->done(0);
    });
    timer.start();
    show();
    return seen;
}

TEST(MessageBoxes, FileNamesAreShownAsPlainText) {
    EnsureWidgetApp();
    const QString text =
        QStringLiteral("Не удалось открыть архив /tmp/<b>x</b>.kvarc:\nфайл пуст.");
    const auto dialogs = MakeQtUserDialogs(nullptr);
    const SeenBox window = WatchMessageBox(
        [&] { dialogs->ShowMessageBox(text, "КВ-9000Л", MessageIcon::Error, MbOk); });
    ASSERT_TRUE(window.seen);
    EXPECT_EQ(window.format, Qt::PlainText);
    EXPECT_EQ(window.text, text);

    const auto charts = MakeQtChartDialogs(nullptr);
    const SeenBox chart = WatchMessageBox([&] { charts->Warn(text); });
    ASSERT_TRUE(chart.seen);
    EXPECT_EQ(chart.format, Qt::PlainText);
}

} // namespace
