#include "CommandLine.h"

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
        QStringLiteral("Файл отчёта для --report."), QStringLiteral("REPORT.pdf"));
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
    parser.addOptions({library, libraryImport, librarySync, reindex});
    parser.addPositionalArgument(
        QStringLiteral("FILE"),
        QStringLiteral("Файл архива (.kvarc) или образ памяти "
                       "регулятора (270336 байт), открываемый при старте."),
        QStringLiteral("[FILE]"));

    CommandLine result;
    const QString program = QStringLiteral("kv9000");
    if (!parser.parse(arguments)) {
        result.exitNow = true;
        result.exitCode = 2;
        // One line: the cause and where to read more.
        result.errors = QStringLiteral("%1: %2 Подробнее: %1 --help\n")
                            .arg(program, parser.errorText().simplified());
        return result;
    }
    if (parser.isSet(help)) {
        result.exitNow = true;
        // Read before the application object exists, the parser does not know the program's name.
        result.output = parser.helpText().replace(QStringLiteral("<executable_name>"), program);
        return result;
    }
    if (parser.isSet(version)) {
        result.exitNow = true;
        result.output = QStringLiteral("%1 %2\n").arg(program, QStringLiteral(KV_VERSION));
        return result;
    }
    if (parser.isSet(diagnose)) {
        result.exitNow = true;
        result.diagnose = true;
        return result;
    }
    if (parser.isSet(findings) || parser.isSet(report)) {
        result.exitNow = true;
        result.findingsPath = parser.value(findings);
        result.reportPath = parser.value(report);
        result.reportOutput = parser.value(reportOutput);
        if (parser.isSet(report) && result.reportOutput.isEmpty()) {
            result.exitCode = 2;
            result.errors = QStringLiteral("%1: для --report нужен файл отчёта: -o REPORT.pdf\n"
                                           "Подробнее: %1 --help\n")
                                .arg(program);
        }
        return result;
    }
    const QStringList files = parser.positionalArguments();
    using Library = CommandLine::Library;
    for (const auto& [option, command] :
         {std::pair{&library, Library::List}, std::pair{&libraryImport, Library::Import},
          std::pair{&librarySync, Library::Sync}, std::pair{&reindex, Library::Reindex}})
        if (parser.isSet(*option) && result.library == Library::None)
            result.library = command;
    if (result.library == Library::Import && files.isEmpty()) {
        result.exitNow = true;
        result.exitCode = 2;
        result.errors = QStringLiteral("%1: --library-import: не указаны файлы или папки\n"
                                       "Подробнее: %1 --help\n")
                            .arg(program);
        return result;
    }
    if (result.library != Library::None) {
        result.exitNow = true;
        result.libraryPaths = files;
        return result;
    }
    if (files.size() > 1) {
        result.exitNow = true;
        result.exitCode = 2;
        result.errors =
            QStringLiteral("%1: ожидается не более одного файла. Подробнее: %1 --help\n")
                .arg(program);
        return result;
    }
    if (!files.isEmpty())
        result.archivePath = files.constFirst();
    result.checkCalc = parser.isSet(checkCalc);
    return result;
}
