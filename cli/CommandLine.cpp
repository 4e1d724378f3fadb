#include "CommandLine.h"

#include "Version.h"

#include <QCommandLineParser>
#include <QCoreApplication>

CommandLine ParseCommandLine(const QStringList& arguments) {
    QCommandLineParser parser;
    parser.setApplicationDescription(
        QStringLiteral("Сервисная программа регулятора КВ-9000Л: идентификация, архив, экспорт."));
    // The parser's help option, but without the "--help-all" it adds beside it: here that one
    // would only open the window, and the toolkit's catalogue has no Russian for its description.
    // The description is the parser's own words, so that their Russian comes from the catalogue.
    QStringList helpNames{QStringLiteral("h"), QStringLiteral("help")};
#ifdef Q_OS_WIN
    helpNames.prepend(QStringLiteral("?"));
#endif
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

bool MayHoldToolkitOptions(const QStringList& arguments) {
    for (qsizetype i = 1; i < arguments.size(); ++i) {
        const QString& argument = arguments[i];
        if (argument == QStringLiteral("--"))
            return false; // only files follow
        if (argument.size() > 2 && argument[0] == u'-' && argument[1] != u'-')
            return true;
    }
    return false;
}
