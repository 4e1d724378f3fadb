// Not a test by itself: the program's window run without a user, for comparing the platforms.
// It builds the main window with scripted dialogs, lets it find the controller, downloads the
// whole archive, saves the text export, then (with --exports) runs the Excel and Calc exports,
// and writes what happened as "key=value" lines (UTF-8), among them the folder of kept archives
// and how many files it holds after the download, and the port doctor's row for COM1 with the
// link still open on it:
//
//   kv9000-scripted-session [--exports] RESULT TEXT [DEVICE]
//       DEVICE, when given, is the device behind COM1 (a pseudo-terminal on Linux); without it
//       COM1 is the system's own port. A workbook the Excel export writes is recorded, not
//       opened.
//   kv9000-scripted-session --write-image FILE CHANNELS
//       writes a full archive image for the simulator's --image.

#include "ArchiveImageBuilder.h"
#include "Discovery.h"
#include "MainForm.h"
#include "PortProbe.h"
#include "PortSurvey.h"
#include "ScriptedDialogs.h"
#include "ServiceSession.h"
#include "SpinEdit.h"
#include "UserFolders.h"
#include "XlsxWorkbookApp.h"

#include <QApplication>
#include <QDir>
#include <QDirIterator>
#include <QElapsedTimer>
#include <QFile>
#include <QLineEdit>
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

int WriteImage(const QString& path, int channels) {
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly) ||
        file.write(testimage::FullImage(channels)) != testimage::kArchiveBytes)
        return 1;
    return 0;
}

} // namespace

int main(int argc, char* argv[]) {
    if (argc == 4 && std::strcmp(argv[1], "--write-image") == 0)
        return WriteImage(QString::fromLocal8Bit(argv[2]), std::atoi(argv[3]));
    QApplication app(argc, argv);
    QStringList args = QApplication::arguments();
    const bool exports = args.removeAll(QStringLiteral("--exports")) > 0;
    if (args.size() < 3) {
        std::fprintf(stderr, "usage: kv9000-scripted-session [--exports] RESULT TEXT [DEVICE]\n");
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
    out << "port=" << CurrentPort() << "\n"
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
    int kept = 0;
    for (QDirIterator it(ArchivesFolder(), QDir::Files, QDirIterator::Subdirectories); it.hasNext();
         it.next())
        ++kept;
    out << "archives_folder=" << QDir::toNativeSeparators(ArchivesFolder()) << "\n"
        << "kept_archives=" << kept << "\n";

    // The port doctor with the link still open on COM1: its row and the controller's answer.
    SurveyReport survey = SurveyPorts(SurveyRoots{}, SurveyUser::Current());
    std::erase_if(survey.rows, [](const PortRow& row) { return row.port != 1; });
    CheckReadyPorts(survey, 115200);
    if (!survey.rows.empty())
        out << "doctor_com1=" << DescribeRowState(survey.rows.front()) << "\n"
            << "doctor_com1_answer=" << survey.rows.front().answer << "\n";

    seen = dialogs->messages.size();
    form.btSaveToTxtClick();
    out << "text_messages=" << MessagesSince(*dialogs, seen) << "\n";

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
