#include "CommandLine.h"

#include "OneLinePath.h"
#include "PortMap.h"
#include "Version.h"

#include <QCommandLineParser>
#include <QCoreApplication>

namespace {

// The toolkit's own options, taken by the application object: those followed by a value, and
// those that stand alone. Both "-name" and "--name" are taken, and "-name=value".
const QStringList kToolkitOptionsWithValue = {
    QStringLiteral("platform"),
    QStringLiteral("platformpluginpath"),
    QStringLiteral("platformtheme"),
    QStringLiteral("plugin"),
    QStringLiteral("qwindowgeometry"),
    QStringLiteral("geometry"),
    QStringLiteral("qwindowtitle"),
    QStringLiteral("title"),
    QStringLiteral("qwindowicon"),
    QStringLiteral("icon"),
    QStringLiteral("session"),
    QStringLiteral("display"),
    QStringLiteral("name"),
    QStringLiteral("visual"),
    QStringLiteral("style"),
    QStringLiteral("stylesheet"),
};
const QStringList kToolkitOptionsAlone = {
    QStringLiteral("reverse"),     QStringLiteral("widgetcount"), QStringLiteral("nograb"),
    QStringLiteral("dograb"),      QStringLiteral("sync"),        QStringLiteral("cmap"),
    QStringLiteral("testability"),
};

const QString kProgram = QStringLiteral("kv9000");

// The network addresses the window's field allows.
constexpr int kFirstAddress = 1;
constexpr int kLastAddress = 127;
constexpr int kMostJobs = 64;

// A usage error: no mode, exit code 2, the cause and where to read more on one line.
CommandLine UsageError(const QString& cause) {
    CommandLine result;
    result.exitNow = true;
    result.exitCode = 2;
    result.errors = QStringLiteral("%1: %2. Подробнее: %1 --help\n").arg(kProgram, cause);
    return result;
}

} // namespace

QStringList WithoutToolkitOptions(const QStringList& arguments) {
    QStringList kept;
    for (qsizetype i = 0; i < arguments.size(); ++i) {
        const QString& argument = arguments[i];
        if (i == 0 || !argument.startsWith(QLatin1Char('-'))) {
            kept << argument;
            continue;
        }
        if (argument == QStringLiteral("--")) { // the rest are files
            kept += arguments.mid(i);
            break;
        }
        QString name = argument.mid(argument.startsWith(QStringLiteral("--")) ? 2 : 1);
        const bool joinedValue = name.contains(QLatin1Char('='));
        name = name.section(QLatin1Char('='), 0, 0);
        if (name.startsWith(QStringLiteral("qmljsdebugger")) || kToolkitOptionsAlone.contains(name))
            continue;
        if (kToolkitOptionsWithValue.contains(name)) {
            if (!joinedValue)
                ++i; // its value
            continue;
        }
        kept << argument;
    }
    return kept;
}

CommandLine ParseCommandLine(const QStringList& arguments) {
    QCommandLineParser parser;
    parser.setApplicationDescription(
        QStringLiteral("Сервисная программа регулятора КВ-9000Л: идентификация, архив, экспорт."));
    // The parser's help option, but without the "--help-all" it adds beside it: here that one
    // would only open the window, and the toolkit's catalogue has no Russian for its description.
    // The description is the parser's own words, so that their Russian comes from the catalogue.
    // "-?" as well, as Windows users type it; the same on every platform.
    const QStringList helpNames{QStringLiteral("?"), QStringLiteral("h"), QStringLiteral("help")};
    const QCommandLineOption help(
        helpNames,
        QCoreApplication::translate("QCommandLineParser", "Displays help on commandline options."));
    parser.addOption(help);
    const QCommandLineOption version = parser.addVersionOption();
    const QCommandLineOption diagnose(
        QStringLiteral("diagnose"),
        QStringLiteral("Напечатать таблицу последовательных портов (диагностика порта) и выйти."));
    parser.addOption(diagnose);
    const QCommandLineOption checkCalc(
        QStringLiteral("check-calc"),
        QStringLiteral("Проверить, загружается ли модуль экспорта в Calc, и выйти."));
    parser.addOption(checkCalc);
    const QCommandLineOption findings(
        QStringLiteral("findings"),
        QStringLiteral("Напечатать находки в архиве (датчики, график, журнал, часы, реле, "
                       "настройки) как текст с табуляциями и выйти."),
        QStringLiteral("FILE"));
    parser.addOption(findings);
    const QCommandLineOption report(
        QStringLiteral("report"),
        QStringLiteral("Записать отчёт о посещении (PDF) по архиву и выйти; файл отчёта — -o."),
        QStringLiteral("FILE"));
    const QCommandLineOption reportOutput(
        QStringList{QStringLiteral("o"), QStringLiteral("output")},
        QStringLiteral("Файл отчёта для --report или файл образа для --image."),
        QStringLiteral("REPORT.pdf"));
    parser.addOption(report);
    parser.addOption(reportOutput);
    const QCommandLineOption library(
        QStringLiteral("library"),
        QStringLiteral("Напечатать регуляторы библиотеки архивов (текст с табуляциями) и выйти."));
    const QCommandLineOption libraryImport(
        QStringLiteral("library-import"),
        QStringLiteral("Добавить в библиотеку архивы (.kvarc) и папки с ними, указанные вместо "
                       "FILE, и выйти."));
    const QCommandLineOption librarySync(
        QStringLiteral("library-sync"),
        QStringLiteral("Синхронизировать библиотеку с сервером [Library] Server= и выйти."));
    const QCommandLineOption reindex(
        QStringLiteral("reindex"),
        QStringLiteral("Построить индекс библиотеки заново из файлов архивов и выйти."));
    const QCommandLineOption due(
        QStringLiteral("due"),
        QStringLiteral(
            "Напечатать, когда каждый регулятор библиотеки начнёт затирать непрочитанные "
            "записи (текст с табуляциями, самые срочные первыми), и выйти."));
    const QCommandLineOption dueAt(QStringLiteral("at"),
                                   QStringLiteral("Дата, на которую считать --due (по умолчанию "
                                                  "сейчас)."),
                                   QStringLiteral("YYYY-MM-DD"));
    const QCommandLineOption image(
        QStringLiteral("image"),
        QStringLiteral("Записать весь образ памяти из файла архива (.kvarc любой версии, "
                       "проверенный по SHA-256) в файл -o и выйти."),
        QStringLiteral("FILE"));
    parser.addOptions({library, libraryImport, librarySync, reindex, due, dueAt, image});
    const QCommandLineOption read(
        QStringLiteral("read"),
        QStringLiteral("Найти регулятор на порту, прочитать его архив целиком, сохранить его в "
                       "папку архивов, напечатать путь сохранённого файла и выйти."),
        QStringLiteral("COMn"));
    const QCommandLineOption address(
        QStringLiteral("address"),
        QStringLiteral("Сетевой адрес регулятора для --read (1–127); без него — из настроек."),
        QStringLiteral("N"));
    const QCommandLineOption newRecords(
        QStringLiteral("new"),
        QStringLiteral("С --read: прочитать только новые записи с прошлого сохранённого чтения "
                       "этого регулятора (при любом сомнении — весь архив, с причиной)."));
    parser.addOptions({read, address, newRecords});
    const QCommandLineOption collect(
        QStringLiteral("collect"),
        QStringLiteral("Собрать все регуляторы списка (текст с табуляциями: port, address, name): "
                       "новые записи или весь архив каждого, сохранить их, напечатать таблицу "
                       "итогов и выйти."),
        QStringLiteral("FLEET.tsv"));
    const QCommandLineOption jobs(
        QStringLiteral("jobs"),
        QStringLiteral("С --collect: сколько регуляторов читать одновременно (1–64, по "
                       "умолчанию 8)."),
        QStringLiteral("N"));
    // "--collect --team": the team server's list instead of a file; read as one hidden option,
    // since --collect alone takes the next argument as its file.
    const QCommandLineOption team(
        QStringLiteral("team"),
        QStringLiteral("С --collect вместо FLEET.tsv: собрать список регуляторов с сервера "
                       "[Library] Server= вместе с другими сборщиками, каждый регулятор один "
                       "раз."));
    QCommandLineOption collectTeam(QStringLiteral("collect-team"), QString());
    collectTeam.setFlags(QCommandLineOption::HiddenFromHelp);
    const QCommandLineOption fleetPush(
        QStringLiteral("fleet-push"),
        QStringLiteral("Записать список регуляторов (как для --collect) на сервер [Library] "
                       "Server= вместо прежнего и выйти."),
        QStringLiteral("FLEET.tsv"));
    const QCommandLineOption fleetPull(
        QStringLiteral("fleet-pull"),
        QStringLiteral("Напечатать список регуляторов с сервера [Library] Server= в виде файла "
                       "списка и выйти."));
    parser.addOptions({collect, jobs, team, collectTeam, fleetPush, fleetPull});
    parser.addPositionalArgument(
        QStringLiteral("FILE"),
        QStringLiteral("Файл архива (.kvarc) или образ памяти "
                       "регулятора (270336 байт), открываемый при старте."),
        QStringLiteral("[FILE]"));

    QStringList args = arguments;
    if (const qsizetype at = args.indexOf(QStringLiteral("--collect")),
        teamAt = args.indexOf(QStringLiteral("--team"));
        at > 0 && teamAt > 0 && (at + 1 == args.size() || args[at + 1].startsWith(u'-'))) {
        args[at] = QStringLiteral("--collect-team");
        args.removeAt(teamAt);
    }
    if (!parser.parse(args)) {
        CommandLine result;
        result.exitNow = true;
        result.exitCode = 2;
        // One line: the cause and where to read more.
        result.errors = QStringLiteral("%1: %2 Подробнее: %1 --help\n")
                            .arg(kProgram, parser.errorText().simplified());
        return result;
    }
    if (parser.isSet(help)) {
        // Read before the application object exists, the parser does not know the program's name.
        CommandLine result;
        result.exitNow = true;
        result.output = parser.helpText().replace(QStringLiteral("<executable_name>"), kProgram);
        return result;
    }
    if (parser.isSet(version)) {
        CommandLine result;
        result.exitNow = true;
        result.output = QStringLiteral("%1 %2\n").arg(kProgram, QStringLiteral(KV_VERSION));
        return result;
    }
    // One mode per command line: each of these answers alone and ends.
    using Library = CommandLine::Library;
    struct Mode {
        const QCommandLineOption* option;
        const char* name;
        Library library;
    };
    const Mode modes[] = {
        {&diagnose, "--diagnose", Library::None},
        {&checkCalc, "--check-calc", Library::None},
        {&findings, "--findings", Library::None},
        {&report, "--report", Library::None},
        {&read, "--read", Library::None},
        {&collect, "--collect", Library::None},
        {&collectTeam, "--collect", Library::None},
        {&fleetPush, "--fleet-push", Library::None},
        {&fleetPull, "--fleet-pull", Library::None},
        {&library, "--library", Library::List},
        {&libraryImport, "--library-import", Library::Import},
        {&librarySync, "--library-sync", Library::Sync},
        {&reindex, "--reindex", Library::Reindex},
        {&due, "--due", Library::Due},
        {&image, "--image", Library::None},
    };
    const Mode* mode = nullptr;
    for (const Mode& m : modes) {
        if (!parser.isSet(*m.option))
            continue;
        if (mode)
            return UsageError(QStringLiteral("%1 и %2 нельзя указывать вместе")
                                  .arg(QLatin1String(mode->name), QLatin1String(m.name)));
        mode = &m;
    }
    // A value is given once and is never empty; the options that qualify a mode need it.
    for (const auto& [option, name] :
         {std::pair{&findings, "--findings"}, std::pair{&report, "--report"},
          std::pair{&reportOutput, "-o"}, std::pair{&read, "--read"},
          std::pair{&address, "--address"}, std::pair{&dueAt, "--at"}, std::pair{&image, "--image"},
          std::pair{&collect, "--collect"}, std::pair{&jobs, "--jobs"},
          std::pair{&fleetPush, "--fleet-push"}}) {
        const QStringList values = parser.values(*option);
        if (values.size() > 1)
            return UsageError(
                QStringLiteral("%1 указан больше одного раза").arg(QLatin1String(name)));
        if (!values.isEmpty() && values.constFirst().isEmpty())
            return UsageError(QStringLiteral("%1: пустое значение").arg(QLatin1String(name)));
    }
    if (parser.isSet(reportOutput) && !parser.isSet(report) && !parser.isSet(image))
        return UsageError(QStringLiteral("-o указывается только вместе с --report или --image"));
    if (parser.isSet(dueAt) && !parser.isSet(due))
        return UsageError(QStringLiteral("--at указывается только вместе с --due"));
    if (parser.isSet(address) && !parser.isSet(read))
        return UsageError(QStringLiteral("--address указывается только вместе с --read"));
    if (parser.isSet(newRecords) && !parser.isSet(read))
        return UsageError(QStringLiteral("--new указывается только вместе с --read"));
    if (parser.isSet(team))
        return UsageError(QStringLiteral("--team указывается только вместе с --collect, без "
                                         "файла списка"));
    if (parser.isSet(jobs) && !parser.isSet(collect) && !parser.isSet(collectTeam))
        return UsageError(QStringLiteral("--jobs указывается только вместе с --collect"));
    const QStringList files = parser.positionalArguments();
    if (mode && mode->library != Library::Import && !files.isEmpty())
        return UsageError(QStringLiteral("%1 не принимает файл «%2»")
                              .arg(QLatin1String(mode->name), OneLinePath(files.constFirst())));

    // Every mode but --check-calc (answered by the program's start-up) ends without a window.
    CommandLine result;
    result.exitNow = mode && mode->option != &checkCalc;
    if (parser.isSet(diagnose)) {
        result.diagnose = true;
        return result;
    }
    if (parser.isSet(findings) || parser.isSet(report)) {
        result.findingsPath = parser.value(findings);
        result.reportPath = parser.value(report);
        result.reportOutput = parser.value(reportOutput);
        if (parser.isSet(report) && result.reportOutput.isEmpty())
            return UsageError(QStringLiteral("для --report нужен файл отчёта: -o REPORT.pdf"));
        return result;
    }
    if (parser.isSet(image)) {
        result.imagePath = parser.value(image);
        result.imageOutput = parser.value(reportOutput);
        if (result.imageOutput.isEmpty())
            return UsageError(QStringLiteral("для --image нужен файл образа: -o IMAGE.bin"));
        return result;
    }
    if (parser.isSet(read)) {
        result.readPort = parser.value(read);
        result.readNew = parser.isSet(newRecords);
        if (PortNumber(result.readPort) == 0)
            return UsageError(QStringLiteral("--read: ожидается имя порта COMn, а не «%1»")
                                  .arg(ShownName(result.readPort)));
        if (parser.isSet(address)) {
            bool number = false;
            result.readAddress = parser.value(address).toInt(&number);
            if (!number || result.readAddress < kFirstAddress || result.readAddress > kLastAddress)
                return UsageError(QStringLiteral("--address: ожидается число от %1 до %2")
                                      .arg(kFirstAddress)
                                      .arg(kLastAddress));
        }
        return result;
    }
    if (parser.isSet(fleetPush) || parser.isSet(fleetPull)) {
        result.fleetPushPath = parser.value(fleetPush);
        result.fleetPull = parser.isSet(fleetPull);
        return result;
    }
    if (parser.isSet(collect) || parser.isSet(collectTeam)) {
        result.collectPath = parser.value(collect);
        result.collectTeam = parser.isSet(collectTeam);
        if (parser.isSet(jobs)) {
            bool number = false;
            result.collectJobs = parser.value(jobs).toInt(&number);
            if (!number || result.collectJobs < 1 || result.collectJobs > kMostJobs)
                return UsageError(
                    QStringLiteral("--jobs: ожидается число от 1 до %1").arg(kMostJobs));
        }
        return result;
    }
    if (mode && mode->library != Library::None) {
        result.library = mode->library;
        if (result.library == Library::Import) {
            if (files.isEmpty())
                return UsageError(QStringLiteral("--library-import: не указаны файлы или папки"));
            if (files.contains(QString()))
                return UsageError(QStringLiteral("--library-import: пустой путь"));
        }
        result.libraryPaths = files;
        if (parser.isSet(dueAt)) {
            result.dueAt = QDate::fromString(parser.value(dueAt), QStringLiteral("yyyy-MM-dd"));
            if (!result.dueAt.isValid())
                return UsageError(QStringLiteral("--at: ожидается дата ГГГГ-ММ-ДД, а не «%1»")
                                      .arg(OneLinePath(parser.value(dueAt))));
        }
        return result;
    }
    if (files.size() > 1)
        return UsageError(QStringLiteral("ожидается не более одного файла"));
    if (!files.isEmpty())
        result.archivePath = files.constFirst();
    result.checkCalc = parser.isSet(checkCalc);
    return result;
}
