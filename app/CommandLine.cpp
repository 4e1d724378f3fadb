#include "CommandLine.h"

#include "Version.h"

#include <QCommandLineParser>

CommandLine ParseCommandLine(const QStringList& arguments) {
    QCommandLineParser parser;
    parser.setApplicationDescription(
        QStringLiteral("Сервисная программа регулятора КВ-9000Л: идентификация, архив, экспорт."));
    const QCommandLineOption help = parser.addHelpOption();
    const QCommandLineOption version = parser.addVersionOption();
    const QCommandLineOption diagnose(
        QStringLiteral("diagnose"),
        QStringLiteral("Напечатать таблицу последовательных портов (диагностика порта) и выйти."));
    parser.addOption(diagnose);
    const QCommandLineOption checkCalc(
        QStringLiteral("check-calc"),
        QStringLiteral("Проверить, загружается ли модуль экспорта в Calc, и выйти."));
    parser.addOption(checkCalc);
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
        result.errors =
            QStringLiteral("%1: %2\nПодробнее: %1 --help\n").arg(program, parser.errorText());
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
            QStringLiteral("%1: ожидается не более одного файла\nПодробнее: %1 --help\n")
                .arg(program);
        return result;
    }
    if (!files.isEmpty())
        result.archivePath = files.constFirst();
    result.checkCalc = parser.isSet(checkCalc);
    return result;
}
