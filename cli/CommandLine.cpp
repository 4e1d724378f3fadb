#include "CommandLine.h"

#include "NetworkPort.h"

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

// Every option of the command line, in the order --help lists them.
struct Options {
    // The parser's help option, but without the "--help-all" it adds beside it: here that one
    // would only open the window, and the toolkit's catalogue has no Russian for its
    // description. The description is the parser's own words, so that their Russian comes from
    // the catalogue. "-?" as well, as Windows users type it; the same on every platform.
    QCommandLineOption help{
        QStringList{QStringLiteral("?"), QStringLiteral("h"), QStringLiteral("help")},
        QCoreApplication::translate("QCommandLineParser", "Displays help on commandline options.")};
    QCommandLineOption version{QStringLiteral("version")}; // the parser's own, from AddTo
    QCommandLineOption diagnose{
        QStringLiteral("diagnose"),
        QStringLiteral("Напечатать таблицу последовательных портов (диагностика порта) и выйти.")};
    QCommandLineOption checkCalc{
        QStringLiteral("check-calc"),
        QStringLiteral("Проверить, загружается ли модуль экспорта в Calc, и выйти.")};
    QCommandLineOption findings{
        QStringLiteral("findings"),
        QStringLiteral("Напечатать находки в архиве (датчики, график, журнал, часы, реле, "
                       "настройки) как текст с табуляциями и выйти."),
        QStringLiteral("FILE")};
    QCommandLineOption report{
        QStringLiteral("report"),
        QStringLiteral("Записать отчёт о посещении (PDF) по архиву и выйти; файл отчёта — -o."),
        QStringLiteral("FILE")};
    QCommandLineOption output{
        QStringList{QStringLiteral("o"), QStringLiteral("output")},
        QStringLiteral("Файл отчёта для --report или файл образа для --image."),
        QStringLiteral("REPORT.pdf")};
    QCommandLineOption library{
        QStringLiteral("library"),
        QStringLiteral("Напечатать регуляторы библиотеки архивов (текст с табуляциями) и выйти.")};
    QCommandLineOption libraryImport{
        QStringLiteral("library-import"),
        QStringLiteral("Добавить в библиотеку архивы (.kvarc) и папки с ними, указанные вместо "
                       "FILE, и выйти.")};
    QCommandLineOption librarySync{
        QStringLiteral("library-sync"),
        QStringLiteral("Синхронизировать библиотеку с сервером [Library] Server= и выйти.")};
    QCommandLineOption reindex{
        QStringLiteral("reindex"),
        QStringLiteral("Построить индекс библиотеки заново из файлов архивов и выйти.")};
    QCommandLineOption due{
        QStringLiteral("due"),
        QStringLiteral(
            "Напечатать, когда каждый регулятор библиотеки начнёт затирать непрочитанные "
            "записи (текст с табуляциями, самые срочные первыми), и выйти.")};
    QCommandLineOption dueAt{
        QStringLiteral("at"),
        QStringLiteral("Дата, на которую считать --due (по умолчанию сейчас)."),
        QStringLiteral("YYYY-MM-DD")};
    QCommandLineOption image{
        QStringLiteral("image"),
        QStringLiteral("Записать весь образ памяти из файла архива (.kvarc любой версии, "
                       "проверенный по SHA-256) в файл -o и выйти."),
        QStringLiteral("FILE")};
    QCommandLineOption read{
        QStringLiteral("read"),
        QStringLiteral("Найти регулятор на порту, прочитать его архив целиком, сохранить его в "
                       "папку архивов, напечатать путь сохранённого файла и выйти."),
        QStringLiteral("COMn")};
    QCommandLineOption address{
        QStringLiteral("address"),
        QStringLiteral("Сетевой адрес регулятора для --read (1–127); без него — из настроек."),
        QStringLiteral("N")};
    QCommandLineOption newRecords{
        QStringLiteral("new"),
        QStringLiteral("С --read: прочитать только новые записи с прошлого сохранённого чтения "
                       "этого регулятора (при любом сомнении — весь архив, с причиной).")};
    QCommandLineOption collect{
        QStringLiteral("collect"),
        QStringLiteral("Собрать все регуляторы списка (текст с табуляциями: port, address, name): "
                       "новые записи или весь архив каждого, сохранить их, напечатать таблицу "
                       "итогов и выйти."),
        QStringLiteral("FLEET.tsv")};
    QCommandLineOption listen{
        QStringLiteral("listen"),
        QStringLiteral("Принимать звонки модемов, которые звонят сами (dialin:ID в списке "
                       "регуляторов), на порту PORT (адрес HOST — только на нём), до остановки."),
        QStringLiteral("[HOST:]PORT")};
    QCommandLineOption jobs{
        QStringLiteral("jobs"),
        QStringLiteral("С --collect: сколько регуляторов читать одновременно (1–64, по "
                       "умолчанию 8)."),
        QStringLiteral("N")};
    // "--collect --team": the team server's list instead of a file; read as one hidden option
    // (see JoinedCollectTeam), since --collect alone takes the next argument as its file. --team
    // itself is listed for --help and refused wherever the parser sees it.
    QCommandLineOption team{
        QStringLiteral("team"),
        QStringLiteral("С --collect вместо FLEET.tsv: собрать список регуляторов с сервера "
                       "[Library] Server= вместе с другими сборщиками, каждый регулятор один "
                       "раз.")};
    QCommandLineOption collectTeam = Hidden(QCommandLineOption(QStringLiteral("collect-team")));
    QCommandLineOption fleetPush{
        QStringLiteral("fleet-push"),
        QStringLiteral("Записать список регуляторов (как для --collect) на сервер [Library] "
                       "Server= вместо прежнего и выйти."),
        QStringLiteral("FLEET.tsv")};
    QCommandLineOption fleetPull{
        QStringLiteral("fleet-pull"),
        QStringLiteral("Напечатать список регуляторов с сервера [Library] Server= в виде файла "
                       "списка и выйти.")};

    static QCommandLineOption Hidden(QCommandLineOption option) {
        option.setFlags(QCommandLineOption::HiddenFromHelp);
        return option;
    }

    void AddTo(QCommandLineParser& parser) {
        parser.addOption(help);
        version = parser.addVersionOption();
        parser.addOptions({diagnose,      checkCalc,   findings,   report,  output, library,
                           libraryImport, librarySync, reindex,    due,     dueAt,  image,
                           read,          address,     newRecords, collect, jobs,   team,
                           collectTeam,   fleetPush,   fleetPull,  listen});
        parser.addPositionalArgument(QStringLiteral("FILE"),
                                     QStringLiteral("Файл архива (.kvarc) или образ памяти "
                                                    "регулятора (270336 байт), открываемый при "
                                                    "старте."),
                                     QStringLiteral("[FILE]"));
    }
};

// The parsed command line as the modes read it.
struct Reading {
    const QCommandLineParser& parser;
    const Options& options;
    QStringList files; // the arguments that are not options
    bool IsSet(QCommandLineOption Options::*option) const { return parser.isSet(options.*option); }
    QString Value(QCommandLineOption Options::*option) const {
        return parser.value(options.*option);
    }
};

// "--collect --team" (--collect last or followed by an option) is the hidden --collect-team.
QStringList JoinedCollectTeam(QStringList args) {
    if (const qsizetype at = args.indexOf(QStringLiteral("--collect")),
        teamAt = args.indexOf(QStringLiteral("--team"));
        at > 0 && teamAt > 0 && (at + 1 == args.size() || args[at + 1].startsWith(u'-'))) {
        args[at] = QStringLiteral("--collect-team");
        args.removeAt(teamAt);
    }
    return args;
}

// The options that qualify a mode: each is refused unless the mode takes it, with the cause
// given here. --team is taken by none: "--collect --team" has become --collect-team by then.
enum Qualifier : unsigned {
    kOutput = 1U << 0U,
    kDueAt = 1U << 1U,
    kAddress = 1U << 2U,
    kNewRecords = 1U << 3U,
    kTeam = 1U << 4U,
    kJobs = 1U << 5U,
};
struct QualifierRule {
    QCommandLineOption Options::*option;
    Qualifier qualifier;
    const char* refusal;
};
const QualifierRule kQualifiers[] = {
    {&Options::output, kOutput, "-o указывается только вместе с --report или --image"},
    {&Options::dueAt, kDueAt, "--at указывается только вместе с --due"},
    {&Options::address, kAddress, "--address указывается только вместе с --read"},
    {&Options::newRecords, kNewRecords, "--new указывается только вместе с --read"},
    {&Options::team, kTeam, "--team указывается только вместе с --collect, без файла списка"},
    {&Options::jobs, kJobs, "--jobs указывается только вместе с --collect"},
};

// The options whose value is given once and is never empty.
const std::pair<QCommandLineOption Options::*, const char*> kValued[] = {
    {&Options::findings, "--findings"}, {&Options::report, "--report"},
    {&Options::output, "-o"},           {&Options::read, "--read"},
    {&Options::address, "--address"},   {&Options::dueAt, "--at"},
    {&Options::image, "--image"},       {&Options::collect, "--collect"},
    {&Options::jobs, "--jobs"},         {&Options::fleetPush, "--fleet-push"},
    {&Options::listen, "--listen"},
};

// A mode's handler fills the result from what was parsed; it returns the cause of a usage error,
// or an empty text.
using Library = CommandLine::Library;
using Handler = QString (*)(const Reading&, Library, CommandLine&);

QString Diagnose(const Reading&, Library, CommandLine& result) {
    result.diagnose = true;
    return {};
}

QString CheckCalc(const Reading&, Library, CommandLine& result) {
    result.checkCalc = true;
    return {};
}

QString Findings(const Reading& reading, Library, CommandLine& result) {
    result.findingsPath = reading.Value(&Options::findings);
    return {};
}

QString Report(const Reading& reading, Library, CommandLine& result) {
    result.reportPath = reading.Value(&Options::report);
    result.reportOutput = reading.Value(&Options::output);
    if (result.reportOutput.isEmpty())
        return QStringLiteral("для --report нужен файл отчёта: -o REPORT.pdf");
    return {};
}

QString Image(const Reading& reading, Library, CommandLine& result) {
    result.imagePath = reading.Value(&Options::image);
    result.imageOutput = reading.Value(&Options::output);
    if (result.imageOutput.isEmpty())
        return QStringLiteral("для --image нужен файл образа: -o IMAGE.bin");
    return {};
}

QString Read(const Reading& reading, Library, CommandLine& result) {
    result.readPort = reading.Value(&Options::read);
    result.readNew = reading.IsSet(&Options::newRecords);
    if (NamesDialinPort(result.readPort)) { // a modem that calls in, by its name
        if (const NetworkPortParse parse = ParseNetworkPort(result.readPort); !parse.ok)
            return QStringLiteral("--read: ") + parse.cause;
    } else if (PortNumber(result.readPort) == 0) {
        return QStringLiteral("--read: ожидается имя порта COMn или dialin:ID, а не «%1»")
            .arg(ShownName(result.readPort));
    }
    if (reading.IsSet(&Options::address)) {
        bool number = false;
        result.readAddress = reading.Value(&Options::address).toInt(&number);
        if (!number || result.readAddress < kFirstAddress || result.readAddress > kLastAddress)
            return QStringLiteral("--address: ожидается число от %1 до %2")
                .arg(kFirstAddress)
                .arg(kLastAddress);
    }
    return {};
}

QString Fleet(const Reading& reading, Library, CommandLine& result) {
    result.fleetPushPath = reading.Value(&Options::fleetPush);
    result.fleetPull = reading.IsSet(&Options::fleetPull);
    return {};
}

QString Collect(const Reading& reading, Library, CommandLine& result) {
    result.collectPath = reading.Value(&Options::collect);
    result.collectTeam = reading.IsSet(&Options::collectTeam);
    if (reading.IsSet(&Options::jobs)) {
        bool number = false;
        result.collectJobs = reading.Value(&Options::jobs).toInt(&number);
        if (!number || result.collectJobs < 1 || result.collectJobs > kMostJobs)
            return QStringLiteral("--jobs: ожидается число от 1 до %1").arg(kMostJobs);
    }
    return {};
}

QString Listen(const Reading& reading, Library, CommandLine& result) {
    result.listenAddress = reading.Value(&Options::listen);
    return {};
}

QString LibraryAnswer(const Reading& reading, Library library, CommandLine& result) {
    result.library = library;
    if (library == Library::Import) {
        if (reading.files.isEmpty())
            return QStringLiteral("--library-import: не указаны файлы или папки");
        if (reading.files.contains(QString()))
            return QStringLiteral("--library-import: пустой путь");
    }
    result.libraryPaths = reading.files;
    if (reading.IsSet(&Options::dueAt)) {
        const QString at = reading.Value(&Options::dueAt);
        result.dueAt = QDate::fromString(at, QStringLiteral("yyyy-MM-dd"));
        if (!result.dueAt.isValid())
            return QStringLiteral("--at: ожидается дата ГГГГ-ММ-ДД, а не «%1»")
                .arg(OneLinePath(at));
    }
    return {};
}

// One mode per command line: each answers alone and, but --check-calc (answered by the
// program's start-up), ends without a window. A mode takes the qualifiers it names, and FILE
// arguments only where it says so.
struct Mode {
    QCommandLineOption Options::*option;
    const char* name;
    unsigned takes; // Qualifier bits
    bool takesFiles;
    bool endsWithoutWindow;
    Library library;
    Handler handler;
};
const Mode kModes[] = {
    {&Options::diagnose, "--diagnose", 0, false, true, Library::None, Diagnose},
    {&Options::checkCalc, "--check-calc", 0, false, false, Library::None, CheckCalc},
    {&Options::findings, "--findings", 0, false, true, Library::None, Findings},
    {&Options::report, "--report", kOutput, false, true, Library::None, Report},
    {&Options::read, "--read", kAddress | kNewRecords, false, true, Library::None, Read},
    {&Options::collect, "--collect", kJobs, false, true, Library::None, Collect},
    {&Options::collectTeam, "--collect", kJobs, false, true, Library::None, Collect},
    {&Options::fleetPush, "--fleet-push", 0, false, true, Library::None, Fleet},
    {&Options::fleetPull, "--fleet-pull", 0, false, true, Library::None, Fleet},
    {&Options::listen, "--listen", 0, false, true, Library::None, Listen},
    {&Options::library, "--library", 0, false, true, Library::List, LibraryAnswer},
    {&Options::libraryImport, "--library-import", 0, true, true, Library::Import, LibraryAnswer},
    {&Options::librarySync, "--library-sync", 0, false, true, Library::Sync, LibraryAnswer},
    {&Options::reindex, "--reindex", 0, false, true, Library::Reindex, LibraryAnswer},
    {&Options::due, "--due", kDueAt, false, true, Library::Due, LibraryAnswer},
    {&Options::image, "--image", kOutput, false, true, Library::None, Image},
};

// Why the command line is refused before any mode reads it: two modes, a value given twice or
// empty, a qualifier the mode does not take, a file it does not take. Sets the mode (null: the
// window) and returns an empty text when none of these.
QString Refusal(const Reading& reading, const Mode*& mode) {
    for (const Mode& m : kModes) {
        if (!reading.IsSet(m.option))
            continue;
        if (mode)
            return QStringLiteral("%1 и %2 нельзя указывать вместе")
                .arg(QLatin1String(mode->name), QLatin1String(m.name));
        mode = &m;
    }
    for (const auto& [option, name] : kValued) {
        const QStringList values = reading.parser.values(reading.options.*option);
        if (values.size() > 1)
            return QStringLiteral("%1 указан больше одного раза").arg(QLatin1String(name));
        if (!values.isEmpty() && values.constFirst().isEmpty())
            return QStringLiteral("%1: пустое значение").arg(QLatin1String(name));
    }
    const unsigned takes = mode ? mode->takes : 0U;
    for (const QualifierRule& rule : kQualifiers)
        if (reading.IsSet(rule.option) && (takes & rule.qualifier) == 0U)
            return QString::fromUtf8(rule.refusal);
    if (mode && !mode->takesFiles && !reading.files.isEmpty())
        return QStringLiteral("%1 не принимает файл «%2»")
            .arg(QLatin1String(mode->name), OneLinePath(reading.files.constFirst()));
    return {};
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
    Options options;
    options.AddTo(parser);
    if (!parser.parse(JoinedCollectTeam(arguments))) {
        CommandLine result;
        result.exitNow = true;
        result.exitCode = 2;
        // One line: the cause and where to read more.
        result.errors = QStringLiteral("%1: %2 Подробнее: %1 --help\n")
                            .arg(kProgram, parser.errorText().simplified());
        return result;
    }
    if (parser.isSet(options.help)) {
        // Read before the application object exists, the parser does not know the program's name.
        CommandLine result;
        result.exitNow = true;
        result.output = parser.helpText().replace(QStringLiteral("<executable_name>"), kProgram);
        return result;
    }
    if (parser.isSet(options.version)) {
        CommandLine result;
        result.exitNow = true;
        result.output = QStringLiteral("%1 %2\n").arg(kProgram, QStringLiteral(KV_VERSION));
        return result;
    }
    const Reading reading{parser, options, parser.positionalArguments()};
    const Mode* mode = nullptr;
    if (const QString cause = Refusal(reading, mode); !cause.isEmpty())
        return UsageError(cause);
    CommandLine result;
    if (!mode) { // the window, with the file to show at start
        if (reading.files.size() > 1)
            return UsageError(QStringLiteral("ожидается не более одного файла"));
        if (!reading.files.isEmpty())
            result.archivePath = reading.files.constFirst();
        return result;
    }
    result.exitNow = mode->endsWithoutWindow;
    if (const QString cause = mode->handler(reading, mode->library, result); !cause.isEmpty())
        return UsageError(cause);
    return result;
}
