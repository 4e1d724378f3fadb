// Not a test by itself: the program's window run without a user, for comparing the platforms.
// It builds the main window with scripted dialogs, lets it find the controller, downloads the
// whole archive, saves the text export, then (with --exports) runs the Excel and Calc exports,
// and writes what happened as "key=value" lines (UTF-8), among them the folder of kept archives
// and how many files it holds after the download, and the port doctor's row for COM1 with the
// link still open on it. With --views it then opens the chart window on the download and saves
// its PNG, writes the visit report, and opens the library of every visit and its history of the
// controller (the PNG, the PDF and the history's PNG beside TEXT):
//
//   kv9000-scripted-session [--exports] [--views] RESULT TEXT [DEVICE]
//       DEVICE, when given, is the device behind COM1 (a pseudo-terminal on Linux); without it
//       COM1 is the system's own port. A workbook the Excel export writes is recorded, not
//       opened.
//   kv9000-scripted-session --write-image FILE CHANNELS
//       writes a full archive image for the simulator's --image.

#include "ArchiveImageBuilder.h"
#include "ChartWindow.h"
#include "Discovery.h"
#include "LibraryWindow.h"
#include "MainForm.h"
#include "PortProbe.h"
#include "PortSurvey.h"
#include "ProgramEnd.h"
#include "ScriptedDialogs.h"
#include "ServiceSession.h"
#include "SpinEdit.h"
#include "UserFolders.h"
#include "XlsxWorkbookApp.h"

#include <QAbstractItemModel>
#include <QAction>
#include <QApplication>
#include <QDeadlineTimer>
#include <QDir>
#include <QDirIterator>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QTableView>
#include <QTemporaryDir>
#include <QTextStream>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <memory>

namespace {

QString MessagesSince(const ScriptedDialogs& dialogs, std::size_t first) {
    QStringList texts;
    for (std::size_t i = first; i < dialogs.messages.size(); ++i)
        texts << dialogs.messages[i].caption + QStringLiteral(": ") + dialogs.messages[i].text;
    return texts.join(QStringLiteral(" | "));
}

// The processor time this process has used, in seconds (winpthreads gives the same clock on
// Windows).
double ProcessCpuSeconds() {
    timespec t{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
    return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) / 1e9;
}

// Triggers the entry of menu whose text, without its accelerator mark, is text; false when the
// build has no such entry.
bool Trigger(QMenu* menu, const QString& text) {
    for (QAction* action : menu->actions())
        if (action->text().remove(u'&') == text) {
            action->trigger();
            return true;
        }
    return false;
}

// The chart window, the visit report and the library, as a user opens them after a download.
void RunViews(TMainForm& form, ScriptedDialogs& dialogs, const QString& textPath,
              QTextStream& out) {
    const QFileInfo text(textPath);
    const auto beside = [&text](const QString& suffix) {
        return text.dir().filePath(text.completeBaseName() + suffix);
    };

    const bool chartsEntry = Trigger(form.ViewMenu, QStringLiteral("Графики"));
    auto* charts = form.findChild<ChartWindow*>();
    out << "chart_window=" << (chartsEntry && charts && charts->isVisible() ? 1 : 0) << "\n";
    if (charts) {
        out << "chart_title=" << charts->windowTitle() << "\n"
            << "chart_error=" << charts->SaveChart(beside(QStringLiteral("-chart.png"))) << "\n";
    }

    std::size_t seen = dialogs.messages.size();
    dialogs.saveAnswers.push_back(beside(QStringLiteral("-report.pdf")));
    QStringList opened;
    SetWorkbookOpener([&opened](const QString& path) {
        opened << path;
        return true;
    });
    const bool reportEntry = Trigger(form.FileMenu, QStringLiteral("Отчёт о посещении…"));
    out << "report_entry=" << (reportEntry ? 1 : 0) << "\n"
        << "report_messages=" << MessagesSince(dialogs, seen) << "\n"
        << "report_opened=" << opened.join(u'|') << "\n";

    seen = dialogs.messages.size();
    const bool libraryEntry = Trigger(form.FileMenu, QStringLiteral("Библиотека архивов"));
    auto* library = form.findChild<LibraryWindow*>();
    out << "library_window=" << (libraryEntry && library && library->isVisible() ? 1 : 0) << "\n";
    if (!library)
        return;
    // The window indexes the archives folder on a thread of its own.
    const QDeadlineTimer deadline(60000);
    while (library->Working() && !deadline.hasExpired())
        QApplication::processEvents(QEventLoop::AllEvents, 50);
    QAbstractItemModel* rows = library->Controllers()->model();
    out << "library_controllers=" << rows->rowCount() << "\n"
        << "library_status=" << library->Status()->text() << "\n";
    for (int r = 0; r < rows->rowCount(); ++r) {
        if (rows->index(r, 0).data().toString() != form.speSerial->text())
            continue;
        library->Controllers()->selectRow(r);
        out << "library_serial_row=" << rows->index(r, 0).data().toString() << "\n";
        library->ShowHistory();
        if (ChartWindow* history = library->HistoryWindow())
            out << "history_error=" << history->SaveChart(beside(QStringLiteral("-history.png")))
                << "\n";
    }
    out << "library_messages=" << MessagesSince(dialogs, seen) << "\n";
}

int WriteImage(const QString& path, int channels) {
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly) ||
        file.write(testimage::FullImage(channels)) != testimage::kArchiveBytes)
        return 1;
    return 0;
}

} // namespace

static int RunSession(int argc, char* argv[]) {
    QApplication app(argc, argv);
    QStringList args = QApplication::arguments();
    const bool exports = args.removeAll(QStringLiteral("--exports")) > 0;
    const bool views = args.removeAll(QStringLiteral("--views")) > 0;
    if (args.size() < 3) {
        std::fprintf(stderr,
                     "usage: kv9000-scripted-session [--exports] [--views] RESULT TEXT [DEVICE]\n");
        return 2;
    }

    QTemporaryDir dir;
    QString settings = QStringLiteral("[General]\nCOM port=1\n");
    if (args.size() > 3)
        settings += QStringLiteral("[Ports]\nCOM1=") + args[3] + QStringLiteral("\n");
    QFile settingsFile(dir.filePath(QStringLiteral("kv9000.INI")));
    if (!settingsFile.open(QIODevice::WriteOnly) || settingsFile.write(settings.toLatin1()) < 0)
        return 1;
    settingsFile.close();

    auto dialogs = std::make_shared<ScriptedDialogs>();
    dialogs->saveAnswers.push_back(args[2]);
    MainFormOptions options;
    options.settingsPath = settingsFile.fileName();
    options.dialogs = dialogs;

    QFile resultFile(args[1]);
    if (!resultFile.open(QIODevice::WriteOnly | QIODevice::Truncate))
        return 1;
    QTextStream out(&resultFile);
    out.setEncoding(QStringConverter::Utf8);

    TMainForm form(options);
    form.show();
    out << "port=" << form.Link().CurrentPort() << "\n"
        << "channels=" << form.Session().ChannelCount() << "\n"
        << "identification=" << form.StatusText(1) << "\n"
        << "serial=" << form.speSerial->Value() << "\n"
        << "comment=" << form.edComment->text() << "\n"
        << "start_messages=" << MessagesSince(*dialogs, 0) << "\n";

    std::size_t seen = dialogs->messages.size();
    QElapsedTimer clock;
    const double cpuBefore = ProcessCpuSeconds();
    clock.start();
    form.bt_DF_ReadClick();
    out << "download_seconds=" << QString::number(clock.elapsed() / 1000.0, 'f', 2) << "\n"
        << "download_cpu_seconds=" << QString::number(ProcessCpuSeconds() - cpuBefore, 'f', 2)
        << "\n"
        << "download_messages=" << MessagesSince(*dialogs, seen) << "\n";

    form.Session().WaitForSaves(); // the kept archive is written by a thread of its own
    QApplication::processEvents(); // and its news delivered, as the window's loop would
    int kept = 0;
    for (QDirIterator it(ArchivesFolder(), QDir::Files, QDirIterator::Subdirectories); it.hasNext();
         it.next())
        ++kept;
    out << "archives_folder=" << QDir::toNativeSeparators(ArchivesFolder()) << "\n"
        << "kept_archives=" << kept << "\n";

    // The port doctor with the link still open on COM1: its row and the controller's answer.
    SurveyReport survey = SurveyPorts(form.Link().Ports(), SurveyRoots{}, SurveyUser::Current());
    std::erase_if(survey.rows, [](const PortRow& row) { return row.port != 1; });
    CheckReadyPorts(survey, form.Link().Ports(), 115200);
    if (!survey.rows.empty())
        out << "doctor_com1=" << DescribeRowState(survey.rows.front()) << "\n"
            << "doctor_com1_answer=" << survey.rows.front().answer << "\n";

    seen = dialogs->messages.size();
    form.btSaveToTxtClick();
    out << "text_messages=" << MessagesSince(*dialogs, seen) << "\n";
    if (views)
        RunViews(form, *dialogs, args[2], out);

    QStringList opened;
    SetWorkbookOpener([&opened](const QString& path) {
        opened << path;
        return true;
    });
    if (!exports)
        return 0;
    for (const auto& [name, handler] : {std::pair{"excel", &TMainForm::btExportToExelClick},
                                        std::pair{"calc", &TMainForm::btExportToOOoClick}}) {
        seen = dialogs->messages.size();
        QString escaped;
        try {
            (form.*handler)();
        } catch (const std::exception& e) {
            escaped = QString::fromUtf8(e.what());
        }
        out << name << "_messages=" << MessagesSince(*dialogs, seen) << "\n"
            << name << "_error=" << escaped << "\n";
    }
    out << "workbooks_opened=" << opened.size() << "\n";
    out.flush();
    return 0;
}

int main(int argc, char* argv[]) {
    if (argc == 4 && std::strcmp(argv[1], "--write-image") == 0)
        return WriteImage(QString::fromLocal8Bit(argv[2]), std::atoi(argv[3]));
    EndProgram(RunSession(argc, argv)); // as the program ends
}
